#include "log/log_file.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "base/win_codes.h"
#include "log/log_setup.h"
#include "log/logger.h"
#include "log/message_format.h"
#include "platform/posix/file_system.h"
#include "platform/services.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using corlan::QRN300::DefaultLogger;
using corlan::QRN300::g_Logger;
using corlan::QRN300::IbLogAdapter;
using corlan::QRN300::SetLogger;

constexpr const char* kSystemLogPath = "C:\\ProgramData\\OEM\\Calvane\\Log\\SYSTEM_Quellmark.log";
const char* const kTimestamp = R"(\d{8}_\d{2}:\d{2}:\d{2}\.\d{3})";

// Answers only the logging switch: HKLM "SOFTWARE\OEM\Calvane\Log" value "Quellmark", asked
// for with RRF_RT_ANY. Every other registry call is outside the log facility.
class SwitchRegistry : public platform::Registry {
 public:
  std::optional<uint32_t> switch_type;  // set: the value exists with this type
  int queries = 0;

  uint32_t GetValue(win::RegRoot root, std::string_view subkey, std::string_view value_name,
                    uint32_t flags, uint32_t* type, void* data, uint32_t* size) override {
    ++queries;
    if (root != win::RegRoot::kLocalMachine ||
        text::AsciiLower(subkey) != "software\\oem\\calvane\\log" ||
        text::AsciiLower(value_name) != "quellmark" || !switch_type)
      return win::kErrorFileNotFound;
    if (flags != win::kRrfRtAny) return win::kErrorUnsupportedType;
    if (type != nullptr) *type = *switch_type;
    if (data != nullptr) return win::kErrorInvalidParameter;  // the switch is read without data
    if (size != nullptr) *size = 0;
    return win::kErrorSuccess;
  }
  uint32_t OpenKey(win::RegRoot, std::string_view, uint32_t) override { return Unused(); }
  uint32_t CreateKey(win::RegRoot, std::string_view, uint32_t) override { return Unused(); }
  uint32_t DeleteTree(win::RegRoot, std::string_view) override { return Unused(); }
  uint32_t SetKeyValue(win::RegRoot, std::string_view, std::string_view, uint32_t, const void*,
                       uint32_t) override {
    return Unused();
  }
  uint32_t DeleteKeyValue(win::RegRoot, std::string_view, std::string_view) override {
    return Unused();
  }
  uint32_t EnumSubkeys(win::RegRoot, std::string_view, std::vector<std::string>*) override {
    return Unused();
  }
  uint32_t EnumValues(win::RegRoot, std::string_view,
                      std::vector<platform::RegValueInfo>*) override {
    return Unused();
  }

 private:
  static uint32_t Unused() {
    ADD_FAILURE() << "the log facility only reads the logging switch";
    return win::kErrorAccessDenied;
  }
};

// The Windows environment a service sees: PROGRAMDATA may be missing, the account is SYSTEM.
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
  void SetUp() override {
    services_.registry = &registry_;
    services_.files = &files_;
    services_.environment = &environment_;
    platform::InstallServices(&services_);
  }
  void TearDown() override {
    logsetup::DestroyLog();
    SetLogger(nullptr);
    platform::InstallServices(nullptr);
  }

  std::string HostPath(const std::string& relative) const { return dir_.path() + "/" + relative; }
  std::string SystemLogHostPath() const {
    return HostPath("C/ProgramData/OEM/Calvane/Log/SYSTEM_Quellmark.log");
  }
  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static std::vector<std::string> Lines(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
      lines.push_back(content.substr(start, end - start));
    EXPECT_EQ(start, content.size()) << "the file ends inside a line";
    return lines;
  }
  static std::string LocalNow() {
    const std::time_t now = std::time(nullptr);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%d_%H:%M:%S", std::localtime(&now));
    return buffer;
  }
  void MakeLogDirectory() {
    ASSERT_TRUE(files_.MakeSureDirectoryPathExists(kSystemLogPath));
  }

  testsupport::TempDir dir_;
  SwitchRegistry registry_;
  platform::posix::PosixFileSystem files_{dir_.path()};
  FixedEnvironment environment_;
  platform::Services services_;
};

