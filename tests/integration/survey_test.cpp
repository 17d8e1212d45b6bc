// The start-up capability survey of the Linux broker: what the first start publishes, and the
// random delay of every later start, measured on the real clock through the log's timestamps.
#include <chrono>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include "base/text.h"
#include "base/win_codes.h"
#include "integration/broker_fixture.h"

namespace {

using testsupport::BrokerFixture;

constexpr const char* kK = "SOFTWARE\\OEM\\Calvane";
constexpr const char* kKL = "SOFTWARE\\OEM\\Calvane\\LightSetting";
constexpr const char* kKA = "SOFTWARE\\OEM\\Calvane\\AdvanceSettings";
constexpr const char* kSurveyEnd =
    "ironbark::IbClientCommandProcessor::get_support_fan_amount | amount_gpu: 0\r\n";

class SurveyOnTheBroker : public BrokerFixture {
 protected:
  std::optional<uint32_t> Dword(const char* key, const char* name) {
    platform::posix::SqliteRegistry registry(root_.path() + "/registry.db");
    uint32_t value = 0;
    uint32_t size = sizeof value;
    if (registry.GetValue(win::RegRoot::kLocalMachine, key, name, win::kRrfRtRegDword, nullptr,
                          &value, &size) != 0)
      return std::nullopt;
    return value;
  }
  std::optional<std::string> Text(const char* key, const char* name) {
    platform::posix::SqliteRegistry registry(root_.path() + "/registry.db");
    uint8_t data[512];
    uint32_t size = sizeof data;
    if (registry.GetValue(win::RegRoot::kLocalMachine, key, name, win::kRrfRtRegSz, nullptr,
                          data, &size) != 0)
      return std::nullopt;
    return text::FromWireText(data, size);
  }

  // Polls the log from byte `from` on for `text`, for up to `seconds` (the survey of a later
  // start waits up to 15 s).
  bool WaitLong(const std::string& text, int seconds, size_t from = 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      if (ReadLog().find(text, from) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
};

// Milliseconds since midnight of a log line's "YYYYMMDD_HH:MM:SS.mmm" stamp.
int64_t StampMs(const std::smatch& m, int first_group) {
  const auto n = [&](int g) { return std::stoll(m[first_group + g].str()); };
  return ((n(0) * 60 + n(1)) * 60 + n(2)) * 1000 + n(3);
}

TEST_F(SurveyOnTheBroker, FirstStartPublishesAtOnceLaterStartsWaitFirst) {
  EnableLogging();
  {
    auto broker = StartBroker();
    ASSERT_TRUE(WaitLong(kSurveyEnd, 10)) << ReadLog();
    EXPECT_EQ(Text(kK, "Model_Name_1st"), std::optional<std::string>("Vexor 16 GX"));
    EXPECT_EQ(Text(kK, "Model_Name_1st_brand"), std::optional<std::string>("Vexor"));
    EXPECT_EQ(Dword(kK, "Operation_Mode_Support"), 1u);
    EXPECT_EQ(Dword(kK, "BK_Hotkey_Number"), 0x85u);
    EXPECT_EQ(Dword(kK, "AC_Support"), 5u);
    EXPECT_EQ(Dword(kK, "PD_Support"), 1u);
    EXPECT_EQ(Dword(kK, "Two_AC_Support"), 0u);
    EXPECT_EQ(Dword(kK, "Keyboard_Type"), 2u);
    EXPECT_EQ(Dword(kKL, "KeyBoardColor"), 2u);
    EXPECT_EQ(Dword(kKL, "KeyBoardArea"), 0u);
    EXPECT_EQ(Dword(kKA, "LCD_Overdrive_support"), 1u);
    EXPECT_EQ(Dword(kKA, "discrete_gpu_support"), 1u);
    EXPECT_EQ(Dword(kKA, "dgpu_mode_capability"), 1u);
    EXPECT_EQ(Dword(kK, "ESP_Directory_Support"), 1u);
    EXPECT_EQ(Dword(kK, "Customize_POST_Support"), 1u);
    EXPECT_EQ(Text(kK, "Resolution"), std::optional<std::string>("2560,1600"));
    EXPECT_EQ(Dword(kK, "boot_sound_switch"), 1u);

    const std::string log = ReadLog();
    EXPECT_EQ(log.find("Waiting for"), std::string::npos);
    // The driver's class key was seeded from the profile and found through the device list.
    EXPECT_NE(log.find("| ironbark::IbClientCommandProcessor::get_driver_version_string | "
                       "2.1.1407.0\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
  }

  const size_t first_run = ReadLog().size();
  auto broker = StartBroker();
  // The pipe serves while the survey waits.
  EXPECT_EQ(Cli({"op-mode", "get"}).exit_code, 0);
  ASSERT_TRUE(WaitLong(kSurveyEnd, 25, first_run));
  const std::string log = ReadLog().substr(first_run);
  const std::string stamp = R"((\d{8})_(\d{2}):(\d{2}):(\d{2})\.(\d{3}))";
  std::smatch waiting;
  ASSERT_TRUE(std::regex_search(
      log, waiting,
      std::regex(R"(\[INFO\]      )" + stamp +
                 R"( \| Quellmark \| ironbark::IbClientCommandProcessor::Initialize \| )"
                 R"(Waiting for (\d+) milliseconds before execution\.\.\.\r\n)")))
      << log;
  const int delay = std::stoi(waiting[6].str());
  EXPECT_GE(delay, 9000);
  EXPECT_LE(delay, 15000);

  // The first line the survey logs after the wait: its stamp is at least the delay later (a
  // stamp is cut to the millisecond, hence the 2 ms of slack), and not absurdly much more.
  std::smatch after;
  const std::string rest = waiting.suffix().str();
  ASSERT_TRUE(std::regex_search(
      rest, after,
      std::regex(R"(\[INFO\]      )" + stamp +
                 R"( \| Quellmark \| ironbark::IbClientCommandProcessor::OperationMode_support \| Support\r\n)")))
      << rest;
  int64_t waited = StampMs(after, 2) - StampMs(waiting, 2);
  if (after[1].str() != waiting[1].str()) waited += 24 * 3600 * 1000;  // past midnight
  EXPECT_GE(waited, delay - 2);
  EXPECT_LE(waited, delay + 5000);
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

}  // namespace
