// The firmware commands against the simulated notebook, a real registry database and a real
// log file.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/win_codes.h"
#include "firmware/wmi_access.h"
#include "log/log_file.h"
#include "pipe/command_processor.h"
#include "pipe/protocol.h"
#include "platform/posix/file_system.h"
#include "platform/posix/sqlite_registry.h"
#include "platform/services.h"
#include "sim/machine_profile.h"
#include "sim/sim_wmi.h"
#include "sim/simulated_notebook.h"
#include "support/temp_dir.h"
#include "survey/registry_values.h"

namespace {

using ironbark::CommandHandler;
using ironbark::IbClientCommandProcessor;
using Bytes = std::vector<uint8_t>;

const std::string kMachinesDir =
    (std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "machines")
        .lexically_normal()
        .string();
constexpr const char* kLogPath = "C:\\Log\\firmware.log";
constexpr const char* kPrefix = "ironbark::IbClientCommandProcessor::";

Bytes U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

class FirmwareCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { wmi_set_sleep_for_testing([](int) {}); }
  void TearDown() override {
    DetachLogFile();
    platform::InstallServices(nullptr);
    wmi_set_sleep_for_testing({});
  }

  void Boot(const std::string& profile) {
    notebook_ = std::make_shared<sim::SimulatedNotebook>(
        sim::LoadMachineProfile(kMachinesDir + "/" + profile));
    provider_ = std::make_unique<sim::SimWmiProvider>(notebook_);
    services_.wmi = provider_.get();
    platform::InstallServices(&services_);
    ASSERT_TRUE(files_.MakeSureDirectoryPathExists(kLogPath));
    g_LogFile.store(&log_);
  }

  // Runs one handler with the given arguments; returns the single response item.
  Bytes Call(CommandHandler handler, const std::vector<Bytes>& arguments) {
    const Bytes message = pipeproto::EncodeRequest(1, arguments);
    std::optional<pipeproto::CommandRequest> request;
    EXPECT_EQ(pipeproto::ParseRequest(message.data(), static_cast<uint32_t>(message.size()),
                                      &request),
              pipeproto::ParseStatus::kOk);
    pipeproto::CommandResponse response;
    handler(*request, response);
    EXPECT_TRUE(response.present);
    std::vector<Bytes> items;
    EXPECT_TRUE(pipeproto::ParseResponse(response.bytes.data(), response.bytes.size(), &items));
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? Bytes{} : items[0];
  }

  // "function | message" of every log line since the last call.
  std::vector<std::string> TakeLog() {
    std::stringstream content;
    content << std::ifstream(drive_.path() + "/C/Log/firmware.log", std::ios::binary).rdbuf();
    const std::string all = content.str();
    std::vector<std::string> lines;
    for (size_t start = consumed_, end; (end = all.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      const std::string line = all.substr(start, end - start);
      const std::string tag = line.substr(0, line.find(' '));
      lines.push_back(tag + " " + line.substr(line.find(" | Quellmark | ") + 15));
      consumed_ = end + 2;
    }
    return lines;
  }

  testsupport::TempDir drive_;
  testsupport::TempDir registry_dir_;
  platform::posix::SqliteRegistry registry_{registry_dir_.path() + "/registry.db"};
  platform::posix::PosixFileSystem files_{drive_.path()};
  platform::Services services_{.registry = &registry_, .files = &files_};
  LogFile log_{"Quellmark", kLogPath};
  std::shared_ptr<sim::SimulatedNotebook> notebook_;
  std::unique_ptr<sim::SimWmiProvider> provider_;
  size_t consumed_ = 0;
};

TEST_F(FirmwareCommandsTest, OperationModeIsSetReadBackAndDrivesTheOverclockLevel) {
  Boot("vexor-default.profile");
  const std::string f = std::string(kPrefix) + "set_operation_mode | ";
  EXPECT_EQ(Call(&IbClientCommandProcessor::set_operation_mode, {U32(2)}), U32(0));
  EXPECT_EQ(notebook_->operation_mode(), 2);
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{
                           "[INFO] " + f + "kSvcCmdSetOperationMode",
                           "[INFO] " + f + "WMI SetGamingMiscSettingFunction input: 0x20B",
                           "[INFO] " + f + "WMI SetGamingMiscSettingFunction output: 0x0",
                           "[INFO] gpu_set_oc_level | gpu_set_oc_level",
                           "[WARNING] gpu_set_oc_level | Not support GPU overclock",
                           "[INFO] " + f + "Rsponse data: 0",
                       }));

  const Bytes mode = Call(&IbClientCommandProcessor::get_operation_mode, {});
  ASSERT_EQ(mode.size(), 8u);
  EXPECT_EQ(mode[0], 0);  // status
  EXPECT_EQ(mode[1], 2);
  const std::string g = std::string(kPrefix) + "get_operation_mode | ";
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{
                           "[INFO] " + g + "kSvcCmdGetOperationMode",
                           "[INFO] " + g + "WMI GetGamingMiscSettingFunction input: 0xB",
                           "[INFO] " + g + "WMI GetGamingMiscSettingFunction output: 0x200",
                           "[INFO] " + g + "Rsponse data: 0x200",
                       }));

  // A mode outside the capability is refused by the firmware (status 1), yet the GPU level is
  // still set.
  EXPECT_EQ(Call(&IbClientCommandProcessor::set_operation_mode, {U32(7)}), U32(1));
  const auto refused = TakeLog();
  ASSERT_EQ(refused.size(), 6u);
  EXPECT_EQ(refused[1], "[INFO] " + f + "WMI SetGamingMiscSettingFunction input: 0x70B");
  EXPECT_EQ(refused[3], "[INFO] gpu_set_oc_level | gpu_set_oc_level");
  EXPECT_EQ(notebook_->operation_mode(), 2);

  const Bytes capability = Call(&IbClientCommandProcessor::get_operation_mode_capability, {});
  ASSERT_EQ(capability.size(), 8u);
  EXPECT_EQ(capability[1], 0x7F);
  EXPECT_EQ(TakeLog()[1], "[INFO] " + std::string(kPrefix) +
                              "get_operation_mode_capability | "
                              "WMI GetGamingMiscSettingFunction input: 0xA");
}

