#include "input/helm_launch.h"

#include <cstdint>
#include <vector>

#include "base/text.h"
#include "base/win_codes.h"
#include "log/log_file.h"
#include "log/message_format.h"
#include "platform/services.h"

namespace WindowsMessageLoop {
namespace {

constexpr const char* kHelmFunction = "WindowsMessageLoop::HelmKeyPressed";
constexpr const char* kSModeFunction = "WindowsMessageLoop::IsWindowsSMode";
constexpr const char* kLaunchFunction = "WindowsMessageLoop::LaunchAPP";
constexpr const char* kCalvaneKey = "SOFTWARE\\OEM\\Calvane";
constexpr const char* kBrandValue = "Model_Name_1st_brand";
constexpr const char* kPolicyKey = "SYSTEM\\CurrentControlSet\\Control\\CI\\Policy";
constexpr size_t kLineChars = 1024;
constexpr size_t kCommandLineChars = 260;

// Virtual keys of the six modifier keys.
constexpr uint8_t kVkLeftShift = 0xA0, kVkRightShift = 0xA1, kVkLeftControl = 0xA2,
                  kVkRightControl = 0xA3, kVkLeftMenu = 0xA4, kVkRightMenu = 0xA5;

void LogLaunch(const char* format, const std::string& text) {
  LogLine(kLogInfo, kLaunchFunction, FormatMessageSized(kLineChars, format, text.c_str()));
}

void LogLaunch(const char* format, bool success, const std::string& text) {
  LogLine(kLogInfo, kLaunchFunction,
          FormatMessageSized(kLineChars, format, success ? "success" : "fail", text.c_str()));
}

}  // namespace

std::string GetModelBrand() {
  platform::Registry& reg = platform::Reg();
  if (reg.GetValue(win::RegRoot::kLocalMachine, kCalvaneKey, kBrandValue, win::kRrfRtAny, nullptr,
                   nullptr, nullptr) == win::kErrorFileNotFound) {
    return "Vexor";
  }
  // A read that fills the buffer exactly may have been cut: read again with twice the room.
  std::vector<uint8_t> buffer(512);
  for (;;) {
    uint32_t size = static_cast<uint32_t>(buffer.size());
    const uint32_t rc = reg.GetValue(win::RegRoot::kLocalMachine, kCalvaneKey, kBrandValue,
                                     win::kRrfRtRegSz, nullptr, buffer.data(), &size);
    if ((rc == 0 && size == buffer.size()) || rc == win::kErrorMoreData) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0) return std::string();
    std::u16string wide;
    for (size_t i = 0; i + 1 < size; i += 2) {
      const char16_t unit = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
      if (unit == 0) break;
      wide.push_back(unit);
    }
    return text::Utf16ToUtf8(wide);
  }
}

bool IsWindowsSMode() {
  uint32_t value = 0;
  uint32_t size = sizeof value;
  if (platform::Reg().GetValue(win::RegRoot::kLocalMachine, kPolicyKey, "SkuPolicyRequired",
                               win::kRrfRtRegDword, nullptr, &value, &size) != 0 ||
      value != 1) {
    return false;
  }
  LogLine(kLogInfo, kSModeFunction, "Policy: Windows run in s mode");
  return true;
}

int HelmKeyPressed() {
  const std::string brand = GetModelBrand();
  LogLine(kLogInfo, kHelmFunction, FormatMessageSized(256, "Model_Name_1st_brand: %s", brand.c_str()));

  platform::RawInput& input = platform::RawInputDevices();
  const bool left_shift = input.IsKeyDown(kVkLeftShift), right_shift = input.IsKeyDown(kVkRightShift);
  const bool left_ctrl = input.IsKeyDown(kVkLeftControl), right_ctrl = input.IsKeyDown(kVkRightControl);
  const bool left_alt = input.IsKeyDown(kVkLeftMenu), right_alt = input.IsKeyDown(kVkRightMenu);
  const bool ctrl = left_ctrl || right_ctrl;
  const bool shift = left_shift || right_shift;
  const bool alt = left_alt || right_alt;
  int keys = left_shift + right_shift + left_ctrl + right_ctrl + left_alt + right_alt;
  LogLine(kLogInfo, kHelmFunction,
          FormatMessage64("ctrl:%d shift:%d alt:%d keys:%d", ctrl ? 1 : 0, shift ? 1 : 0,
                          alt ? 1 : 0, keys));

  // The Store brands take no modifier rule.
  const bool store_brand = brand == "Rovanta" || brand == "Corlan";
  if (store_brand) keys = 0;

  if (ctrl && keys == 1) {
    LogLine(kLogInfo, kHelmFunction, "Get Keyboard Input : CONTROL");
    if (brand == "Zephan") return LaunchAPP(kZephanHelmLauncher, kWidgetArgument, "");
    if (brand == "Vexor") return LaunchAPP(kVexorHelmLauncher, kWidgetArgument, "");
    return LaunchAPP("", kWidgetArgument, "");
  }
  if (shift && keys == 1) {
    LogLine(kLogInfo, kHelmFunction, "Get Keyboard Input : SHIFT");
    return LaunchAPP(kQuickPanelLauncher, "", "");
  }
  if (store_brand && IsWindowsSMode()) {
    return LaunchAPP(platform::Launcher().ModuleDirectory() + kStoreAppStarterName,
                     kCareAppArgument, "");
  }
  if (brand == "Zephan") return LaunchAPP(kZephanHelmLauncher, "", "");
  if (brand == "Vexor") return LaunchAPP(kVexorHelmLauncher, "", "");
  if (brand == "Rovanta") return LaunchAPP(kOmniHelmLauncher, "", kRovantaStoreProduct);
  return LaunchAPP(kOmniHelmLauncher, "", kOtherStoreProduct);
}

int LaunchAPP(const std::string& path, const std::string& command_line, const std::string& product) {
  platform::ProcessLauncher& launcher = platform::Launcher();
  if (!path.empty()) {
    if (!launcher.FileExists(path)) {
      LogLine(kLogInfo, kLaunchFunction, "File not exist");
    } else {
      const bool started = launcher.StartAsConsoleUser(
          {.application = path,
           .command_line = command_line,
           .creation_flags = platform::kCreateNewConsole | platform::kNormalPriorityClass});
      LogLaunch("Launch File path(%s): %s", started, path);
      if (started) return 1;
    }
  }
  LogLaunch("Launch file fail: %s", path);
  if (!product.empty()) {
    const std::string store_command = FormatMessageSized(
        kCommandLineChars, "/c \"start ms-windows-store://pdp/?productid=%s\"", product.c_str());
    const bool opened = launcher.StartAsConsoleUser(
        {.application = "cmd.exe",
         .command_line = store_command,
         .creation_flags = platform::kCreateNoWindow | platform::kNormalPriorityClass,
         .hidden = true});
    LogLaunch("Open ms store(%s): %s", opened, store_command);
    if (opened) return 1;
  }
  LogLaunch("Launch store fail: %s", product);
  return 0;
}

}  // namespace WindowsMessageLoop
