#include "platform/posix/main_loop.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

namespace platform::posix {

MainLoop::MainLoop() {
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, &previous_mask_);
  signal_fd_ = signalfd(-1, &stop_signals, SFD_CLOEXEC);
  event_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (signal_fd_ < 0 || event_fd_ < 0) {
    const int error = errno;
    if (signal_fd_ >= 0) close(signal_fd_);
    if (event_fd_ >= 0) close(event_fd_);
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
    throw std::system_error(error, std::generic_category(), "main loop");
  }
}

MainLoop::~MainLoop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    close(signal_fd_);
    close(event_fd_);
  }
  pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
}

bool MainLoop::Post(std::function<void()> work) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return false;
  queue_.push_back(std::move(work));
  // Under the lock: once the loop is closed the descriptor may be gone. The counter only
  // saturates after 2^64-2 unread posts, so the write does not fail.
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(event_fd_, &one, sizeof one);
  return true;
}

int MainLoop::Run() {
  int stop_signal = 0;
  pollfd fds[2] = {{signal_fd_, POLLIN, 0}, {event_fd_, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    // The stop comes first: as with a destroyed window, work still waiting is not run.
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (read(signal_fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        stop_signal = static_cast<int>(info.ssi_signo);
        break;
      }
    }
    if (fds[1].revents & POLLIN) {
      uint64_t posted = 0;
      [[maybe_unused]] const ssize_t read_bytes = read(event_fd_, &posted, sizeof posted);
      std::deque<std::function<void()>> batch;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        batch.swap(queue_);
      }
      // Without the lock: work may post more work, which runs in a later round.
      for (auto& work : batch) work();
    }
  }
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    dropped.swap(queue_);
  }
  return stop_signal;
}

}  // namespace platform::posix
