#include "base/registry_roots.h"

#include <string>

#include "base/text.h"

namespace win {

const char* RegRootFullName(RegRoot root) {
  for (const RegRootName& r : kRegRootNames) {
    if (r.root == root) return r.name;
  }
  return nullptr;
}

std::optional<RegRoot> RegRootFromName(std::string_view name, bool abbreviations) {
  const std::string upper = text::AsciiUpper(name);
  for (const RegRootName& r : kRegRootNames) {
    if (upper == r.name || (abbreviations && upper == r.abbreviation)) return r.root;
  }
  return std::nullopt;
}

}  // namespace win
