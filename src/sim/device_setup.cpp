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

namespace {

// Whether `id` fits a property buffer of `bytes` as a REG_MULTI_SZ: UTF-16, its own zero and
// the list's closing zero.
bool FitsHardwareIdBuffer(const std::string& id, size_t bytes) {
  return (text::Utf8ToUtf16(id).size() + 2) * 2 <= bytes;
}

}  // namespace

SimulatedDeviceSetup::SimulatedDeviceSetup(std::vector<DriverProfile> devices,
                                           std::vector<std::string> display_adapters)
    : devices_(std::move(devices)), display_adapters_(std::move(display_adapters)) {}

bool SimulatedDeviceSetup::ListDisplayAdapters(
    std::vector<std::optional<std::string>>* hardware_ids) {
  std::vector<std::optional<std::string>> found;
  for (const std::string& id : display_adapters_) {
    found.push_back(FitsHardwareIdBuffer(id, platform::kAdapterHardwareIdBufferBytes)
                        ? std::optional<std::string>(id)
                        : std::nullopt);
  }
  *hardware_ids = std::move(found);
  return true;
}

bool SimulatedDeviceSetup::ListPresentDevices(std::string_view enumerator,
                                              std::vector<platform::SetupDevice>* devices) {
  if (text::AsciiUpper(enumerator) != kSoftwareDeviceEnumerator) return false;
  std::vector<platform::SetupDevice> found;
  for (const DriverProfile& device : devices_) {
    platform::SetupDevice listed;
    if (FitsHardwareIdBuffer(device.hardware_id, platform::kHardwareIdBufferBytes)) {
      listed.hardware_id = device.hardware_id;
    }
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
