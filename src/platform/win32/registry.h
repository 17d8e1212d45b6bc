// The Windows registry backend: the Reg* calls of the seam, passed straight to advapi32.
#pragma once
#include "platform/registry.h"

namespace platform::win32 {

// Every operation answers what the corresponding Reg* function answers (ERROR_SUCCESS or its
// error code). The 64-bit process reaches the native registry view; no view flag is added.
class Win32Registry : public platform::Registry {
 public:
  uint32_t OpenKey(win::RegRoot root, std::string_view subkey, uint32_t access) override;
  uint32_t CreateKey(win::RegRoot root, std::string_view subkey, uint32_t access) override;
  // An empty subkey is passed as null, which clears the root key's contents.
  uint32_t DeleteTree(win::RegRoot root, std::string_view subkey) override;
  uint32_t SetKeyValue(win::RegRoot root, std::string_view subkey, std::string_view value_name,
                       uint32_t type, const void* data, uint32_t size) override;
  uint32_t DeleteKeyValue(win::RegRoot root, std::string_view subkey,
                          std::string_view value_name) override;
  uint32_t GetValue(win::RegRoot root, std::string_view subkey, std::string_view value_name,
                    uint32_t flags, uint32_t* type, void* data, uint32_t* size) override;
  // The key is opened with KEY_READ. Windows enumerates values in creation order; both lists
  // are sorted here (case-insensitively) so that they come out in name order as the seam
  // promises.
  uint32_t EnumSubkeys(win::RegRoot root, std::string_view subkey,
                       std::vector<std::string>* names) override;
  uint32_t EnumValues(win::RegRoot root, std::string_view subkey,
                      std::vector<RegValueInfo>* values) override;
};

}  // namespace platform::win32
