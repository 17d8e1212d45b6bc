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
#include <map>
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

  for (size_t length_bytes : {size_t{693}, size_t{1 << 20}}) {
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

// With the COM backend installed, Wine's WMI service answers, but ROOT\WMI has neither
// CorlanGamingFunction nor FwxAction: every firmware command reaches the firmware wrapper, fails
// there and answers its failure value, logging its four lines in order.
TEST_F(Wine, FirmwareCommandsAnswerTheirFailureValuesAndLogEachStep) {
  struct FirmwareCase {
    int code;
    std::vector<std::string> args;
    bool reading;  // 8-byte answer 0x00000000FFFFFFFF, else 4-byte 0xFFFFFFFF
    std::string handler;
    std::vector<std::string> lines;  // entry, input, failure, response
  };
  const std::string get_fail = "GetCorlanGamingSystemConfiguration is fail!!";
  const std::string set_fail = "SetCorlanGamingLEDBehavior is fail!!";
  const std::vector<FirmwareCase> cases = {
      {7, {"u32:0x1207"}, true, "wmi_get_gaming_system_information",
       {"kSvcCmdWMIGetGamingSystemInformation", "input: 0x1207", get_fail,
        "Rsponse data: 0xFFFFFFFF of 0x1207"}},
      {13, {"u64:0x1122334455667713"}, false, "wmi_set_gaming_fan_group_behavior",
       {"kSvcCmdWMISetGamingFanGroupBehavior",
        "WMI SetGamingFanGroupBehaviorFunction input: 0x1122334455667713", set_fail,
        "Rsponse data: -1"}},
      {14, {"u32:0x14"}, true, "wmi_get_gaming_fan_group_behavior",
       {"kSvcCmdWMIGetGamingFanGroupBehavior", "WMI GetGamingFanGroupBehaviorFunction input: 0x14",
        get_fail, "Rsponse data: 0xFFFFFFFF"}},
      {15, {"u64:0x15"}, false, "wmi_set_gaming_fan_group_speed",
       {"kSvcCmdWMISetGamingFanGroupSpeed", "WMI SetGamingFanGroupSpeedFunction input: 0x15",
        set_fail, "Rsponse data: -1"}},
      {16, {"u32:0x16"}, true, "wmi_get_gaming_fan_group_speed",
       {"kSvcCmdWMIGetGamingFanGroupSpeed", "WMI GetGamingFanGroupSpeedFunction input: 0x16",
        get_fail, "Rsponse data: 0xFFFFFFFF"}},
      {17, {"u64:0xFFFFFFFFFFFFFFFF"}, false, "wmi_set_gaming_fan_table",
       {"kSvcCmdWMISetGamingFanTable", "WMI SetGamingFanTableFunction input: 0xFFFFFFFFFFFFFFFF",
        set_fail, "Rsponse data: -1"}},
      {18, {"u32:0x18"}, true, "wmi_get_gaming_fan_table",
       {"kSvcCmdWMIGetGamingFanTable", "WMI GetGamingFanTableFunction input: 0x18", get_fail,
        "Rsponse data: 0xFFFFFFFF"}},
      {19, {}, true, "get_operation_mode_capability",
       {"kSvcCmdGetOperationModeCapbility", "WMI GetGamingMiscSettingFunction input: 0xA",
        "kSvcCmdGetOperationModeCapbility is fail!!", "Rsponse data: 0xFFFFFFFF"}},
      {20, {}, true, "get_operation_mode",
       {"kSvcCmdGetOperationMode", "WMI GetGamingMiscSettingFunction input: 0xB",
        "kSvcCmdGetOperationMode is fail!!", "Rsponse data: 0xFFFFFFFF"}},
      {21, {"u32:5"}, false, "set_operation_mode",
       {"kSvcCmdSetOperationMode", "WMI SetGamingMiscSettingFunction input: 0x50B",
        "SetGamingMiscSettingBehavior is fail!!", "Rsponse data: -1"}},
      {24, {"u64:0x24"}, false, "wmi_set_gaming_profile_configuration",
       {"kSvcCmdWMISetGamingProfileConfiguration",
        "WMI SetGamingProfileConfigurationFunction input: 0x24", set_fail, "Rsponse data: -1"}},
      {25, {"u32:0x25"}, true, "wmi_get_gaming_profile_configuration",
       {"kSvcCmdWMIGetGamingProfileConfiguration",
        "WMI GetGamingProfileConfigurationFunction input: 0x25", get_fail,
        "Rsponse data: 0xFFFFFFFF"}},
      {26, {"u64:0xABCD"}, false, "wmi_set_gaming_misc_setting",
       {"kSvcCmdWMISetGamingMiscSetting", "WMI SetGamingMiscSettingFunction input: 0xABCD",
        "SetGamingMiscSettingBehavior is fail!!", "Rsponse data: -1"}},
      {27, {"u32:0x27"}, true, "wmi_get_gaming_misc_setting",
       {"kSvcCmdWMIGetGamingMiscSetting", "WMI GetGamingMiscSettingFunction input: 0x27",
        "GetGamingMiscSettingBehavior is fail!!", "Rsponse data: 4294967295"}},
      {30, {"u32:0xA"}, true, "wmi_get_function",
       {"kSvcCmdWMIGeFunction", "WMI GetFunction input: 0xA", get_fail,
        "Rsponse data: 4294967295"}},
      {31, {"u64:0x31"}, false, "wmi_set_function",
       {"kSvcCmdWMISetFunction", "WMI SetFunction input: 0x31", set_fail,
        "Rsponse data: 4294967295"}},
  };

  // The survey publishes the computer model it reads from ROOT\CIMV2: proof that the broker
  // reached Wine's WMI service through the COM backend. Without the value it starts at once.
  Reg({"delete", "HKLM\\SOFTWARE\\OEM\\Calvane", "/v", "Model_Name_1st", "/f"});
  EnableLogging();
  StartBroker();
  bool model_published = false;
  for (int i = 0; i < 40 && !model_published; ++i) {
    const CommandResult q = Reg({"query", "HKLM\\SOFTWARE\\OEM\\Calvane", "/v", "Model_Name_1st"});
    model_published = q.exit_code == 0 && std::regex_search(q.output, std::regex(R"(REG_SZ\s+Wine\r?\n)"));
    if (!model_published) std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  EXPECT_TRUE(model_published) << "the survey never read Win32_ComputerSystem";
  // Wine's WMI service is not safe for queries from several threads at once, so the commands
  // wait until the survey (whose last step is the boot-sound check) has finished its queries.
  ASSERT_TRUE(WaitForLog("| ironbark::IbClientCommandProcessor::check_boot_sound_switch_support | Exit"));
  for (const FirmwareCase& c : cases) {
    std::vector<std::string> args = {"send", "--raw", std::to_string(c.code)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CommandResult r = Cli(args);
    EXPECT_EQ(r.exit_code, 0) << c.code << ": " << r.output;
    // The Windows console writes its line feeds as CR LF.
    EXPECT_EQ(r.output, c.reading ? "01 08 00 00 00 ff ff ff ff 00 00 00 00\r\n"
                                  : "01 04 00 00 00 ff ff ff ff\r\n")
        << "command " << c.code;
  }
  ASSERT_TRUE(WaitForLog("| ironbark::IbClientCommandProcessor::wmi_set_function | Rsponse data: "));

  // Every line of each handler, in order; each must be a well-formed INFO line.
  const std::regex line_format(R"(\[INFO\]      \d{8}_\d{2}:\d{2}:\d{2}\.\d{3} \| Quellmark \| (.*) \| (.*))");
  std::map<std::string, std::vector<std::string>> by_function;
  std::vector<std::string> malformed;
  const std::string log = ReadLog();
  for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
    const std::string line = log.substr(at, end - at);
    if (line.find("| ironbark::IbClientCommandProcessor::") == std::string::npos) continue;
    std::smatch m;
    if (std::regex_match(line, m, line_format)) {
      by_function[m[1]].push_back(m[2]);
    } else {
      malformed.push_back(line);
    }
  }
  for (const FirmwareCase& c : cases) {
    EXPECT_EQ(by_function["ironbark::IbClientCommandProcessor::" + c.handler], c.lines)
        << "command " << c.code;
  }
  EXPECT_TRUE(malformed.empty()) << (malformed.empty() ? "" : malformed.front());
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
}

TEST_F(Wine, WindowsOnlyUnitTests) {
  ASSERT_TRUE(std::filesystem::exists(kWin32Tests)) << kWin32Tests;
  const CommandResult r = WineRun({kWin32Tests}, 300000);
  std::cout << r.output;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.output.find("[  PASSED  ]"), std::string::npos);
}

// The registry commands on Wine's real registry, through quellmark-cli's named commands.
TEST_F(Wine, RegistryCommandsWorkOnTheRealRegistry) {
  StartBroker();
  // The answers as printed, without the console's carriage returns.
  auto named = [](std::vector<std::string> words) {
    const CommandResult r = Cli(std::move(words));
    EXPECT_EQ(r.exit_code, 0) << r.output;
    std::string out;
    for (char c : r.output)
      if (c != '\r') out.push_back(c);
    return out;
  };
  const std::string key = "hkey_current_user\\Software\\QuellmarkWineTest";
  const std::string native = "HKCU\\Software\\QuellmarkWineTest";

  // A lower-case root name is the root; the abbreviation is no root name at all.
  EXPECT_EQ(named({"key", "create", key}), "0 (0x00000000)\n");
  EXPECT_EQ(Reg({"query", native}).exit_code, 0);
  EXPECT_EQ(named({"key", "create", "HKLM\\SOFTWARE\\QuellmarkWineTest"}), "2 (0x00000002)\n");
  EXPECT_NE(Reg({"query", "HKLM\\SOFTWARE\\QuellmarkWineTest"}).exit_code, 0);
  EXPECT_EQ(named({"key", "create", "HKEY_CURRENT_CONFIG"}), "0 (0x00000000)\n");

  // A missing value read as a DWORD gets its default, written as REG_DWORD and read back.
  EXPECT_EQ(named({"value", "get", key, "Fresh", "RRF_RT_REG_DWORD", "4", "u32:7"}),
            "0 (0x00000000)\n7 (0x00000007)\n");
  const CommandResult fresh = Reg({"query", native, "/v", "Fresh"});
  EXPECT_TRUE(std::regex_search(fresh.output, std::regex(R"(Fresh\s+REG_DWORD\s+0x7\b)")))
      << fresh.output;
  // Without a type restriction nothing is written.
  EXPECT_EQ(named({"value", "get", key, "Other", "RRF_RT_ANY", "4", "u32:7"}),
            "2 (0x00000002)\n\n");
  EXPECT_NE(Reg({"query", native, "/v", "Other"}).exit_code, 0);

  // Set changes existing values only; a buffer too small leaves the value as it is.
  EXPECT_EQ(named({"value", "set", key, "Level", "REG_SZ", "str:high"}), "2 (0x00000002)\n");
  EXPECT_EQ(named({"value", "create", key, "Level", "REG_SZ", "str:high"}), "0 (0x00000000)\n");
  EXPECT_EQ(named({"value", "get", key, "Level", "RRF_RT_REG_SZ", "4", "str:low"}),
            "234 (0x000000EA)\n\n");
  EXPECT_EQ(named({"value", "get", key, "Level", "RRF_RT_REG_SZ", "64", "str:low"}),
            "0 (0x00000000)\ntext: high\n");
  EXPECT_EQ(named({"value", "delete", key, "Level"}), "0 (0x00000000)\n");
  EXPECT_EQ(named({"key", "delete", key}), "0 (0x00000000)\n");
  EXPECT_NE(Reg({"query", native}).exit_code, 0);
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
}


// The start-up survey on Wine: the model comes from Wine's Win32_ComputerSystem, everything the
// notebook's firmware and SMBIOS records would add is missing, and so is an EFI system
// partition. The first start surveys at once; a later one waits its random delay first.
TEST_F(Wine, SurveyPublishesWhatWineOffersAndLaterStartsWait) {
  // As on a fresh prefix: nothing published yet (earlier tests' brokers surveyed too).
  Reg({"delete", "HKLM\\SOFTWARE\\OEM\\Calvane", "/f"});
  EnableLogging();
  StartBroker();
  const std::string survey = "| ironbark::IbClientCommandProcessor::";
  bool done = false;
  for (int i = 0; i < 120 && !done; ++i) {
    done = ReadLog().find(survey + "check_boot_sound_switch_support | Exit\r\n") != std::string::npos;
    if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  ASSERT_TRUE(done) << ReadLog();
  // Read back with quellmark-cli.exe, which prints as the system's reg tool does.
  const auto value = [](const std::string& name) {
    const CommandResult r = Cli({"reg", "query", "HKLM\\SOFTWARE\\OEM\\Calvane", "/v", name});
    return r.exit_code == 0 ? r.output : std::string("(missing)");
  };
  const auto has = [&](const std::string& name, const std::string& type, const std::string& data) {
    const std::string out = value(name);
    EXPECT_TRUE(std::regex_search(out, std::regex(name + R"(\s+)" + type + R"(\s+)" + data + R"(\r?\n)")))
        << name << ": " << out;
  };
  has("Model_Name_1st", "REG_SZ", "Wine");
  has("Model_Name_1st_brand", "REG_SZ", "Vexor");
  has("Operation_Mode_Support", "REG_DWORD", "0x0");
  has("Two_AC_Support", "REG_DWORD", "0x0");
  has("ESP_Directory_Support", "REG_DWORD", "0x0");
  has("Customize_POST_Support", "REG_DWORD", "0x0");
  // No firmware: the values that come from it are not written at all.
  EXPECT_EQ(value("boot_sound_switch"), "(missing)");
  EXPECT_EQ(value("AC_Support"), "(missing)");
  EXPECT_EQ(value("Resolution"), "(missing)");
  const std::string first = ReadLog();
  EXPECT_EQ(first.find("Waiting for"), std::string::npos);
  EXPECT_NE(first.find(survey + "check_boot_sound_switch_support | check_boot_sound_switch_support is fail!!\r\n"),
            std::string::npos);
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
