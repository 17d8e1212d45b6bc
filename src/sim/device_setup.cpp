#include "sim/device_setup.h"

#include "base/text.h"
#include "base/win_codes.h"

namespace sim {
using namespace profile_format;

namespace {

constexpr std::string_view kSoftwareDeviceEnumerator = "SWD\\DRIVERENUM";
constexpr std::string_view kClassKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\";

}  // namespace

Section DriverSection(DriverProfile& driver) {
  Section s = Keys("driver", {
      {"hardware_id", [&](std::string_view v) { driver.hardware_id = NonEmpty(v); }},
      {"driver_key", [&](std::string_view v) { driver.driver_key = NonEmpty(v); }},
      {"driver_version", [&](std::string_view v) { driver.driver_version = NonEmpty(v); }},
  });
  s.finish = [&driver] {
    if (driver.hardware_id.empty()) throw LineError{"[driver] needs a hardware_id"};
    if (driver.driver_version && !driver.driver_key) {
      throw LineError{"[driver] driver_version needs a driver_key"};
    }
  };
  return s;
}

SimulatedDeviceSetup::SimulatedDeviceSetup(std::vector<DriverProfile> devices)
    : devices_(std::move(devices)) {}

bool SimulatedDeviceSetup::ListPresentDevices(std::string_view enumerator,
                                              std::vector<platform::SetupDevice>* devices) {
  if (text::AsciiUpper(enumerator) != kSoftwareDeviceEnumerator) return false;
  std::vector<platform::SetupDevice> found;
  for (const DriverProfile& device : devices_) {
    platform::SetupDevice listed;
    const size_t list_bytes = (text::Utf8ToUtf16(device.hardware_id).size() + 2) * 2;
    if (list_bytes <= platform::kHardwareIdBufferBytes) listed.hardware_id = device.hardware_id;
    listed.driver_key = device.driver_key;
    found.push_back(std::move(listed));
  }
  *devices = std::move(found);
  return true;
}

uint32_t SeedDriverRegistry(platform::Registry& registry,
                            const std::vector<DriverProfile>& devices) {
  uint32_t first_error = win::kErrorSuccess;
  for (const DriverProfile& device : devices) {
    if (!device.driver_key || !device.driver_version) continue;
    const std::vector<uint8_t> data = text::ToWireText(*device.driver_version);
    const uint32_t error = registry.SetKeyValue(
        win::RegRoot::kLocalMachine, std::string(kClassKey) + *device.driver_key, "DriverVersion",
        win::kRegSz, data.data(), static_cast<uint32_t>(data.size()));
    if (error != win::kErrorSuccess && first_error == win::kErrorSuccess) first_error = error;
  }
  return first_error;
}

}  // namespace sim
