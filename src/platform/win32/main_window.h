// Process-wide state of the hidden main window, owned by the process entry (entry.cpp) and
// written on the main thread only.
#pragma once
#include <windows.h>

// The broker's own module; the About dialog is loaded from it.
extern HINSTANCE g_hInstance;
// The window and the lParam of the message WndProc is handling now. WndProc stores both
// before it looks at the message, so a handler called from it (raw input reads its input
// handle from the lParam) finds them set.
extern HWND g_hCurrentWindow;
extern LPARAM g_CurrentMessageParam;
