// The main-thread seam on Windows: posted work waits in a queue, and a private message to the
// hidden window makes its window procedure run it on the main thread, between the window's other
// messages. Only while the window exists: posts before it is created, and from its destruction
// on, are refused.
#pragma once
#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

#include "platform/main_thread.h"

namespace platform::win32 {

// The message the window procedure answers with Win32MainThread::RunPosted (and result 0).
inline constexpr UINT kRunPostedWorkMessage = WM_APP + 1;

class Win32MainThread final : public MainThread {
 public:
  // From WM_CREATE, before the window's creation sequence: posted work goes to `window`.
  void Attach(HWND window);
  // From WM_DESTROY, before the shutdown sequence: later posts are refused, and work still
  // queued is dropped.
  void Close();

  bool Post(std::function<void()> work) override;

  // On kRunPostedWorkMessage, on the window's thread: runs the work queued so far, in order.
  void RunPosted();

 private:
  std::mutex mutex_;
  HWND window_ = nullptr;                    // guarded by mutex_
  bool closed_ = false;                      // guarded by mutex_
  std::deque<std::function<void()>> queue_;  // guarded by mutex_
};

}  // namespace platform::win32
