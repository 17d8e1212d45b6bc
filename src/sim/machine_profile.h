// A machine profile: everything the simulated notebook is made of, read from a small text file.
//
// Format. Plain UTF-8 text, one item per line:
//   # comment                     (also "; comment"; only as a whole line)
//   [section]                     starts a section; [volume], [video_mode], [driver] and
//                                 [fault METHOD] may appear many times, every other section at
//                                 most once
//   key = value                   the value is the rest of the line, blanks trimmed, taken
//                                 literally (no quotes, backslashes are plain characters)
// Numbers are decimal or 0x-hexadecimal; switches are yes/no (also true/false); lists are
// separated by commas. Parsing is strict: an unknown section or key, a key given twice, a
// value that is not of the key's kind or out of its range, or a line that is none of the above
// is an error that names the file and the line ("vexor.profile:12: unknown key 'fan' in
// [state]").
//
// Sections and keys (defaults in parentheses; machines/README.md has the long form):
//   [system]     manufacturer, model, family (absent: the property reads as null)
//   [com]        apartment = multithreaded | single-threaded (multithreaded). single-threaded:
//                every thread already runs COM single-threaded, so CoInitializeEx answers
//                RPC_E_CHANGED_MODE
//   [firmware]   integer_outputs = wmi | typed (wmi): how integers reach the caller. wmi is how
//                Windows hands them over (64-bit as decimal text, 32-bit as VT_I4, 8-bit as
//                VT_UI1); typed gives VT_UI8 / VT_UI4 / VT_UI1
//                fan_groups = 1..8 (2)
//   [CorlanGamingFunction], [FwxAction]
//                present = yes | no (yes)
//                instance_name = text ("ACPI\PNP0C14\0_0", "ACPI\PNP0C14\1_0"), non-empty
//                leading_instances = list of missing | null | empty: instances listed before
//                the real one whose InstanceName is absent, null or "" (none)
//   [state]      the firmware's settings at power-on; the misc-setting and function values are
//                the data bits above the status byte (bits 8 and up of the method output):
//                operation_mode = 0..255 (1)            misc setting 11
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
//   [accessibility]  the user session's sticky-keys setting at logon (kept in memory only)
//                sticky_keys = 32-bit STICKYKEYS dwFlags (0x1FE: available, hot key active,
//                              off, as Windows ships it)
//                query_fails, store_fails = yes | no (no, no): SPI_GETSTICKYKEYS /
//                              SPI_SETSTICKYKEYS fail
//   [fault METHOD]  METHOD is a firmware method name ("GetGamingMiscSetting"):
//                missing = yes            the class has no such method
//                exec_error = HRESULT     ExecMethod fails with it (negative 32-bit, 0x8...)
//                status = 1..255          byte 0 of the output
//                output = null | absent | text:ANYTHING   the output property is VT_NULL,
//                                         missing, or that text
//   [volume]     name (required), label, drive_letter, file_system: one Win32_Volume row
//                folders = list of \FOLDER\...: folders the volume holds from the start; the
//                Linux build creates each (name + folder, below its root) when missing
//   [video_mode] horizontal, vertical (required, 1..65535), refresh_rate (60): one
//                CIM_VideoControllerResolution row; fails (no): the enumeration fails there
//   [driver]     one present software device under the enumerator SWD\DRIVERENUM, listed in
//                the order of the sections:
//                hardware_id (required): its first hardware ID; one that does not fit the
//                512-byte property buffer with its two terminating zeros reads as unreadable
//                driver_key: its key below HKLM\SYSTEM\CurrentControlSet\Control\Class
//                (absent: the device has no driver key)
//                driver_version: "DriverVersion" under that key, written into the registry at
//                every start of the Linux build (absent: no value; needs driver_key)
//   [smbios]     present = yes | no (yes): the MSSMBios_RawSMBiosTables instance
//                major_version, minor_version = 0..255 (3, 4)
//                bios_vendor, bios_version, bios_date: type-0 strings
//                type172 = list of FUNCTION:VALUE (each 0..255 : 0..65535), at most 83
//                type170 = list of CODE:KIND or CODE:SECOND:KIND, at most 60
//                The table holds type 0, type 1 (manufacturer, model, family of [system]),
//                type 170 when entries are given, type 172, and the end-of-table structure.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// A profile that cannot be read or parsed. what() is "FILE:LINE: message" (or "FILE: message"
// when no line is concerned).
class ProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

struct VolumeProfile {
  std::string name;
  std::optional<std::string> label;
  std::optional<std::string> drive_letter;
  std::optional<std::string> file_system;
  std::vector<std::string> folders;  // each starts with a backslash: "\EFI\OEM"
};

struct VideoModeProfile {
  uint32_t horizontal = 0;
  uint32_t vertical = 0;
  uint32_t refresh_rate = 60;
  bool fails = false;  // the provider cannot deliver this row: Next fails when it comes to it
};

struct DriverProfile {
  std::string hardware_id;
  std::optional<std::string> driver_key;
  std::optional<std::string> driver_version;
};

struct Type170EntryProfile {
  uint8_t code = 0;
  uint8_t second_byte = 0;
  uint16_t kind = 0;
};

struct AccessibilityProfile {
  uint32_t sticky_keys = 0x1FE;
  bool query_fails = false;
  bool store_fails = false;
};

struct MachineProfile {
  std::string source;  // file name, for messages

  std::optional<std::string> manufacturer;
  std::optional<std::string> model;
  std::optional<std::string> family;

  bool single_threaded_com = false;

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

  AccessibilityProfile accessibility;

  std::map<std::string, MethodFault> faults;  // by method name

  std::vector<VolumeProfile> volumes;
  std::vector<VideoModeProfile> video_modes;
  std::vector<DriverProfile> drivers;

  bool smbios_present = true;
  uint8_t smbios_major = 3;
  uint8_t smbios_minor = 4;
  std::optional<std::string> bios_vendor;
  std::optional<std::string> bios_version;
  std::optional<std::string> bios_date;
  std::vector<std::pair<uint8_t, uint16_t>> type172;
  std::vector<Type170EntryProfile> type170;

  // The fault for `method`, or null.
  const MethodFault* FaultFor(std::string_view method) const;
};

// Parses profile text; `source` names it in error messages. Throws ProfileError.
MachineProfile ParseMachineProfile(std::string_view text, std::string source);
// Reads and parses a profile file. Throws ProfileError (also for a missing or unreadable file:
// "FILE: cannot read machine profile").
MachineProfile LoadMachineProfile(const std::string& path);

}  // namespace sim
