// The start-up capability survey, IbClientCommandProcessor::Initialize, with its checks and its
// dice. Its waits go through platform::Time().
#pragma once
#include <string>

namespace ironbark {

struct CapabilitySurvey {
  // Run once per start on its own thread: publishes what this notebook can do under HKLM
  // "SOFTWARE\OEM\Calvane" and its subkeys "LightSetting", "AdvanceSettings", "Overclock".
  // Every step stands alone: a failing source skips only the values that depend on it. Never
  // throws.
  static void Initialize();
  // The agent-service driver's "DriverVersion" from its class key; empty when the device, its
  // driver key or the value is missing.
  static std::string get_driver_version_string();
  // 1 when SMBIOS type-172 function 15 has the value 1; else 0 (absent, no table, exception).
  static int OperationMode_support();
  // The survey's checks below write their own values; none throws.
  static void Get_BK_Hotkey_Number();
  static void get_ac_support_from_smbios();
  static void KeyboardType_support();
  static void check_overdrive_LCD_support();
  static void check_Discrete_GPU_support();
  // 1 when SMBIOS type-172 function 13 has the value 1 (the POST screen can be customised);
  // else 0. Writes nothing.
  static int get_customize_post_from_smbios();
  static void check_boot_sound_switch_support();
  // Asks the firmware for its system information (input 0); only logs.
  static void get_support_fan_amount();
};

}  // namespace ironbark

// Bounds of the delay a repeated survey waits before it starts (milliseconds, both included).
inline constexpr int kSurveyStartupDelayMinMs = 9000;
inline constexpr int kSurveyStartupDelayMaxMs = 15000;

// One draw of the start-up delay, uniform over [kSurveyStartupDelayMinMs,
// kSurveyStartupDelayMaxMs], from the process's Mersenne twister (mt19937), seeded once from
// std::random_device on first use. Safe to call from several threads.
int survey_draw_startup_delay_ms();
