// Process entry of the Windows build: the single-instance guard, the hidden window with its
// window procedure and message loop. The start-up and shutdown sequence is portable
// (app/lifecycle.h); this file wires the window's creation and destruction to it.
#include <windows.h>
#include <wtsapi32.h>

#include <cstdint>

#include "app/lifecycle.h"
#include "input/windows_input.h"
#include "log/log_file.h"
#include "log/message_format.h"
#include "platform/services.h"
#include "platform/win32/host_services.h"
#include "platform/win32/main_thread.h"
#include "platform/win32/main_window.h"
#include "platform/win32/resource.h"

HINSTANCE g_hInstance = nullptr;
HWND g_hCurrentWindow = nullptr;
LPARAM g_CurrentMessageParam = 0;

namespace {

constexpr int kMaxLoadString = 100;
// No "Global\" prefix: the name lives in the logon session's namespace, so there is one
// broker per session.
constexpr const wchar_t* kInstanceMutexName = L"Quellmark-{5B0C2E71-93A4-4F6D-8E1B-7C2D94A0F318}";

wchar_t g_szTitle[kMaxLoadString];
wchar_t g_szWindowClass[kMaxLoadString];
// Work other threads hand to the main thread arrives as messages to the hidden window. Set
// before the window is created and never destroyed, like the services it is installed with.
platform::win32::Win32MainThread* g_MainThread = nullptr;

LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

INT_PTR CALLBACK About(HWND hDlg, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(hDlg, LOWORD(wParam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

ATOM RegisterWindowClass(HINSTANCE hInstance) {
  WNDCLASSEXW wcex{};
  wcex.cbSize = sizeof(wcex);
  wcex.style = CS_HREDRAW | CS_VREDRAW;
  wcex.lpfnWndProc = WndProc;
  wcex.cbClsExtra = 0;
  wcex.cbWndExtra = 0;
  wcex.hInstance = hInstance;
  wcex.hIcon = nullptr;
  wcex.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wcex.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wcex.lpszMenuName = MAKEINTRESOURCEW(IDC_QUELLMARK);
  wcex.lpszClassName = g_szWindowClass;
  wcex.hIconSm = nullptr;
  return RegisterClassExW(&wcex);
}

LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  g_hCurrentWindow = hWnd;
  g_CurrentMessageParam = lParam;

  switch (message) {
    case WM_CREATE:
      g_MainThread->Attach(hWnd);
      WindowsMessageLoop::WindowsCreate(hWnd);
      return 0;
    case WM_DESTROY:
      g_MainThread->Close();
      WindowsMessageLoop::WindowsDestroy();
      PostQuitMessage(0);
      return 0;
    case platform::win32::kRunPostedWorkMessage:
      g_MainThread->RunPosted();
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hWnd, &ps);
      EndPaint(hWnd, &ps);
      return 0;
    }
    case WM_INPUT:
      WindowsMessageLoop::WindowsInput(g_CurrentMessageParam);
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDM_ABOUT:
          DialogBoxW(g_hInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), hWnd, About);
          return 0;
        case IDM_EXIT:
          WTSUnRegisterSessionNotification(hWnd);
          DestroyWindow(hWnd);
          return 0;
        default:
          return DefWindowProcW(hWnd, message, wParam, lParam);
      }
    case WM_POWERBROADCAST:
      LogLine(kLogInfo, "WndProc",
              FormatMessage64("WM_POWERBROADCAST: %I64d", static_cast<int64_t>(wParam)));
      return 0;
    case WM_WTSSESSION_CHANGE:
      LogLine(kLogInfo, "WndProc",
              FormatMessage64("WM_WTSSESSION_CHANGE: %I64d", static_cast<int64_t>(wParam)));
      return 0;
    default:
      return DefWindowProcW(hWnd, message, wParam, lParam);
  }
}

class Win32ProcessHost final : public app::ProcessHost {
 public:
  explicit Win32ProcessHost(HINSTANCE instance) : instance_(instance) {}

  bool CreateMainWindow() override {
    g_hInstance = instance_;
    // WM_CREATE runs inside this call: the pipe service is up when it returns. The window is
    // never shown.
    const HWND hWnd = CreateWindowExW(0, g_szWindowClass, g_szTitle, WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr,
                                      instance_, nullptr);
    if (hWnd == nullptr) return false;
    if (!WTSRegisterSessionNotification(hWnd, NOTIFY_FOR_THIS_SESSION)) {
      // The window's subsystems already run: its destruction stops them again before the
      // process ends (the quit message it posts is never read).
      DestroyWindow(hWnd);
      return false;
    }
    return true;
  }

  uint32_t RunMainLoop() override {
    const HACCEL hAccelTable = LoadAcceleratorsW(instance_, MAKEINTRESOURCEW(IDC_QUELLMARK));
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0)) {
      if (!TranslateAcceleratorW(msg.hwnd, hAccelTable, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    return static_cast<uint32_t>(msg.wParam);
  }

  // Returning from wWinMain would run static destructors under the survey and connection
  // threads that may still run; the mutex and whatever is left go with the process.
  [[noreturn]] void EndProcess(uint32_t code) override { ExitProcess(code); }

 private:
  HINSTANCE instance_;
};

}  // namespace

int APIENTRY wWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR /*lpCmdLine*/,
                      int /*nCmdShow*/) {
  // The handle stays open for the life of the process: it is what makes this the instance.
  CreateMutexW(nullptr, FALSE, kInstanceMutexName);
  const DWORD mutex_error = GetLastError();
  // ERROR_ACCESS_DENIED: the mutex exists but was created by an account this one may not open.
  // Nothing runs yet, but every exit ends the process the same way.
  if (mutex_error == ERROR_ALREADY_EXISTS || mutex_error == ERROR_ACCESS_DENIED) ExitProcess(0);

  LoadStringW(hInstance, IDS_APP_TITLE, g_szTitle, kMaxLoadString);
  LoadStringW(hInstance, IDC_QUELLMARK, g_szWindowClass, kMaxLoadString);
  RegisterWindowClass(hInstance);

  // Never destroyed: detached connection threads may still use the services while the
  // process exits.
  auto* host = new platform::win32::HostServices();
  g_MainThread = new platform::win32::Win32MainThread();
  auto* services = new platform::Services(host->services());
  services->main_thread = g_MainThread;
  platform::InstallServices(services);

  Win32ProcessHost process(hInstance);
  app::RunBroker(process);
}
