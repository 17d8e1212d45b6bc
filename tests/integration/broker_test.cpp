// The Linux broker as a user runs it: a real process on a root directory, its socket, its log
// file, its signals, and quellmark-cli.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <regex>

#include "base/win_codes.h"
#include "integration/broker_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::BrokerFixture, testsupport::ConnectCommandPipe,
      testsupport::Exchange;

TEST_F(BrokerFixture, LogsItsExactLinesRunsOnceAndExitsCleanlyOnSigterm) {
  EnableLogging();
  auto broker = StartBroker();
  // Anyone may connect: the socket stands for a pipe every user reaches.
  struct stat socket_file {};
  ASSERT_EQ(stat((root_.path() + "/pipe/vexorhelm_hardware_service_").c_str(), &socket_file), 0);
  EXPECT_EQ(socket_file.st_mode & 0777, 0666u);
  auto client = ConnectCommandPipe();
  std::vector<uint8_t> response;
  ASSERT_EQ(Exchange(*client, Bytes{0x27, 0, 0}, &response), win::kErrorBrokenPipe);
  // The start-up survey's last line ends the first start.
  ASSERT_TRUE(WaitForLog("Unknown namedpipe command code: 39\r\n") && WaitForLog("amount_gpu: 0"));
  const std::string log = ReadLog();
  const std::string stamp = R"(\d{8}_\d{2}:\d{2}:\d{2}\.\d{3} \| Quellmark \| )";
  for (const std::string line : {
           R"(^\[INFO\]      )" + stamp + R"(wWinMain \| Quellmark, BEGIN\r\n)"
           R"(\[INFO\]      )" + stamp + R"(WindowsMessageLoop::WindowsCreate \| WindowsCreate, BEGIN\r\n)",
           R"(\r\n\[ERROR\]     )" + stamp +
               R"(ironbark::IbClientCommandProcessor::process_pipe \| Unknown namedpipe command code: 39\r\n)"}) {
    EXPECT_TRUE(std::regex_search(log, std::regex(line))) << line << "\n" << log;
  }
  // A second broker on the same root exits at once without logging; the first still serves.
  testsupport::ChildProcess second({QUELLMARK_BINARY, "--root", root_.path()});
  EXPECT_EQ(second.WaitExit(5000), std::optional<int>(0));
  EXPECT_EQ(ReadLog(), log);
  client = ConnectCommandPipe();
  ASSERT_EQ(Exchange(*client, Bytes{0, 0, 0}, &response), 0u);
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

TEST_F(BrokerFixture, RestartsAfterBeingKilledAndSigintStopsItPromptlyWithoutLogging) {
  StartBroker()->Signal(SIGKILL);
  // The stale socket file and the released lock must not stop the next start.
  auto broker = StartBroker();
  auto client = ConnectCommandPipe();
  std::vector<uint8_t> response;
  ASSERT_EQ(Exchange(*client, Bytes{0, 0, 0}, &response), 0u);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(StopBroker(*broker, SIGINT), std::optional<int>(0));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << "a client holds the stop";
  EXPECT_NE(Exchange(*client, Bytes{0, 0, 0}, &response), 0u);
  EXPECT_FALSE(std::filesystem::exists(root_.path() + "/C/ProgramData/OEM/Calvane"));
}

TEST_F(BrokerFixture, CliSendsTypedArgumentsAndReadsTheRegistry) {
  EXPECT_EQ(Cli({"send", "0"}).exit_code, 1) << "no broker";
  const std::string log_key = "HKLM\\SOFTWARE\\OEM\\Calvane\\Log";
  ASSERT_EQ(Named({"reg", "add", log_key, "/v", "Quellmark", "/t", "REG_SZ", "/d", "on", "/f"}),
            "The operation completed successfully.\n");
  // As the system's tool prints it, each listing closed by an empty line.
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Calvane";
  const std::string log = key + "\\Log\n    Quellmark    REG_SZ    on\n\n";
  EXPECT_EQ(Named({"reg", "query", key}), "\n" + key + "\n\n" + key + "\\Log\n\n");
  EXPECT_EQ(Named({"reg", "query", key, "/s", "/v", "Quellmark"}),
            "\n" + log + "End of search: 1 match(es) found.\n");

  auto broker = StartBroker();
  EXPECT_TRUE(WaitForLog("Quellmark, BEGIN")) << "a string value switches logging on";
  const auto echo = Cli({"send", "--repeat", "2", "0", "u32:5", "str:hi", "hex:01ab", "u64:0x100000000"});
  EXPECT_EQ(echo.exit_code, 0) << echo.output;
  for (const char* line : {"arg0 size: 4, content: 05 00 00 00 ", "arg1 size: 6, content: 68 00 69 00 00 00 ",
                           "arg2 size: 2, content: 01 ab ", "arg3 size: 8, content: 00 00 00 00 01 00 00 00 "})
    EXPECT_EQ(testsupport::Occurrences(echo.output, line), 2u) << line << "\n" << echo.output;
  EXPECT_EQ(Cli({"send", "39"}).exit_code, 1);
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

}  // namespace
