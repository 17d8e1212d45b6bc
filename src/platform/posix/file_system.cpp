#include "platform/posix/file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <utility>

#include "base/win_codes.h"
#include "platform/posix/os_error.h"
#include "platform/posix/path_mapping.h"
#include "platform/private_profile.h"

namespace platform::posix {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The Windows code for errno `error` of a call on the mapped path `target`. Windows tells a
// missing file from a missing folder on its way, which errno does not.
uint32_t WindowsCode(int error, const std::string& target) {
  if (error == ENOENT) {
    const size_t slash = target.find_last_of('/');
    const bool directory_exists = slash != std::string::npos && IsDirectory(target.substr(0, slash));
    return directory_exists ? win::kErrorFileNotFound : win::kErrorPathNotFound;
  }
  return WinErrorFromErrno(error);
}

// Stores `code` for the caller and answers whether it is success.
bool Report(uint32_t* last_error, uint32_t code) {
  if (last_error != nullptr) *last_error = code;
  return code == win::kErrorSuccess;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies everything from `in` to `out`; 0 or the errno of the failing call.
int CopyContents(int in, int out) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    if (!WriteAll(out, buffer, static_cast<size_t>(n))) return errno;
  }
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

bool PosixFileSystem::CreateDirectoryW(std::string_view path, uint32_t* last_error) {
  if (path.empty()) return Report(last_error, win::kErrorPathNotFound);
  const std::string target = MapWindowsPath(root_, path);
  if (::mkdir(target.c_str(), 0755) == 0) return Report(last_error, win::kErrorSuccess);
  return Report(last_error, WindowsCode(errno, target));
}

bool PosixFileSystem::DeleteFileW(std::string_view path, uint32_t* last_error) {
  if (path.empty()) return Report(last_error, win::kErrorPathNotFound);
  const std::string target = MapWindowsPath(root_, path);
  struct stat st;
  if (::lstat(target.c_str(), &st) != 0) return Report(last_error, WindowsCode(errno, target));
  if (S_ISDIR(st.st_mode)) return Report(last_error, win::kErrorAccessDenied);
  if (::unlink(target.c_str()) != 0) return Report(last_error, WindowsCode(errno, target));
  return Report(last_error, win::kErrorSuccess);
}

bool PosixFileSystem::CopyFileW(std::string_view from, std::string_view to, bool fail_if_exists,
                                uint32_t* last_error) {
  if (from.empty() || to.empty()) return Report(last_error, win::kErrorPathNotFound);
  const std::string source = MapWindowsPath(root_, from);
  const std::string target = MapWindowsPath(root_, to);

  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Report(last_error, WindowsCode(errno, source));
  struct stat source_stat;
  if (::fstat(in, &source_stat) != 0 || S_ISDIR(source_stat.st_mode)) {
    ::close(in);
    return Report(last_error, win::kErrorAccessDenied);
  }
  // Truncating the target would destroy the source when both are one file; Windows refuses
  // this copy because the source is open without write sharing.
  struct stat target_stat;
  if (::stat(target.c_str(), &target_stat) == 0 && target_stat.st_dev == source_stat.st_dev &&
      target_stat.st_ino == source_stat.st_ino) {
    ::close(in);
    return Report(last_error, fail_if_exists ? win::kErrorFileExists : win::kErrorSharingViolation);
  }

  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (fail_if_exists ? O_EXCL : O_TRUNC);
  const int out = ::open(target.c_str(), flags, source_stat.st_mode & 0777);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    if (error == EEXIST) return Report(last_error, win::kErrorFileExists);
    // A missing target is never "file not found": only its directory can be missing.
    return Report(last_error, error == ENOENT ? win::kErrorPathNotFound : WindowsCode(error, target));
  }
  int error = CopyContents(in, out);
  ::close(in);
  if (::close(out) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(target.c_str());
    return Report(last_error, WindowsCode(error, target));
  }
  return Report(last_error, win::kErrorSuccess);
}

bool PosixFileSystem::PathExists(std::string_view path) {
  if (path.empty()) return false;
  struct stat st;
  return ::stat(MapWindowsPath(root_, path).c_str(), &st) == 0;
}

uint32_t PosixFileSystem::GetFileAttributesW(std::string_view path) {
  if (path.empty()) return win::kInvalidFileAttributes;
  struct stat st;
  if (::stat(MapWindowsPath(root_, path).c_str(), &st) != 0) return win::kInvalidFileAttributes;
  if (S_ISDIR(st.st_mode)) return win::kFileAttributeDirectory;
  uint32_t attributes = win::kFileAttributeArchive;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= win::kFileAttributeReadonly;
  return attributes;
}

std::string PosixFileSystem::GetPrivateProfileStringW(std::string_view section,
                                                      std::string_view key,
                                                      std::string_view default_value,
                                                      size_t buffer_chars,
                                                      std::string_view path) {
  std::string ini;
  if (!path.empty()) {
    std::ifstream in(MapWindowsPath(root_, path), std::ios::binary);
    ini.assign(std::istreambuf_iterator<char>(in), {});
  }
  return platform::ReadPrivateProfileText(ini, section, key, default_value, buffer_chars);
}

}  // namespace platform::posix
