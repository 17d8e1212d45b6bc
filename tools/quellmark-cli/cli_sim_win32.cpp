// quellmark-cli sim (Windows build): the real notebook cannot be acted on from here.
#include <cstdio>

#include "cli.h"

namespace cli {

int RunSim(const Context& /*context*/, const std::vector<std::string>& /*args*/) {
  std::fputs("quellmark-cli: sim works only with the Linux build's simulated notebook\n", stderr);
  return 2;
}

}  // namespace cli
