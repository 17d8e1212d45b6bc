// The broker's start-up and shutdown, one sequence for both builds. The process entry of each
// build (platform/win32/entry.cpp, platform/posix/entry.cpp) does only what is its own: its
// arguments, the single-instance guard, installing the platform services, and the window with
// its message loop (Windows) or the signal-driven main loop (Linux). Everything in between runs
// from here, in this order:
//
//   log set-up, "Quellmark, BEGIN"
//   window creation (WindowsMessageLoop::WindowsCreate): the service thread (start-up survey,
//     then the command pipe's accept loop), the firmware event subscription, the raw-input
//     registration
//   the main loop, until the window is destroyed (WindowsMessageLoop::WindowsDestroy): stop
//     request to the pipe server, ADLX teardown, wait for the server's acknowledgement,
//     firmware event teardown
//   after the loop: the cached HID handles closed, the log destroyed, the process ended
#pragma once
#include <cstdint>

namespace app {

// What a build's process entry provides to the sequence.
class ProcessHost {
 public:
  virtual ~ProcessHost() = default;
  // Creates the hidden window, whose creation runs WindowsMessageLoop::WindowsCreate on this
  // thread before it returns (Linux: calls it). False when start-up cannot go on; the
  // subsystems the window started are stopped again before it returns.
  virtual bool CreateMainWindow() = 0;
  // Runs the main thread's loop until the window has been destroyed (its destruction runs
  // WindowsMessageLoop::WindowsDestroy) and returns the process's exit code.
  virtual uint32_t RunMainLoop() = 0;
  // Ends the process at once with `code`, without running static destructors underneath
  // detached threads that may still serve clients (Windows: ExitProcess; Linux: _Exit).
  [[noreturn]] virtual void EndProcess(uint32_t code) = 0;
};

// Runs the broker from the log's set-up to the end of the process; the platform services are
// installed and the single-instance guard is held. A failed window creation ends the process
// with code 0, leaving the log to the process's end.
[[noreturn]] void RunBroker(ProcessHost& host);

}  // namespace app

// Body of the service thread: starts the capability survey (IbClientCommandProcessor::
// Initialize) on a detached thread of its own, then runs the command pipe's accept loop. An
// error creating a pipe instance ends the command service (logged at ERROR level); the rest of
// the process keeps running. `window` is not used.
void StartServiceThreads(void* window);

namespace WindowsMessageLoop {

// Window creation, on the main thread: logs "WindowsCreate, BEGIN", starts the service thread,
// subscribes to the firmware events and registers the raw-input devices with `window` as their
// target (null on Linux). No step reports failure: a subsystem that cannot start stays without
// input while the rest runs.
void WindowsCreate(void* window);

// Window destruction, on the main thread, before the quit message: asks the pipe server to stop
// and wakes it, tears ADLX down, waits (polling, bounded) until the server has acknowledged,
// then releases the firmware event subscription.
void WindowsDestroy();

}  // namespace WindowsMessageLoop