TEST_F(FirmwareCommandsTest, WhisperModeValueOfAnotherTypeBecomesDwordZero) {
  Boot("vexor-default.profile");
  const char* key = "SOFTWARE\\OEM\\Calvane";
  ASSERT_EQ(write_reg_string(key, "NV_WhisperMode20_Support", "1"), 0u);
  Call(&IbClientCommandProcessor::set_operation_mode, {U32(6)});
  EXPECT_EQ(notebook_->operation_mode(), 6);
  uint32_t type = 0, value = 0xAAAA, size = sizeof value;
  ASSERT_EQ(registry_.GetValue(win::RegRoot::kLocalMachine, key, "NV_WhisperMode20_Support",
                               win::kRrfRtAny, &type, &value, &size),
            0u);
  EXPECT_EQ(type, win::kRegDword);
  EXPECT_EQ(value, 0u);

  // A DWORD is left alone; a missing value stays missing.
  ASSERT_EQ(write_reg_dword(key, "NV_WhisperMode20_Support", 5), 0u);
  Call(&IbClientCommandProcessor::set_operation_mode, {U32(1)});
  ASSERT_EQ(registry_.GetValue(win::RegRoot::kLocalMachine, key, "NV_WhisperMode20_Support",
                               win::kRrfRtRegDword, nullptr, &value, &size),
            0u);
  EXPECT_EQ(value, 5u);
  ASSERT_EQ(registry_.DeleteKeyValue(win::RegRoot::kLocalMachine, key, "NV_WhisperMode20_Support"),
            0u);
  Call(&IbClientCommandProcessor::set_operation_mode, {U32(1)});
  EXPECT_NE(registry_.GetValue(win::RegRoot::kLocalMachine, key, "NV_WhisperMode20_Support",
                               win::kRrfRtAny, nullptr, nullptr, nullptr),
            0u);
}

TEST_F(FirmwareCommandsTest, ArgumentsAreReadAtTheCommandsWidth) {
  Boot("vexor-default.profile");
  // Fan table value 0x1234 in bits 8 and up, then read back.
  EXPECT_EQ(Call(&IbClientCommandProcessor::wmi_set_gaming_fan_table,
                 {{0x00, 0x34, 0x12}}),
            U32(0));
  Bytes table = Call(&IbClientCommandProcessor::wmi_get_gaming_fan_table, {U32(0xDEAD)});
  EXPECT_EQ(table, (Bytes{0, 0x34, 0x12, 0, 0, 0, 0, 0}));
  TakeLog();

  // Nine bytes are too many for a 64-bit argument: 0 reaches the firmware.
  Call(&IbClientCommandProcessor::wmi_set_gaming_fan_table, {Bytes(9, 0x11)});
  EXPECT_EQ(TakeLog()[1], "[INFO] " + std::string(kPrefix) +
                              "wmi_set_gaming_fan_table | WMI SetGamingFanTableFunction input: 0x0");
  table = Call(&IbClientCommandProcessor::wmi_get_gaming_fan_table, {U32(7)});
  EXPECT_EQ(table, Bytes(8, 0));
  const auto lines = TakeLog();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "[INFO] " + std::string(kPrefix) +
                          "wmi_get_gaming_fan_table | WMI GetGamingFanTableFunction input: 0x7");

  // Five bytes are too many for a 32-bit argument.
  Call(&IbClientCommandProcessor::wmi_get_gaming_misc_setting, {Bytes{10, 0, 0, 0, 0}});
  EXPECT_EQ(TakeLog()[1], "[INFO] " + std::string(kPrefix) +
                              "wmi_get_gaming_misc_setting | "
                              "WMI GetGamingMiscSettingFunction input: 0x0");

  // The system-information response line also shows the input.
  const Bytes info = Call(&IbClientCommandProcessor::wmi_get_gaming_system_information, {U32(0)});
  ASSERT_EQ(info.size(), 8u);
  EXPECT_EQ(info[1], 2);  // fan groups
  EXPECT_EQ(TakeLog()[3], "[INFO] " + std::string(kPrefix) +
                              "wmi_get_gaming_system_information | Rsponse data: 0x200 of 0x0");
}

