// Registry seam: the Reg* calls the broker makes, with Windows semantics and Windows error
// codes on every platform. Key paths are relative to a predefined root, separated by
// backslashes; key and value names compare case-insensitively. Texts are UTF-8 here, unpaired
// surrogates kept as base/text.h keeps them, so a name reaches the registry unit for unit;
// value data are raw bytes (REG_SZ data are UTF-16LE with their terminating zero, as on
// Windows).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/win_codes.h"

namespace platform {

struct RegValueInfo {
  std::string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyExW followed by RegCloseKey. 0 when the key exists and `access` is granted;
  // 2 when it is missing; 5 when it is protected against this caller.
  virtual uint32_t OpenKey(win::RegRoot root, std::string_view subkey, uint32_t access) = 0;

  // RegCreateKeyExW (options 0, no class) followed by RegCloseKey. Creates every missing key on
  // the path; opening an existing key also answers 0.
  virtual uint32_t CreateKey(win::RegRoot root, std::string_view subkey, uint32_t access) = 0;

  // RegDeleteTreeW: deletes the key with all its subkeys and values. An empty subkey deletes
  // the root's contents but not the root itself.
  virtual uint32_t DeleteTree(win::RegRoot root, std::string_view subkey) = 0;

  // RegSetKeyValueW: creates the subkey when it is missing, then creates or overwrites the
  // value with `type` and exactly `size` bytes of `data` (null `data` only with size 0).
  virtual uint32_t SetKeyValue(win::RegRoot root, std::string_view subkey,
                               std::string_view value_name, uint32_t type, const void* data,
                               uint32_t size) = 0;

  // RegDeleteKeyValueW.
  virtual uint32_t DeleteKeyValue(win::RegRoot root, std::string_view subkey,
                                  std::string_view value_name) = 0;

  // RegGetValueW with its RRF semantics: `flags` restricts the accepted types (RRF_RT_*),
  // 1630 (ERROR_UNSUPPORTED_TYPE) when the stored type is outside the restriction; a null
  // `data` asks only for the size; a buffer smaller than the data answers 234
  // (ERROR_MORE_DATA) with the needed size in *size and leaves the buffer alone unless
  // RRF_ZEROONFAILURE is set. `type` and `size` may be null (size only when `data` is null).
  // String data without a terminating zero are returned with one added.
  virtual uint32_t GetValue(win::RegRoot root, std::string_view subkey,
                            std::string_view value_name, uint32_t flags, uint32_t* type,
                            void* data, uint32_t* size) = 0;

  // Enumeration (RegEnumKeyExW / RegEnumValueW), in name order. Used by tools, not by the broker.
  virtual uint32_t EnumSubkeys(win::RegRoot root, std::string_view subkey,
                               std::vector<std::string>* names) = 0;
  virtual uint32_t EnumValues(win::RegRoot root, std::string_view subkey,
                              std::vector<RegValueInfo>* values) = 0;
};

}  // namespace platform
