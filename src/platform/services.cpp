#include "platform/services.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

std::atomic<const Services*> g_services{nullptr};

template <typename T>
T& Require(T* service, const char* what) {
  if (service == nullptr) {
    std::fprintf(stderr, "quellmark: platform service '%s' is not installed\n", what);
    std::abort();
  }
  return *service;
}

const Services& Current() {
  static const Services kEmpty{};
  const Services* s = g_services.load(std::memory_order_acquire);
  return s != nullptr ? *s : kEmpty;
}

}  // namespace

void InstallServices(const Services* services) {
  g_services.store(services, std::memory_order_release);
}

Registry& Reg() { return Require(Current().registry, "registry"); }
FileSystem& Files() { return Require(Current().files, "files"); }
ProcessEnvironment& Environment() { return Require(Current().environment, "environment"); }
PipeTransport& Pipes() { return Require(Current().pipes, "pipes"); }
WmiProvider& Wmi() { return Require(Current().wmi, "wmi"); }
Accessibility& A11y() { return Require(Current().accessibility, "accessibility"); }
DeviceSetup& Devices() { return Require(Current().device_setup, "device setup"); }
Hid& HidDevices() { return Require(Current().hid, "HID devices"); }
NamedMutexes& Mutexes() { return Require(Current().mutexes, "named mutexes"); }
Clock& Time() {
  Clock* clock = Current().clock;
  return clock != nullptr ? *clock : SteadyClock();
}
MainThread& Main() { return Require(Current().main_thread, "main thread"); }
RawInput& RawInputDevices() { return Require(Current().raw_input, "raw input"); }
ProcessLauncher& Launcher() { return Require(Current().launcher, "process launcher"); }
LibraryLoader& Libraries() { return Require(Current().libraries, "library loader"); }
NvApi& Nvidia() { return Require(Current().nvapi, "NVAPI"); }
Adlx& Amd() { return Require(Current().adlx, "ADLX"); }

}  // namespace platform
