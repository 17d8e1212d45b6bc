// The simulated notebook's Plug and Play devices behind the device-setup seam: its software
// devices, one per [driver] section of the machine profile, all present under the enumerator
// "SWD\DRIVERENUM"; and the registry values their drivers' installation leaves.
//
// Profile section, once per device, listed in the order of the sections (machines/README.md
// has the long form):
//   [driver]     hardware_id (required): its first hardware ID; one that does not fit the
//                512-byte property buffer with its two terminating zeros reads as unreadable
//                driver_key: its key below HKLM\SYSTEM\CurrentControlSet\Control\Class
//                (absent: the device has no driver key)
//                driver_version: "DriverVersion" under that key, written into the registry at
//                every start of the Linux build (absent: no value; needs driver_key)
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "platform/device_setup.h"
#include "platform/registry.h"
#include "sim/profile_format.h"

namespace sim {

struct DriverProfile {
  std::string hardware_id;
  std::optional<std::string> driver_key;
  std::optional<std::string> driver_version;
};

profile_format::Section DriverSection(DriverProfile& driver);

class SimulatedDeviceSetup : public platform::DeviceSetup {
 public:
  // `display_adapters`: the first hardware IDs of the present display adapters (the GPUs of
  // the profile that name one, sim/gpus.h), in enumeration order.
  explicit SimulatedDeviceSetup(std::vector<DriverProfile> devices,
                                std::vector<std::string> display_adapters = {});

  // "SWD\DRIVERENUM" (any case): the profile's devices in profile order. A hardware ID that
  // would not fit platform::kHardwareIdBufferBytes as a REG_MULTI_SZ (UTF-16, its own zero and
  // the list's closing zero) reads as unreadable, as SetupAPI refuses a too-small buffer. Any
  // other enumerator is unknown to the simulated machine: false.
  bool ListPresentDevices(std::string_view enumerator,
                          std::vector<platform::SetupDevice>* devices) override;
  // The display adapters; a hardware ID that would not fit
  // platform::kAdapterHardwareIdBufferBytes as a REG_MULTI_SZ reads as unreadable.
  bool ListDisplayAdapters(std::vector<std::optional<std::string>>* hardware_ids) override;

 private:
  std::vector<DriverProfile> devices_;
  std::vector<std::string> display_adapters_;
};

// What installing the drivers leaves in the registry: for every device with a driver key and a
// version, "DriverVersion" (REG_SZ) under HKLM "SYSTEM\CurrentControlSet\Control\Class\<key>".
// Run at every start of the Linux build, so the values always match the profile. Answers the
// first registry error (0 when every value was written); later devices are still written.
uint32_t SeedDriverRegistry(platform::Registry& registry,
                            const std::vector<DriverProfile>& devices);

}  // namespace sim
