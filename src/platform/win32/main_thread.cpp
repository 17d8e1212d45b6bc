#include "platform/win32/main_thread.h"

#include <utility>

namespace platform::win32 {

void Win32MainThread::Attach(HWND window) {
  std::lock_guard<std::mutex> lock(mutex_);
  window_ = window;
}

void Win32MainThread::Close() {
  std::deque<std::function<void()>> dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  dropped.swap(queue_);
}

bool Win32MainThread::Post(std::function<void()> work) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || window_ == nullptr) return false;
  // One message wakes the window for the whole queue: the window's message queue stays short
  // (it holds at most 10000 posted messages) however much work is posted.
  const bool wake = queue_.empty();
  queue_.push_back(std::move(work));
  if (wake && !PostMessageW(window_, kRunPostedWorkMessage, 0, 0)) {
    queue_.pop_back();
    return false;
  }
  return true;
}

void Win32MainThread::RunPosted() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch.swap(queue_);
  }
  // Without the lock: work may post more work, which the next message runs.
  for (auto& work : batch) work();
}

}  // namespace platform::win32
