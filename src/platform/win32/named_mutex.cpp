#include "platform/win32/named_mutex.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform::win32 {
namespace {

static_assert(sizeof(MutexHandle) == sizeof(HANDLE));

HANDLE AsHandle(MutexHandle mutex) { return reinterpret_cast<HANDLE>(mutex); }

// A failed call leaves no handle: kNoMutex (null) and the thread's last error.
MutexHandle Answer(HANDLE handle, uint32_t* error) {
  if (handle == nullptr && error != nullptr) *error = GetLastError();
  return reinterpret_cast<MutexHandle>(handle);
}

}  // namespace

bool Win32NamedMutexes::IsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool read =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  return read && elevation.TokenIsElevated != 0;
}

MutexHandle Win32NamedMutexes::Create(const std::string& name, uint32_t* error) {
  // A present but null DACL: every account, the non-elevated clients included, may open it.
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
    return Answer(nullptr, error);
  }
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = &descriptor;
  attributes.bInheritHandle = FALSE;
  return Answer(CreateMutexExW(&attributes, ToWide(name).c_str(), 0,
                               SYNCHRONIZE | MUTEX_MODIFY_STATE),
                error);
}

MutexHandle Win32NamedMutexes::Open(const std::string& name, uint32_t* error) {
  return Answer(OpenMutexW(SYNCHRONIZE, FALSE, ToWide(name).c_str()), error);
}

MutexWait Win32NamedMutexes::Wait(MutexHandle mutex, std::chrono::milliseconds timeout,
                                  uint32_t* error) {
  const DWORD millis =
      timeout.count() <= 0 ? 0
      : timeout.count() >= INFINITE ? INFINITE - 1  // a bounded wait never becomes endless
                                    : static_cast<DWORD>(timeout.count());
  switch (WaitForSingleObject(AsHandle(mutex), millis)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // the last holder died holding it: this handle owns it now
      return MutexWait::kAcquired;
    case WAIT_TIMEOUT:
      return MutexWait::kTimeout;
    default: {
      const DWORD code = GetLastError();
      if (error != nullptr) *error = code;
      return MutexWait::kFailed;
    }
  }
}

void Win32NamedMutexes::Release(MutexHandle mutex) { ReleaseMutex(AsHandle(mutex)); }

void Win32NamedMutexes::Close(MutexHandle mutex) {
  if (mutex != kNoMutex) CloseHandle(AsHandle(mutex));
}

}  // namespace platform::win32
