// The start-up capability survey of the Linux broker: what the first start publishes, and the
// random delay of every later start, measured on the real clock through the log's timestamps.
#include <array>
#include <cstdint>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/win_codes.h"
#include "integration/broker_fixture.h"

namespace {

const std::string kK = "SOFTWARE\\OEM\\Calvane";
constexpr const char* kSurveyEnd =
    "ironbark::IbClientCommandProcessor::get_support_fan_amount | amount_gpu: 0\r\n";

class SurveyOnTheBroker : public testsupport::BrokerFixture {
 protected:
  // A value of the broker's registry: a DWORD as its number, a string as itself.
  std::string Value(const std::string& key, const std::string& name) {
    platform::posix::SqliteRegistry registry(root_.path() + "/registry.db");
    uint8_t data[512];
    uint32_t type = 0, size = sizeof data, number = 0;
    const uint32_t error = registry.GetValue(win::RegRoot::kLocalMachine, key, name,
                                             win::kRrfRtAny, &type, data, &size);
    if (type == win::kRegDword) std::memcpy(&number, data, 4);
    return error != 0 ? "missing"
           : type == win::kRegDword ? std::to_string(number) : text::FromWireText(data, size);
  }
};

TEST_F(SurveyOnTheBroker, FirstStartPublishesAtOnceLaterStartsWaitFirst) {
  EnableLogging();
  auto broker = StartBroker();
  ASSERT_TRUE(WaitForLog(kSurveyEnd)) << ReadLog();
  // The first and last values, one of each subkey, and the resolution, which needs the ESP
  // folder and display modes of the broker's own drive.
  for (const auto& [key, name, value] : std::vector<std::array<std::string, 3>>{
           {kK, "Model_Name_1st", "Vexor 16 GX"}, {kK + "\\LightSetting", "KeyBoardArea", "0"},
           {kK + "\\AdvanceSettings", "discrete_gpu_support", "1"},
           {kK, "Resolution", "2560,1600"}, {kK, "boot_sound_switch", "1"}}) {
    EXPECT_EQ(Value(key, name), value) << name;
  }
  std::string log = ReadLog();
  EXPECT_EQ(log.find("Waiting for"), std::string::npos);
  // The driver's class key was seeded from the profile and found through the device list.
  EXPECT_NE(log.find("::get_driver_version_string | 2.1.1407.0\r\n"), std::string::npos) << log;
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));

  const size_t first_run = log.size();
  broker = StartBroker();
  EXPECT_EQ(Cli({"op-mode", "get"}).exit_code, 0) << "the pipe serves while the survey waits";
  ASSERT_TRUE(testsupport::WaitForText(LogPath(), kSurveyEnd, 2, 25000));
  log = ReadLog().substr(first_run);
  // The wait, and the first line the survey logs after it.
  const std::string stamp = R"(_(\d\d):(\d\d):(\d\d)\.(\d{3}) \| Quellmark \| ironbark::IbClientCommandProcessor::)";
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      log, m,
      std::regex(stamp + R"(Initialize \| Waiting for (\d+) milliseconds before execution\.\.\.\r\n[\s\S]*?)" +
                 stamp + R"(OperationMode_support \| Support\r\n)")))
      << log;
  const auto ms = [&m](int first) {
    const auto n = [&](int g) { return std::stoll(m[first + g].str()); };
    return ((n(0) * 60 + n(1)) * 60 + n(2)) * 1000 + n(3);
  };
  const int delay = std::stoi(m[5].str());
  EXPECT_GE(delay, 9000);
  EXPECT_LE(delay, 15000);
  // Stamps are cut to the millisecond, hence 2 ms of slack; past midnight the day wraps.
  const int64_t waited = (ms(6) - ms(1) + 24 * 3600 * 1000) % (24 * 3600 * 1000);
  EXPECT_GE(waited, delay - 2);
  EXPECT_LE(waited, delay + 5000);
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

}  // namespace
