// Raw input through the real Win32 calls: a hidden window registered as the broker registers
// its own receives keyboard input injected with scan codes, and WindowsInput reads each record
// with GetRawInputData and decodes it.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "input/windows_input.h"
#include "log/log_file.h"
#include "platform/services.h"
#include "platform/win32/file_system.h"
#include "platform/win32/pipe_transport.h"
#include "platform/win32/raw_input.h"
#include "platform/win32/wide_text.h"

namespace {

LRESULT CALLBACK RawInputWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INPUT) {
    WindowsMessageLoop::WindowsInput(lparam);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void InjectScanCode(WORD scan_code, bool extended) {
  INPUT inputs[2] = {};
  for (int i = 0; i < 2; ++i) {
    inputs[i].type = INPUT_KEYBOARD;
    inputs[i].ki.wScan = scan_code;
    inputs[i].ki.dwFlags = KEYEVENTF_SCANCODE | (extended ? KEYEVENTF_EXTENDEDKEY : 0) |
                           (i == 1 ? KEYEVENTF_KEYUP : 0);
  }
  SendInput(2, inputs, sizeof(INPUT));
}

TEST(Win32RawInputTest, InjectedBrightnessKeysAreDecodedFromTheirRawInputRecords) {
  platform::win32::Win32FileSystem files;
  platform::win32::Win32PipeTransport pipes;
  platform::win32::Win32RawInput raw_input;
  platform::Services services{.files = &files, .pipes = &pipes, .raw_input = &raw_input};
  platform::InstallServices(&services);
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::string log_path = platform::win32::FromWide(temp) + "quellmark-raw-" +
                               std::to_string(GetCurrentProcessId()) + ".log";
  LogFile log("Quellmark", log_path);
  g_LogFile.store(&log);

  WNDCLASSW window_class{};
  window_class.lpfnWndProc = RawInputWindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"QuellmarkRawInputTest";
  RegisterClassW(&window_class);
  const HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr,
                                      window_class.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  WindowsMessageLoop::RegisterRawInput(window);
  InjectScanCode(0x6F, false);  // no E0 prefix: not a dedicated key
  InjectScanCode(0x6F, true);
  InjectScanCode(0x70, true);
  InjectScanCode(0x77, true);
  const std::string expected = "Message: 0x6F\nMessage: 0x70\nMessage: 0x77\n";
  std::string messages;
  for (const DWORD end = GetTickCount() + 5000; GetTickCount() < end && messages != expected;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(20);
    std::ifstream in(log_path);
    std::string line;
    messages.clear();
    while (std::getline(in, line)) messages += line.substr(line.rfind(" | ") + 3) + "\n";
  }
  DestroyWindow(window);
  DetachLogFile();
  platform::InstallServices(nullptr);
  DeleteFileW(platform::win32::ToWide(log_path).c_str());
  EXPECT_EQ(messages, expected);
}

}  // namespace
