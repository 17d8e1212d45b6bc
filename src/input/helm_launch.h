// The control-application launch: what the Helm key starts, chosen by the machine's brand (as
// the start-up survey published it), the modifier keys held at that moment and the S mode of
// Windows, started in the console user's session (platform/process_launcher.h). Runs
// synchronously on the main thread. Lines go to the service log under
// "WindowsMessageLoop::" + the operation's name.
#pragma once
#include <string>

namespace WindowsMessageLoop {

// The programs and arguments of the decision.
inline constexpr const char* kZephanHelmLauncher =
    "C:\\Program Files\\ZephanHelm\\Prerequisites\\ZephanHelmLauncher.exe";
inline constexpr const char* kVexorHelmLauncher =
    "C:\\Program Files\\VexorHelm\\Prerequisites\\VexorHelmLauncher.exe";
inline constexpr const char* kQuickPanelLauncher =
    "C:\\Program Files\\Corlan\\TrayDeck\\CorlanTrayDeckLauncher.exe";
inline constexpr const char* kOmniHelmLauncher =
    "C:\\Program Files\\OmniHelm\\Prerequisites\\HelmLauncher.exe";
inline constexpr const char* kStoreAppStarterName = "\\LaunchUWPApp.exe";  // beside the broker
inline constexpr const char* kWidgetArgument = " /widget";
inline constexpr const char* kCareAppArgument = " CorlanMendBay";
inline constexpr const char* kRovantaStoreProduct = "9XQ4ZR2MWT8B";
inline constexpr const char* kOtherStoreProduct = "9KV7PL3HDN5C";

// Reads the brand and the six modifier keys, takes the first rule of the decision that applies
// and launches its program; answers LaunchAPP's result.
int HelmKeyPressed();

// "Model_Name_1st_brand" under HKLM "SOFTWARE\OEM\Calvane": "Vexor" when the value does not
// exist, the empty string when it cannot be read as a string.
std::string GetModelBrand();

// "SkuPolicyRequired" under HKLM "SYSTEM\CurrentControlSet\Control\CI\Policy" is 1.
bool IsWindowsSMode();

// Starts `path` with `command_line` in the console user's session; when that fails and
// `product` is not empty, opens the Microsoft Store page of `product` instead. 1 when something
// was started, else 0.
int LaunchAPP(const std::string& path, const std::string& command_line, const std::string& product);

}  // namespace WindowsMessageLoop
