// The Windows build under Wine: quellmark.exe with its hidden window, real named pipe and real
// registry, driven by quellmark-cli.exe; and the Windows-only unit tests.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "support/pipe_client.h"
#include "support/temp_dir.h"

namespace {

using testsupport::ChildProcess;
using testsupport::CommandResult;
using testsupport::Occurrences;
using testsupport::RunCommand;

const std::string kBuildDir = QUELLMARK_WINDOWS_BUILD_DIR;
const std::string kBroker = kBuildDir + "/quellmark.exe";
const std::string kCli = kBuildDir + "/quellmark-cli.exe";
const std::string kWin32Tests = kBuildDir + "/tests/win32/win32_tests.exe";

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
    // No Mono or Gecko installers on a fresh prefix, and no debugger: a crashing program ends
    // at once instead of waiting in winedbg until the test's time-out.
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winedbg.exe=d", 1);
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
  static std::string LogPath() {
    const passwd* pw = getpwuid(geteuid());
    return LogDir() + "/" + (pw != nullptr ? pw->pw_name : "") + "_Quellmark.log";
  }
  static std::string ReadLog() { return testsupport::ReadText(LogPath()); }
  static bool WaitForLog(const std::string& text) {
    return testsupport::WaitForText(LogPath(), text, 1, 6000);
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

// The log file's exact lines as Windows writes them, and the single-instance mutex: a second
// quellmark.exe ends at once and logs nothing.
TEST_F(Wine, LogsItsExactLinesAndASecondInstanceExitsAtOnce) {
  EnableLogging();
  StartBroker();
  EXPECT_EQ(Cli({"send", "39"}).exit_code, 1) << "the broker closes the pipe without an answer";
  ASSERT_TRUE(WaitForLog("Unknown namedpipe command code: 39"));
  const std::string stamp = R"(\d{8}_\d{2}:\d{2}:\d{2}\.\d{3} \| Quellmark \| )";
  for (const std::string line : {
           R"(^\[INFO\]      )" + stamp + R"(wWinMain \| Quellmark, BEGIN\r\n)"
           R"(\[INFO\]      )" + stamp + R"(WindowsMessageLoop::WindowsCreate \| WindowsCreate, BEGIN\r\n)",
           R"(\r\n\[INFO\]      )" + stamp +
               R"(ironbark::IbClientCommandProcessor::process_pipe \| Response namedpipe error: 0\r\n)",
           R"(\r\n\[ERROR\]     )" + stamp +
               R"(ironbark::IbClientCommandProcessor::process_pipe \| Unknown namedpipe command code: 39\r\n)"}) {
    EXPECT_TRUE(std::regex_search(ReadLog(), std::regex(line))) << line << "\n" << ReadLog();
  }
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(WineRun({kBroker}, 30000).exit_code, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
  EXPECT_EQ(Occurrences(ReadLog(), "Quellmark, BEGIN"), 1u);
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
}

// The real named pipe in message mode: a byte-exact answer, a 1 MiB request read in pieces
// (ERROR_MORE_DATA), and ten clients at once, each with several requests on its connection.
TEST_F(Wine, EchoesByteExactLargeAndConcurrentRequests) {
  StartBroker();
  const CommandResult raw = Cli({"send", "--raw", "0", "hex:01ab"});
  ASSERT_EQ(raw.exit_code, 0);
  // One item of 108 bytes: the UTF-16LE text and its NUL.
  std::string expected = "01 6c 00 00 00";
  for (char c : std::string("Number of arguments: 1\narg0 size: 2, content: 01 ab \n")) {
    char pair[8];
    std::snprintf(pair, sizeof(pair), " %02x 00", static_cast<unsigned char>(c));
    expected += pair;
  }
  EXPECT_EQ(raw.output, expected + " 00 00\r\n");

  const std::string file = work_->path() + "/arg.bin";
  std::ofstream(file, std::ios::binary) << std::string(1 << 20, '\x3c');
  const CommandResult big = Cli({"send", "0", "file:" + file});
  EXPECT_EQ(big.exit_code, 0);
  EXPECT_EQ(Occurrences(big.output, "3c "), size_t{1} << 20) << "every byte described";

  std::atomic<int> served{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 10; ++c) {
    clients.emplace_back([&, c] {
      const CommandResult r = Cli({"send", "--repeat", "5", "0", "u32:" + std::to_string(c)});
      char expected[64];
      std::snprintf(expected, sizeof(expected), "arg0 size: 4, content: %02x 00 00 00 ", c);
      if (r.exit_code == 0 && Occurrences(r.output, expected) == 5) ++served;
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(served.load(), 10);
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

// The registry commands on Wine's real registry, through quellmark-cli's named commands: a
// lower-case root name is the root, an abbreviation is none; a missing value read as a DWORD
// gets its default written; set changes existing values only; too small a buffer answers 234.
TEST_F(Wine, RegistryCommandsWorkOnTheRealRegistry) {
  StartBroker();
  const std::string key = "hkey_current_user\\Software\\QuellmarkWineTest";
  const std::string native = "HKCU\\Software\\QuellmarkWineTest";
  const std::vector<std::pair<std::vector<std::string>, std::string>> steps = {
      {{"key", "create", key}, "0 (0x00000000)\n"},
      {{"key", "create", "HKLM\\SOFTWARE\\QuellmarkWineTest"}, "2 (0x00000002)\n"},
      {{"key", "create", "HKEY_CURRENT_CONFIG"}, "0 (0x00000000)\n"},
      {{"value", "get", key, "Fresh", "RRF_RT_REG_DWORD", "4", "u32:7"}, "0 (0x00000000)\n7 (0x00000007)\n"},
      {{"value", "get", key, "Other", "RRF_RT_ANY", "4", "u32:7"}, "2 (0x00000002)\n\n"},
      {{"value", "set", key, "Level", "REG_SZ", "str:high"}, "2 (0x00000002)\n"},
      {{"value", "create", key, "Level", "REG_SZ", "str:high"}, "0 (0x00000000)\n"},
      {{"value", "get", key, "Level", "RRF_RT_REG_SZ", "4", "str:low"}, "234 (0x000000EA)\n\n"},
      {{"value", "get", key, "Level", "RRF_RT_REG_SZ", "64", "str:low"}, "0 (0x00000000)\ntext: high\n"}};
  const auto run = [](const std::vector<std::string>& words, const std::string& printed) {
    const CommandResult r = Cli(words);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    std::string out = r.output;  // without the console's carriage returns
    std::erase(out, '\r');
    EXPECT_EQ(out, printed) << words[0] << " " << words[1] << " " << words[2];
  };
  for (const auto& [words, printed] : steps) run(words, printed);
  EXPECT_NE(Reg({"query", "HKLM\\SOFTWARE\\QuellmarkWineTest"}).exit_code, 0);
  EXPECT_TRUE(std::regex_search(Reg({"query", native, "/v", "Fresh"}).output,
                                std::regex(R"(Fresh\s+REG_DWORD\s+0x7\b)")));
  EXPECT_NE(Reg({"query", native, "/v", "Other"}).exit_code, 0);
  run({"value", "delete", key, "Level"}, "0 (0x00000000)\n");
  run({"key", "delete", key}, "0 (0x00000000)\n");
  EXPECT_NE(Reg({"query", native}).exit_code, 0);
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
}

// The start-up survey and the firmware commands against Wine's WMI service, reached through the
// COM backend: the model comes from Win32_ComputerSystem, but ROOT\WMI has neither
// CorlanGamingFunction nor FwxAction, so everything the notebook's firmware, SMBIOS records and
// EFI system partition would add is missing, and every firmware command fails in the wrapper,
// answers its failure value and logs its four lines in order. The first start surveys at once;
// a later one waits its random delay first.
TEST_F(Wine, SurveyAndFirmwareCommandsMeetWinesWmi) {
  // As on a fresh prefix: nothing published yet (earlier tests' brokers surveyed too).
  Reg({"delete", "HKLM\\SOFTWARE\\OEM\\Calvane", "/f"});
  EnableLogging();
  StartBroker();
  // Wine's WMI service is not safe for queries from several threads at once: the commands wait
  // until the survey, whose last step is the boot-sound check, has finished.
  const std::string handler = "| ironbark::IbClientCommandProcessor::";
  ASSERT_TRUE(testsupport::WaitForText(LogPath(), handler + "check_boot_sound_switch_support | Exit\r\n", 1, 30000))
      << ReadLog();
  // Read back with quellmark-cli.exe, which prints as the system's reg tool does.
  const auto value = [](const std::string& name) {
    const CommandResult r = Cli({"reg", "query", "HKLM\\SOFTWARE\\OEM\\Calvane", "/v", name});
    return r.exit_code == 0 ? r.output : std::string("(missing)");
  };
  for (const auto& [name, type, data] : std::vector<std::array<std::string, 3>>{
           {"Model_Name_1st", "REG_SZ", "Wine"}, {"Model_Name_1st_brand", "REG_SZ", "Vexor"},
           {"Operation_Mode_Support", "REG_DWORD", "0x0"}, {"Two_AC_Support", "REG_DWORD", "0x0"},
           {"ESP_Directory_Support", "REG_DWORD", "0x0"},
           {"Customize_POST_Support", "REG_DWORD", "0x0"}}) {
    EXPECT_TRUE(std::regex_search(value(name), std::regex(name + R"(\s+)" + type + R"(\s+)" + data + R"(\r?\n)")))
        << name << ": " << value(name);
  }
  // Values that only the firmware provides are not written at all.
  for (const char* name : {"boot_sound_switch", "AC_Support", "Resolution"})
    EXPECT_EQ(value(name), "(missing)") << name;
  EXPECT_EQ(ReadLog().find("Waiting for"), std::string::npos);

  struct FirmwareCase {
    std::vector<std::string> send;
    std::string answer, handler;
    std::vector<std::string> lines;  // entry, input, failure, response
  };
  const std::string get_fail = "GetCorlanGamingSystemConfiguration is fail!!";
  const std::string read_failed = "01 08 00 00 00 ff ff ff ff 00 00 00 00\r\n";
  const std::string write_failed = "01 04 00 00 00 ff ff ff ff\r\n";
  const std::vector<FirmwareCase> cases = {
      {{"7", "u32:0x1207"}, read_failed, "wmi_get_gaming_system_information",
       {"kSvcCmdWMIGetGamingSystemInformation", "input: 0x1207", get_fail,
        "Rsponse data: 0xFFFFFFFF of 0x1207"}},
      {{"17", "u64:0xFFFFFFFFFFFFFFFF"}, write_failed, "wmi_set_gaming_fan_table",
       {"kSvcCmdWMISetGamingFanTable", "WMI SetGamingFanTableFunction input: 0xFFFFFFFFFFFFFFFF",
        "SetCorlanGamingLEDBehavior is fail!!", "Rsponse data: -1"}},
      {{"21", "u32:5"}, write_failed, "set_operation_mode",
       {"kSvcCmdSetOperationMode", "WMI SetGamingMiscSettingFunction input: 0x50B",
        "SetGamingMiscSettingBehavior is fail!!", "Rsponse data: -1"}},
      {{"27", "u32:0x27"}, read_failed, "wmi_get_gaming_misc_setting",
       {"kSvcCmdWMIGetGamingMiscSetting", "WMI GetGamingMiscSettingFunction input: 0x27",
        "GetGamingMiscSettingBehavior is fail!!", "Rsponse data: 4294967295"}},
  };
  for (const FirmwareCase& c : cases) {
    std::vector<std::string> args = {"send", "--raw"};
    args.insert(args.end(), c.send.begin(), c.send.end());
    const CommandResult r = Cli(args);
    EXPECT_EQ(r.exit_code, 0) << c.send[0];
    EXPECT_EQ(r.output, c.answer) << "command " << c.send[0];  // the console writes CR LF
  }
  ASSERT_TRUE(WaitForLog(handler + "wmi_get_gaming_misc_setting | Rsponse data: "));
  // Every line of each handler, in order; each must be a well-formed INFO line.
  const std::regex line_format(R"(\[INFO\]      \d{8}_\d{2}:\d{2}:\d{2}\.\d{3} \| Quellmark \| (.*) \| (.*))");
  std::map<std::string, std::vector<std::string>> by_function;
  const std::string first = ReadLog();
  for (size_t at = 0, end; (end = first.find("\r\n", at)) != std::string::npos; at = end + 2) {
    const std::string line = first.substr(at, end - at);
    std::smatch m;
    if (line.find(handler) == std::string::npos) continue;
    EXPECT_TRUE(std::regex_match(line, m, line_format)) << line;
    by_function[m[1]].push_back(m[2]);
  }
  for (const FirmwareCase& c : cases)
    EXPECT_EQ(by_function["ironbark::IbClientCommandProcessor::" + c.handler], c.lines) << c.send[0];
  EXPECT_EQ(StopBroker(), std::optional<int>(0));

  StartBroker();
  ASSERT_TRUE(WaitForLog("Waiting for "));
  std::smatch m;
  const std::string second = ReadLog().substr(first.size());
  ASSERT_TRUE(std::regex_search(
      second, m,
      std::regex(R"(\[INFO\]      \d{8}_\d{2}:\d{2}:\d{2}\.\d{3} \| Quellmark \| )"
                 R"(ironbark::IbClientCommandProcessor::Initialize \| Waiting for (\d+) milliseconds before execution\.\.\.\r\n)")))
      << second;
  EXPECT_GE(std::stoi(m[1].str()), 9000);
  EXPECT_LE(std::stoi(m[1].str()), 15000);
  // The broker serves while its survey waits, and stops without waiting for it.
  EXPECT_EQ(Cli({"send", "--timeout", "5000", "0"}).exit_code, 0);
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
}

}  // namespace
