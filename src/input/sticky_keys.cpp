// The sticky-keys commands: in a game, Shift pressed five times would otherwise bring up the
// sticky-keys prompt.
#include "input/sticky_keys.h"

#include <cstdint>
#include <string>

#include "base/win_codes.h"
#include "log/log_file.h"
#include "log/message_format.h"
#include "pipe/handler_log.h"
#include "pipe/protocol.h"
#include "platform/services.h"

namespace ironbark {
namespace {

constexpr const char* kSetFunction = "set_stickykey";
constexpr const char* kGetFunction = "get_stickykey";
constexpr size_t kMessageChars = kHandlerMessageChars;

// "On" for the control application means both: sticky keys active and the Shift-five-times
// hot key armed. Turning off clears both and keeps every other flag (feedback, indicator...).
constexpr uint32_t kOnFlags = win::kSkfStickyKeysOn | win::kSkfHotkeyActive;
constexpr uint32_t kStateOn = 1;
constexpr uint32_t kUnchanged = 1;
constexpr uint32_t kChanged = 0;

void Respond(const char* function, uint32_t result, ironbark::CommandResponse& response) {
  ironbark::BuildResponse(response, {{&result, sizeof result}});
  LogProcessor(function, FormatMessageSized(kMessageChars, "Rsponse data: %u", result));
}

}  // namespace

void StickyKeyCommands::set_stickykey(const ironbark::CommandRequest& request,
                                      ironbark::CommandResponse& response) {
  uint32_t result = kUnchanged;
  try {
    const uint32_t state = request.ArgumentU32(0);
    LogProcessor(kSetFunction,
            FormatMessageSized(kMessageChars, "Input sticky key state: %d", state));
    platform::Accessibility& settings = platform::A11y();
    uint32_t flags = 0;
    if (settings.GetStickyKeys(&flags)) {
      const bool on = (flags & kOnFlags) == kOnFlags;
      const bool partly_on = (flags & kOnFlags) != 0;
      // Half on (one flag without the other) counts as off for "on" and as on for "off", so
      // either request leaves a clean state behind.
      if (state == kStateOn && !on) {
        if (settings.SetStickyKeys(flags | kOnFlags)) result = kChanged;
      } else if (state != kStateOn && partly_on) {
        if (settings.SetStickyKeys(flags & ~kOnFlags)) result = kChanged;
      }
    }
  } catch (...) {
    result = kUnchanged;
  }
  Respond(kSetFunction, result, response);
}

void StickyKeyCommands::get_stickykey(const ironbark::CommandRequest&,
                                      ironbark::CommandResponse& response) {
  uint32_t flags = 0;
  const bool on = platform::A11y().GetStickyKeys(&flags) && (flags & kOnFlags) == kOnFlags;
  Respond(kGetFunction, on ? 1u : 0u, response);
}

}  // namespace ironbark
