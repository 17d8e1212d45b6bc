// A clock for tests: time stands still until something sleeps on it; each sleep is noted and
// moves the time on at once by what was asked. Safe to use from several threads.
#pragma once
#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/clock.h"

namespace testsupport {

class ManualClock final : public platform::Clock {
 public:
  using Hook = std::function<void(std::chrono::milliseconds)>;

  // `on_sleep` runs on the sleeping thread for every sleep, after time has moved on.
  explicit ManualClock(Hook on_sleep = {}) : on_sleep_(std::move(on_sleep)) {}

  std::chrono::milliseconds Now() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
  }

  void SleepFor(std::chrono::milliseconds duration) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      now_ += std::max(duration, std::chrono::milliseconds(0));
      sleeps_.push_back(duration);
    }
    if (on_sleep_) on_sleep_(duration);
  }

  // Every sleep so far, in the order they began.
  std::vector<std::chrono::milliseconds> Sleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
  }

 private:
  const Hook on_sleep_;
  std::mutex mutex_;
  std::chrono::milliseconds now_{0};
  std::vector<std::chrono::milliseconds> sleeps_;
};

}  // namespace testsupport
