// Named mutexes of the Linux build: an advisory lock (flock) on the file ROOT/mutex/NAME, every
// '\' (and '/') of the name written as '_' ("Global\ECHID..." is ROOT/mutex/Global_ECHID...).
//
// The lock belongs to the open file description, so each handle (each Create or Open) is a
// holder of its own, whichever thread uses it, and the kernel drops the lock with the holder's
// last descriptor: a process that dies holding it leaves it free, as Windows hands an abandoned
// mutex to the next waiter. The file is created with mode 0666 (less the umask) in a folder of
// mode 0777 (less the umask), the counterpart of the null DACL: any account may open it.
// Elevation is the constructor's word: the broker is the privileged service, a client is not.
#pragma once
#include <string>

#include "platform/named_mutex.h"

namespace platform::posix {

class PosixNamedMutexes : public platform::NamedMutexes {
 public:
  PosixNamedMutexes(std::string root, bool elevated);

  bool IsElevated() override;
  // Creates ROOT/mutex when missing, then opens or creates the file.
  MutexHandle Create(const std::string& name, uint32_t* error) override;
  // Opens the existing file only; a missing one (or folder) is ERROR_FILE_NOT_FOUND.
  MutexHandle Open(const std::string& name, uint32_t* error) override;
  // Tries the lock without blocking, sleeping a few milliseconds on platform::Time() between
  // tries, until it is taken or `timeout` has passed.
  MutexWait Wait(MutexHandle mutex, std::chrono::milliseconds timeout,
                 uint32_t* error) override;
  void Release(MutexHandle mutex) override;
  void Close(MutexHandle mutex) override;

  // The file that stands for mutex `name`.
  std::string PathOf(const std::string& name) const;

 private:
  std::string root_;
  bool elevated_;
};

}  // namespace platform::posix
