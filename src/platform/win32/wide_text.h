// UTF-8 <-> UTF-16 at the edge of the Win32 calls: the core speaks UTF-8, the W functions take
// wchar_t (16-bit on Windows). The one converter of base/text.h, never MultiByteToWideChar:
// unpaired surrogates pass both ways unchanged (a name holding one is a name of its own), and
// only invalid UTF-8 bytes become U+FFFD.
#pragma once
#include <string>
#include <string_view>

#include "base/text.h"

namespace platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Win32 W functions take UTF-16 units");

inline std::wstring ToWide(std::string_view utf8) {
  const std::u16string units = text::Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

inline std::string FromWide(std::wstring_view wide) {
  return text::Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

}  // namespace platform::win32
