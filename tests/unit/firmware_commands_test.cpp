// The firmware commands against the simulated notebook, a real registry database and a real
// log file.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/win_codes.h"
#include "firmware/firmware_commands.h"
#include "registry/registry_values.h"
#include "support/handler_harness.h"

namespace {

using testsupport::Le, testsupport::ProcessorLine, testsupport::U32;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

const Bytes kReadFailed = Le(0xFFFFFFFF, 8), kWriteFailed = U32(0xFFFFFFFF);
const std::string kGpuLine = "[INFO] gpu_set_oc_level | gpu_set_oc_level";

using FirmwareCommandsTest = testsupport::HandlerTest;
Bytes Call(uint16_t code, const std::vector<Bytes>& args = {}) { return testsupport::CallForItem(code, args); }

TEST_F(FirmwareCommandsTest, OperationModeIsSetReadBackAndDrivesTheOverclockLevel) {
  Boot("vexor-default.profile");
  const std::string set = ProcessorLine("set_operation_mode");
  EXPECT_EQ(Call(21, {U32(2)}), U32(0));
  EXPECT_EQ(notebook_->operation_mode(), 2);
  EXPECT_EQ(TakeLog(), (Lines{set + "kSvcCmdSetOperationMode",
                              set + "WMI SetGamingMiscSettingFunction input: 0x20B",
                              set + "WMI SetGamingMiscSettingFunction output: 0x0", kGpuLine,
                              "[WARNING] gpu_set_oc_level | Not support GPU overclock",
                              set + "Rsponse data: 0"}));

  // The reading commands send their fixed setting number, whatever the argument.
  const std::string get = ProcessorLine("get_operation_mode");
  EXPECT_EQ(Call(20, {U32(9)}), Le(0x200, 8));
  EXPECT_EQ(TakeLog(), (Lines{get + "kSvcCmdGetOperationMode",
                              get + "WMI GetGamingMiscSettingFunction input: 0xB",
                              get + "WMI GetGamingMiscSettingFunction output: 0x200",
                              get + "Rsponse data: 0x200"}));
  EXPECT_EQ(Call(19, {U32(9)}), Le(0x7F00, 8));
  EXPECT_EQ(TakeLog().at(1), ProcessorLine("get_operation_mode_capability") +
                                 "WMI GetGamingMiscSettingFunction input: 0xA");
  const uint32_t levels[] = {0, 1, 1, 1, 2, 3, 0, 1, 1};  // for modes 0 to 8: turbo and performance raise it
  for (uint32_t mode = 0; mode < std::size(levels); ++mode)
    EXPECT_EQ(ironbark::OverclockLevelForMode(mode), levels[mode]) << mode;
  EXPECT_EQ(ironbark::OverclockLevelForMode(0x100 | 5), 1u);
}

TEST_F(FirmwareCommandsTest, WhisperModeValueOfAnotherTypeBecomesDwordZero) {
  Boot("vexor-default.profile");
  const char *key = "SOFTWARE\\OEM\\Calvane", *name = "NV_WhisperMode20_Support";
  // Sets a mode, then reads the value back: its registry code and, as a DWORD, its number.
  const auto after_set_mode = [&] {
    Call(21, {U32(1)});
    uint32_t type = 0, value = 0xAAAA, size = sizeof value;
    const uint32_t rc = registry_.GetValue(win::RegRoot::kLocalMachine, key, name, win::kRrfRtAny, &type, &value, &size);
    return std::make_pair(rc, type == win::kRegDword ? value : 0xBAD);
  };
  ASSERT_EQ(write_reg_string(key, name, "1"), 0u);
  EXPECT_EQ(after_set_mode(), std::make_pair(0u, 0u));
  ASSERT_EQ(write_reg_dword(key, name, 5), 0u);  // a DWORD is left alone
  EXPECT_EQ(after_set_mode(), std::make_pair(0u, 5u));
  ASSERT_EQ(registry_.DeleteKeyValue(win::RegRoot::kLocalMachine, key, name), 0u);
  EXPECT_EQ(after_set_mode().first, win::kErrorFileNotFound) << "a missing value stays missing";
}

// Two system-information requests at once: the second waits, entry line included, until the first
// has answered (the firmware's pause takes real time here), so each request's lines stay together.
TEST_F(FirmwareCommandsTest, SystemInformationRequestsRunOneAtATime) {
  Boot("vexor-default.profile");
  services_.clock = &platform::SteadyClock();
  std::thread other([] { Call(7, {U32(0)}); });
  Call(7, {U32(0)});
  other.join();
  const std::string info = ProcessorLine("wmi_get_gaming_system_information");
  const std::string entry = info + "kSvcCmdWMIGetGamingSystemInformation", answer = info + "Rsponse data: 0x200 of 0x0";
  EXPECT_EQ(TakeLog(), (Lines{entry, info + "input: 0x0", info + "output: 0x200", answer,
                              entry, info + "input: 0x0", info + "output: 0x200", answer}));
}

TEST_F(FirmwareCommandsTest, ArgumentsAndFailureValuesFollowTheCommandsWidth) {
  Boot("bare.profile");
  // Each command's failure line and response format (signed, unsigned, hex). Writing commands take
  // 64-bit arguments; reading ones 32, so that five bytes count as 0.
  const struct { uint16_t code; const char* name; Bytes argument, answer; Lines lines; } cases[] = {
      {27, "wmi_get_gaming_misc_setting", Bytes{9, 0, 0, 0, 0}, kReadFailed,
       {"kSvcCmdWMIGetGamingMiscSetting", "WMI GetGamingMiscSettingFunction input: 0x0",
        "GetGamingMiscSettingBehavior is fail!!", "Rsponse data: 4294967295"}},
      {14, "wmi_get_gaming_fan_group_behavior", U32(9), kReadFailed,
       {"kSvcCmdWMIGetGamingFanGroupBehavior", "WMI GetGamingFanGroupBehaviorFunction input: 0x9",
        "GetCorlanGamingSystemConfiguration is fail!!", "Rsponse data: 0xFFFFFFFF"}},
      {15, "wmi_set_gaming_fan_group_speed", Le(0x1122334455667788, 8), kWriteFailed,
       {"kSvcCmdWMISetGamingFanGroupSpeed", "WMI SetGamingFanGroupSpeedFunction input: 0x1122334455667788",
        "SetCorlanGamingLEDBehavior is fail!!", "Rsponse data: -1"}}};
  for (const auto& c : cases) {
    EXPECT_EQ(Call(c.code, {c.argument}), c.answer) << c.name;
    Lines expected;
    for (const std::string& message : c.lines) expected.push_back(ProcessorLine(c.name) + message);
    EXPECT_EQ(TakeLog(), expected);
  }

  // A refused operation mode still sets the GPU level.
  const std::string set = ProcessorLine("set_operation_mode");
  EXPECT_EQ(Call(21, {U32(4)}), kWriteFailed);
  EXPECT_EQ(TakeLog(), (Lines{set + "kSvcCmdSetOperationMode", set + "WMI SetGamingMiscSettingFunction input: 0x40B",
                              set + "SetGamingMiscSettingBehavior is fail!!", kGpuLine,
                              "[WARNING] gpu_set_oc_level | Not support GPU overclock", set + "Rsponse data: -1"}));
}

}  // namespace
