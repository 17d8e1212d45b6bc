// The one set of platform services the core reaches the operating system through. The process
// entry installs the real ones (Win32, or the Linux backends over a root directory); tests
// install their own.
#pragma once
#include <chrono>
#include "platform/accessibility.h"
#include "platform/clock.h"
#include "platform/device_setup.h"
#include "platform/file_system.h"
#include "platform/gpu_vendors.h"
#include "platform/hid.h"
#include "platform/library_loader.h"
#include "platform/main_thread.h"
#include "platform/named_mutex.h"
#include "platform/pipe_transport.h"
#include "platform/process_launcher.h"
#include "platform/raw_input.h"
#include "platform/process_environment.h"
#include "platform/registry.h"
#include "platform/wmi.h"

namespace platform {

struct Services {
  Registry* registry = nullptr;
  FileSystem* files = nullptr;
  ProcessEnvironment* environment = nullptr;
  PipeTransport* pipes = nullptr;
  WmiProvider* wmi = nullptr;
  Accessibility* accessibility = nullptr;
  DeviceSetup* device_setup = nullptr;
  Hid* hid = nullptr;
  NamedMutexes* mutexes = nullptr;
  Clock* clock = nullptr;  // null: the steady clock
  MainThread* main_thread = nullptr;
  RawInput* raw_input = nullptr;
  ProcessLauncher* launcher = nullptr;
  LibraryLoader* libraries = nullptr;
  NvApi* nvapi = nullptr;
  Adlx* adlx = nullptr;
};

// Installs `services` for the whole process (null removes them). Called before any thread of
// the broker starts; the pointed-to objects must outlive every use.
void InstallServices(const Services* services);

// The installed services. Calling one whose service is not installed aborts with a message:
// that is a wiring fault of the program, not a run-time condition.
Registry& Reg();
FileSystem& Files();
ProcessEnvironment& Environment();
PipeTransport& Pipes();
WmiProvider& Wmi();
Accessibility& A11y();
DeviceSetup& Devices();
Hid& HidDevices();
NamedMutexes& Mutexes();
// The installed clock; the real steady clock when none is installed.
Clock& Time();
MainThread& Main();
RawInput& RawInputDevices();
ProcessLauncher& Launcher();
LibraryLoader& Libraries();
NvApi& Nvidia();
Adlx& Amd();

// Runs `attempt` up to `attempts` times, sleeping `pause` on the installed clock after every
// failed one (the last one included); true as soon as one succeeds.
template <typename Attempt>
bool RetryWithPause(int attempts, std::chrono::milliseconds pause, Attempt attempt) {
  for (int n = 0; n < attempts; ++n) {
    if (attempt()) return true;
    Time().SleepFor(pause);
  }
  return false;
}

}  // namespace platform
