#include "platform/posix/device_setup.h"

#include "base/text.h"
#include "base/win_codes.h"

namespace platform::posix {
namespace {

constexpr std::string_view kSoftwareDeviceEnumerator = "SWD\\DRIVERENUM";
constexpr std::string_view kClassKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\";

}  // namespace

SimulatedDeviceSetup::SimulatedDeviceSetup(std::vector<sim::DriverProfile> devices)
    : devices_(std::move(devices)) {}

bool SimulatedDeviceSetup::ListPresentDevices(std::string_view enumerator,
                                              std::vector<SetupDevice>* devices) {
  if (text::AsciiUpper(enumerator) != kSoftwareDeviceEnumerator) return false;
  std::vector<SetupDevice> found;
  for (const sim::DriverProfile& device : devices_) {
    SetupDevice listed;
    const size_t list_bytes = (text::Utf8ToUtf16(device.hardware_id).size() + 2) * 2;
    if (list_bytes <= platform::kHardwareIdBufferBytes) listed.hardware_id = device.hardware_id;
    listed.driver_key = device.driver_key;
    found.push_back(std::move(listed));
  }
  *devices = std::move(found);
  return true;
}

uint32_t SeedDriverRegistry(platform::Registry& registry,
                            const std::vector<sim::DriverProfile>& devices) {
  uint32_t first_error = win::kErrorSuccess;
  for (const sim::DriverProfile& device : devices) {
    if (!device.driver_key || !device.driver_version) continue;
    const std::vector<uint8_t> data = text::ToWireText(*device.driver_version);
    const uint32_t error = registry.SetKeyValue(
        win::RegRoot::kLocalMachine, std::string(kClassKey) + *device.driver_key, "DriverVersion",
        win::kRegSz, data.data(), static_cast<uint32_t>(data.size()));
    if (error != win::kErrorSuccess && first_error == win::kErrorSuccess) first_error = error;
  }
  return first_error;
}

}  // namespace platform::posix
