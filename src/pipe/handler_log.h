// Log lines of the command processor's operations: the function column carries the operation's
// qualified name, "ironbark::IbClientCommandProcessor::" followed by the operation.
#pragma once
#include <cstddef>
#include <string_view>

#include "log/log_file.h"

namespace ironbark {

// The longest message an operation formats, in characters; a longer one is cut.
inline constexpr size_t kHandlerMessageChars = 256;

// LogLine under the qualified name of `operation` ("set_stickykey", "Initialize", ...).
void LogProcessor(std::string_view operation, std::string_view message, int level = kLogInfo);

}  // namespace ironbark
