// The Windows named-mutex backend: kernel mutexes in the object namespace ("Global\..." names
// reach every session) and the process token's elevation. A MutexHandle is the HANDLE value.
#pragma once
#include "platform/named_mutex.h"

namespace platform::win32 {

class Win32NamedMutexes : public platform::NamedMutexes {
 public:
  bool IsElevated() override;
  MutexHandle Create(const std::string& name, uint32_t* error) override;
  MutexHandle Open(const std::string& name, uint32_t* error) override;
  MutexWait Wait(MutexHandle mutex, std::chrono::milliseconds timeout,
                 uint32_t* error) override;
  void Release(MutexHandle mutex) override;
  void Close(MutexHandle mutex) override;
};

}  // namespace platform::win32
