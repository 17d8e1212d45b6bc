#include "platform/win32/host_services.h"

#include "platform/win32/file_system.h"
#include "platform/win32/pipe_transport.h"
#include "platform/win32/process_environment.h"
#include "platform/win32/registry.h"

namespace platform::win32 {

HostServices::HostServices()
    : registry_(std::make_unique<Win32Registry>()),
      files_(std::make_unique<Win32FileSystem>()),
      environment_(std::make_unique<Win32Environment>()),
      pipes_(std::make_unique<Win32PipeTransport>()) {
  services_.registry = registry_.get();
  services_.files = files_.get();
  services_.environment = environment_.get();
  services_.pipes = pipes_.get();
}

HostServices::~HostServices() = default;

}  // namespace platform::win32
