#include <sys/stat.h>

#include "cli_registry.h"
#include "platform/posix/registry.h"

namespace cli {

std::unique_ptr<platform::Registry> OpenRegistry(const Context& context) {
  // The broker creates its root the same way; a parent that is missing makes the open fail
  // with a message naming the database.
  ::mkdir(context.root.c_str(), 0755);
  return std::make_unique<platform::posix::SqliteRegistry>(context.root + "/registry.db");
}

std::optional<uint32_t> SetKeyProtection(const Context& context, win::RegRoot root,
                                         std::string_view subkey, bool protect) {
  ::mkdir(context.root.c_str(), 0755);
  platform::posix::SqliteRegistry registry(context.root + "/registry.db");
  return registry.SetKeyProtected(root, subkey, protect);
}

}  // namespace cli
