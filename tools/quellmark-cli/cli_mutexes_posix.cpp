#include "cli.h"
#include "platform/posix/named_mutex.h"

namespace cli {

std::unique_ptr<platform::NamedMutexes> OpenMutexes(const Context& context) {
  return std::make_unique<platform::posix::PosixNamedMutexes>(context.root, false);
}

}  // namespace cli
