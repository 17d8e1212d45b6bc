// The registry `quellmark-cli reg` works on: the one piece of it that differs between the
// Linux build (the broker's SQLite registry under its root) and the Windows build (the native
// registry).
#pragma once
#include <memory>

#include "cli.h"
#include "platform/registry.h"

namespace cli {

// Linux: ROOT/registry.db, the root directory being created when missing. Throws
// std::runtime_error (with a message for the user) when the registry cannot be opened.
std::unique_ptr<platform::Registry> OpenRegistry(const Context& context);

}  // namespace cli
