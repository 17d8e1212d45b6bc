// The Linux device-setup backend: the simulated notebook's software devices, one per [driver]
// section of the machine profile, all present under the enumerator "SWD\DRIVERENUM".
#pragma once
#include <vector>

#include "platform/device_setup.h"
#include "platform/registry.h"
#include "sim/machine_profile.h"

namespace platform::posix {

class SimulatedDeviceSetup : public platform::DeviceSetup {
 public:
  explicit SimulatedDeviceSetup(std::vector<sim::DriverProfile> devices);

  // "SWD\DRIVERENUM" (any case): the profile's devices in profile order. A hardware ID that
  // would not fit platform::kHardwareIdBufferBytes as a REG_MULTI_SZ (UTF-16, its own zero and
  // the list's closing zero) reads as unreadable, as SetupAPI refuses a too-small buffer. Any
  // other enumerator is unknown to the simulated machine: false.
  bool ListPresentDevices(std::string_view enumerator,
                          std::vector<SetupDevice>* devices) override;

 private:
  std::vector<sim::DriverProfile> devices_;
};

// What installing the drivers leaves in the registry: for every device with a driver key and a
// version, "DriverVersion" (REG_SZ) under HKLM "SYSTEM\CurrentControlSet\Control\Class\<key>".
// Run at every start of the Linux build, so the values always match the profile. Answers the
// first registry error (0 when every value was written); later devices are still written.
uint32_t SeedDriverRegistry(platform::Registry& registry,
                            const std::vector<sim::DriverProfile>& devices);

}  // namespace platform::posix
