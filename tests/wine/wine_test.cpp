// The Windows build under Wine: quellmark.exe with its hidden window, real named pipe and real
// registry, driven by quellmark-cli.exe; and the Windows-only unit tests.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
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
const std::string kDtsLibrary = kBuildDir + "/dts/DtsApoAppWin32DLL.dll";

// One Wine prefix and one Xvfb display for the whole suite.
class Wine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new testsupport::TempDir();
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
    boot_ok_ = RunCommand({QUELLMARK_WINE64, "wineboot", "--init"}, 180000).exit_code == 0;
  }

  static void TearDownTestSuite() {
    RunCommand({QUELLMARK_WINESERVER, "-k"}, 30000);
    delete xvfb_;
    delete prefix_;
  }

  void SetUp() override {
    ASSERT_TRUE(boot_ok_) << "wineboot failed to initialise the prefix";
    ASSERT_TRUE(std::filesystem::exists(kBroker)) << kBroker << " (build the windows preset)";
  }

  void TearDown() override {
    if (broker_) StopBroker();
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
  // quellmark-cli's raw answer to a command, as hex bytes.
  static std::string Raw(const std::vector<std::string>& command) {
    std::vector<std::string> words{"send", "--raw"};
    words.insert(words.end(), command.begin(), command.end());
    return Cli(words).output;
  }
  static CommandResult Reg(std::vector<std::string> args) {
    args.insert(args.begin(), "reg");
    return WineRun(args);
  }

  static void EnableLogging() {
    ASSERT_EQ(Reg({"add", "HKLM\\SOFTWARE\\OEM\\Calvane\\Log", "/v", "Quellmark", "/t",
                   "REG_DWORD", "/d", "1", "/f"}).exit_code, 0);
  }

  // Starts quellmark.exe (or the copy at `broker`) and waits until its pipe answers command 0.
  void StartBroker(const std::string& broker = kBroker) {
    broker_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{QUELLMARK_WINE64, broker}, false, std::vector<std::string>{});
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
  static ChildProcess* xvfb_;
  static bool boot_ok_;
  std::unique_ptr<ChildProcess> broker_;
};

testsupport::TempDir* Wine::prefix_ = nullptr;
ChildProcess* Wine::xvfb_ = nullptr;
bool Wine::boot_ok_ = false;

// The log file's exact lines as Windows writes them; the single-instance mutex (a second
// quellmark.exe ends at once and logs nothing); the menu's Exit while a client is connected.
TEST_F(Wine, LogsItsExactLinesRunsOnceAndExitsWhileAClientIsConnected) {
  EnableLogging();
  StartBroker();
  EXPECT_EQ(Cli({"send", "39"}).exit_code, 1) << "the broker closes the pipe without an answer";
  ASSERT_TRUE(WaitForLog("Unknown namedpipe command code: 39"));
  const std::string stamp = R"(\d{8}_\d{2}:\d{2}:\d{2}\.\d{3} \| Quellmark \| )";
  for (const std::string line : {
           R"(^\[INFO\]      )" + stamp + R"(wWinMain \| Quellmark, BEGIN\r\n)"
           R"(\[INFO\]      )" + stamp + R"(WindowsMessageLoop::WindowsCreate \| WindowsCreate, BEGIN\r\n)",
           // Wine has no firmware event class: the subscription fails without a line of its own.
           R"(\r\n\[INFO\]      )" + stamp + R"(ironbark::IbWmiEventSink::Initialize \| Start\r\n)"
           R"(\[INFO\]      )" + stamp + R"(ironbark::IbWmiEventSink::Initialize \| End\r\n)"}) {
    EXPECT_TRUE(std::regex_search(ReadLog(), std::regex(line))) << line << "\n" << ReadLog();
  }
  EXPECT_EQ(Occurrences(ReadLog(), "IbWmiEventSink"), 2u);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(WineRun({kBroker}, 30000).exit_code, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
  EXPECT_EQ(Occurrences(ReadLog(), "Quellmark, BEGIN"), 1u);

  ChildProcess holder({QUELLMARK_WINE64, kCli, "send", "--hold", "60000", "0"}, true,
                      std::vector<std::string>{});
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
  EXPECT_FALSE(holder.WaitExit(0).has_value()) << "the client was still connected";
  holder.Signal(SIGKILL);
  EXPECT_EQ(Cli({"send", "--timeout", "3000", "0"}).exit_code, 1) << "the pipe is gone";
}

TEST_F(Wine, WindowsOnlyUnitTests) {
  ASSERT_TRUE(std::filesystem::exists(kWin32Tests)) << kWin32Tests;
  const CommandResult r = WineRun({kWin32Tests}, 300000);
  std::cout << r.output;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.output.find("[  PASSED  ]"), std::string::npos);
}

