// Main-thread seam: hands work to the process's main thread, where the window's messages are
// handled (raw input, the control-application launch). Windows: a private message posted to the
// hidden window, run by its window procedure. Linux: the main loop's queue, woken through an
// eventfd (platform/posix/main_loop.h).
#pragma once
#include <functional>

namespace platform {

class MainThread {
 public:
  virtual ~MainThread() = default;
  // Queues `work` to run on the main thread after the work queued before it. Never blocks on
  // the main thread. False once the main thread has begun to shut down: `work` is then dropped
  // without running.
  virtual bool Post(std::function<void()> work) = 0;
};

}  // namespace platform
