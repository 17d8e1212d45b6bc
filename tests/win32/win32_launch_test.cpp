// The control-application launch against the real session, token and process calls, with its
// exact lines.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "input/helm_launch.h"
#include "log/log_file.h"
#include "platform/services.h"
#include "platform/win32/console_launcher.h"
#include "platform/win32/file_system.h"
#include "platform/win32/wide_text.h"

namespace {

// Wine answers WTSQueryUserToken with the process's own token, so the launch gets as far as
// CreateProcessAsUserW: a real program starts, and a path that names no program (a folder)
// fails there and falls back to the Store, whose bare "cmd.exe" is looked up only in the current
// directory and so is not found from the temporary folder.
TEST(Win32LaunchTest, LaunchesAsTheConsoleUserAndFallsBackToTheStoreWhenTheProgramFails) {
  platform::win32::Win32FileSystem files;
  platform::win32::Win32ConsoleLauncher launcher;
  platform::Services services{.files = &files, .launcher = &launcher};
  platform::InstallServices(&services);
  wchar_t temp[MAX_PATH] = {}, system[MAX_PATH] = {}, previous[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  GetSystemDirectoryW(system, MAX_PATH);
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(temp);
  const std::string log_path = platform::win32::FromWide(temp) + "quellmark-launch-" +
                               std::to_string(GetCurrentProcessId()) + ".log";
  const std::string program = platform::win32::FromWide(system) + "\\hostname.exe";
  const std::string folder = platform::win32::FromWide(system);
  const struct { std::string path; int result; std::string lines; } cases[] = {
      {program, 1, "Launch File path(success): " + program + "\n"},
      {folder, 0, "Launch File path(fail): " + folder + "\nLaunch file fail: " + folder + "\n"
                  "Open ms store(fail): /c \"start ms-windows-store://pdp/?productid=9XQ4ZR2MWT8B\"\n"
                  "Launch store fail: 9XQ4ZR2MWT8B\n"},
  };
  for (const auto& c : cases) {
    LogFile log("Quellmark", log_path);
    g_LogFile.store(&log);
    EXPECT_EQ(WindowsMessageLoop::LaunchAPP(c.path, " /widget", "9XQ4ZR2MWT8B"), c.result);
    DetachLogFile();
    std::ifstream in(log_path);
    std::string line, messages;
    while (std::getline(in, line)) messages += line.substr(line.rfind(" | ") + 3) + "\n";
    in.close();
    DeleteFileW(platform::win32::ToWide(log_path).c_str());
    EXPECT_EQ(messages, c.lines);
  }
  SetCurrentDirectoryW(previous);
  platform::InstallServices(nullptr);
}

}  // namespace
