#include "pipe/handler_log.h"

#include <string>

namespace ironbark {

void LogProcessor(std::string_view operation, std::string_view message, int level) {
  std::string function = "ironbark::IbClientCommandProcessor::";
  function += operation;
  LogLine(level, function, message);
}

}  // namespace ironbark
