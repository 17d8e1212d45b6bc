#include "log/log_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "base/text.h"
#include "log/log_setup.h"
#include "log/logger.h"
#include "platform/posix/file_system.h"
#include "platform/posix/registry.h"
#include "platform/services.h"
#include "support/pipe_client.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using corlan::QRN300::g_Logger;

constexpr const char* kLogPath = "C:\\ProgramData\\OEM\\Calvane\\Log\\SYSTEM_Quellmark.log";
const std::regex kTimestamp(R"(\d{8}_\d{2}:\d{2}:\d{2}\.\d{3})");

// The line with its timestamp replaced by '*'.
std::string Untimed(const std::string& line) {
  return std::regex_replace(line, kTimestamp, "*", std::regex_constants::format_first_only);
}

// What a service sees: PROGRAMDATA may be missing, the account is SYSTEM.
class FixedEnvironment : public platform::ProcessEnvironment {
 public:
  std::optional<std::string> program_data = std::string("C:\\ProgramData");
  std::string user = "SYSTEM";
  std::optional<std::string> GetVariable(std::string_view name) override {
    return name == "PROGRAMDATA" ? program_data : std::nullopt;
  }
  std::string UserName() override { return user; }
};

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::InstallServices(&services_); }
  void TearDown() override {
    DestroyLog();
    platform::InstallServices(nullptr);
  }
  std::string Host(const std::string& relative) const { return drive_.path() + "/" + relative; }
  // The log's lines without their CR LF; every line must be complete.
  std::vector<std::string> Lines(std::string relative = "C/ProgramData/OEM/Calvane/Log/SYSTEM_Quellmark.log") {
    const std::string all = testsupport::ReadText(Host(relative));
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2)
      lines.push_back(all.substr(start, end - start));
    EXPECT_EQ(start, all.size()) << "the file ends inside a line";
    return lines;
  }
  void SetSwitch(uint32_t type, const std::vector<uint8_t>& data) {
    ASSERT_EQ(registry_.SetKeyValue(win::RegRoot::kLocalMachine, "SOFTWARE\\OEM\\Calvane\\Log",
                                    "Quellmark", type, data.data(), uint32_t(data.size())), 0u);
  }

  testsupport::TempDir drive_;
  testsupport::TempDir registry_dir_;
  platform::posix::SqliteRegistry registry_{registry_dir_.path() + "/registry.db"};
  platform::posix::PosixFileSystem files_{drive_.path()};
  FixedEnvironment environment_;
  platform::Services services_{.registry = &registry_, .files = &files_, .environment = &environment_};
};

TEST_F(LogFileTest, LinesHaveTheExactLayoutTagsAndNarrowing) {
  LogFile log("Quellmark", kLogPath);
  EXPECT_EQ(log.Write(kLogInfo, "f", "dropped"), 0);  // no directory: the line is lost
  EXPECT_FALSE(fs::exists(Host("C")));
  ASSERT_TRUE(files_.MakeSureDirectoryPathExists(kLogPath));
  struct Case { int level; std::string_view function, message; const char* line; };
  const std::vector<Case> cases = {
      {0, "wWinMain", "Quellmark, BEGIN", "[INFO]      * | Quellmark | wWinMain | Quellmark, BEGIN"},
      {7, "f", "m", " * | Quellmark | f | m"},  // no tag outside 0..3
      {-1, "f", "m", " * | Quellmark | f | m"},
      // One byte per character: U+0080..U+00FF keep their value, anything above becomes '?'.
      {2, "ns::Caf\xC3\xA9", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC\xE4\xB8\xAD.",
       "[ERROR]     * | Quellmark | ns::Caf\xE9 | \xE9t\xE9 ??."},
      // The texts end at an embedded zero, as the null-terminated strings they stand for.
      {0, std::string_view("fn\0x", 4), std::string_view("ab\0cd", 5),
       "[INFO]      * | Quellmark | fn | ab"},
  };
  for (const Case& c : cases) EXPECT_EQ(log.Write(c.level, c.function, c.message), 1);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(Untimed(lines[i]), cases[i].line);
  // The stamp is local time with three-digit milliseconds.
  std::tm local{.tm_sec = 3, .tm_min = 17, .tm_hour = 11, .tm_mday = 4, .tm_mon = 11,
                .tm_year = 126, .tm_isdst = -1};
  const auto second = std::chrono::system_clock::from_time_t(std::mktime(&local));
  EXPECT_EQ(LogTimestamp(second + std::chrono::milliseconds(9)), "20261204_11:17:03.009");
  // Every line opens the file afresh: a deleted log is created again.
  ASSERT_TRUE(fs::remove(Host("C/ProgramData/OEM/Calvane/Log/SYSTEM_Quellmark.log")));
  ASSERT_EQ(log.Write(kLogInfo, "f", "again"), 1);
  EXPECT_EQ(Lines().size(), 1u);
}

