#include "platform/win32/registry.h"

#include <windows.h>

#include <algorithm>

#include "base/text.h"
#include "platform/win32/wide_text.h"

namespace platform::win32 {
namespace {

// A RegRoot holds the low 32 bits of its predefined handle (system_constants.cpp pins each
// value), and winreg.h defines the handle as that value sign-extended. Any other value is
// handed over the same way; the call then answers ERROR_INVALID_HANDLE as Windows does for an
// unknown root.
HKEY RootKey(win::RegRoot root) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

// An open key, closed on destruction.
class OpenedKey {
 public:
  ~OpenedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  LSTATUS Open(win::RegRoot root, std::string_view subkey, REGSAM access) {
    const std::wstring path = ToWide(subkey);
    return RegOpenKeyExW(RootKey(root), path.c_str(), 0, access, &key_);
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return text::AsciiUpper(a) < text::AsciiUpper(b);
}

}  // namespace

uint32_t Win32Registry::OpenKey(win::RegRoot root, std::string_view subkey, uint32_t access) {
  const std::wstring path = ToWide(subkey);
  HKEY key = nullptr;
  const LSTATUS rc = RegOpenKeyExW(RootKey(root), path.c_str(), 0, access, &key);
  if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
  return static_cast<uint32_t>(RegCloseKey(key));
}

uint32_t Win32Registry::CreateKey(win::RegRoot root, std::string_view subkey, uint32_t access) {
  const std::wstring path = ToWide(subkey);
  HKEY key = nullptr;
  const LSTATUS rc = RegCreateKeyExW(RootKey(root), path.c_str(), 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
  return static_cast<uint32_t>(RegCloseKey(key));
}

uint32_t Win32Registry::DeleteTree(win::RegRoot root, std::string_view subkey) {
  const std::wstring path = ToWide(subkey);
  return static_cast<uint32_t>(
      RegDeleteTreeW(RootKey(root), path.empty() ? nullptr : path.c_str()));
}

uint32_t Win32Registry::SetKeyValue(win::RegRoot root, std::string_view subkey,
                                    std::string_view value_name, uint32_t type,
                                    const void* data, uint32_t size) {
  const std::wstring path = ToWide(subkey);
  const std::wstring name = ToWide(value_name);
  return static_cast<uint32_t>(
      RegSetKeyValueW(RootKey(root), path.c_str(), name.c_str(), type, data, size));
}

uint32_t Win32Registry::DeleteKeyValue(win::RegRoot root, std::string_view subkey,
                                       std::string_view value_name) {
  const std::wstring path = ToWide(subkey);
  const std::wstring name = ToWide(value_name);
  return static_cast<uint32_t>(RegDeleteKeyValueW(RootKey(root), path.c_str(), name.c_str()));
}

uint32_t Win32Registry::GetValue(win::RegRoot root, std::string_view subkey,
                                 std::string_view value_name, uint32_t flags, uint32_t* type,
                                 void* data, uint32_t* size) {
  const std::wstring path = ToWide(subkey);
  const std::wstring name = ToWide(value_name);
  // DWORD is unsigned long: same width as uint32_t here, but a distinct type.
  DWORD stored_type = 0;
  DWORD byte_count = size != nullptr ? *size : 0;
  const LSTATUS rc =
      RegGetValueW(RootKey(root), path.c_str(), name.c_str(), flags,
                   type != nullptr ? &stored_type : nullptr, data,
                   size != nullptr ? &byte_count : nullptr);
  if (type != nullptr) *type = stored_type;
  if (size != nullptr) *size = byte_count;
  return static_cast<uint32_t>(rc);
}

uint32_t Win32Registry::EnumSubkeys(win::RegRoot root, std::string_view subkey,
                                    std::vector<std::string>* names) {
  names->clear();
  OpenedKey key;
  LSTATUS rc = key.Open(root, subkey, KEY_READ);
  if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
  DWORD longest = 0;
  rc = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, &longest, nullptr,
                        nullptr, nullptr, nullptr, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
  // Key names are at most 255 characters; the buffer grows anyway should a key be renamed
  // or added while the enumeration runs.
  std::vector<wchar_t> name(std::max<DWORD>(longest, 255) + 1);
  for (DWORD index = 0;;) {
    DWORD length = static_cast<DWORD>(name.size());
    rc = RegEnumKeyExW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr,
                       nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_MORE_DATA) {
      name.resize(name.size() * 2);
      continue;
    }
    if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
    names->push_back(FromWide(std::wstring_view(name.data(), length)));
    ++index;
  }
  std::sort(names->begin(), names->end(), LessIgnoringCase);
  return ERROR_SUCCESS;
}

uint32_t Win32Registry::EnumValues(win::RegRoot root, std::string_view subkey,
                                   std::vector<RegValueInfo>* values) {
  values->clear();
  OpenedKey key;
  LSTATUS rc = key.Open(root, subkey, KEY_READ);
  if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
  DWORD longest_name = 0;
  DWORD longest_data = 0;
  rc = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, &longest_name, &longest_data, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
  std::vector<wchar_t> name(longest_name + 1);
  // Never a null data pointer: with one, RegEnumValueW reports only the size.
  std::vector<BYTE> data(std::max<DWORD>(longest_data, 1));
  for (DWORD index = 0;;) {
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD data_length = static_cast<DWORD>(data.size());
    DWORD type = 0;
    rc = RegEnumValueW(key.get(), index, name.data(), &name_length, nullptr, &type, data.data(),
                       &data_length);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_MORE_DATA) {
      // A value grew since the key was queried; which of the two buffers was short is not
      // reported reliably, so both grow.
      name.resize(name.size() * 2);
      data.resize(std::max<size_t>(data_length, data.size() * 2));
      continue;
    }
    if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
    RegValueInfo info;
    info.name = FromWide(std::wstring_view(name.data(), name_length));
    info.type = type;
    info.data.assign(data.begin(), data.begin() + data_length);
    values->push_back(std::move(info));
    ++index;
  }
  std::sort(values->begin(), values->end(),
            [](const RegValueInfo& a, const RegValueInfo& b) {
              return LessIgnoringCase(a.name, b.name);
            });
  return ERROR_SUCCESS;
}

}  // namespace platform::win32
