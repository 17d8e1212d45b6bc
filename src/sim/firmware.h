// The simulated notebook's gaming firmware as a machine profile describes it: the two WMI
// classes that carry its methods, the methods as its managed object format declares them, its
// settings at power-on and the defects a profile may give it. The running firmware (its state
// and what each method answers) is SimulatedNotebook; the WMI provider applies the defects.
//
// Profile sections (defaults in parentheses; machines/README.md has the long form). The
// misc-setting and function values are the data bits above the status byte (bits 8 and up of
// the method output), "56-bit" values:
//   [firmware]   integer_outputs = wmi | typed (wmi): how integers reach the caller. wmi is how
//                Windows hands them over (64-bit as decimal text, 32-bit as VT_I4, 8-bit as
//                VT_UI1); typed gives VT_UI8 / VT_UI4 / VT_UI1
//                fan_groups = 1..8 (2)
//   [CorlanGamingFunction], [FwxAction]
//                present = yes | no (yes)
//                instance_name = text ("ACPI\PNP0C14\0_0", "ACPI\PNP0C14\1_0"), non-empty
//                leading_instances = list of missing | null | empty: instances listed before
//                the real one whose InstanceName is absent, null or "" (none)
//   [state]      operation_mode = 0..255 (1)            misc setting 11
//                operation_mode_capability = 56-bit (0xFF)  misc setting 10, bit n = mode n
//                dgpu_setting = 56-bit (0x01)           misc setting 9: byte 1 = dGPU mode,
//                                                       bit 2 (output bit 10) = no dGPU switch
//                boot_sound = 0..255 (1)                misc setting 17, 0xFF = unsupported
//                gaming_profile = 56-bit (0)            GetGamingProfile 0 output bits 8..63
//                lcd_overdrive = 0..255 (1)             output byte 6 of it, 0xFF = unsupported
//                fan_behavior, fan_speed = 56-bit (0)   every fan group's initial value
//                fan_table = 56-bit (0)
//                led_bytes = 1..64 hex bytes separated by blanks (16 zero bytes)
//                turbo_key = 0..3 (0)                   bits 0..1 of LED byte 0
//                adaptors = 1 | 2 (1); ac_present, battery_boost = yes | no (yes, no)
//   [misc_settings]  N = 56-bit value: further misc settings (N = 0..255, not 9, 10, 11, 17)
//   [functions]  N = 56-bit value: FwxAction functions (N = 0..255, not 10)
//   [fault METHOD]  METHOD is a firmware method name ("GetGamingMiscSetting"), once each:
//                missing = yes            the class has no such method
//                exec_error = HRESULT     ExecMethod fails with it (negative 32-bit, 0x8...)
//                status = 1..255          byte 0 of the output
//                output = null | absent | text:ANYTHING   the output property is VT_NULL,
//                                         missing, or that text
#pragma once
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/profile_format.h"

namespace sim {

enum class FirmwareMethod {
  kGetGamingSysInfo,
  kSetGamingProfile,
  kGetGamingProfile,
  kGetGamingLED,
  kSetGamingFanBehavior,
  kGetGamingFanBehavior,
  kSetGamingFanSpeed,
  kGetGamingFanSpeed,
  kSetGamingFanTable,
  kGetGamingFanTable,
  kSetGamingMiscSetting,
  kGetGamingMiscSetting,
  kGetFunction,
  kSetFunction,
};

// A method as the firmware's managed object format declares it.
struct FirmwareMethodSpec {
  FirmwareMethod id;
  std::string_view class_name;      // "CorlanGamingFunction" or "FwxAction"
  std::string_view name;            // "GetGamingMiscSetting"
  std::string_view input_property;  // "gmInput" / "uiInput"; empty: the method takes no input
  int input_bits;                   // 32 or 64 (0 without input)
  std::string_view output_property; // "gmOutput" / "uiOutput"
  int output_bits;                  // 32 or 64; GetGamingLED: 64-bit "gmReturn" + byte array
};

inline constexpr std::string_view kGamingFunctionClass = "CorlanGamingFunction";
inline constexpr std::string_view kFwxActionClass = "FwxAction";

// All methods of both classes.
std::span<const FirmwareMethodSpec> FirmwareMethods();
// The method `name` of `class_name` (exact spelling of the name, class case-insensitive), or
// null.
const FirmwareMethodSpec* FindFirmwareMethod(std::string_view class_name, std::string_view name);
// Any class's method of that name, or null.
const FirmwareMethodSpec* FindFirmwareMethod(std::string_view name);

// Misc-setting and function numbers with a meaning of their own.
inline constexpr uint8_t kMiscDiscreteGpu = 9;
inline constexpr uint8_t kMiscOperationModeCapability = 10;
inline constexpr uint8_t kMiscOperationMode = 11;
inline constexpr uint8_t kMiscBootSound = 17;
inline constexpr uint8_t kFunctionAcAdaptor = 10;

enum class IntegerOutputs { kWmi, kTyped };

// An instance listed before the real one, as firmware drivers sometimes leave them.
enum class InstanceDefect { kMissingName, kNullName, kEmptyName };

struct FirmwareClassProfile {
  bool present = true;
  std::string instance_name;
  std::vector<InstanceDefect> leading_instances;
};

enum class OutputFault { kNone, kNull, kAbsent, kText };

struct MethodFault {
  bool missing = false;
  int32_t exec_error = 0;  // 0: none
  uint8_t status = 0;      // 0: the status the firmware computes
  OutputFault output = OutputFault::kNone;
  std::string output_text;  // OutputFault::kText
};

struct FirmwareProfile {
  IntegerOutputs integer_outputs = IntegerOutputs::kWmi;
  uint8_t fan_groups = 2;
  FirmwareClassProfile gaming_function{true, "ACPI\\PNP0C14\\0_0", {}};
  FirmwareClassProfile fwx_action{true, "ACPI\\PNP0C14\\1_0", {}};

  uint8_t operation_mode = 1;
  uint64_t operation_mode_capability = 0xFF;
  uint64_t dgpu_setting = 0x01;
  uint8_t boot_sound = 1;
  uint64_t gaming_profile = 0;
  uint8_t lcd_overdrive = 1;
  uint64_t fan_behavior = 0;
  uint64_t fan_speed = 0;
  uint64_t fan_table = 0;
  std::vector<uint8_t> led_bytes = std::vector<uint8_t>(16, 0);
  uint8_t turbo_key = 0;
  uint8_t adaptors = 1;
  bool ac_present = true;
  bool battery_boost = false;
  std::map<uint8_t, uint64_t> misc_settings;  // beyond 9, 10, 11, 17
  std::map<uint8_t, uint64_t> functions;      // beyond 10

  std::map<std::string, MethodFault> faults;  // by method name

  // The fault for `method`, or null.
  const MethodFault* FaultFor(std::string_view method) const;
};

// The sections above, each reading into `firmware`, or into the class `name`
// ([CorlanGamingFunction] into gaming_function, [FwxAction] into fwx_action). FaultSection
// refuses a method name that no class declares.
profile_format::Section FirmwareSection(FirmwareProfile& firmware);
profile_format::Section FirmwareClassSection(std::string_view name, FirmwareClassProfile& cls);
profile_format::Section StateSection(FirmwareProfile& firmware);
profile_format::Section MiscSettingsSection(FirmwareProfile& firmware);
profile_format::Section FunctionsSection(FirmwareProfile& firmware);
profile_format::Section FaultSection(FirmwareProfile& firmware, const std::string& method);

}  // namespace sim
