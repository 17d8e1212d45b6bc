// The firmware commands of the command pipe: thin pass-throughs from one request argument to
// one firmware wrapper and back, plus the operation-mode commands.
#include <cstdint>
#include <mutex>
#include <string>

#include "base/win_codes.h"
#include "firmware/wmi_access.h"
#include "gpu/overclock.h"
#include "log/log_file.h"
#include "log/message_format.h"
#include "pipe/command_processor.h"
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
// response line also gets the input, used by formats that show it).
struct FirmwareCommand {
  const char* handler;
  const char* entry;
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

// Logs the input line, calls the wrapper with `input`, logs the output or failure line and
// answers the result; the entry line is the caller's.
void RunFirmwareCommand(const FirmwareCommand& command, uint64_t input,
                        pipeproto::CommandResponse& response) {
  if (command.read != nullptr) {
    const uint32_t argument = static_cast<uint32_t>(input);
    Log(command, FormatMessageSized(kMessageChars, command.input_line, argument));
    uint64_t result = 0;
    uint64_t output = 0;
    if (command.read(argument, &output)) {
      result = output;
      Log(command, FormatMessageSized(kMessageChars, command.output_line, output));
    } else {
      Log(command, command.failure_line);
      result = kReadFailure;
    }
    pipeproto::BuildResponse(response, {{&result, sizeof result}});
    Log(command, FormatMessageSized(kMessageChars, command.response_line, result, argument));
    return;
  }
  Log(command, FormatMessageSized(kMessageChars, command.input_line, input));
  uint32_t result = 0;
  uint32_t output = 0;
  if (command.write(input, &output)) {
    result = output;
    Log(command, FormatMessageSized(kMessageChars, command.output_line, output));
  } else {
    Log(command, command.failure_line);
    result = kWriteFailure;
  }
  pipeproto::BuildResponse(response, {{&result, sizeof result}});
  Log(command, FormatMessageSized(kMessageChars, command.response_line, result));
}

// The generic command: entry line, argument 0 at the command's width, then the firmware call.
void RunGeneric(const FirmwareCommand& command, const pipeproto::CommandRequest& request,
                pipeproto::CommandResponse& response) {
  Log(command, command.entry);
  const uint64_t input =
      command.read != nullptr ? uint64_t{request.ArgumentU32(0)} : request.ArgumentU64(0);
  RunFirmwareCommand(command, input, response);
}

constexpr const char* kGetFail = "GetCorlanGamingSystemConfiguration is fail!!";
constexpr const char* kSetFail = "SetCorlanGamingLEDBehavior is fail!!";

constexpr FirmwareCommand kGamingSystemInformation = {
    "wmi_get_gaming_system_information", "kSvcCmdWMIGetGamingSystemInformation",
    &GetGamingSystemInformationFunction, nullptr, "input: 0x%I32X", "output: 0x%I64X",
    kGetFail, "Rsponse data: 0x%I64X of 0x%I32X"};
constexpr FirmwareCommand kSetFanGroupBehavior = {
    "wmi_set_gaming_fan_group_behavior", "kSvcCmdWMISetGamingFanGroupBehavior", nullptr,
    &SetGamingFanGroupBehaviorFunction, "WMI SetGamingFanGroupBehaviorFunction input: 0x%I64X",
    "WMI SetGamingFanGroupBehaviorFunction output: 0x%I32X", kSetFail, "Rsponse data: %d"};
constexpr FirmwareCommand kGetFanGroupBehavior = {
    "wmi_get_gaming_fan_group_behavior", "kSvcCmdWMIGetGamingFanGroupBehavior",
    &GetGamingFanGroupBehaviorFunction, nullptr,
    "WMI GetGamingFanGroupBehaviorFunction input: 0x%I32X",
    "WMI GetGamingFanGroupBehaviorFunction output: 0x%I64X", kGetFail, "Rsponse data: 0x%I64X"};
constexpr FirmwareCommand kSetFanGroupSpeed = {
    "wmi_set_gaming_fan_group_speed", "kSvcCmdWMISetGamingFanGroupSpeed", nullptr,
    &SetGamingFanGroupSpeedFunction, "WMI SetGamingFanGroupSpeedFunction input: 0x%I64X",
    "WMI SetGamingFanGroupSpeedFunction output: 0x%I32X", kSetFail, "Rsponse data: %d"};
constexpr FirmwareCommand kGetFanGroupSpeed = {
    "wmi_get_gaming_fan_group_speed", "kSvcCmdWMIGetGamingFanGroupSpeed",
    &GetGamingFanGroupSpeedFunction, nullptr, "WMI GetGamingFanGroupSpeedFunction input: 0x%I32X",
    "WMI GetGamingFanGroupSpeedFunction output: 0x%I64X", kGetFail, "Rsponse data: 0x%I64X"};
constexpr FirmwareCommand kSetFanTable = {
    "wmi_set_gaming_fan_table", "kSvcCmdWMISetGamingFanTable", nullptr,
    &SetGamingFanTableFunction, "WMI SetGamingFanTableFunction input: 0x%I64X",
    "WMI SetGamingFanTableFunction output: 0x%I32X", kSetFail, "Rsponse data: %d"};
// The firmware method takes no input: the argument is read and logged but never sent.
constexpr FirmwareCommand kGetFanTable = {
    "wmi_get_gaming_fan_table", "kSvcCmdWMIGetGamingFanTable", &GetGamingFanTableFunction,
    nullptr, "WMI GetGamingFanTableFunction input: 0x%I32X",
    "WMI GetGamingFanTableFunction output: 0x%I64X", kGetFail, "Rsponse data: 0x%I64X"};
constexpr FirmwareCommand kSetProfile = {
    "wmi_set_gaming_profile_configuration", "kSvcCmdWMISetGamingProfileConfiguration", nullptr,
    &SetGamingProfileConfigurationFunction,
    "WMI SetGamingProfileConfigurationFunction input: 0x%I64X",
    "WMI SetGamingProfileConfigurationFunction output: 0x%I32X", kSetFail, "Rsponse data: %d"};
constexpr FirmwareCommand kGetProfile = {
    "wmi_get_gaming_profile_configuration", "kSvcCmdWMIGetGamingProfileConfiguration",
    &GetGamingProfileConfigurationFunction, nullptr,
    "WMI GetGamingProfileConfigurationFunction input: 0x%I32X",
    "WMI GetGamingProfileConfigurationFunction output: 0x%I64X", kGetFail,
    "Rsponse data: 0x%I64X"};
constexpr FirmwareCommand kSetMiscSetting = {
    "wmi_set_gaming_misc_setting", "kSvcCmdWMISetGamingMiscSetting", nullptr,
    &SetGamingMiscSettingFunction, "WMI SetGamingMiscSettingFunction input: 0x%I64X",
    "WMI SetGamingMiscSettingFunction output: 0x%I32X", "SetGamingMiscSettingBehavior is fail!!",
    "Rsponse data: %d"};
constexpr FirmwareCommand kGetMiscSetting = {
    "wmi_get_gaming_misc_setting", "kSvcCmdWMIGetGamingMiscSetting",
    &GetGamingMiscSettingFunction, nullptr, "WMI GetGamingMiscSettingFunction input: 0x%I32X",
    "WMI GetGamingMiscSettingFunction output: 0x%I64X", "GetGamingMiscSettingBehavior is fail!!",
    "Rsponse data: %I64u"};
constexpr FirmwareCommand kGetFunction = {
    "wmi_get_function", "kSvcCmdWMIGeFunction", &GetFunction, nullptr,
    "WMI GetFunction input: 0x%I32X", "WMI GetFunction output: 0x%I64X", kGetFail,
    "Rsponse data: %I64u"};
constexpr FirmwareCommand kSetFunction = {
    "wmi_set_function", "kSvcCmdWMISetFunction", nullptr, &SetFunction,
    "WMI SetFunction input: 0x%I64X", "WMI SetFunction output: 0x%I32X", kSetFail,
    "Rsponse data: %u"};

// The operation-mode commands send fixed setting numbers instead of the client's argument.
constexpr FirmwareCommand kGetModeCapability = {
    "get_operation_mode_capability", "kSvcCmdGetOperationModeCapbility",
    &GetGamingMiscSettingFunction, nullptr, "WMI GetGamingMiscSettingFunction input: 0x%I32X",
    "WMI GetGamingMiscSettingFunction output: 0x%I64X",
    "kSvcCmdGetOperationModeCapbility is fail!!", "Rsponse data: 0x%I64X"};
constexpr FirmwareCommand kGetMode = {
    "get_operation_mode", "kSvcCmdGetOperationMode", &GetGamingMiscSettingFunction, nullptr,
    "WMI GetGamingMiscSettingFunction input: 0x%I32X",
    "WMI GetGamingMiscSettingFunction output: 0x%I64X", "kSvcCmdGetOperationMode is fail!!",
    "Rsponse data: 0x%I64X"};
constexpr FirmwareCommand kSetMode = {
    "set_operation_mode", "kSvcCmdSetOperationMode", nullptr, &SetGamingMiscSettingFunction,
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

}  // namespace

void IbClientCommandProcessor::wmi_get_gaming_system_information(
    const pipeproto::CommandRequest& request, pipeproto::CommandResponse& response) {
  static std::mutex mutex;
  std::scoped_lock lock(mutex);
  RunGeneric(kGamingSystemInformation, request, response);
}

#define IB_GENERIC_FIRMWARE_COMMAND(handler, table_entry)                                  \
  void IbClientCommandProcessor::handler(const pipeproto::CommandRequest& request,         \
                                         pipeproto::CommandResponse& response) {           \
    RunGeneric(table_entry, request, response);                                            \
  }

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

void IbClientCommandProcessor::get_operation_mode_capability(const pipeproto::CommandRequest&,
                                                             pipeproto::CommandResponse& response) {
  Log(kGetModeCapability, kGetModeCapability.entry);
  RunFirmwareCommand(kGetModeCapability, kOperationModeCapabilitySetting, response);
}

void IbClientCommandProcessor::get_operation_mode(const pipeproto::CommandRequest&,
                                                  pipeproto::CommandResponse& response) {
  Log(kGetMode, kGetMode.entry);
  RunFirmwareCommand(kGetMode, kOperationModeSetting, response);
}

void IbClientCommandProcessor::set_operation_mode(const pipeproto::CommandRequest& request,
                                                  pipeproto::CommandResponse& response) {
  Log(kSetMode, kSetMode.entry);
  const uint32_t mode = request.ArgumentU32(0);
  NormaliseWhisperModeValue();
  // The mode goes into byte 1, above the setting number in byte 0.
  const uint64_t input = (uint64_t{mode} << 8) | kOperationModeSetting;
  Log(kSetMode, FormatMessageSized(kMessageChars, kSetMode.input_line, input));
  uint32_t result = 0;
  uint32_t output = 0;
  if (SetGamingMiscSettingFunction(input, &output)) {
    result = output;
    Log(kSetMode, FormatMessageSized(kMessageChars, kSetMode.output_line, output));
  } else {
    Log(kSetMode, kSetMode.failure_line);
    result = kWriteFailure;
  }
  // The GPU follows the requested mode even when the firmware refused it.
  gpu_set_oc_level(OverclockLevelForMode(mode));
  pipeproto::BuildResponse(response, {{&result, sizeof result}});
  Log(kSetMode, FormatMessageSized(kMessageChars, kSetMode.response_line, result));
}

}  // namespace ironbark
