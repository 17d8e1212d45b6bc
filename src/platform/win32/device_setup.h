// The Windows device-setup backend: SetupAPI over the real Plug and Play tree.
#pragma once
#include "platform/device_setup.h"

namespace platform::win32 {

class Win32DeviceSetup : public platform::DeviceSetup {
 public:
  bool ListPresentDevices(std::string_view enumerator,
                          std::vector<SetupDevice>* devices) override;
  bool ListDisplayAdapters(std::vector<std::optional<std::string>>* hardware_ids) override;
};

}  // namespace platform::win32
