#include "platform/win32/process_environment.h"

#include <windows.h>

#include <vector>

#include "platform/win32/wide_text.h"

namespace platform::win32 {
namespace {
constexpr DWORD kBufferChars = 260;
}  // namespace

std::optional<std::string> Win32Environment::GetVariable(std::string_view name) {
  const std::wstring wide_name = ToWide(name);
  std::vector<wchar_t> buffer(kBufferChars, L'\0');
  for (;;) {
    // A variable set to the empty text answers 0 without touching the last error.
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), buffer.data(),
                                                 static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    // Too small: the answer is the size needed, terminating zero included.
    if (length >= buffer.size()) {
      buffer.assign(length, L'\0');
      continue;
    }
    return FromWide(std::wstring_view(buffer.data(), length));
  }
}

std::string Win32Environment::UserName() {
  wchar_t buffer[kBufferChars] = {};
  DWORD size = kBufferChars;
  if (!GetUserNameW(buffer, &size)) return std::string();
  return FromWide(buffer);
}

}  // namespace platform::win32
