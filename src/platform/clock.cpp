#include "platform/clock.h"

#include <thread>

namespace platform {
namespace {

class SteadyClockImpl final : public Clock {
 public:
  std::chrono::milliseconds Now() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
  }

  void SleepFor(std::chrono::milliseconds duration) override {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    // sleep_until may wake early (or follow a clock of its own on some runtimes): the steady
    // clock decides when the wait is over.
    while (std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_until(deadline);
  }
};

}  // namespace

Clock& SteadyClock() {
  static SteadyClockImpl clock;
  return clock;
}

}  // namespace platform
