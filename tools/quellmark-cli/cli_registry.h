// The registry `quellmark-cli reg` works on: the one piece of it that differs between the
// Linux build (the broker's SQLite registry under its root) and the Windows build (the native
// registry).
#pragma once
#include <memory>
#include <optional>
#include <string_view>

#include "cli.h"
#include "platform/registry.h"

namespace cli {

// Linux: ROOT/registry.db, the root directory being created when missing. Throws
// std::runtime_error (with a message for the user) when the registry cannot be opened.
std::unique_ptr<platform::Registry> OpenRegistry(const Context& context);

// Linux: marks the key (creating it when missing) as protected, or lifts the mark, in the
// registry database (SqliteRegistry::SetKeyProtected): the broker's writes there then answer
// ERROR_ACCESS_DENIED, as a standard account meets them on Windows. The registry's code; throws
// as OpenRegistry does. Windows: nullopt, since a key is protected there by its own security
// descriptor, which this tool does not change.
std::optional<uint32_t> SetKeyProtection(const Context& context, win::RegRoot root,
                                         std::string_view subkey, bool protect);

}  // namespace cli
