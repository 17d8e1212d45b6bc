#include "platform/win32/console_launcher.h"

#include <windows.h>
#include <shlwapi.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <vector>

#include "platform/win32/wide_text.h"

namespace platform::win32 {

bool Win32ConsoleLauncher::FileExists(std::string_view path) {
  return PathFileExistsW(ToWide(path).c_str()) != FALSE;
}

std::string Win32ConsoleLauncher::ModuleDirectory() {
  wchar_t path[MAX_PATH] = {};
  if (GetModuleFileNameW(nullptr, path, MAX_PATH) == 0) return std::string();
  PathRemoveFileSpecW(path);
  return FromWide(path);
}

bool Win32ConsoleLauncher::StartAsConsoleUser(const ConsoleLaunch& launch) {
  HANDLE user_token = nullptr;
  if (!WTSQueryUserToken(WTSGetActiveConsoleSessionId(), &user_token)) return false;
  void* environment = nullptr;
  if (!CreateEnvironmentBlock(&environment, user_token, TRUE)) environment = nullptr;

  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = nullptr;
  attributes.bInheritHandle = FALSE;
  HANDLE primary_token = nullptr;
  bool started = false;
  if (DuplicateTokenEx(user_token, MAXIMUM_ALLOWED, &attributes, SecurityImpersonation,
                       TokenPrimary, &primary_token)) {
    std::wstring application = ToWide(launch.application);
    // CreateProcessAsUserW may write into the command line: it gets a buffer of its own.
    std::wstring command = ToWide(launch.command_line);
    std::vector<wchar_t> command_buffer(command.begin(), command.end());
    command_buffer.push_back(L'\0');
    wchar_t desktop[] = L"winsta0\\default";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    if (launch.hidden) {
      startup.dwFlags = STARTF_USESHOWWINDOW;
      startup.wShowWindow = SW_HIDE;
    }
    DWORD flags = launch.creation_flags;
    if (environment != nullptr) flags |= CREATE_UNICODE_ENVIRONMENT;
    PROCESS_INFORMATION process{};
    started = CreateProcessAsUserW(primary_token, application.c_str(),
                                   launch.command_line.empty() ? nullptr : command_buffer.data(),
                                   &attributes, &attributes, FALSE, flags, environment, nullptr,
                                   &startup, &process) != FALSE;
    if (started) {
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
    }
    CloseHandle(primary_token);
  }
  if (environment != nullptr) DestroyEnvironmentBlock(environment);
  CloseHandle(user_token);
  return started;
}

}  // namespace platform::win32
