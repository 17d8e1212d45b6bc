#include "win32_test_support.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>

#include "platform/win32/registry.h"
#include "platform/win32/wide_text.h"

namespace win32test {

using platform::win32::FromWide;
using platform::win32::ToWide;

std::string UniqueName(const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
  LARGE_INTEGER tick{};
  QueryPerformanceCounter(&tick);
  return prefix + "_" + std::to_string(GetCurrentProcessId()) + "_" +
         std::to_string(counter.fetch_add(1)) + "_" +
         std::to_string(static_cast<unsigned long long>(tick.QuadPart));
}

RegistrySandbox::RegistrySandbox() : key_(std::string(kParent) + "\\" + UniqueName("run")) {}

RegistrySandbox::~RegistrySandbox() {
  platform::win32::Win32Registry reg;
  reg.DeleteTree(kRoot, key_);
  // RegDeleteKeyW removes only a key without subkeys: another run's sandbox stays.
  RegDeleteKeyW(HKEY_CURRENT_USER, ToWide(kParent).c_str());
}

std::string RegistrySandbox::Path(const std::string& child) const {
  return child.empty() ? key_ : key_ + "\\" + child;
}

TempDir::TempDir() {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("GetTempPathW failed");
  std::wstring dir(base, length);
  if (dir.back() == L'\\') dir.pop_back();
  dir += L"\\" + ToWide(UniqueName("quellmark-test"));
  if (!CreateDirectoryW(dir.c_str(), nullptr)) throw std::runtime_error("CreateDirectoryW failed");
  path_ = FromWide(dir);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(ToWide(path_)), ignored);
}

std::string ReadWholeFile(const std::string& path) {
  const HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string contents;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) contents.append(chunk, got);
  CloseHandle(file);
  return contents;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace win32test
