#include "cli_registry.h"

#include "platform/win32/registry.h"

namespace cli {

// Windows: the native registry of the machine (64-bit view); the root directory plays no part.
std::unique_ptr<platform::Registry> OpenRegistry(const Context& /*context*/) {
  return std::make_unique<platform::win32::Win32Registry>();
}

std::optional<uint32_t> SetKeyProtection(const Context& /*context*/, win::RegRoot /*root*/,
                                         std::string_view /*subkey*/, bool /*protect*/) {
  return std::nullopt;
}

}  // namespace cli
