// The Windows backends of the platform services: the real registry, file system, process
// environment, named pipes, HID devices, named mutexes, raw input and the console-session
// launch. No root directory: paths and pipe names are used as given.
#pragma once
#include <memory>

#include "platform/services.h"

namespace platform::win32 {

class HostServices {
 public:
  HostServices();
  ~HostServices();
  HostServices(const HostServices&) = delete;
  HostServices& operator=(const HostServices&) = delete;

  const Services& services() const { return services_; }

 private:
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<ProcessEnvironment> environment_;
  std::unique_ptr<PipeTransport> pipes_;
  std::unique_ptr<WmiProvider> wmi_;
  std::unique_ptr<Accessibility> accessibility_;
  std::unique_ptr<DeviceSetup> device_setup_;
  std::unique_ptr<Hid> hid_;
  std::unique_ptr<NamedMutexes> mutexes_;
  std::unique_ptr<RawInput> raw_input_;
  std::unique_ptr<ProcessLauncher> launcher_;
  std::unique_ptr<LibraryLoader> libraries_;
  std::unique_ptr<NvApi> nvapi_;
  std::unique_ptr<Adlx> adlx_;
  Services services_;
};

}  // namespace platform::win32
