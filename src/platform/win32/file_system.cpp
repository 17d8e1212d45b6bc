#include "platform/win32/file_system.h"

#include <sys/stat.h>
#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform::win32 {
namespace {

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Stores `code` for the caller; answers `ok`.
bool Report(uint32_t* last_error, bool ok, DWORD code) {
  if (last_error != nullptr) *last_error = code;
  return ok;
}

}  // namespace

bool Win32FileSystem::MakeSureDirectoryPathExists(std::string_view path) {
  const std::wstring wide = ToWide(path);
  const size_t last = wide.find_last_of(L"\\/");
  if (last == std::wstring::npos) return true;
  for (size_t pos = 0; pos <= last; ++pos) {
    if (!IsSeparator(wide[pos]) || pos == 0 || IsSeparator(wide[pos - 1])) continue;
    // "C:", "\\server" and the like fail here (they exist or are no directories to make);
    // only the final result counts.
    ::CreateDirectoryW(wide.substr(0, pos).c_str(), nullptr);
  }
  // A bare drive root ("C:\") is a directory too; keep its separator for the check.
  return IsDirectory(wide.substr(0, last + 1));
}

bool Win32FileSystem::AppendToFile(std::string_view path, std::string_view bytes) {
  const std::wstring wide = ToWide(path);
  const HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD written = 0;
    // A failed or zero-length write leaves the line incomplete; the next call opens afresh.
    if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) break;
    data += written;
    left -= written;
  }
  CloseHandle(file);
  return true;
}

// The wide paths are made before each call so that nothing runs between the call and
// GetLastError (a temporary's destructor would).
bool Win32FileSystem::CreateDirectoryW(std::string_view path, uint32_t* last_error) {
  if (path.empty()) return Report(last_error, false, ERROR_PATH_NOT_FOUND);
  const std::wstring wide = ToWide(path);
  const BOOL ok = ::CreateDirectoryW(wide.c_str(), nullptr);
  const DWORD code = GetLastError();
  return Report(last_error, ok != FALSE, code);
}

bool Win32FileSystem::DeleteFileW(std::string_view path, uint32_t* last_error) {
  if (path.empty()) return Report(last_error, false, ERROR_PATH_NOT_FOUND);
  const std::wstring wide = ToWide(path);
  const BOOL ok = ::DeleteFileW(wide.c_str());
  const DWORD code = GetLastError();
  return Report(last_error, ok != FALSE, code);
}

bool Win32FileSystem::CopyFileW(std::string_view from, std::string_view to, bool fail_if_exists,
                                uint32_t* last_error) {
  if (from.empty() || to.empty()) return Report(last_error, false, ERROR_PATH_NOT_FOUND);
  const std::wstring source = ToWide(from);
  const std::wstring target = ToWide(to);
  const BOOL ok = ::CopyFileW(source.c_str(), target.c_str(), fail_if_exists ? TRUE : FALSE);
  const DWORD code = GetLastError();
  return Report(last_error, ok != FALSE, code);
}

bool Win32FileSystem::PathExists(std::string_view path) {
  if (path.empty()) return false;
  struct _stat64 st;
  return _wstat64(ToWide(path).c_str(), &st) == 0;
}

uint32_t Win32FileSystem::GetFileAttributesW(std::string_view path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesW(ToWide(path).c_str());
}

std::string Win32FileSystem::GetPrivateProfileStringW(std::string_view section,
                                                      std::string_view key,
                                                      std::string_view default_value,
                                                      size_t buffer_chars,
                                                      std::string_view path) {
  if (buffer_chars == 0) return {};
  std::wstring buffer(buffer_chars, L'\0');
  const DWORD copied = ::GetPrivateProfileStringW(
      ToWide(section).c_str(), ToWide(key).c_str(), ToWide(default_value).c_str(), buffer.data(),
      static_cast<DWORD>(buffer_chars), ToWide(path).c_str());
  buffer.resize(copied);
  return FromWide(buffer);
}

}  // namespace platform::win32
