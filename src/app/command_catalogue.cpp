#include "app/command_catalogue.h"

#include <iterator>
#include <string_view>

namespace ironbark {
namespace {

using enum ArgKind;
using enum AnswerKind;

// The handler and the name its log lines carry, spelled once.
#define IB_OP(name) &IbClientCommandProcessor::name, #name

// Codes without a row are answered as unknown (logged, connection closed).
constexpr CommandRow kCatalogue[] = {
    {0, {IB_OP(dump_arguments)}, kTextItem},

    {1, {IB_OP(reg_create_key)}, kItem32, "key", "create", {{kText, "KEY"}}},
    {2, {IB_OP(reg_delete_key)}, kItem32, "key", "delete", {{kText, "KEY"}}},
    {3, {IB_OP(reg_create_value)}, kItem32, "value", "create",
     {{kText, "KEY"}, {kText, "NAME"}, {kRegType, "TYPE"}, {kData, "DATA"}}},
    {4, {IB_OP(reg_delete_value)}, kItem32, "value", "delete", {{kText, "KEY"}, {kText, "NAME"}}},
    {5, {IB_OP(reg_set_value)}, kItem32, "value", "set",
     {{kText, "KEY"}, {kText, "NAME"}, {kRegType, "TYPE"}, {kData, "DATA"}}},
    {6, {IB_OP(reg_get_value)}, kCodeThenData, "value", "get",
     {{kText, "KEY"}, {kText, "NAME"}, {kRegFlags, "FLAGS"}, {kU32, "SIZE"},
      {kData, "DEFAULT", true}}},

    // The reading firmware commands take a 32-bit selector, the writing ones a 64-bit value.
    {7,
     {IB_OP(wmi_get_gaming_system_information), "kSvcCmdWMIGetGamingSystemInformation",
      &FirmwareCommands::gaming_system_information_lock},
     kItem64, "sysinfo", "get", {{kU32, "N"}}},

    // The GPU metrics; N is the graphic card index.
    {8, {IB_OP(gpu_get_count), "kSvcCmdGPUGetCount"}, kItem32, "gpu", "count"},
    {9, {IB_OP(gpu_get_idle_state), "kSvcCmdGPUGetIdleState"}, kItem32, "gpu", "idle"},
    {10, {IB_OP(gpu_get_frequency), "kSvcCmdGPUGetFrequency"}, kItem32, "gpu", "frequency",
     {{kU32, "N"}}},
    {11, {IB_OP(gpu_get_max_frequency), "kSvcCmdGPUGetMaxFrequency"}, kItem32, "gpu",
     "max-frequency", {{kU32, "N"}}},
    {12, {IB_OP(gpu_get_usage), "kSvcCmdGPUGetUsage"}, kItem32, "gpu", "usage", {{kU32, "N"}}},
    {13, {IB_OP(wmi_set_gaming_fan_group_behavior), "kSvcCmdWMISetGamingFanGroupBehavior"},
     kItem32, "fan-behavior", "set", {{kU64, "VALUE"}}},
    {14, {IB_OP(wmi_get_gaming_fan_group_behavior), "kSvcCmdWMIGetGamingFanGroupBehavior"},
     kItem64, "fan-behavior", "get", {{kU32, "N"}}},
    {15, {IB_OP(wmi_set_gaming_fan_group_speed), "kSvcCmdWMISetGamingFanGroupSpeed"}, kItem32,
     "fan-speed", "set", {{kU64, "VALUE"}}},
    {16, {IB_OP(wmi_get_gaming_fan_group_speed), "kSvcCmdWMIGetGamingFanGroupSpeed"}, kItem64,
     "fan-speed", "get", {{kU32, "N"}}},
    {17, {IB_OP(wmi_set_gaming_fan_table), "kSvcCmdWMISetGamingFanTable"}, kItem32,
     "fan-table", "set", {{kU64, "VALUE"}}},
    // The firmware ignores the selector; the tool lets it be left out.
    {18, {IB_OP(wmi_get_gaming_fan_table), "kSvcCmdWMIGetGamingFanTable"}, kItem64,
     "fan-table", "get", {{kU32, "N", true}}},
    {19, {IB_OP(get_operation_mode_capability), "kSvcCmdGetOperationModeCapbility"}, kItem64,
     "op-mode", "capability"},
    {20, {IB_OP(get_operation_mode), "kSvcCmdGetOperationMode"}, kItem64, "op-mode", "get"},
    {21, {IB_OP(set_operation_mode), "kSvcCmdSetOperationMode"}, kItem32, "op-mode", "set",
     {{kU32, "MODE"}}},
    // The DTS sound mode; setting it answers nothing.
    {22, {IB_OP(get_dts_sound_mode), "kSvcCmdGetDTSSoundMode"}, kItem32, "dts", "get"},
    {23, {IB_OP(set_dts_sound_mode), "kSvcCmdSetDTSSoundMode"}, kNone, "dts", "set",
     {{kU32, "MODE"}}},
    {24,
     {IB_OP(wmi_set_gaming_profile_configuration), "kSvcCmdWMISetGamingProfileConfiguration"},
     kItem32, "profile", "set", {{kU64, "VALUE"}}},
    {25,
     {IB_OP(wmi_get_gaming_profile_configuration), "kSvcCmdWMIGetGamingProfileConfiguration"},
     kItem64, "profile", "get", {{kU32, "N"}}},
    {26, {IB_OP(wmi_set_gaming_misc_setting), "kSvcCmdWMISetGamingMiscSetting"}, kItem32,
     "misc-setting", "set", {{kU64, "VALUE"}}},
    {27, {IB_OP(wmi_get_gaming_misc_setting), "kSvcCmdWMIGetGamingMiscSetting"}, kItem64,
     "misc-setting", "get", {{kU32, "N"}}},

    {28, {IB_OP(set_stickykey), "kSvcCmdSetStickyKey"}, kItem32, "sticky-keys", "set",
     {{kOnOff, "on|off"}}},
    {29, {IB_OP(get_stickykey), "kSvcCmdGetStickyKey"}, kItem32, "sticky-keys", "get"},

    {30, {IB_OP(wmi_get_function), "kSvcCmdWMIGeFunction"}, kItem64, "function", "get",
     {{kU32, "N"}}},
    {31, {IB_OP(wmi_set_function), "kSvcCmdWMISetFunction"}, kItem32, "function", "set",
     {{kU64, "VALUE"}}},

    // The USB keyboard's own switches.
    {32, {IB_OP(usb_get_keyborad_backlight30s), "kSvcCmdGetKBBLoff30sControl"}, kItem32,
     "kb-backlight-30s", "get"},
    {33, {IB_OP(usb_set_keyborad_backlight30s), "kSvcCmdSetKBBLoff30sControl"}, kItem32,
     "kb-backlight-30s", "set", {{kOnOff, "on|off"}}},
    {34, {IB_OP(usb_set_win_menu_key_control), "kSvcCmdSetWinMenuKeyControl"}, kItem32,
     "win-key-lock", "set", {{kOnOff, "on|off"}}},
    {35, {IB_OP(usb_get_win_menu_key_control), "kSvcCmdGetWinMenuKeyControl"}, kItem32,
     "win-key-lock", "get"},

    {36, {IB_OP(apply_bios_logo), "kSvcCmdApplyBIOSLogo"}, kItem32, "logo", "apply",
     {{kText, "IMAGE"}, {kImageFormat, "gif|jpg"}}},
    {37, {IB_OP(restore_bios_logo), "kSvcCmdRestoreBIOSLogo"}, kItem32, "logo", "restore"},
    {38, {IB_OP(get_bios_logo), "kSvcCmdGetBIOSLogo"}, kItem32, "logo", "get"},

    // The keyboard backlight as the embedded controller keeps it.
    {65, {IB_OP(hid_get_keyborad_backlight30s), "kSvcCmdHIDGetKBBLoff30sControl"}, kItems32x3,
     "ec-backlight", "get"},
    {66, {IB_OP(hid_set_keyborad_backlight30s), "kSvcCmdHIDSetKBBLoff30sControl"}, kItem32,
     "ec-backlight", "set", {{kU32, "BRIGHTNESS"}, {kU32, "SECONDS"}}},
};

#undef IB_OP

constexpr bool CodesAscend() {
  for (size_t i = 1; i < std::size(kCatalogue); ++i) {
    if (kCatalogue[i].code <= kCatalogue[i - 1].code) return false;
  }
  return true;
}
static_assert(CodesAscend(), "one row per code, in code order");

constexpr bool NamedFormsDiffer() {
  for (size_t i = 0; i < std::size(kCatalogue); ++i) {
    for (size_t j = i + 1; j < std::size(kCatalogue); ++j) {
      const CommandRow& a = kCatalogue[i];
      const CommandRow& b = kCatalogue[j];
      if (a.noun != nullptr && b.noun != nullptr && std::string_view(a.noun) == b.noun &&
          std::string_view(a.verb) == b.verb) {
        return false;
      }
    }
  }
  return true;
}
static_assert(NamedFormsDiffer(), "a named form stands for one command");

constexpr bool OnlyTheLastArgumentIsOptional() {
  for (const CommandRow& row : kCatalogue) {
    for (size_t k = 0; k + 1 < kMaxCommandArgs; ++k) {
      if (row.args[k].optional && row.args[k + 1].name != nullptr) return false;
    }
  }
  return true;
}
static_assert(OnlyTheLastArgumentIsOptional());

}  // namespace

std::span<const CommandRow> CommandCatalogue() { return kCatalogue; }

}  // namespace ironbark

const ironbark::CommandTable g_CommandHandlers = [] {
  ironbark::CommandTable table;
  for (const ironbark::CommandRow& row : ironbark::CommandCatalogue()) {
    table.emplace(row.code, row.entry);
  }
  return table;
}();
