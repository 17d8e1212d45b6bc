#include "app/lifecycle.h"

#include <cstdlib>
#include <exception>

#include "app/command_catalogue.h"
#include "gpu/gpu_monitor.h"
#include "hid/ec_hid.h"
#include "hid/keyboard_hid.h"
#include "input/firmware_event_sink.h"
#include "input/windows_input.h"
#include "log/log_file.h"
#include "log/log_setup.h"
#include "log/message_format.h"
#include "pipe/command_processor.h"
#include "pipe/pipe_server.h"
#include "platform/thread.h"

namespace {

// The steps below belong to subsystems that plug into the sequence at these places; each body
// names the work its subsystem does there.

// Window creation, after the service thread. Firmware event sink (input/): the event
// WmiConnection on "ROOT\WMI", the IbWmiEventSink, and the asynchronous query
// "SELECT * FROM FwxEvent" delivering to it.
void SubscribeFirmwareEvents() { firmware_events::Subscribe(); }

// Shutdown, between the stop request and the wait for the acknowledgement. GPU discovery
// (gpu/): g_ADLXHelp terminates the ADLX access and unloads its library, if it was loaded.
void TerminateAdlx() { TerminateAdlxHelper(); }

// Shutdown, after the acknowledgement. Firmware event sink (input/): wmi_close of the event
// connection (its interfaces released, COM balanced), then the sink's release.
void ReleaseFirmwareEvents() { firmware_events::Release(); }

// After the main loop, before the log goes: the embedded controller's device and mutex
// handles, then the keyboard's device handle, each closed under its class's lock.
void CloseHidHandles() {
  corlan::QRN300::EcHID::CloseHIDDeviceHandle();
  corlan::QRN300::KeyboardHID::CloseHIDDeviceHandle();
}

}  // namespace

namespace app {

void RunBroker(ProcessHost& host) {
  CreateLog();
  LogLine(kLogInfo, "wWinMain", "Quellmark, BEGIN");
  if (!host.CreateMainWindow()) host.EndProcess(0);
  const uint32_t exit_code = host.RunMainLoop();
  CloseHidHandles();
  DestroyLog();
  host.EndProcess(exit_code);
  // EndProcess does not return; a host that broke that promise must not return into the
  // entry's static destructors either.
  std::abort();
}

}  // namespace app

void StartServiceThreads(void* /*window*/) {
  // The survey and the pipe service run side by side from the first moment: a command may
  // arrive before the survey has published anything.
  platform::StartDetachedThread(&ironbark::IbClientCommandProcessor::Initialize);
  try {
    RunPipeServer(g_CommandHandlers);
  } catch (const std::exception& e) {
    // Without an instance the command service cannot go on; the process keeps running and
    // the shutdown does not wait for an acknowledgement that cannot come.
    LogLine(kLogError, "StartServiceThreads",
            FormatMessageSized(256, "Command pipe service stopped: %s", e.what()));
  }
}

namespace WindowsMessageLoop {

void WindowsCreate(void* window) {
  LogLine(kLogInfo, "WindowsMessageLoop::WindowsCreate", "WindowsCreate, BEGIN");
  platform::StartDetachedThread([window] { StartServiceThreads(window); });
  SubscribeFirmwareEvents();
  // Last: the raw-input devices (input/windows_input.h), failures not checked.
  WindowsMessageLoop::RegisterRawInput(window);
}

void WindowsDestroy() {
  RequestPipeServerStop();
  TerminateAdlx();
  WaitPipeServerStopped();
  ReleaseFirmwareEvents();
}

}  // namespace WindowsMessageLoop
