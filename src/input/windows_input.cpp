#include "input/windows_input.h"

#include "base/win_codes.h"
#include "input/helm_launch.h"
#include "log/log_file.h"
#include "pipe/agent_client.h"
#include "platform/services.h"
#include "registry/registry_values.h"

namespace WindowsMessageLoop {
namespace {

constexpr const char* kFunction = "WindowsMessageLoop::WindowsInput";
constexpr const char* kCalvaneKey = "SOFTWARE\\OEM\\Calvane";

// Scan codes of the dedicated keys (with the E0 prefix).
constexpr uint16_t kHelmScanCode = 0x75;
// Vendor reports carry this in byte 2 when byte 1 is one of the special keys.
constexpr uint8_t kVendorKeyMarker = 0xFF;
constexpr uint8_t kVendorHelmKey = 0x81;

// Set while a keyboard Helm press that was acted on has not been released; touched only on the
// main thread.
bool g_HelmKeyPressed = false;

// "EC_HID_Support" as the hotkeys see it: a value that cannot be read as a DWORD is rewritten
// as 0 and counts as 0, also when the rewrite fails. True: the Helm key is left alone.
bool EcHidTransitionMode() {
  uint32_t value = 0;
  uint32_t size = sizeof value;
  if (platform::Reg().GetValue(win::RegRoot::kLocalMachine, kCalvaneKey, "EC_HID_Support",
                               win::kRrfRtRegDword, nullptr, &value, &size) != 0) {
    write_reg_dword(kCalvaneKey, "EC_HID_Support", 0);
    value = 0;
  }
  if (value != 1) return false;
  LogLine(kLogInfo, kFunction, "EC HID transition mode ignore helm key action");
  return true;
}

void HelmKeyDownFromKeyboard() {
  if (EcHidTransitionMode()) return;
  LogLine(kLogInfo, kFunction, "Message: 0x75");
  if (g_HelmKeyPressed) {
    LogLine(kLogInfo, kFunction, "Helm key already pressed.");
    return;
  }
  g_HelmKeyPressed = true;
  HelmKeyPressed();
}

void DecodeKeyboard(uint16_t make_code, uint16_t flags) {
  using namespace namedpipe_agent_service_function;
  // Only E0-prefixed codes are the dedicated keys; flags 2 is their key-down, 3 their key-up.
  constexpr uint16_t kDown = platform::kRiKeyE0;
  constexpr uint16_t kUp = platform::kRiKeyE0 | platform::kRiKeyBreak;
  if (make_code == kHelmScanCode && flags == kDown) {
    HelmKeyDownFromKeyboard();
    return;
  }
  if (make_code == kHelmScanCode && flags == kUp) {
    g_HelmKeyPressed = false;
    LogLine(kLogInfo, kFunction, "Helm key release.");
    return;
  }
  if (flags != kDown) return;
  // The brightness keys: scan code, its line, the hotkey value the agent receives.
  static constexpr struct { uint16_t make_code; const char* line; uint32_t hotkey; } kBrightness[] = {
      {0x6F, "Message: 0x6F", 1},
      {0x70, "Message: 0x70", 0},
      {0x77, "Message: 0x77", 2},
  };
  for (const auto& key : kBrightness) {
    if (key.make_code != make_code) continue;
    LogLine(kLogInfo, kFunction, key.line);
    SendBrightnessHotkeyEvent(key.hotkey);
    return;
  }
}

void DecodeVendorReport(uint8_t key, uint8_t marker) {
  using namespace namedpipe_agent_service_function;
  if (marker != kVendorKeyMarker) return;
  if (key == kVendorHelmKey) {
    // No pressed flag on this path: every report launches.
    if (EcHidTransitionMode()) return;
    LogLine(kLogInfo, kFunction, "Keyboard VexorHelm Key");
    HelmKeyPressed();
    return;
  }
  enum class Send { kNone, kHotkey, kThirtySeconds };
  static constexpr struct { uint8_t key; const char* line; Send send; uint32_t value; } kKeys[] = {
      {0x7C, "Keyboard Backlight brightness up", Send::kHotkey, 1},
      {0x7D, "Keyboard Backlight brightness down", Send::kHotkey, 0},
      {0x85, "Operation Mode Switch", Send::kNone, 0},
      {0x89, "Keyboard Backlight 30 sec OFF", Send::kThirtySeconds, 0},
      {0x8A, "Keyboard Backlight 30 sec ON", Send::kThirtySeconds, 1},
  };
  for (const auto& entry : kKeys) {
    if (entry.key != key) continue;
    LogLine(kLogInfo, kFunction, entry.line);
    if (entry.send == Send::kHotkey) SendBrightnessHotkeyEvent(entry.value);
    if (entry.send == Send::kThirtySeconds) SendBrightness30SecEvent(entry.value);
    return;
  }
}

}  // namespace

void RegisterRawInput(void* window) {
  for (const platform::RawInputDevice& device : kRawInputDevices) {
    platform::RawInputDevices().RegisterDevice(device, window);
  }
}

void WindowsInput(intptr_t raw_input_handle) {
  const std::optional<platform::RawInputRecord> record =
      platform::RawInputDevices().ReadInput(raw_input_handle);
  if (record) DecodeRawInput(*record);
}

void DecodeRawInput(const platform::RawInputRecord& record) {
  switch (record.type) {
    case platform::kRimTypeKeyboard:
      DecodeKeyboard(record.make_code, record.flags);
      break;
    case platform::kRimTypeHid:
      DecodeVendorReport(record.hid_bytes[1], record.hid_bytes[2]);
      break;
    default:  // mice, and anything else, are read and dropped
      break;
  }
}

}  // namespace WindowsMessageLoop