// The registry commands on Wine's real registry, through quellmark-cli's named commands: a
// lower-case root name is the root; a missing value read as a DWORD gets its default written;
// too small a buffer answers 234.
TEST_F(Wine, RegistryCommandsWorkOnTheRealRegistry) {
  StartBroker();
  const std::string key = "hkey_current_user\\Software\\QuellmarkWineTest";
  const std::string native = "HKCU\\Software\\QuellmarkWineTest";
  for (const auto& [words, printed] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"key", "create", key}, "0 (0x00000000)\n"},
           {{"value", "get", key, "Fresh", "RRF_RT_REG_DWORD", "4", "u32:7"}, "0 (0x00000000)\n7 (0x00000007)\n"},
           {{"value", "get", key, "Other", "RRF_RT_ANY", "4", "u32:7"}, "2 (0x00000002)\n\n"},
           {{"value", "create", key, "Level", "REG_SZ", "str:high"}, "0 (0x00000000)\n"},
           {{"value", "get", key, "Level", "RRF_RT_REG_SZ", "4", "str:low"}, "234 (0x000000EA)\n\n"},
           {{"value", "get", key, "Level", "RRF_RT_REG_SZ", "64", "str:low"}, "0 (0x00000000)\ntext: high\n"},
           {{"key", "delete", key}, "0 (0x00000000)\n"}}) {
    std::string out = Cli(words).output;  // without the console's carriage returns
    std::erase(out, '\r');
    EXPECT_EQ(out, printed) << words[0] << " " << words[1] << " " << words[2];
    if (words.size() > 3 && words[3] == "Fresh")
      EXPECT_TRUE(std::regex_search(Reg({"query", native, "/v", "Fresh"}).output,
                                    std::regex(R"(Fresh\s+REG_DWORD\s+0x7\b)")));
  }
  EXPECT_NE(Reg({"query", native}).exit_code, 0);
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
}

