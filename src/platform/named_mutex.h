// Named-mutex seam: an exclusion shared by every process of the machine, under a name such as
// "Global\ECHIDFeatureVID_2E5C&PID_174B", released by the system when its holder dies.
// Windows: named kernel mutexes (CreateMutexExW with a null DACL, OpenMutexW,
// WaitForSingleObject, ReleaseMutex, CloseHandle) and the process token's elevation
// (OpenProcessToken, GetTokenInformation(TokenElevation)). Linux: an advisory lock (flock) on a
// file ROOT/mutex/NAME ('\' written as '_'), which the kernel drops with its holder's last
// descriptor.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

namespace platform {

using MutexHandle = std::uintptr_t;
inline constexpr MutexHandle kNoMutex = 0;

enum class MutexWait : uint8_t {
  kAcquired,  // this handle holds the mutex now (also when the last holder died holding it)
  kTimeout,   // another holder kept it for the whole wait
  kFailed,    // the wait itself failed; *error says why
};

class NamedMutexes {
 public:
  virtual ~NamedMutexes() = default;

  // Whether this process runs elevated. A token that cannot be opened or queried counts as not
  // elevated. Linux: the broker's backend is built as the privileged service, a client's not.
  virtual bool IsElevated() = 0;
  // Creates the mutex `name` (or opens it when it exists), not owned, usable by every account
  // (a present, null DACL), with SYNCHRONIZE | MUTEX_MODIFY_STATE. kNoMutex and *error on failure.
  virtual MutexHandle Create(const std::string& name, uint32_t* error) = 0;
  // Opens an existing mutex `name` for SYNCHRONIZE. kNoMutex and *error (kErrorFileNotFound
  // when no process created it) on failure.
  virtual MutexHandle Open(const std::string& name, uint32_t* error) = 0;
  // Waits at most `timeout` for the mutex. On kFailed *error is the system error code.
  virtual MutexWait Wait(MutexHandle mutex, std::chrono::milliseconds timeout,
                         uint32_t* error) = 0;
  // Releases a mutex this handle holds.
  virtual void Release(MutexHandle mutex) = 0;
  // Closes the handle. Release a held mutex first: on Windows it stays with its thread until
  // released or the thread ends (Linux drops a lock with its handle). kNoMutex does nothing.
  virtual void Close(MutexHandle mutex) = 0;
};

}  // namespace platform