TEST_F(LogFileTest, LineLayoutByteForByte) {
  MakeLogDirectory();
  LogFile log("Quellmark", kSystemLogPath);
  const std::string before = LocalNow();
  EXPECT_EQ(log.Write(kLogInfo, "wWinMain", "Quellmark, BEGIN"), 1);
  const std::string after = LocalNow();

  const std::string content = ReadAll(SystemLogHostPath());
  const std::regex layout(std::string(R"(\[INFO\]      ()") + kTimestamp +
                          R"() \| Quellmark \| wWinMain \| Quellmark, BEGIN\r\n)");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(content, match, layout)) << content;
  // Local time, to the second, taken during the call.
  const std::string seconds = match[1].str().substr(0, 17);
  EXPECT_LE(before, seconds);
  EXPECT_GE(after, seconds);
}

TEST_F(LogFileTest, EveryLevelTagIsElevenCharactersOrNothing) {
  MakeLogDirectory();
  LogFile log("Quellmark", kSystemLogPath);
  for (int level : {0, 1, 2, 3, 7, -1}) EXPECT_EQ(log.Write(level, "f", "m"), 1);
  const std::vector<std::string> lines = Lines(ReadAll(SystemLogHostPath()));
  ASSERT_EQ(lines.size(), 6u);
  const char* const expected_tags[] = {"[INFO]     ", "[WARNING]  ", "[ERROR]    ",
                                       "[EXCEPTION]", "", ""};
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::regex line(std::regex_replace(std::string(expected_tags[i]),
                                             std::regex(R"([\[\]])"), R"(\$&)") +
                          " " + kTimestamp + R"( \| Quellmark \| f \| m)");
    EXPECT_TRUE(std::regex_match(lines[i], line)) << "line " << i << ": '" << lines[i] << "'";
  }
  EXPECT_EQ(lines[3].substr(0, 12), "[EXCEPTION] ");
  EXPECT_EQ(lines[4][0], ' ');
  EXPECT_NE(lines[4][1], ' ');
}

TEST_F(LogFileTest, TextIsNarrowedToSingleBytes) {
  MakeLogDirectory();
  LogFile log("Quellmark", kSystemLogPath);
  ASSERT_EQ(log.Write(kLogError, "ns::Caf\xC3\xA9", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC\xE4\xB8\xAD."), 1);
  const std::string content = ReadAll(SystemLogHostPath());
  const std::string tail = " | Quellmark | ns::Caf\xE9 | \xE9t\xE9 ??.\r\n";
  ASSERT_GE(content.size(), tail.size());
  EXPECT_EQ(content.substr(content.size() - tail.size()), tail);
  EXPECT_EQ(content.substr(0, 3), "[ER") << "no byte-order mark";
}

TEST_F(LogFileTest, TextEndsAtAnEmbeddedZero) {
  MakeLogDirectory();
  LogFile log("Quellmark", kSystemLogPath);
  ASSERT_EQ(log.Write(kLogInfo, std::string_view("fn\0x", 4), std::string_view("ab\0cd", 5)), 1);
  const std::string content = ReadAll(SystemLogHostPath());
  EXPECT_NE(content.find(" | Quellmark | fn | ab\r\n"), std::string::npos) << content;
  EXPECT_EQ(content.find('\0'), std::string::npos);
}

TEST_F(LogFileTest, MissingDirectoryDropsTheLine) {
  LogFile log("Quellmark", kSystemLogPath);
  EXPECT_EQ(log.Write(kLogInfo, "f", "m"), 0);
  EXPECT_FALSE(fs::exists(HostPath("C/ProgramData")));
}

TEST_F(LogFileTest, DeletedFileIsRecreatedByTheNextLine) {
  MakeLogDirectory();
  LogFile log("Quellmark", kSystemLogPath);
  ASSERT_EQ(log.Write(kLogInfo, "f", "first"), 1);
  ASSERT_TRUE(fs::remove(SystemLogHostPath()));
  ASSERT_EQ(log.Write(kLogInfo, "f", "second"), 1);
  const std::vector<std::string> lines = Lines(ReadAll(SystemLogHostPath()));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("| second"), std::string::npos);
}

TEST_F(LogFileTest, ConcurrentWritersNeverInterleave) {
  MakeLogDirectory();
  LogFile log("Quellmark", kSystemLogPath);
  constexpr int kThreads = 8;
  constexpr int kLinesPerThread = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      const std::string filler(200 + 37 * t, static_cast<char>('a' + t));
      for (int i = 0; i < kLinesPerThread; ++i) {
        const std::string message = FormatMessageSized(1024, "t%d n%03d %s", t, i, filler.c_str());
        log.Write(t % 4, "worker", message);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  const std::vector<std::string> lines = Lines(ReadAll(SystemLogHostPath()));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesPerThread));
  const std::regex whole(std::string(R"(\[\w+\] *)") + " " + kTimestamp +
                         R"( \| Quellmark \| worker \| t(\d) n(\d{3}) ([a-z]+))");
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
    const int t = std::stoi(m[1].str());
    EXPECT_EQ(std::stoi(m[2].str()), next[t]++) << "lines of one thread keep their order";
    EXPECT_EQ(m[3].str(), std::string(200 + 37 * t, static_cast<char>('a' + t)));
  }
}

