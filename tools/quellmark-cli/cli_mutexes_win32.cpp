#include "cli.h"
#include "platform/win32/named_mutex.h"

namespace cli {

std::unique_ptr<platform::NamedMutexes> OpenMutexes(const Context&) {
  return std::make_unique<platform::win32::Win32NamedMutexes>();
}

}  // namespace cli
