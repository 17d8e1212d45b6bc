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

  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace platform::posix