TEST_F(LogFileTest, CreateLogNeedsTheSwitchAndWiresTheHidLogger) {
  EXPECT_FALSE(CreateLog());
  EXPECT_EQ(g_LogFile.load(), nullptr);
  LogLine(kLogInfo, "f", "dropped");
  EXPECT_FALSE(fs::exists(Host("C")));
  std::ostringstream printed;  // the default logger prints the bare message
  std::streambuf* saved = std::cout.rdbuf(printed.rdbuf());
  g_Logger->Log(2, "ignored::function", "plain \xC3\xA9");
  std::cout.rdbuf(saved);
  EXPECT_EQ(printed.str(), "plain \xC3\xA9\n");

  // Only the value's existence counts: any type, any size.
  for (uint32_t type : {win::kRegDword, win::kRegNone, win::kRegBinary}) {
    SetSwitch(type, std::vector<uint8_t>(type == win::kRegNone ? 0 : 600, 7));
    EXPECT_TRUE(IsLoggingEnabled()) << type;
  }
  SetSwitch(win::kRegSz, text::ToWireText("off"));
  environment_.program_data.reset();  // the log lands below the current drive's root
  ASSERT_TRUE(CreateLog());
  ASSERT_NE(g_LogFile.load(), nullptr);
  EXPECT_EQ(g_LogFile.load()->path(), "\\OEM\\Calvane\\Log\\SYSTEM_Quellmark.log");
  LogLine(kLogWarning, "wWinMain", "Quellmark, BEGIN");
  // The HID library's levels 0..3 keep their tag, others log as INFO.
  for (int level : {3, 9, -2}) g_Logger->Log(level, "corlan::QRN300::EcHID::Open", "hid");
  std::vector<std::string> lines = Lines("C/OEM/Calvane/Log/SYSTEM_Quellmark.log");
  for (std::string& line : lines) line = Untimed(line);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[WARNING]   * | Quellmark | wWinMain | Quellmark, BEGIN",
                       "[EXCEPTION] * | Quellmark | corlan::QRN300::EcHID::Open | hid",
                       "[INFO]      * | Quellmark | corlan::QRN300::EcHID::Open | hid",
                       "[INFO]      * | Quellmark | corlan::QRN300::EcHID::Open | hid"}));

  DestroyLog();
  EXPECT_EQ(g_LogFile.load(), nullptr);
  EXPECT_NE(dynamic_cast<corlan::QRN300::DefaultLogger*>(g_Logger.get().get()), nullptr);
}

// The HID classes log from connection threads that outlive the message loop: their lines may
// race the log's destruction, and must never reach a LogFile that is being deleted.
TEST_F(LogFileTest, HidLoggingWhileTheLogIsDestroyed) {
  SetSwitch(win::kRegDword, {1, 0, 0, 0});
  std::ostringstream printed;  // where the default logger's lines go once the log is gone
  std::streambuf* saved = std::cout.rdbuf(printed.rdbuf());
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(CreateLog());
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
      threads.emplace_back([&stop] { while (!stop.load()) g_Logger->Log(0, "corlan::QRN300::EcHID::Open", "hid"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    DestroyLog();
    stop = true;
    for (std::thread& t : threads) t.join();
  }
  std::cout.rdbuf(saved);
  for (const std::string& line : Lines())
    ASSERT_EQ(Untimed(line), "[INFO]      * | Quellmark | corlan::QRN300::EcHID::Open | hid");
}

TEST_F(LogFileTest, PathFollowsProgramDataAndTheAccount) {
  EXPECT_EQ(BuildLogFilePath(), kLogPath);
  environment_.user = "alice";
  const std::string tail = "\\OEM\\Calvane\\Log\\alice_Quellmark.log";
  // A value that does not fit a 260-character buffer is never copied into it; a path that
  // does not is cut to fit.
  for (const auto& [program_data, expected] : std::vector<std::pair<std::optional<std::string>,
           std::string>>{{"D:\\Data", "D:\\Data" + tail}, {std::nullopt, tail},
           {"C:\\" + std::string(300, 'x'), tail},
           {"C:\\" + std::string(250, 'y'), ("C:\\" + std::string(250, 'y') + tail).substr(0, 259)}}) {
    environment_.program_data = program_data;
    EXPECT_EQ(BuildLogFilePath(), expected);
  }
}

}  // namespace