// The start-up survey and a firmware command against Wine's WMI service, reached through the
// COM backend: the model comes from Win32_ComputerSystem, but ROOT\WMI has no firmware class,
// so what the firmware would add is missing and the command answers its failure value.
TEST_F(Wine, SurveyAndFirmwareCommandsMeetWinesWmi) {
  // As on a fresh prefix: nothing published yet (earlier tests' brokers surveyed too).
  Reg({"delete", "HKLM\\SOFTWARE\\OEM\\Calvane", "/f"});
  EnableLogging();
  StartBroker();
  // The commands wait until the survey, whose last step is the boot-sound check, has finished.
  // Wine's WMI service faults or answers wrongly when two threads query the same class at once,
  // however correctly COM is used (tools/wmi-stress; README, "Wine's WMI under concurrency").
  // The broker's commands do not meet the survey's classes under Wine (ROOT\WMI has no firmware
  // class there), and tens of thousands of firmware commands sent during the survey were all
  // answered; the wait stays because what is checked below is the survey's finished work (its
  // published values and its exact count of EC probes), and in case a command ever queries a
  // class the survey reads.
  const std::string handler = "| ironbark::IbClientCommandProcessor::";
  ASSERT_TRUE(testsupport::WaitForText(LogPath(), handler + "check_boot_sound_switch_support | Exit\r\n", 1, 30000))
      << ReadLog();
  // Read back with quellmark-cli.exe, which prints as the system's reg tool does.
  const auto value = [](const std::string& name) {
    return Cli({"reg", "query", "HKLM\\SOFTWARE\\OEM\\Calvane", "/v", name}).output;
  };
  EXPECT_TRUE(std::regex_search(value("Model_Name_1st"), std::regex(R"(Model_Name_1st\s+REG_SZ\s+Wine\r?\n)")));
  EXPECT_TRUE(std::regex_search(value("Operation_Mode_Support"),
                                std::regex(R"(Operation_Mode_Support\s+REG_DWORD\s+0x0\r?\n)")));
  EXPECT_EQ(value("Resolution").find("Resolution"), std::string::npos) << "only firmware has it";
  // Wine has no embedded controller and no keyboard of the table: 5 + 5 + 5 failed attempts.
  for (const auto& [name, shown] : {std::pair("EC_HID_Version", "0x0"), std::pair("EC_HID_OC_Capability", "0x0"),
                                    std::pair("EC_HID_Support", "0x0"), std::pair("Keyboard_Lang", "0x3")})
    EXPECT_TRUE(std::regex_search(value(name), std::regex(std::string(name) + R"(\s+REG_DWORD\s+)" + shown + "\r?\n")))
        << value(name);
  EXPECT_EQ(testsupport::Occurrences(ReadLog(), "corlan::QRN300::EcHID::GetDataVersion | GetHIDDeviceHandle fail\r\n"), 15u);
  // The keyboard commands (a get, the EC's set, the table's composite) answer their failure
  // values; neither nvapi64.dll nor amdadlx64.dll is there, so the GPU commands answer theirs too.
  const std::pair<std::vector<std::string>, const char*> failing[] = {
      {{"32"}, "01 04 00 00 00 00 00 00 00"}, {{"66", "u32:80", "u32:20"}, "01 04 00 00 00 01 00 00 00"},
      {{"65"}, "03 04 00 00 00 32 00 00 00 04 00 00 00 1e 00 00 00 04 00 00 00 01 00 00 00"},
      {{"8"}, "01 04 00 00 00 00 00 00 00"}, {{"9"}, "01 04 00 00 00 ff ff ff ff"},
      {{"12", "u32:0"}, "01 04 00 00 00 ff ff ff ff"}};
  for (const auto& [args, answer] : failing) EXPECT_EQ(Raw(args), std::string(answer) + "\r\n") << args[0];
  ASSERT_TRUE(WaitForLog(handler + "hid_get_keyborad_backlight30s | Rsponse errcode: 1\r\n")) << ReadLog();
  EXPECT_NE(ReadLog().find("corlan::QRN300::EcHID::SetDeviceStatus | GetDataVersion fail\r\n"), std::string::npos);
  ASSERT_TRUE(WaitForLog(handler + "gpu_get_usage | Rsponse gpu_usage: -1\r\n")) << ReadLog();

  EXPECT_EQ(Cli({"send", "--raw", "21", "u32:5"}).output, "01 04 00 00 00 ff ff ff ff\r\n");
  ASSERT_TRUE(WaitForLog(handler + "set_operation_mode | Rsponse data: -1\r\n")) << ReadLog();
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
}

