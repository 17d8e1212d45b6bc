// The agent pipe on the real named pipe: quellmark-cli.exe agent listen (at the top of the
// build folder) prints each event the broker's senders write, one line each, in order.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "pipe/agent_client.h"
#include "platform/services.h"
#include "platform/win32/pipe_transport.h"

namespace {

using namespace namedpipe_agent_service_function;

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(AgentPipe, TheListenerPrintsEachEventSentOverTheNamedPipe) {
  platform::win32::Win32PipeTransport pipes;
  platform::Services services{.pipes = &pipes};
  platform::InstallServices(&services);

  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::filesystem::path cli = std::filesystem::path(self).parent_path().parent_path().parent_path() / "quellmark-cli.exe";
  ASSERT_TRUE(std::filesystem::exists(cli)) << cli.string();
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::filesystem::path printed = std::filesystem::path(temp) / ("agent_listen_" + std::to_string(GetCurrentProcessId()) + ".txt");
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const std::filesystem::path ready = printed.wstring() + L".ready";
  HANDLE out = CreateFileW(printed.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE err = CreateFileW(ready.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = err;  // "listening on ..." once the pipe is served
  std::wstring command = L"\"" + cli.wstring() + L"\" agent listen";
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                             &startup, &process));
  CloseHandle(out), CloseHandle(err);
  for (int i = 0; i < 400 && ReadAll(ready).find("listening on") == std::string::npos; ++i) Sleep(50);

  // Quick senders often write and close before the listener waits for them (ERROR_NO_DATA).
  std::string expected;
  for (int round = 0; round < 4; ++round) {
    SendAdaptorChangedEvent(1);
    SendTurboKeyPressedEvent(0xFFFFFFFF, 0, 2);
    SendDisplayPortFunctionEvent();
    expected += "kAgtAdaptorChagned status=1\r\nkAgtTurboKeyPressed mode=-1 enabled=0 turbo=2\r\n"
                "kAgtDisplayPortWithoutFunctionEvent value=1\r\n";
  }
  for (int i = 0; i < 200 && ReadAll(printed).size() < expected.size(); ++i) Sleep(50);
  TerminateProcess(process.hProcess, 0), WaitForSingleObject(process.hProcess, 5000);
  CloseHandle(process.hProcess), CloseHandle(process.hThread);
  EXPECT_EQ(ReadAll(printed), expected);
  DeleteFileW(printed.c_str()), DeleteFileW(ready.c_str());
  platform::InstallServices(nullptr);
}

}  // namespace
