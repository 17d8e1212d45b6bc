// Time stands still until something sleeps: each sleep moves it on at once and is handed to
// `on_sleep` on the sleeping thread.
#pragma once
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>

#include "platform/clock.h"

namespace testsupport {

class ManualClock final : public platform::Clock {
 public:
  using Hook = std::function<void(std::chrono::milliseconds)>;
  explicit ManualClock(Hook on_sleep = {}) : on_sleep_(std::move(on_sleep)) {}

  std::chrono::milliseconds Now() override { return std::chrono::milliseconds(now_.load()); }
  void SleepFor(std::chrono::milliseconds duration) override {
    now_.fetch_add(std::max<int64_t>(duration.count(), 0));
    if (on_sleep_) on_sleep_(duration);
  }

 private:
  const Hook on_sleep_;
  std::atomic<int64_t> now_{0};
};

}  // namespace testsupport
