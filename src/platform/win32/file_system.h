// The Windows file-system backend: paths are used as they are.
#pragma once
#include "platform/file_system.h"

namespace platform::win32 {

class Win32FileSystem : public platform::FileSystem {
 public:
  // CreateDirectoryW on every prefix of `path` that ends before a backslash (or slash), from
  // the top down; prefixes that exist or cannot be created (the drive, a UNC server) are
  // passed over. True when the directory before the last separator exists afterwards; a path
  // without a separator has nothing to create and answers true.
  bool MakeSureDirectoryPathExists(std::string_view path) override;

  // CreateFileW(FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS), WriteFile
  // until every byte is written or a write fails, CloseHandle.
  bool AppendToFile(std::string_view path, std::string_view bytes) override;

  // The Windows calls themselves, on the path as given; `last_error` gets GetLastError() read
  // right after the call, on success too. An empty path is refused before the call.
  bool CreateDirectoryW(std::string_view path, uint32_t* last_error) override;
  bool DeleteFileW(std::string_view path, uint32_t* last_error) override;
  bool CopyFileW(std::string_view from, std::string_view to, bool fail_if_exists,
                 uint32_t* last_error) override;
  // _wstat.
  bool PathExists(std::string_view path) override;
  uint32_t GetFileAttributesW(std::string_view path) override;
  std::string GetPrivateProfileStringW(std::string_view section, std::string_view key,
                                       std::string_view default_value, size_t buffer_chars,
                                       std::string_view path) override;
};

}  // namespace platform::win32
