// The hidden window's creation and destruction sequences, shared by both builds: the Windows
// build runs them from WM_CREATE and WM_DESTROY, the Linux build from its main loop.
#pragma once

namespace WindowsMessageLoop {

// Window creation: logs "WindowsCreate, BEGIN", then starts the service thread (the start-up
// survey and the command pipe's accept loop). `window` is handed to the service thread.
void WindowsCreate(void* window);

// Window destruction, before the quit message: asks the pipe server to stop and wakes it,
// then waits (polling, bounded) until it has acknowledged. Returns whether it acknowledged.
bool WindowsDestroy();

}  // namespace WindowsMessageLoop
