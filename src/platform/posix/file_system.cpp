#include "platform/posix/file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "platform/posix/path_mapping.h"

namespace platform::posix {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

PosixFileSystem::PosixFileSystem(std::string root) : root_(std::move(root)) {}

bool PosixFileSystem::MakeSureDirectoryPathExists(std::string_view path) {
  const size_t last = path.find_last_of("\\/");
  if (last == std::string_view::npos) return true;
  // Keep the separator: "C:\" must stay the drive's root, not the drive-relative "C:".
  const std::string target = MapWindowsPath(root_, path.substr(0, last + 1));
  if (IsDirectory(target)) return true;

  // Walk the mapped path from the top, creating whatever is missing. Existing directories
  // above the root (such as /tmp) are only looked at, never created.
  for (size_t pos = 1; pos <= target.size(); ++pos) {
    if (pos != target.size() && target[pos] != '/') continue;
    const std::string prefix = target.substr(0, pos);
    if (IsDirectory(prefix)) continue;
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return IsDirectory(target);
}

bool PosixFileSystem::AppendToFile(std::string_view path, std::string_view bytes) {
  const std::string target = MapWindowsPath(root_, path);
  const int fd = ::open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const char* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // the line is left incomplete; the next call opens the file afresh
    }
    data += n;
    left -= static_cast<size_t>(n);
  }
  ::close(fd);
  return true;
}

}  // namespace platform::posix
