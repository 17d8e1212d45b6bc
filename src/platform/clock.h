// Clock seam: the monotonic time every timed wait of the broker reads and sleeps on (the pause
// after a firmware call, the survey's start-up delay, the stop protocol's polls, the retry while
// the pipe has no room for another instance). Both builds run on the steady clock; tests install
// a manual clock that records each sleep and advances at once.
#pragma once
#include <chrono>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds since an arbitrary origin; never goes back.
  virtual std::chrono::milliseconds Now() = 0;
  // Returns once Now() has advanced by at least `duration` (at once for 0 or less).
  virtual void SleepFor(std::chrono::milliseconds duration) = 0;
};

// The process's real clock, over std::chrono::steady_clock. Safe to use from any thread.
Clock& SteadyClock();

}  // namespace platform
