#include "platform/win32/host_services.h"

#include "platform/win32/accessibility.h"
#include "platform/win32/console_launcher.h"
#include "platform/win32/device_setup.h"
#include "platform/win32/gpu_vendors.h"
#include "platform/win32/file_system.h"
#include "platform/win32/hid.h"
#include "platform/win32/library_loader.h"
#include "platform/win32/named_mutex.h"
#include "platform/win32/pipe_transport.h"
#include "platform/win32/process_environment.h"
#include "platform/win32/raw_input.h"
#include "platform/win32/registry.h"
#include "platform/win32/wmi.h"

namespace platform::win32 {

HostServices::HostServices()
    : registry_(std::make_unique<Win32Registry>()),
      files_(std::make_unique<Win32FileSystem>()),
      environment_(std::make_unique<Win32Environment>()),
      pipes_(std::make_unique<Win32PipeTransport>()),
      wmi_(std::make_unique<Win32WmiProvider>()),
      accessibility_(std::make_unique<Win32Accessibility>()),
      device_setup_(std::make_unique<Win32DeviceSetup>()),
      hid_(std::make_unique<Win32Hid>()),
      mutexes_(std::make_unique<Win32NamedMutexes>()),
      raw_input_(std::make_unique<Win32RawInput>()),
      launcher_(std::make_unique<Win32ConsoleLauncher>()),
      libraries_(std::make_unique<Win32LibraryLoader>()),
      nvapi_(std::make_unique<Win32NvApi>()),
      adlx_(std::make_unique<Win32Adlx>()) {
  services_.registry = registry_.get();
  services_.files = files_.get();
  services_.environment = environment_.get();
  services_.pipes = pipes_.get();
  services_.wmi = wmi_.get();
  services_.accessibility = accessibility_.get();
  services_.device_setup = device_setup_.get();
  services_.hid = hid_.get();
  services_.nvapi = nvapi_.get();
  services_.adlx = adlx_.get();
  services_.mutexes = mutexes_.get();
  services_.raw_input = raw_input_.get();
  services_.launcher = launcher_.get();
  services_.libraries = libraries_.get();
}

HostServices::~HostServices() = default;

}  // namespace platform::win32
