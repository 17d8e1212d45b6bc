// The Linux broker as a user runs it: a real process on a root directory, its socket, its log
// file, its signals, and quellmark-cli.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "support/bytes.h"
#include "base/text.h"
#include "base/win_codes.h"
#include "integration/broker_fixture.h"
#include "pipe/protocol.h"
#include "support/echo_clients.h"

namespace {

using testsupport::EchoText;
using testsupport::BrokerFixture;

using testsupport::Bytes;


size_t CountLines(const std::string& log) {
  return static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
}

TEST_F(BrokerFixture, LogsStartUpInOrderAndExitsCleanlyOnSigterm) {
  EnableLogging();
  auto broker = StartBroker();
  ASSERT_TRUE(WaitForLog("WindowsCreate, BEGIN"));
  const std::string log = ReadLog();
  const std::regex line(
      R"(\[INFO\]      \d{8}_\d{2}:\d{2}:\d{2}\.\d{3} \| Quellmark \| wWinMain \| Quellmark, BEGIN\r\n)"
      R"(\[INFO\]      \d{8}_\d{2}:\d{2}:\d{2}\.\d{3} \| Quellmark \| WindowsMessageLoop::WindowsCreate \| WindowsCreate, BEGIN\r\n)");
  EXPECT_TRUE(std::regex_search(log, line, std::regex_constants::match_continuous)) << log;
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

TEST_F(BrokerFixture, WithoutTheRegistryValueNothingIsLogged) {
  auto broker = StartBroker();
  auto client = Connect();
  std::vector<uint8_t> response;
  ASSERT_EQ(Exchange(*client, Bytes({0x27, 0, 0}), &response), win::kErrorBrokenPipe);
  EXPECT_EQ(StopBroker(*broker, SIGINT), std::optional<int>(0));
  EXPECT_FALSE(std::filesystem::exists(root_.path() + "/C/ProgramData/OEM/Calvane"));
}

TEST_F(BrokerFixture, SecondBrokerOnTheSameRootExitsAtOnceWithoutLogging) {
  EnableLogging();
  auto first = StartBroker();
  // The first broker's start-up survey logs beside it; its last line ends the first start.
  ASSERT_TRUE(WaitForLog("amount_gpu: 0"));
  const size_t lines = CountLines(ReadLog());
  testsupport::ChildProcess second({QUELLMARK_BINARY, "--root", root_.path()});
  EXPECT_EQ(second.WaitExit(5000), std::optional<int>(0));
  EXPECT_EQ(CountLines(ReadLog()), lines);
  // The first one still serves.
  auto client = Connect();
  std::vector<uint8_t> response;
  ASSERT_EQ(Exchange(*client, Bytes({0, 0, 0}), &response), 0u);
  EXPECT_EQ(StopBroker(*first), std::optional<int>(0));
}

TEST_F(BrokerFixture, ServesEchoLongRequestsAndClosesOnUnknownCodes) {
  EnableLogging();
  auto broker = StartBroker();
  auto client = Connect();
  std::vector<uint8_t> response;
  ASSERT_EQ(Exchange(*client, Bytes({0, 0, 1, 2, 0, 0, 0, 0x01, 0xAB}), &response), 0u);
  EXPECT_EQ(EchoText(response), "Number of arguments: 1\narg0 size: 2, content: 01 ab \n");
  for (size_t length : {size_t{693}, size_t{100 * 1024}}) {
    const std::vector<std::vector<uint8_t>> args = {std::vector<uint8_t>(length, 0x5A)};
    ASSERT_EQ(Exchange(*client, ironbark::EncodeRequest(0, args), &response), 0u);
    EXPECT_NE(EchoText(response).find("arg0 size: " + std::to_string(length) + ", content: 5a 5a"),
              std::string::npos);
  }
  ASSERT_EQ(Exchange(*client, Bytes({39, 0, 0}), &response), win::kErrorBrokenPipe);
  EXPECT_TRUE(WaitForLog("[ERROR]     "));
  EXPECT_TRUE(WaitForLog("| ironbark::IbClientCommandProcessor::process_pipe | Unknown namedpipe command code: 39\r\n"));
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

TEST_F(BrokerFixture, TenConcurrentClientsAndAStalledOne) {
  auto broker = StartBroker();
  auto stalled = Connect();
  EXPECT_EQ(testsupport::RunConcurrentEchoClients(10, 50), 10);
  std::vector<uint8_t> response;
  ASSERT_EQ(Exchange(*stalled, Bytes({0, 0, 0}), &response), 0u);
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

TEST_F(BrokerFixture, StopsPromptlyWhileAClientIsStillConnected) {
  auto broker = StartBroker();
  auto client = Connect();
  std::vector<uint8_t> response;
  ASSERT_EQ(Exchange(*client, Bytes({0, 0, 0}), &response), 0u);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_NE(Exchange(*client, Bytes({0, 0, 0}), &response), 0u)
      << "the process is gone, its connections with it";
}

TEST_F(BrokerFixture, RestartsOnTheSameRootAfterBeingKilled) {
  auto broker = StartBroker();
  broker->Signal(SIGKILL);
  broker->WaitExit(5000);
  // The stale socket file and the released lock must not stop the next start.
  auto again = StartBroker();
  auto client = Connect();
  std::vector<uint8_t> response;
  ASSERT_EQ(Exchange(*client, Bytes({0, 0, 0}), &response), 0u);
  EXPECT_EQ(StopBroker(*again), std::optional<int>(0));
}

TEST_F(BrokerFixture, CliSendsTypedArgumentsAndReportsAnAbsentBroker) {
  auto absent = Cli({"send", "0"});
  EXPECT_EQ(absent.exit_code, 1);

  auto broker = StartBroker();
  auto echo = Cli({"send", "0", "u32:5", "str:hi", "hex:01ab", "u64:0x100000000"});
  EXPECT_EQ(echo.exit_code, 0) << echo.output;
  EXPECT_NE(echo.output.find("arg0 size: 4, content: 05 00 00 00 "), std::string::npos) << echo.output;
  EXPECT_NE(echo.output.find("arg1 size: 6, content: 68 00 69 00 00 00 "), std::string::npos);
  EXPECT_NE(echo.output.find("arg2 size: 2, content: 01 ab "), std::string::npos);
  EXPECT_NE(echo.output.find("arg3 size: 8, content: 00 00 00 00 01 00 00 00 "), std::string::npos);

  const std::string big = root_.path() + "/big.bin";
  {
    std::ofstream out(big, std::ios::binary);
    out << std::string(100 * 1024, '\x5a');
  }
  auto large = Cli({"send", "0", "file:" + big});
  EXPECT_EQ(large.exit_code, 0);
  EXPECT_NE(large.output.find("arg0 size: 102400, content: 5a 5a "), std::string::npos);

  auto twice = Cli({"send", "--repeat", "2", "0", "u32:7"});
  EXPECT_EQ(twice.exit_code, 0);
  size_t answers = 0;
  for (size_t at = twice.output.find("arg0 size: 4, content: 07 00 00 00 "); at != std::string::npos;
       at = twice.output.find("arg0 size: 4, content: 07 00 00 00 ", at + 1))
    ++answers;
  EXPECT_EQ(answers, 2u) << twice.output;

  auto unknown = Cli({"send", "39"});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

TEST_F(BrokerFixture, CliRegistryCommandsSwitchLoggingOn) {
  auto add = Cli({"reg", "add", "HKLM\\SOFTWARE\\OEM\\Calvane\\Log", "/v", "Quellmark", "/t",
                  "REG_SZ", "/d", "on", "/f"});
  ASSERT_EQ(add.exit_code, 0) << add.output;
  // As the system's tool prints it, each listing closed by an empty line.
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Calvane";
  const std::string log = key + "\\Log\n    Quellmark    REG_SZ    on\n\n";
  EXPECT_EQ(Named({"reg", "query", key + "\\Log", "/v", "Quellmark"}), "\n" + log);
  EXPECT_EQ(Named({"reg", "query", key}), "\n" + key + "\n\n" + key + "\\Log\n\n");
  EXPECT_EQ(Named({"reg", "query", key, "/s"}), "\n" + key + "\n\n" + log);
  EXPECT_EQ(Named({"reg", "query", key, "/s", "/v", "Quellmark"}),
            "\n" + log + "End of search: 1 match(es) found.\n");

  auto broker = StartBroker();
  EXPECT_TRUE(WaitForLog("Quellmark, BEGIN"));
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));

  auto remove = Cli({"reg", "delete", "HKLM\\SOFTWARE\\OEM\\Calvane\\Log", "/v", "Quellmark", "/f"});
  EXPECT_EQ(remove.exit_code, 0);
  auto gone = Cli({"reg", "query", "HKLM\\SOFTWARE\\OEM\\Calvane\\Log", "/v", "Quellmark"});
  EXPECT_EQ(gone.exit_code, 1);
}

}  // namespace
