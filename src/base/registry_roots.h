// The registry's predefined root keys by name, as clients, the command-line tool and the Linux
// registry database spell them.
#pragma once
#include <optional>
#include <string_view>

#include "base/win_codes.h"

namespace win {

struct RegRootName {
  RegRoot root;
  const char* name;          // "HKEY_LOCAL_MACHINE"
  const char* abbreviation;  // "HKLM", as the system's reg tool accepts it
};

// Every predefined root key, in the order of its handle value.
inline constexpr RegRootName kRegRootNames[] = {
    {RegRoot::kClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    {RegRoot::kCurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {RegRoot::kLocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {RegRoot::kUsers, "HKEY_USERS", "HKU"},
    {RegRoot::kCurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
};

// The full name of `root`; null for a value that is no predefined root.
const char* RegRootFullName(RegRoot root);

// The root `name` stands for, compared after ASCII upper-casing: a full name, or also an
// abbreviation when `abbreviations` is set. nullopt for any other name.
std::optional<RegRoot> RegRootFromName(std::string_view name, bool abbreviations);

}  // namespace win
