#include "sim/console_session.h"

namespace sim {
using namespace profile_format;

Section SessionSection(SessionProfile& p) {
  return Keys("session", {
      {"user_logged_on", [&](std::string_view v) { p.user_logged_on = Switch(v); }},
  });
}

}  // namespace sim
