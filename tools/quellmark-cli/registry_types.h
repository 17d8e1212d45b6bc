// The registry value types by name, as the system's reg tool and the named commands spell them.
#pragma once
#include <cstdint>

#include "base/win_codes.h"

namespace cli {

struct RegistryTypeName {
  const char* name;
  uint32_t type;
};
inline constexpr RegistryTypeName kRegistryTypes[] = {
    {"REG_NONE", win::kRegNone},
    {"REG_SZ", win::kRegSz},
    {"REG_EXPAND_SZ", win::kRegExpandSz},
    {"REG_BINARY", win::kRegBinary},
    {"REG_DWORD", win::kRegDword},
    {"REG_DWORD_BIG_ENDIAN", 5},
    {"REG_LINK", 6},
    {"REG_MULTI_SZ", win::kRegMultiSz},
    {"REG_RESOURCE_LIST", 8},
    {"REG_FULL_RESOURCE_DESCRIPTOR", 9},
    {"REG_RESOURCE_REQUIREMENTS_LIST", 10},
    {"REG_QWORD", win::kRegQword},
};

}  // namespace cli
