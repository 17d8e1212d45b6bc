// The sticky-keys commands of the command pipe: the control application's switch for the
// sticky keys of the user's session, no firmware involved.
#pragma once
#include "pipe/protocol.h"

namespace ironbark {

// Each answers 4 bytes. set_stickykey: argument 0 is the wanted state, 1 = on (sticky keys and
// their hot key), anything else = off; answers 0 when the setting was changed, 1 when nothing
// changed (already so, a system call failed, or an exception). get_stickykey: 1 when sticky
// keys and their hot key are both on, else 0 (also when the query fails).
struct StickyKeyCommands {
  static void set_stickykey(const ironbark::CommandRequest& request,
                            ironbark::CommandResponse& response);
  static void get_stickykey(const ironbark::CommandRequest& request,
                            ironbark::CommandResponse& response);
};

}  // namespace ironbark