// The DTS sound mode through the real LoadLibraryExW: quellmark.exe's own folder has no DTS
// library, so both commands meet "LoadLibraryEx fail"; a copy of quellmark.exe with the
// substitute library beside it reads and sets the mode.
TEST_F(Wine, DtsSoundModeLoadsTheLibraryBesideTheProgram) {
  EnableLogging();
  StartBroker();
  const std::string get = "| DtsApoAppLib::DTSAudioInterface::GetSoundMode | LoadLibraryEx fail\r\n";
  const std::string set = "| DtsApoAppLib::DTSAudioInterface::SetSoundMode | LoadLibraryEx fail\r\n";
  EXPECT_EQ(Cli({"send", "--raw", "22"}).output, "01 04 00 00 00 ff ff ff ff\r\n");
  EXPECT_EQ(Cli({"dts", "set", "3"}).output, "");
  ASSERT_TRUE(WaitForLog(set)) << ReadLog();
  EXPECT_EQ(Occurrences(ReadLog(), get), 1u) << ReadLog();
  EXPECT_EQ(StopBroker(), std::optional<int>(0));

  const std::string folder = prefix_->path() + "/drive_c/Quellmark";
  std::filesystem::create_directories(folder);
  for (const std::string& file : {kBroker, kDtsLibrary})
    std::filesystem::copy_file(file, folder + "/" + std::filesystem::path(file).filename().string(),
                               std::filesystem::copy_options::overwrite_existing);
  std::ofstream(folder + "/DtsApoAppWin32DLL.dll.conf") << "mode=4\n";
  StartBroker(folder + "/quellmark.exe");
  EXPECT_EQ(Cli({"dts", "get"}).output, "4 (0x00000004)\r\n");
  EXPECT_EQ(Cli({"dts", "set", "7"}).output, "");
  EXPECT_EQ(Cli({"dts", "get"}).output, "7 (0x00000007)\r\n");
  const std::string sequence = "create_DtsApoInterface\nInitializeConnection\n";
  const std::string end = "CloseConnection\nRelease\n";
  EXPECT_EQ(testsupport::ReadText(folder + "/DtsApoAppWin32DLL.dll.calls"),
            sequence + "GetSoundMode\n" + end + sequence + "SetSoundMode 7\n" + end + sequence +
                "GetSoundMode\n" + end);
  EXPECT_EQ(Occurrences(ReadLog(), "LoadLibraryEx fail"), 2u) << ReadLog();
  EXPECT_EQ(StopBroker(), std::optional<int>(0));
}

// A copy of quellmark.exe with a stand-in vendor library beside it: the library is loaded from
// the application directory at run time, and that vendor's path answers through it.
TEST_F(Wine, GpuCommandsThroughSubstituteVendorLibraries) {
  struct Case {
    const char* dll;
    const char* support_line;
    const char* name;
    std::vector<const char*> answers;  // count, idle, frequency 0, max-frequency 0, usage 0, usage 1
  };
  const std::vector<Case> cases = {
      {"nvapi64.dll", "Nvidia GPU support.", "Substitute GeForce",
       {"01 00 00 00", "01 00 00 00", "d2 04 00 00", "d0 07 00 00", "0c 00 00 00", "ff ff ff ff"}},
      {"amdadlx64.dll", "AMD GPU support.", "Substitute Radeon",
       {"01 00 00 00", "01 00 00 00", "34 08 00 00", "28 0a 00 00", "2a 00 00 00", "ff ff ff ff"}},
  };
  const std::vector<std::vector<std::string>> commands = {
      {"8"}, {"9"}, {"10", "u32:0"}, {"11", "u32:0"}, {"12", "u32:0"}, {"12", "u32:1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dll);
    const std::string substitute = kBuildDir + "/gpu/" + c.dll;
    ASSERT_TRUE(std::filesystem::exists(substitute)) << substitute;
    const std::filesystem::path folder = prefix_->path() + "/drive_c/Substitute";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(kBroker, folder / "quellmark.exe");
    std::filesystem::copy_file(substitute, folder / c.dll);
    Reg({"delete", "HKLM\\SOFTWARE\\OEM\\Calvane", "/f"});
    std::filesystem::remove_all(LogDir());
    EnableLogging();
    StartBroker((folder / "quellmark.exe").string());
    ASSERT_TRUE(testsupport::WaitForText(LogPath(), "| check_gpu_name | check_gpu_name - end\r\n", 1, 30000))
        << ReadLog();
    EXPECT_NE(ReadLog().find(std::string("| check_gpu_name | ") + c.support_line + "\r\n"), std::string::npos);
    EXPECT_TRUE(std::regex_search(
        Cli({"reg", "query", "HKLM\\SOFTWARE\\OEM\\Calvane", "/v", "GPU_Name1"}).output,
        std::regex(std::string(R"(GPU_Name1\s+REG_SZ\s+)") + c.name + "\r?\n")));
    for (size_t i = 0; i < commands.size(); ++i) {
      EXPECT_EQ(Raw(commands[i]), std::string("01 04 00 00 00 ") + c.answers[i] + "\r\n") << i;
    }
    EXPECT_EQ(StopBroker(), std::optional<int>(0));
    std::filesystem::remove_all(folder);
  }
}

}  // namespace
