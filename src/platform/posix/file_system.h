// The Linux file-system backend: Windows paths mapped below a root directory (path_mapping.h).
#pragma once
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace platform::posix {

class PosixFileSystem : public platform::FileSystem {
 public:
  // `root` is the Linux build's root directory; it need not exist yet (the first directory
  // creation makes it).
  explicit PosixFileSystem(std::string root);

  // Creates each missing directory of the mapped path up to the last backslash (or slash) of
  // `path`, mode 0755. True when that directory exists afterwards; a path without a separator
  // has nothing to create and answers true.
  bool MakeSureDirectoryPathExists(std::string_view path) override;

  // open(O_APPEND | O_CREAT, 0644), the whole of `bytes` written (retrying short writes),
  // close. Appends of one call are not interleaved with other appenders' bytes as long as the
  // file is local and the write completes in one system call, which it does for log lines.
  bool AppendToFile(std::string_view path, std::string_view bytes) override;

  // The single-file calls over the mapped paths. errno becomes the Windows code: ENOENT gives
  // kErrorFileNotFound when the named entry's directory exists and kErrorPathNotFound when it
  // does not (ENOTDIR likewise kErrorPathNotFound); EACCES, EPERM, EISDIR and EROFS give
  // kErrorAccessDenied; ENOSPC kErrorDiskFull; anything else kErrorGenFailure.
  // mkdir(0755); an entry whose name differs only in case counts as existing, as on Windows.
  bool CreateDirectoryW(std::string_view path, uint32_t* last_error) override;
  // unlink of anything but a directory (a symbolic link itself is removed).
  bool DeleteFileW(std::string_view path, uint32_t* last_error) override;
  // open / read / write loop into the target opened O_TRUNC (O_EXCL with `fail_if_exists`),
  // created with the source's permission bits, so a read-only source gives a read-only copy
  // that a later copy cannot overwrite, as on Windows. A failed copy unlinks its target.
  bool CopyFileW(std::string_view from, std::string_view to, bool fail_if_exists,
                 uint32_t* last_error) override;
  // stat(2) succeeding (symbolic links followed).
  bool PathExists(std::string_view path) override;
  // stat(2): a directory is kFileAttributeDirectory, anything else kFileAttributeArchive, with
  // kFileAttributeReadonly added when the owner may not write it.
  uint32_t GetFileAttributesW(std::string_view path) override;
  // The file's text read through platform::ReadPrivateProfileText; a missing or unreadable
  // file reads as empty.
  std::string GetPrivateProfileStringW(std::string_view section, std::string_view key,
                                       std::string_view default_value, size_t buffer_chars,
                                       std::string_view path) override;

  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace platform::posix
