// File-system seam. Paths are Windows paths ("C:\ProgramData\OEM\...", "\OEM\..."); the Linux
// backend maps them below its root directory through one mapping function.
#pragma once
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
};

}  // namespace platform
