// The Linux build's main thread, in place of the Windows message loop: it runs the work other
// threads post to it, one piece at a time and in order, until SIGTERM or SIGINT arrives. It
// waits in poll() on a signalfd (the stop signals) and an eventfd (work was posted).
#pragma once
#include <signal.h>

#include <deque>
#include <functional>
#include <mutex>

#include "platform/main_thread.h"

namespace platform::posix {

class MainLoop final : public MainThread {
 public:
  // Blocks SIGTERM and SIGINT on the calling thread, so that every thread it starts later
  // inherits the mask and the signals are left to this loop; construct it before any other
  // thread starts. Throws std::system_error when the descriptors cannot be opened.
  MainLoop();
  // Closes the descriptors and restores the signal mask; destroy it on the thread that created
  // it. (The broker never does: its process ends underneath.)
  ~MainLoop() override;
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  bool Post(std::function<void()> work) override;

  // Runs posted work on the calling thread until SIGTERM or SIGINT arrives. The work still
  // waiting then is dropped, and from then on Post refuses work. Returns the signal's number
  // (0 when waiting failed, which ends the loop as a stop would). The work must not throw.
  int Run();

 private:
  int signal_fd_ = -1;
  int event_fd_ = -1;
  sigset_t previous_mask_;
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;  // guarded by mutex_
  bool closed_ = false;                      // guarded by mutex_
};

}  // namespace platform::posix
