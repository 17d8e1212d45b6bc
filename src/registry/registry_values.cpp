#include "registry/registry_values.h"

#include <vector>

#include "base/little_endian.h"
#include "base/text.h"
#include "base/win_codes.h"
#include "platform/services.h"

namespace {

constexpr win::RegRoot kRoot = win::RegRoot::kLocalMachine;
constexpr size_t kMaxTextUnits = 0x80000;

// Steps 1 and 2 of both writers: probe with KEY_READ, create with KEY_ALL_ACCESS on failure.
uint32_t MakeSureKeyExists(std::string_view key_path) {
  platform::Registry& reg = platform::Reg();
  if (reg.OpenKey(kRoot, key_path, win::kKeyRead) == win::kErrorSuccess) {
    return win::kErrorSuccess;
  }
  return reg.CreateKey(kRoot, key_path, win::kKeyAllAccess);
}

}  // namespace

uint32_t write_reg_dword(std::string_view key_path, std::string_view value_name,
                         uint32_t value) {
  if (const uint32_t rc = MakeSureKeyExists(key_path); rc != win::kErrorSuccess) return rc;
  const std::vector<uint8_t> bytes = le::Bytes(value, 4);
  return platform::Reg().SetKeyValue(kRoot, key_path, value_name, win::kRegDword, bytes.data(),
                                     static_cast<uint32_t>(bytes.size()));
}

uint32_t write_reg_string(std::string_view key_path, std::string_view value_name,
                          const char* text) {
  if (const uint32_t rc = MakeSureKeyExists(key_path); rc != win::kErrorSuccess) return rc;
  std::vector<uint8_t> bytes = text::ToWireText(text != nullptr ? text : "");
  if (bytes.size() > kMaxTextUnits * 2 + 2) {
    // The stored length is the counted length times 2 plus 2; the last unit kept is made the
    // terminating zero so that the value stays a well-formed string.
    bytes.resize(kMaxTextUnits * 2);
    bytes.insert(bytes.end(), {0, 0});
  }
  return platform::Reg().SetKeyValue(kRoot, key_path, value_name, win::kRegSz, bytes.data(),
                                     static_cast<uint32_t>(bytes.size()));
}

uint32_t read_reg_dword_default(std::string_view key_path, std::string_view value_name) {
  platform::Registry& reg = platform::Reg();
  if (reg.GetValue(kRoot, key_path, value_name, win::kRrfRtAny, nullptr, nullptr, nullptr) !=
      win::kErrorSuccess) {
    return 0;
  }
  uint8_t bytes[4] = {};
  uint32_t size = sizeof bytes;
  if (reg.GetValue(kRoot, key_path, value_name, win::kRrfRtRegDword, nullptr, bytes, &size) ==
      win::kErrorSuccess) {
    return le::LoadU32(bytes);
  }
  write_reg_dword(key_path, value_name, 0);
  return 0;
}
