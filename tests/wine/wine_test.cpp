// The Windows build under Wine: quellmark.exe with its hidden window, real named pipe and real
// registry, driven by quellmark-cli.exe; and the Windows-only unit tests.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using testsupport::ChildProcess;
using testsupport::CommandResult;
using testsupport::RunCommand;

const std::string kBuildDir = QUELLMARK_WINDOWS_BUILD_DIR;
const std::string kBroker = kBuildDir + "/quellmark.exe";
const std::string kCli = kBuildDir + "/quellmark-cli.exe";
const std::string kWin32Tests = kBuildDir + "/tests/win32/win32_tests.exe";

size_t CountOf(const std::string& haystack, const std::string& needle) {
  size_t count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
    ++count;
  return count;
}

// One Wine prefix and one Xvfb display for the whole suite.
class Wine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new testsupport::TempDir();
    work_ = new testsupport::TempDir();
    int display = 90 + getpid() % 400;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display)) ||
           std::filesystem::exists("/tmp/.X" + std::to_string(display) + "-lock"))
      ++display;
    xvfb_ = new ChildProcess({QUELLMARK_XVFB, ":" + std::to_string(display), "-nolisten", "tcp",
                              "-screen", "0", "1024x768x24"});
    for (int i = 0; i < 500 && !std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display)); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
    setenv("WINEPREFIX", prefix_->path().c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    // No Mono or Gecko installers on a fresh prefix.
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    const CommandResult boot = RunCommand({QUELLMARK_WINE64, "wineboot", "--init"}, 180000);
    boot_ok_ = boot.exit_code == 0;
  }

  static void TearDownTestSuite() {
    RunCommand({QUELLMARK_WINESERVER, "-k"}, 30000);
    delete xvfb_;
    delete work_;
    delete prefix_;
  }

  void SetUp() override {
    ASSERT_TRUE(boot_ok_) << "wineboot failed to initialise the prefix";
    ASSERT_TRUE(std::filesystem::exists(kBroker)) << kBroker << " (build the windows preset)";
  }

  void TearDown() override {
    if (broker_) {
      StopBroker();
      broker_.reset();
    }
    Reg({"delete", "HKLM\\SOFTWARE\\OEM\\Calvane\\Log", "/f"});
    std::filesystem::remove_all(LogDir());
  }

  static CommandResult WineRun(std::vector<std::string> args, int timeout_ms = 60000) {
    args.insert(args.begin(), QUELLMARK_WINE64);
    return RunCommand(args, timeout_ms);
  }
  static CommandResult Cli(std::vector<std::string> args, int timeout_ms = 60000) {
    args.insert(args.begin(), kCli);
    return WineRun(args, timeout_ms);
  }
  static CommandResult Reg(std::vector<std::string> args) {
    args.insert(args.begin(), "reg");
    return WineRun(args);
  }

  static void EnableLogging() {
    ASSERT_EQ(Reg({"add", "HKLM\\SOFTWARE\\OEM\\Calvane\\Log", "/v", "Quellmark", "/t",
                   "REG_DWORD", "/d", "1", "/f"}).exit_code, 0);
  }

  // Starts quellmark.exe and waits until its pipe answers command 0.
  void StartBroker() {
    broker_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{QUELLMARK_WINE64, kBroker}, false, std::vector<std::string>{});
    for (int attempt = 0; attempt < 60; ++attempt) {
      if (Cli({"send", "--timeout", "2000", "0"}, 20000).exit_code == 0) return;
      ASSERT_FALSE(broker_->WaitExit(0).has_value()) << "quellmark.exe ended during start-up";
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    FAIL() << "quellmark.exe's pipe never answered";
  }

  // The menu's Exit command, as the control application's installer would send it.
  std::optional<int> StopBroker() {
    const CommandResult shutdown = Cli({"shutdown"});
    EXPECT_EQ(shutdown.exit_code, 0) << shutdown.output;
    auto code = broker_->WaitExit(30000);
    broker_.reset();
    return code;
  }

  static std::string LogDir() {
    return prefix_->path() + "/drive_c/ProgramData/OEM/Calvane/Log";
  }
  static std::string ReadLog() {
    const passwd* pw = getpwuid(geteuid());
    std::ifstream in(LogDir() + "/" + (pw != nullptr ? pw->pw_name : "") + "_Quellmark.log",
                     std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static bool WaitForLog(const std::string& text) {
    for (int i = 0; i < 300; ++i) {
      if (ReadLog().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  static testsupport::TempDir* prefix_;
  static testsupport::TempDir* work_;
  static ChildProcess* xvfb_;
  static bool boot_ok_;
  std::unique_ptr<ChildProcess> broker_;
};

testsupport::TempDir* Wine::prefix_ = nullptr;
testsupport::TempDir* Wine::work_ = nullptr;
ChildProcess* Wine::xvfb_ = nullptr;
bool Wine::boot_ok_ = false;

TEST_F(Wine, LogsStartUpAndUnknownCodesInTheExactFormat) {
  EnableLogging();
  StartBroker();
  const CommandResult unknown = Cli({"send", "39"});
  EXPECT_EQ(unknown.exit_code, 1) << "the broker closes the pipe without an answer";
  ASSERT_TRUE(WaitForLog("Unknown namedpipe command code: 39"));
  const std::string log = ReadLog();
  const std::string stamp = R"(\d{8}_\d{2}:\d{2}:\d{2}\.\d{3})";
  EXPECT_TRUE(std::regex_search(
      log,
      std::regex(R"(\[INFO\]      )" + stamp + R"( \| Quellmark \| wWinMain \| Quellmark, BEGIN\r\n)"
                 R"(\[INFO\]      )" + stamp +
                 R"( \| Quellmark \| WindowsMessageLoop::WindowsCreate \| WindowsCreate, BEGIN\r\n)"),
      std::regex_constants::match_continuous))
      << log;
  EXPECT_TRUE(std::regex_search(
      log, std::regex(R"(\[ERROR\]     )" + stamp +
                      R"( \| Quellmark \| ironbark::IbClientCommandProcessor::process_pipe \| Unknown namedpipe command code: 39\r\n)")))
      << log;
  EXPECT_NE(log.find("| ironbark::IbClientCommandProcessor::process_pipe | Response namedpipe error: 0\r\n"),
            std::string::npos);
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
}

TEST_F(Wine, EchoesSmallLargeAndRepeatedRequestsByteExact) {
  StartBroker();
  const CommandResult raw = Cli({"send", "--raw", "0", "hex:01ab"});
  ASSERT_EQ(raw.exit_code, 0);
  // One item: 108 bytes of UTF-16LE text "Number of arguments: 1\narg0 size: 2, content: 01 ab \n".
  std::string expected_text = "Number of arguments: 1\narg0 size: 2, content: 01 ab \n";
  std::ostringstream hex;
  hex << "01 " << std::hex;
  const size_t bytes = expected_text.size() * 2 + 2;
  char length[32];
  std::snprintf(length, sizeof(length), "%02zx %02zx 00 00", bytes & 0xFF, bytes >> 8);
  hex << length;
  for (char c : expected_text) {
    char pair[16];
    std::snprintf(pair, sizeof(pair), " %02x 00", static_cast<unsigned char>(c));
    hex << pair;
  }
  hex << " 00 00";
  EXPECT_NE(raw.output.find(hex.str()), std::string::npos) << raw.output;

  for (size_t length_bytes : {size_t{693}, size_t{100 * 1024}}) {
    const std::string file = work_->path() + "/arg" + std::to_string(length_bytes) + ".bin";
    std::ofstream(file, std::ios::binary) << std::string(length_bytes, '\x3c');
    const CommandResult big = Cli({"send", "0", "file:" + file});
    EXPECT_EQ(big.exit_code, 0) << length_bytes;
    EXPECT_NE(big.output.find("arg0 size: " + std::to_string(length_bytes) + ", content: 3c 3c"),
              std::string::npos);
    EXPECT_EQ(CountOf(big.output, "3c "), length_bytes) << "every byte described";
  }

  // No notebook firmware under Wine: a firmware command answers its failure value.
  const CommandResult mode = Cli({"send", "21", "u32:5"});
  EXPECT_EQ(mode.exit_code, 0);
  EXPECT_NE(mode.output.find("u32: 4294967295 (0xFFFFFFFF)"), std::string::npos) << mode.output;

  const CommandResult twice = Cli({"send", "--repeat", "2", "0", "u32:9"});
  EXPECT_EQ(twice.exit_code, 0);
  EXPECT_EQ(CountOf(twice.output, "arg0 size: 4, content: 09 00 00 00 "), 2u) << twice.output;
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
}

TEST_F(Wine, TenClientsAtOnce) {
  StartBroker();
  std::atomic<int> served{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 10; ++c) {
    clients.emplace_back([&, c] {
      const CommandResult r = Cli({"send", "--repeat", "5", "0", "u32:" + std::to_string(c)});
      char expected[64];
      std::snprintf(expected, sizeof(expected), "arg0 size: 4, content: %02x 00 00 00 ", c);
      if (r.exit_code == 0 && CountOf(r.output, expected) == 5) ++served;
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(served.load(), 10);
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
}

TEST_F(Wine, SecondInstanceExitsAtOnceWithoutLogging) {
  EnableLogging();
  StartBroker();
  ASSERT_TRUE(WaitForLog("WindowsCreate, BEGIN"));
  const size_t lines_before = CountOf(ReadLog(), "\r\n");
  const auto started = std::chrono::steady_clock::now();
  const CommandResult second = WineRun({kBroker}, 30000);
  EXPECT_EQ(second.exit_code, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
  // The first broker's own answer to StartBroker's probe may still be logged; the second
  // instance adds no BEGIN line.
  EXPECT_EQ(CountOf(ReadLog(), "Quellmark, BEGIN"), 1u);
  EXPECT_GE(CountOf(ReadLog(), "\r\n"), lines_before);
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
}

TEST_F(Wine, ExitMenuStopsTheServerWhileAClientIsConnected) {
  StartBroker();
  // A client that keeps its connection open for a long time.
  ChildProcess holder({QUELLMARK_WINE64, kCli, "send", "--hold", "60000", "0"}, true,
                      std::vector<std::string>{});
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  EXPECT_FALSE(holder.WaitExit(0).has_value()) << "the client was still connected";
  holder.Signal(SIGKILL);
  // The pipe is gone with the process.
  EXPECT_EQ(Cli({"send", "--timeout", "3000", "0"}).exit_code, 1);
}

TEST_F(Wine, WindowsOnlyUnitTests) {
  ASSERT_TRUE(std::filesystem::exists(kWin32Tests)) << kWin32Tests;
  const CommandResult r = WineRun({kWin32Tests}, 300000);
  std::cout << r.output;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.output.find("[  PASSED  ]"), std::string::npos);
}

}  // namespace
