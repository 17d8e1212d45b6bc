// The simulated notebook's console session: whether a user is logged on at the physical
// console. While nobody is, asking for the console user's token fails, as WTSQueryUserToken
// does without an active user session, and no program can be started in that session.
//
// Profile section (default in parentheses; machines/README.md has the long form):
//   [session]  user_logged_on = switch (yes): a user is logged on when the broker starts
#pragma once
#include <atomic>

#include "sim/profile_format.h"

namespace sim {

struct SessionProfile {
  bool user_logged_on = true;
};

profile_format::Section SessionSection(SessionProfile& session);

class ConsoleSession {
 public:
  explicit ConsoleSession(const SessionProfile& profile = {})
      : user_logged_on_(profile.user_logged_on) {}

  bool user_logged_on() const { return user_logged_on_.load(); }
  // The user logs on or off while the broker runs.
  void SetUserLoggedOn(bool logged_on) { user_logged_on_.store(logged_on); }

 private:
  std::atomic<bool> user_logged_on_;
};

}  // namespace sim
