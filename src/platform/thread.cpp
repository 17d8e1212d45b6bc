#include "platform/thread.h"

#include <cerrno>
#include <exception>
#include <memory>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#else
#include <thread>
#endif

namespace platform {

#ifdef _WIN32
// The C runtime's own thread start, not std::thread: the threads runtime under std::thread can
// hand a thread that is detached straight after its start a null start argument, which ends
// the broker with an access violation. _beginthread closes the thread's handle when it ends,
// which is all a detached thread needs.
namespace {

void __cdecl RunDetached(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  try {
    (*body)();
  } catch (...) {
    std::terminate();
  }
}

}  // namespace

void StartDetachedThread(std::function<void()> body) {
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  const uintptr_t thread = _beginthread(&RunDetached, 0, owned.get());
  if (thread == static_cast<uintptr_t>(-1)) {
    throw std::system_error(errno, std::generic_category(), "cannot start a thread");
  }
  owned.release();  // the thread owns it now
}
#else
void StartDetachedThread(std::function<void()> body) {
  std::thread(std::move(body)).detach();
}
#endif

}  // namespace platform