TEST_F(FirmwareCommandsTest, WithoutAnyWmiProviderCommandsAnswerTheirFailureValue) {
  // A build whose platform has no WMI yet must answer, not abort.
  Boot("vexor-default.profile");
  services_.wmi = nullptr;
  EXPECT_EQ(Call(&IbClientCommandProcessor::wmi_get_function, {U32(10)}),
            (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
  EXPECT_EQ(Call(&IbClientCommandProcessor::set_operation_mode, {U32(5)}), U32(0xFFFFFFFF));
}

TEST_F(FirmwareCommandsTest, FailedFirmwareAnswersTheFailureValueOfTheCommandsWidth) {
  Boot("bare.profile");
  const std::string p = "[INFO] " + std::string(kPrefix);

  EXPECT_EQ(Call(&IbClientCommandProcessor::wmi_get_gaming_misc_setting, {U32(9)}),
            (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{
                           p + "wmi_get_gaming_misc_setting | kSvcCmdWMIGetGamingMiscSetting",
                           p + "wmi_get_gaming_misc_setting | "
                               "WMI GetGamingMiscSettingFunction input: 0x9",
                           p + "wmi_get_gaming_misc_setting | GetGamingMiscSettingBehavior is fail!!",
                           p + "wmi_get_gaming_misc_setting | Rsponse data: 4294967295",
                       }));

  EXPECT_EQ(Call(&IbClientCommandProcessor::wmi_set_gaming_fan_group_speed, {U32(0x301)}),
            U32(0xFFFFFFFF));
  auto lines = TakeLog();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], p + "wmi_set_gaming_fan_group_speed | SetCorlanGamingLEDBehavior is fail!!");
  EXPECT_EQ(lines[3], p + "wmi_set_gaming_fan_group_speed | Rsponse data: -1");

  EXPECT_EQ(Call(&IbClientCommandProcessor::wmi_set_function, {}), U32(0xFFFFFFFF));
  lines = TakeLog();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], p + "wmi_set_function | Rsponse data: 4294967295");

  EXPECT_EQ(Call(&IbClientCommandProcessor::wmi_get_gaming_fan_group_behavior, {}),
            (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
  EXPECT_EQ(TakeLog()[3], p + "wmi_get_gaming_fan_group_behavior | Rsponse data: 0xFFFFFFFF");

  // A refused operation mode still sets the GPU level.
  EXPECT_EQ(Call(&IbClientCommandProcessor::set_operation_mode, {U32(4)}), U32(0xFFFFFFFF));
  lines = TakeLog();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[2], p + "set_operation_mode | SetGamingMiscSettingBehavior is fail!!");
  EXPECT_EQ(lines[3], "[INFO] gpu_set_oc_level | gpu_set_oc_level");
  EXPECT_EQ(lines[5], p + "set_operation_mode | Rsponse data: -1");
}

TEST(FirmwareCommandTableTest, EveryFirmwareCodeIsRegistered) {
  const std::vector<std::pair<uint32_t, CommandHandler>> expected = {
      {7, &IbClientCommandProcessor::wmi_get_gaming_system_information},
      {13, &IbClientCommandProcessor::wmi_set_gaming_fan_group_behavior},
      {18, &IbClientCommandProcessor::wmi_get_gaming_fan_table},
      {19, &IbClientCommandProcessor::get_operation_mode_capability},
      {20, &IbClientCommandProcessor::get_operation_mode},
      {21, &IbClientCommandProcessor::set_operation_mode},
      {27, &IbClientCommandProcessor::wmi_get_gaming_misc_setting},
      {30, &IbClientCommandProcessor::wmi_get_function},
      {31, &IbClientCommandProcessor::wmi_set_function}};
  for (const auto& [code, handler] : expected) {
    ASSERT_EQ(g_CommandHandlers.count(code), 1u) << code;
    EXPECT_EQ(g_CommandHandlers.at(code), handler) << code;
  }
  for (uint32_t code : {14u, 15u, 16u, 17u, 24u, 25u, 26u}) {
    EXPECT_EQ(g_CommandHandlers.count(code), 1u) << code;
  }
}

}  // namespace
