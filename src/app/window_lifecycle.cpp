#include "app/window_lifecycle.h"

#include <thread>

#include "log/log_file.h"
#include "pipe/pipe_server.h"

namespace WindowsMessageLoop {

void WindowsCreate(void* window) {
  LogLine(kLogInfo, "WindowsMessageLoop::WindowsCreate", "WindowsCreate, BEGIN");
  std::thread(&StartServiceThreads, window).detach();
}

bool WindowsDestroy() {
  RequestPipeServerStop();
  return WaitPipeServerStopped();
}

}  // namespace WindowsMessageLoop
