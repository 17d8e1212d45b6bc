#include "platform/posix/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/os_error.h"
#include "platform/services.h"

namespace platform::posix {
namespace {

// How long Wait sleeps between two tries of the lock.
constexpr std::chrono::milliseconds kPollInterval{5};

// Descriptor 0 is a valid descriptor in a process started without standard input, and 0 is
// kNoMutex: a handle is the descriptor plus one.
MutexHandle ToHandle(int fd) { return static_cast<MutexHandle>(fd) + 1; }
int ToFd(MutexHandle mutex) { return static_cast<int>(mutex - 1); }

MutexHandle OpenFile(const std::string& path, int flags, uint32_t* error) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_RDONLY | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (error != nullptr) *error = WinErrorFromErrno(errno);
    return kNoMutex;
  }
  return ToHandle(fd);
}

}  // namespace

PosixNamedMutexes::PosixNamedMutexes(std::string root, bool elevated)
    : root_(std::move(root)), elevated_(elevated) {}

std::string PosixNamedMutexes::PathOf(const std::string& name) const {
  std::string file = name;
  std::replace(file.begin(), file.end(), '\\', '_');
  std::replace(file.begin(), file.end(), '/', '_');  // a name never leaves the folder
  return root_ + "/mutex/" + file;
}

bool PosixNamedMutexes::IsElevated() { return elevated_; }

MutexHandle PosixNamedMutexes::Create(const std::string& name, uint32_t* error) {
  if (::mkdir((root_ + "/mutex").c_str(), 0777) != 0 && errno != EEXIST) {
    if (error != nullptr) *error = WinErrorFromErrno(errno);
    return kNoMutex;
  }
  return OpenFile(PathOf(name), O_CREAT, error);
}

MutexHandle PosixNamedMutexes::Open(const std::string& name, uint32_t* error) {
  return OpenFile(PathOf(name), 0, error);
}

MutexWait PosixNamedMutexes::Wait(MutexHandle mutex, std::chrono::milliseconds timeout,
                                  uint32_t* error) {
  Clock& clock = Time();
  const std::chrono::milliseconds deadline = clock.Now() + timeout;
  for (;;) {
    if (::flock(ToFd(mutex), LOCK_EX | LOCK_NB) == 0) return MutexWait::kAcquired;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      if (error != nullptr) *error = WinErrorFromErrno(errno);
      return MutexWait::kFailed;
    }
    const std::chrono::milliseconds left = deadline - clock.Now();
    if (left <= std::chrono::milliseconds::zero()) return MutexWait::kTimeout;
    clock.SleepFor(std::min(left, kPollInterval));
  }
}

void PosixNamedMutexes::Release(MutexHandle mutex) { ::flock(ToFd(mutex), LOCK_UN); }

void PosixNamedMutexes::Close(MutexHandle mutex) {
  if (mutex != kNoMutex) ::close(ToFd(mutex));
}

}  // namespace platform::posix