TEST_F(LogFileTest, LogLineWritesOnlyWhileALogExists) {
  MakeLogDirectory();
  LogLine(kLogInfo, "f", "dropped");
  EXPECT_FALSE(fs::exists(SystemLogHostPath()));
  LogFile log("Quellmark", kSystemLogPath);
  g_LogFile.store(&log);
  LogLine(kLogWarning, "f", "kept");
  g_LogFile.store(nullptr);
  const std::vector<std::string> lines = Lines(ReadAll(SystemLogHostPath()));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(0, 12), "[WARNING]   ");
}

TEST_F(LogFileTest, AdapterMapsLevelsAndDefaultLoggerPrintsTheMessage) {
  MakeLogDirectory();
  LogFile log("Quellmark", kSystemLogPath);
  IbLogAdapter adapter(&log);
  adapter.Log(3, "corlan::QRN300::EcHID::GetACStatus", "boom");
  adapter.Log(9, "g", "nine");
  adapter.Log(-2, "g", "minus");
  adapter.Log(1, "g", "one");
  IbLogAdapter detached(nullptr);
  detached.Log(0, "g", "nowhere");
  const std::vector<std::string> lines = Lines(ReadAll(SystemLogHostPath()));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].substr(0, 12), "[EXCEPTION] ");
  EXPECT_NE(lines[0].find("| corlan::QRN300::EcHID::GetACStatus | boom"), std::string::npos);
  EXPECT_EQ(lines[1].substr(0, 12), "[INFO]      ");
  EXPECT_EQ(lines[2].substr(0, 12), "[INFO]      ");
  EXPECT_EQ(lines[3].substr(0, 12), "[WARNING]   ");

  std::ostringstream captured;
  std::streambuf* saved = std::cout.rdbuf(captured.rdbuf());
  DefaultLogger().Log(2, "ignored::function", "plain \xC3\xA9");
  std::cout.rdbuf(saved);
  EXPECT_EQ(captured.str(), "plain \xC3\xA9\n");
}

TEST_F(LogFileTest, SetLoggerReplacesAndFallsBackToDefault) {
  ASSERT_NE(dynamic_cast<DefaultLogger*>(g_Logger.get()), nullptr);
  auto adapter = std::make_shared<IbLogAdapter>(nullptr);
  std::weak_ptr<corlan::QRN300::Logger> previous = g_Logger;
  SetLogger(adapter);
  EXPECT_EQ(g_Logger, adapter);
  EXPECT_TRUE(previous.expired()) << "the previous logger is released";
  SetLogger(nullptr);
  EXPECT_NE(dynamic_cast<DefaultLogger*>(g_Logger.get()), nullptr);
}

