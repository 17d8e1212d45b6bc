// The firmware commands: thin pass-throughs from one request argument to one firmware wrapper
// and back, plus the operation-mode commands.
#include "firmware/firmware_commands.h"

#include <cstdint>
#include <mutex>
#include <string>

#include "base/win_codes.h"
#include "firmware/wmi_access.h"
#include "gpu/overclock.h"
#include "log/log_file.h"
#include "log/message_format.h"
#include "pipe/handler_log.h"
#include "pipe/protocol.h"
#include "platform/services.h"
#include "registry/registry_values.h"

namespace ironbark {
namespace {

constexpr size_t kMessageChars = kHandlerMessageChars;

// What a reading command answers when the firmware call fails: only the status byte's 32-bit
// word is set, the upper half stays 0.
constexpr uint64_t kReadFailure = 0x00000000FFFFFFFFull;
constexpr uint32_t kWriteFailure = 0xFFFFFFFFu;

constexpr const char* kCalvaneKey = "SOFTWARE\\OEM\\Calvane";
constexpr const char* kWhisperModeValue = "NV_WhisperMode20_Support";
constexpr uint32_t kOperationModeSetting = 0x0B;
constexpr uint32_t kOperationModeCapabilitySetting = 0x0A;

using ReadWrapper = bool (*)(uint32_t input, uint64_t* output);
using WriteWrapper = bool (*)(uint64_t input, uint32_t* output);

// One firmware command. Exactly one of `read` and `write` is set: a reading command takes a
// 32-bit argument and answers 8 bytes, a writing command takes a 64-bit argument and answers
// 4 bytes. The texts are printf formats of message_format.h; the input line gets the argument,
// the output line the firmware's output, the response line the answer (a reading command's
// response line also gets the input, used by formats that show it). The entry line is the
// dispatcher's.
struct FirmwareCommand {
  const char* handler;
  ReadWrapper read;
  WriteWrapper write;
  const char* input_line;
  const char* output_line;
  const char* failure_line;
  const char* response_line;
};

void Log(const FirmwareCommand& command, const std::string& message) {
  LogProcessor(command.handler, message);
}

// Logs the input line, calls the wrapper with `input` (a reading command's 32 bits of it),
// logs the output or failure line. The result to answer: the firmware's output, or the
// command's failure value.
uint64_t CallFirmware(const FirmwareCommand& command, uint64_t input) {
  if (command.read != nullptr) {
    const uint32_t argument = static_cast<uint32_t>(input);
    Log(command, FormatMessageSized(kMessageChars, command.input_line, argument));
    uint64_t output = 0;
    if (!command.read(argument, &output)) {
      Log(command, command.failure_line);
      return kReadFailure;
    }
    Log(command, FormatMessageSized(kMessageChars, command.output_line, output));
    return output;
  }
  Log(command, FormatMessageSized(kMessageChars, command.input_line, input));
  uint32_t output = 0;
  if (!command.write(input, &output)) {
    Log(command, command.failure_line);
    return kWriteFailure;
  }
  Log(command, FormatMessageSized(kMessageChars, command.output_line, output));
  return output;
}

// Answers `result` at the command's width and logs the response line.
void Answer(const FirmwareCommand& command, uint64_t result, uint64_t input,
            ironbark::CommandResponse& response) {
  if (command.read != nullptr) {
    const uint32_t argument = static_cast<uint32_t>(input);
    ironbark::BuildResponse(response, {{&result, sizeof result}});
    Log(command, FormatMessageSized(kMessageChars, command.response_line, result, argument));
    return;
  }
  const uint32_t answer = static_cast<uint32_t>(result);
  ironbark::BuildResponse(response, {{&answer, sizeof answer}});
  Log(command, FormatMessageSized(kMessageChars, command.response_line, answer));
}

void RunFirmwareCommand(const FirmwareCommand& command, uint64_t input,
                        ironbark::CommandResponse& response) {
  Answer(command, CallFirmware(command, input), input, response);
}

// The generic command: argument 0 at the command's width, then the firmware call.
void RunGeneric(const FirmwareCommand& command, const ironbark::CommandRequest& request,
                ironbark::CommandResponse& response) {
  const uint64_t input =
      command.read != nullptr ? uint64_t{request.ArgumentU32(0)} : request.ArgumentU64(0);
  RunFirmwareCommand(command, input, response);
}

constexpr const char* kGetFail = "GetCorlanGamingSystemConfiguration is fail!!";
constexpr const char* kSetFail = "SetCorlanGamingLEDBehavior is fail!!";

constexpr FirmwareCommand kGamingSystemInformation = {
    "wmi_get_gaming_system_information", &GetGamingSystemInformationFunction, nullptr,
    "input: 0x%I32X", "output: 0x%I64X", kGetFail, "Rsponse data: 0x%I64X of 0x%I32X"};
constexpr FirmwareCommand kSetFanGroupBehavior = {
    "wmi_set_gaming_fan_group_behavior", nullptr, &SetGamingFanGroupBehaviorFunction,
    "WMI SetGamingFanGroupBehaviorFunction input: 0x%I64X",
    "WMI SetGamingFanGroupBehaviorFunction output: 0x%I32X", kSetFail, "Rsponse data: %d"};
constexpr FirmwareCommand kGetFanGroupBehavior = {
    "wmi_get_gaming_fan_group_behavior", &GetGamingFanGroupBehaviorFunction, nullptr,
    "WMI GetGamingFanGroupBehaviorFunction input: 0x%I32X",
    "WMI GetGamingFanGroupBehaviorFunction output: 0x%I64X", kGetFail, "Rsponse data: 0x%I64X"};
constexpr FirmwareCommand kSetFanGroupSpeed = {
    "wmi_set_gaming_fan_group_speed", nullptr, &SetGamingFanGroupSpeedFunction,
    "WMI SetGamingFanGroupSpeedFunction input: 0x%I64X",
    "WMI SetGamingFanGroupSpeedFunction output: 0x%I32X", kSetFail, "Rsponse data: %d"};
constexpr FirmwareCommand kGetFanGroupSpeed = {
    "wmi_get_gaming_fan_group_speed", &GetGamingFanGroupSpeedFunction, nullptr,
    "WMI GetGamingFanGroupSpeedFunction input: 0x%I32X",
    "WMI GetGamingFanGroupSpeedFunction output: 0x%I64X", kGetFail, "Rsponse data: 0x%I64X"};
constexpr FirmwareCommand kSetFanTable = {
    "wmi_set_gaming_fan_table", nullptr, &SetGamingFanTableFunction,
    "WMI SetGamingFanTableFunction input: 0x%I64X",
    "WMI SetGamingFanTableFunction output: 0x%I32X", kSetFail, "Rsponse data: %d"};
// The firmware method takes no input: the argument is read and logged but never sent.
constexpr FirmwareCommand kGetFanTable = {
    "wmi_get_gaming_fan_table", &GetGamingFanTableFunction, nullptr,
    "WMI GetGamingFanTableFunction input: 0x%I32X",
    "WMI GetGamingFanTableFunction output: 0x%I64X", kGetFail, "Rsponse data: 0x%I64X"};
constexpr FirmwareCommand kSetProfile = {
    "wmi_set_gaming_profile_configuration", nullptr, &SetGamingProfileConfigurationFunction,
    "WMI SetGamingProfileConfigurationFunction input: 0x%I64X",
    "WMI SetGamingProfileConfigurationFunction output: 0x%I32X", kSetFail, "Rsponse data: %d"};
constexpr FirmwareCommand kGetProfile = {
    "wmi_get_gaming_profile_configuration", &GetGamingProfileConfigurationFunction, nullptr,
    "WMI GetGamingProfileConfigurationFunction input: 0x%I32X",
    "WMI GetGamingProfileConfigurationFunction output: 0x%I64X", kGetFail,
    "Rsponse data: 0x%I64X"};
constexpr FirmwareCommand kSetMiscSetting = {
    "wmi_set_gaming_misc_setting", nullptr, &SetGamingMiscSettingFunction,
    "WMI SetGamingMiscSettingFunction input: 0x%I64X",
    "WMI SetGamingMiscSettingFunction output: 0x%I32X", "SetGamingMiscSettingBehavior is fail!!",
    "Rsponse data: %d"};
constexpr FirmwareCommand kGetMiscSetting = {
    "wmi_get_gaming_misc_setting", &GetGamingMiscSettingFunction, nullptr,
    "WMI GetGamingMiscSettingFunction input: 0x%I32X",
    "WMI GetGamingMiscSettingFunction output: 0x%I64X", "GetGamingMiscSettingBehavior is fail!!",
    "Rsponse data: %I64u"};
constexpr FirmwareCommand kGetFunction = {
    "wmi_get_function", &GetFunction, nullptr, "WMI GetFunction input: 0x%I32X",
    "WMI GetFunction output: 0x%I64X", kGetFail, "Rsponse data: %I64u"};
constexpr FirmwareCommand kSetFunction = {
    "wmi_set_function", nullptr, &SetFunction, "WMI SetFunction input: 0x%I64X",
    "WMI SetFunction output: 0x%I32X", kSetFail, "Rsponse data: %u"};

// The operation-mode commands send fixed setting numbers instead of the client's argument.
constexpr FirmwareCommand kGetModeCapability = {
    "get_operation_mode_capability", &GetGamingMiscSettingFunction, nullptr,
    "WMI GetGamingMiscSettingFunction input: 0x%I32X",
    "WMI GetGamingMiscSettingFunction output: 0x%I64X",
    "kSvcCmdGetOperationModeCapbility is fail!!", "Rsponse data: 0x%I64X"};
constexpr FirmwareCommand kGetMode = {
    "get_operation_mode", &GetGamingMiscSettingFunction, nullptr,
    "WMI GetGamingMiscSettingFunction input: 0x%I32X",
    "WMI GetGamingMiscSettingFunction output: 0x%I64X", "kSvcCmdGetOperationMode is fail!!",
    "Rsponse data: 0x%I64X"};
constexpr FirmwareCommand kSetMode = {
    "set_operation_mode", nullptr, &SetGamingMiscSettingFunction,
    "WMI SetGamingMiscSettingFunction input: 0x%I64X",
    "WMI SetGamingMiscSettingFunction output: 0x%I32X", "SetGamingMiscSettingBehavior is fail!!",
    "Rsponse data: %d"};

// A whisper-mode switch stored with another type (older control applications wrote a string)
// would keep the control application from reading it; it is replaced by the DWORD 0. A missing
// value is left missing.
void NormaliseWhisperModeValue() {
  platform::Registry& reg = platform::Reg();
  if (reg.GetValue(win::RegRoot::kLocalMachine, kCalvaneKey, kWhisperModeValue, win::kRrfRtAny,
                   nullptr, nullptr, nullptr) != 0) {
    return;
  }
  uint32_t value = 0;
  uint32_t size = sizeof value;
  if (reg.GetValue(win::RegRoot::kLocalMachine, kCalvaneKey, kWhisperModeValue,
                   win::kRrfRtRegDword, nullptr, &value, &size) != 0) {
    write_reg_dword(kCalvaneKey, kWhisperModeValue, 0);
  }
}

}  // namespace

std::mutex FirmwareCommands::gaming_system_information_lock;

uint32_t OverclockLevelForMode(uint32_t mode) {
  switch (mode) {
    case 0:
    case 6:
      return 0;
    case 4:
      return 2;
    case 5:
      return 3;
    default:
      return 1;
  }
}

#define IB_GENERIC_FIRMWARE_COMMAND(handler, table_entry)                                  \
  void FirmwareCommands::handler(const ironbark::CommandRequest& request,                 \
                                 ironbark::CommandResponse& response) {                   \
    RunGeneric(table_entry, request, response);                                            \
  }

IB_GENERIC_FIRMWARE_COMMAND(wmi_get_gaming_system_information, kGamingSystemInformation)
IB_GENERIC_FIRMWARE_COMMAND(wmi_set_gaming_fan_group_behavior, kSetFanGroupBehavior)
IB_GENERIC_FIRMWARE_COMMAND(wmi_get_gaming_fan_group_behavior, kGetFanGroupBehavior)
IB_GENERIC_FIRMWARE_COMMAND(wmi_set_gaming_fan_group_speed, kSetFanGroupSpeed)
IB_GENERIC_FIRMWARE_COMMAND(wmi_get_gaming_fan_group_speed, kGetFanGroupSpeed)
IB_GENERIC_FIRMWARE_COMMAND(wmi_set_gaming_fan_table, kSetFanTable)
IB_GENERIC_FIRMWARE_COMMAND(wmi_get_gaming_fan_table, kGetFanTable)
IB_GENERIC_FIRMWARE_COMMAND(wmi_set_gaming_profile_configuration, kSetProfile)
IB_GENERIC_FIRMWARE_COMMAND(wmi_get_gaming_profile_configuration, kGetProfile)
IB_GENERIC_FIRMWARE_COMMAND(wmi_set_gaming_misc_setting, kSetMiscSetting)
IB_GENERIC_FIRMWARE_COMMAND(wmi_get_gaming_misc_setting, kGetMiscSetting)
IB_GENERIC_FIRMWARE_COMMAND(wmi_get_function, kGetFunction)
IB_GENERIC_FIRMWARE_COMMAND(wmi_set_function, kSetFunction)

#undef IB_GENERIC_FIRMWARE_COMMAND

void FirmwareCommands::get_operation_mode_capability(const ironbark::CommandRequest&,
                                                     ironbark::CommandResponse& response) {
  RunFirmwareCommand(kGetModeCapability, kOperationModeCapabilitySetting, response);
}

void FirmwareCommands::get_operation_mode(const ironbark::CommandRequest&,
                                          ironbark::CommandResponse& response) {
  RunFirmwareCommand(kGetMode, kOperationModeSetting, response);
}

void FirmwareCommands::set_operation_mode(const ironbark::CommandRequest& request,
                                          ironbark::CommandResponse& response) {
  const uint32_t mode = request.ArgumentU32(0);
  NormaliseWhisperModeValue();
  // The mode goes into byte 1, above the setting number in byte 0.
  const uint64_t input = (uint64_t{mode} << 8) | kOperationModeSetting;
  const uint64_t result = CallFirmware(kSetMode, input);
  // The GPU follows the requested mode even when the firmware refused it.
  gpu_set_oc_level(OverclockLevelForMode(mode));
  Answer(kSetMode, result, input, response);
}

}  // namespace ironbark
