// quellmark-cli shutdown (Linux): the Linux build has no window to post the Exit command to.
#include <cstdio>

#include "cli.h"

namespace cli {

int RunShutdown(const Context& /*context*/, const std::vector<std::string>& /*args*/) {
  std::fputs(
      "quellmark-cli: shutdown works only with the Windows build; stop the Linux broker with "
      "SIGTERM (kill -TERM PID) or SIGINT\n",
      stderr);
  return 2;
}

}  // namespace cli