TEST_F(LogFileTest, SwitchValueOfAnyTypeEnablesLogging) {
  EXPECT_FALSE(logsetup::IsLoggingEnabled());
  EXPECT_EQ(registry_.queries, 1);
  for (uint32_t type : {win::kRegSz, win::kRegDword, win::kRegBinary, win::kRegNone}) {
    registry_.switch_type = type;
    EXPECT_TRUE(logsetup::IsLoggingEnabled()) << "type " << type;
  }
}

TEST_F(LogFileTest, WithoutTheSwitchNothingIsCreated) {
  EXPECT_FALSE(logsetup::CreateLog());
  EXPECT_EQ(g_LogFile.load(), nullptr);
  EXPECT_NE(dynamic_cast<DefaultLogger*>(g_Logger.get()), nullptr);
  EXPECT_TRUE(fs::is_empty(dir_.path()));
  logsetup::DestroyLog();
}

TEST_F(LogFileTest, CreateLogWiresFileAndHidLogger) {
  registry_.switch_type = win::kRegBinary;  // an empty binary value is enough
  ASSERT_TRUE(logsetup::CreateLog());
  LogFile* log = g_LogFile.load();
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->path(), kSystemLogPath);
  EXPECT_TRUE(fs::is_directory(HostPath("C/ProgramData/OEM/Calvane/Log")));
  ASSERT_NE(dynamic_cast<IbLogAdapter*>(g_Logger.get()), nullptr);

  LogLine(kLogInfo, "wWinMain", "Quellmark, BEGIN");
  g_Logger->Log(3, "corlan::QRN300::IbHID::Open", "hid");
  const std::vector<std::string> lines = Lines(ReadAll(SystemLogHostPath()));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" | Quellmark | wWinMain | Quellmark, BEGIN"), std::string::npos);
  EXPECT_EQ(lines[1].substr(0, 12), "[EXCEPTION] ");

  logsetup::DestroyLog();
  EXPECT_EQ(g_LogFile.load(), nullptr);
  EXPECT_NE(dynamic_cast<DefaultLogger*>(g_Logger.get()), nullptr);
}

TEST_F(LogFileTest, LogFilePathFromEnvironmentAndAccount) {
  EXPECT_EQ(logsetup::BuildLogFilePath(), kSystemLogPath);

  environment_.user = "alice";
  environment_.program_data = std::string("D:\\Data");
  EXPECT_EQ(logsetup::BuildLogFilePath(), "D:\\Data\\OEM\\Calvane\\Log\\alice_Quellmark.log");

  environment_.program_data.reset();
  EXPECT_EQ(logsetup::BuildLogFilePath(), "\\OEM\\Calvane\\Log\\alice_Quellmark.log");

  // A value that does not fit the 260-character buffer is never copied into it.
  environment_.program_data = "C:\\" + std::string(300, 'x');
  EXPECT_EQ(logsetup::BuildLogFilePath(), "\\OEM\\Calvane\\Log\\alice_Quellmark.log");

  // The whole path is cut to 259 characters.
  environment_.program_data = "C:\\" + std::string(250, 'y');
  EXPECT_EQ(logsetup::BuildLogFilePath().size(), 259u);
}

TEST_F(LogFileTest, UnsetProgramDataLogsBelowTheDriveRoot) {
  registry_.switch_type = win::kRegDword;
  environment_.program_data.reset();
  ASSERT_TRUE(logsetup::CreateLog());
  LogLine(kLogInfo, "f", "m");
  EXPECT_TRUE(fs::is_regular_file(HostPath("C/OEM/Calvane/Log/SYSTEM_Quellmark.log")));
}

}  // namespace
