// The simulated notebook's console session: whether a user is logged on at the physical
// console. While nobody is, asking for the console user's token fails, as WTSQueryUserToken
// does without an active user session, and no program can be started in that session.
#pragma once
#include <atomic>

namespace sim {

class ConsoleSession {
 public:
  bool user_logged_on() const { return user_logged_on_.load(); }
  void SetUserLoggedOn(bool logged_on) { user_logged_on_.store(logged_on); }

 private:
  std::atomic<bool> user_logged_on_{true};
};

}  // namespace sim
