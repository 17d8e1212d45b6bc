// File-system seam. Paths are Windows paths ("C:\ProgramData\OEM\...", "\OEM\..."); the Linux
// backend maps them below its root directory through one mapping function.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // MakeSureDirectoryPathExists: creates every missing directory up to the last backslash of
  // `path`. False when a directory could not be created.
  virtual bool MakeSureDirectoryPathExists(std::string_view path) = 0;

  // Opens `path` for appending (binary, shared for reading and writing by others, created when
  // absent), writes `bytes` and closes it again. False only when the file could not be opened;
  // a failed or short write after a successful open still answers true.
  virtual bool AppendToFile(std::string_view path, std::string_view bytes) = 0;

  // The single-file calls of the boot-logo commands, named after the Windows calls they stand
  // for and answering as those do. Each mutating call returns true on success and, when
  // `last_error` is not null, stores the thread's last error code right after the call
  // (GetLastError): the failure's code (win_codes.h), or on success 0 from the Linux backend
  // and whatever Windows left there (normally 0) from the Windows one. An empty path names
  // nothing: the calls fail with kErrorPathNotFound and PathExists answers false.

  // CreateDirectoryW: creates the one directory `path` (a trailing separator is allowed); its
  // parent must exist. kErrorAlreadyExists when anything of that name exists, a file
  // included; kErrorPathNotFound when the parent is missing.
  virtual bool CreateDirectoryW(std::string_view path, uint32_t* last_error) = 0;

  // DeleteFileW: removes the file `path`. kErrorFileNotFound when it does not exist (or
  // kErrorPathNotFound when its directory does not), kErrorAccessDenied for a directory or a
  // file that may not be removed.
  virtual bool DeleteFileW(std::string_view path, uint32_t* last_error) = 0;

  // CopyFileW: copies the contents of the file `from` to the file `to`, replacing an existing
  // `to` unless `fail_if_exists`. The target's directory is not created. Codes:
  // kErrorFileNotFound / kErrorPathNotFound for a missing source or its directory,
  // kErrorPathNotFound for a missing target directory, kErrorFileExists when `to` exists and
  // `fail_if_exists` is set, kErrorAccessDenied when either side is a directory or `to` may
  // not be written, kErrorSharingViolation when both name the same file (which is left as it
  // was). A copy that fails part-way leaves no target behind.
  virtual bool CopyFileW(std::string_view from, std::string_view to, bool fail_if_exists,
                         uint32_t* last_error) = 0;

  // _wstat succeeding: true when `path` names an existing file or directory.
  virtual bool PathExists(std::string_view path) = 0;

  // GetFileAttributesW: kInvalidFileAttributes when `path` does not exist, otherwise its
  // attributes; kFileAttributeDirectory marks a directory.
  virtual uint32_t GetFileAttributesW(std::string_view path) = 0;
  // GetPrivateProfileStringW(section, key, default, buffer of `buffer_chars` UTF-16 units,
  // path): the value of `key` in `[section]` of the INI file `path`, section and key names
  // compared without regard to case, the first match winning; the value without the blanks
  // around it and without one pair of enclosing quotes. `default_value` when the file, the
  // section or the key is missing. Cut to buffer_chars - 1 units (whole characters).
  virtual std::string GetPrivateProfileStringW(std::string_view section, std::string_view key,
                                               std::string_view default_value,
                                               size_t buffer_chars, std::string_view path) = 0;
};

}  // namespace platform
