#include "hid/hid_commands.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "hid/ec_hid.h"
#include "hid/keyboard_hid.h"
#include "log/message_format.h"
#include "pipe/handler_log.h"
#include "platform/services.h"
#include "registry/registry_values.h"

namespace ironbark {
namespace {

using corlan::QRN300::EcHID;
using corlan::QRN300::KeyboardHID;

constexpr size_t kMessageChars = kHandlerMessageChars;
constexpr const char* kCalvaneKey = "SOFTWARE\\OEM\\Calvane";
constexpr uint32_t kOk = 0;
constexpr uint32_t kFailed = 1;
constexpr int kAttempts = 5;

std::string Format(const char* format, unsigned a, unsigned b = 0) {
  return FormatMessageSized(kMessageChars, format, a, b);
}

// Argument `i` when it is there and at most 4 bytes long.
std::optional<uint32_t> SmallArgument(const ironbark::CommandRequest& request, size_t i) {
  if (!request.HasArgument(i) || request.ArgumentLength(i) > 4) return std::nullopt;
  return request.ArgumentU32(i);
}

void Answer(ironbark::CommandResponse& response, uint32_t value) {
  ironbark::BuildResponse(response, {{&value, sizeof value}});
}

void Answer(ironbark::CommandResponse& response, uint32_t first, uint32_t second, uint32_t third) {
  ironbark::BuildResponse(response,
                          {{&first, sizeof first}, {&second, sizeof second}, {&third, sizeof third}});
}

void LogErrorCode(std::string_view operation, uint32_t code) {
  LogProcessor(operation, Format("Rsponse errcode: %u", code));
}

// A set command's body; any exception answers 1.
template <typename Body>
void SetCommand(std::string_view operation, ironbark::CommandResponse& response, Body body) {
  uint32_t code = kFailed;
  try {
    code = body() ? kOk : kFailed;
  } catch (...) {
    code = kFailed;
  }
  Answer(response, code);
  LogErrorCode(operation, code);
}

// `query` up to five times, `pause` after each failed attempt; true on the first success.
template <typename Query>
bool Attempts(std::chrono::milliseconds pause, Query query) {
  return platform::RetryWithPause(kAttempts, pause, query);
}

}  // namespace

void HidCommands::usb_get_keyborad_backlight30s(const ironbark::CommandRequest&,
                                                ironbark::CommandResponse& response) {
  constexpr std::string_view kOp = "usb_get_keyborad_backlight30s";
  LogProcessor(kOp, "Get Keyboard backlighting off 30s status");
  uint32_t state = 0;
  const bool ok = KeyboardHID::GetKeyboardBacklightingOff30s(state);
  LogProcessor(kOp, Format("Output Keyboard backlighting: %d", state));
  Answer(response, state);
  LogErrorCode(kOp, ok ? kOk : kFailed);
}

void HidCommands::usb_set_keyborad_backlight30s(const ironbark::CommandRequest& request,
                                                ironbark::CommandResponse& response) {
  constexpr std::string_view kOp = "usb_set_keyborad_backlight30s";
  SetCommand(kOp, response, [&] {
    const uint32_t state = SmallArgument(request, 0).value_or(0);
    LogProcessor(kOp, Format("Input Keyboard backlighting off 30s state: %d", state));
    return KeyboardHID::SetKeyboardBacklightingOff30s(state);
  });
}

void HidCommands::usb_set_win_menu_key_control(const ironbark::CommandRequest& request,
                                               ironbark::CommandResponse& response) {
  constexpr std::string_view kOp = "usb_set_win_menu_key_control";
  SetCommand(kOp, response, [&] {
    const uint32_t state = SmallArgument(request, 0).value_or(0);
    LogProcessor(kOp, Format("Input Win Menu key state: %d", state));
    return KeyboardHID::SetWinMenuKeyControl(state);
  });
}

void HidCommands::usb_get_win_menu_key_control(const ironbark::CommandRequest&,
                                               ironbark::CommandResponse& response) {
  constexpr std::string_view kOp = "usb_get_win_menu_key_control";
  try {
    LogProcessor(kOp, "Get Win and Menu status");
    uint32_t value = 0;
    const bool ok = KeyboardHID::GetWinMenuKeyControl(value);
    LogProcessor(kOp, Format("Output Win and Menu: %d", value));
    Answer(response, value);
    LogErrorCode(kOp, ok ? kOk : kFailed);
  } catch (...) {
    Answer(response, kFailed);
    LogErrorCode(kOp, kFailed);
  }
}

void HidCommands::hid_get_keyborad_backlight30s(const ironbark::CommandRequest&,
                                                ironbark::CommandResponse& response) {
  constexpr std::string_view kOp = "hid_get_keyborad_backlight30s";
  LogProcessor(kOp, "Get Keyboard backlighting off 30s status");
  uint32_t state = 0, brightness = 50, timeout = 30;
  // 0xE001 is the EC's final word that it has no values: the defaults stand, without error.
  const bool answered = Attempts(std::chrono::milliseconds(20), [&] {
    const uint16_t result = EcHID::GetDeviceStatus(corlan::QRN300::kEcDeviceKeyboardBacklight,
                                                   state, brightness, timeout);
    return result == corlan::QRN300::kEcSuccess || result == corlan::QRN300::kEcNoValues;
  });
  const uint32_t code = answered ? kOk : kFailed;
  LogProcessor(kOp, Format("Output Keyboard backlighting brightness: %u timeout: %u", brightness,
                           timeout));
  Answer(response, brightness, timeout, code);
  LogErrorCode(kOp, code);
}

void HidCommands::hid_set_keyborad_backlight30s(const ironbark::CommandRequest& request,
                                                ironbark::CommandResponse& response) {
  constexpr std::string_view kOp = "hid_set_keyborad_backlight30s";
  SetCommand(kOp, response, [&] {
    const uint32_t brightness = SmallArgument(request, 0).value_or(100);
    const uint32_t timeout = SmallArgument(request, 1).value_or(30);
    LogProcessor(kOp, Format("Input Keyboard backlighting off %u s brightness: %u", timeout,
                             brightness));
    return EcHID::SetDeviceStatus(corlan::QRN300::kEcDeviceKeyboardBacklight,
                                  static_cast<uint16_t>(brightness),
                                  static_cast<uint16_t>(timeout));
  });
}

void HidCommands::check_EC_HID_support() {
  constexpr std::string_view kOp = "check_EC_HID_support";
  constexpr std::chrono::milliseconds kPause(10);
  bool support = false;
  try {
    uint32_t version = 0;
    if (Attempts(kPause, [&] { return EcHID::GetDataVersion(version); })) {
      LogProcessor(kOp, Format("EC_HID_Version: %d.%d", version & 0xFF, (version >> 8) & 0xFF));
    } else {
      version = 0;
    }
    write_reg_dword(kCalvaneKey, "EC_HID_Version", version);

    uint32_t capability = 0;
    if (Attempts(kPause, [&] { return EcHID::GetOCProfileCap(capability); })) {
      support = capability != 0;
      LogProcessor(kOp, Format("EC_HID_OC_Capability: %d", capability));
    } else {
      capability = 0;
    }
    write_reg_dword(kCalvaneKey, "EC_HID_OC_Capability", capability);

    corlan::QRN300::OCProfile profile;
    if (Attempts(kPause, [&] { return EcHID::GetOCProfile(profile); })) {
      support = true;
      LogProcessor(kOp, "Support EC HID device");
    }
  } catch (...) {
    LogProcessor(kOp, "check_EC_HID_support exception!");
  }
  write_reg_dword(kCalvaneKey, "EC_HID_Support", support ? 1 : 0);
}

}  // namespace ironbark
