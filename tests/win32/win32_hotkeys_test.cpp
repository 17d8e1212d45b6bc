// The hotkeys' Win32 calls for real: raw input injected with scan codes reaches a hidden window
// registered as the broker registers its own and is decoded from its GetRawInputData records,
// and the control-application launch runs the session, token and process calls. Under Wine,
// WTSQueryUserToken answers the process's own token, so a real program starts; a path that
// names no program (a folder) fails at CreateProcessAsUserW and falls back to the Store, whose
// bare "cmd.exe" is looked up only in the current directory (here the temporary folder).
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "input/helm_launch.h"
#include "input/windows_input.h"
#include "log/log_file.h"
#include "platform/services.h"
#include "platform/win32/console_launcher.h"
#include "platform/win32/file_system.h"
#include "platform/win32/pipe_transport.h"
#include "platform/win32/raw_input.h"
#include "platform/win32/wide_text.h"

namespace {

class Win32HotkeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::InstallServices(&services_);
    g_LogFile.store(&log_);
  }
  void TearDown() override {
    DetachLogFile();
    platform::InstallServices(nullptr);
    DeleteFileW(platform::win32::ToWide(log_.path()).c_str());
  }
  // The messages logged so far, one a line; the file starts afresh.
  std::string TakeMessages() {
    std::ifstream in(log_.path());
    std::string line, messages;
    while (std::getline(in, line)) messages += line.substr(line.rfind(" | ") + 3) + "\n";
    in.close();
    DeleteFileW(platform::win32::ToWide(log_.path()).c_str());
    return messages;
  }

  platform::win32::Win32FileSystem files_;
  platform::win32::Win32PipeTransport pipes_;
  platform::win32::Win32RawInput raw_input_;
  platform::win32::Win32ConsoleLauncher launcher_;
  platform::Services services_{.files = &files_, .pipes = &pipes_, .raw_input = &raw_input_,
                               .launcher = &launcher_};
  static std::wstring Temp() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return temp;
  }
  LogFile log_{"Quellmark", platform::win32::FromWide(Temp()) + "quellmark-hotkeys-" +
                                std::to_string(GetCurrentProcessId()) + ".log"};
};

LRESULT CALLBACK RawInputWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_INPUT) return DefWindowProcW(window, message, wparam, lparam);
  WindowsMessageLoop::WindowsInput(lparam);
  return 0;
}

TEST_F(Win32HotkeyTest, InjectedBrightnessKeysAreDecodedFromTheirRawInputRecords) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = RawInputWindowProc;
  window_class.lpszClassName = L"QuellmarkRawInputTest";
  RegisterClassW(&window_class);
  const HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr,
                                      nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  WindowsMessageLoop::RegisterRawInput(window);
  // Down and up of each; 0x6F without the E0 prefix is not a dedicated key.
  for (const auto [scan_code, extended] : {std::pair{0x6F, 0}, {0x6F, 1}, {0x70, 1}, {0x77, 1}}) {
    INPUT inputs[2] = {{.type = INPUT_KEYBOARD}, {.type = INPUT_KEYBOARD}};
    for (int i = 0; i < 2; ++i) {
      inputs[i].ki.wScan = static_cast<WORD>(scan_code);
      inputs[i].ki.dwFlags = KEYEVENTF_SCANCODE | (extended ? KEYEVENTF_EXTENDEDKEY : 0) |
                             (i == 1 ? KEYEVENTF_KEYUP : 0);
    }
    SendInput(2, inputs, sizeof(INPUT));
  }
  for (const DWORD end = GetTickCount() + 3000; GetTickCount() < end; Sleep(20)) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  DestroyWindow(window);
  EXPECT_EQ(TakeMessages(), "Message: 0x6F\nMessage: 0x70\nMessage: 0x77\n");
}

TEST_F(Win32HotkeyTest, LaunchesAsTheConsoleUserAndFallsBackToTheStoreWhenTheProgramFails) {
  wchar_t system[MAX_PATH] = {}, previous[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(Temp().c_str());
  const std::string folder = platform::win32::FromWide(system);
  const std::string program = folder + "\\hostname.exe";
  const struct { std::string path; int result; std::string lines; } cases[] = {
      {program, 1, "Launch File path(success): " + program + "\n"},
      {folder, 0, "Launch File path(fail): " + folder + "\nLaunch file fail: " + folder + "\n"
                  "Open ms store(fail): /c \"start ms-windows-store://pdp/?productid=9XQ4ZR2MWT8B\"\n"
                  "Launch store fail: 9XQ4ZR2MWT8B\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WindowsMessageLoop::LaunchAPP(c.path, " /widget", "9XQ4ZR2MWT8B"), c.result);
    EXPECT_EQ(TakeMessages(), c.lines);
  }
  SetCurrentDirectoryW(previous);
}

}  // namespace
