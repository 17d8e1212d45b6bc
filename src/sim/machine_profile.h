// A machine profile: everything the simulated notebook is made of, read from a small text file.
//
// Format. Plain UTF-8 text, one item per line:
//   # comment                     (also "; comment"; only as a whole line)
//   [section]                     starts a section; [volume], [video_mode], [driver], [hid],
//                                 [ec_fault], [gpu] and [fault METHOD] may appear many times, every
//                                 other section at most once
//   key = value                   the value is the rest of the line, blanks trimmed, taken
//                                 literally (no quotes, backslashes are plain characters)
// Numbers are decimal or 0x-hexadecimal; switches are yes/no (also true/false); lists are
// separated by commas. Parsing is strict: an unknown section or key, a key given twice, a
// value that is not of the key's kind or out of its range, or a line that is none of the above
// is an error that names the file and the line ("vexor.profile:12: unknown key 'fan' in
// [state]"). Sections and keys may be left out: the defaults apply.
//
// Every simulated device describes its own sections, keys and defaults beside its code:
//   [system], [smbios]                           sim/smbios_table.h
//   [com], [volume], [video_mode]                sim/wmi.h
//   [firmware], [CorlanGamingFunction], [FwxAction], [state], [misc_settings], [functions],
//   [fault METHOD]                               sim/firmware.h
//   [accessibility]                              sim/accessibility.h
//   [session]                                    sim/console_session.h
//   [driver]                                     sim/device_setup.h
//   [hid]                                        sim/hid.h
//   [ec], [ec_fault]                             sim/ec.h
//   [keyboard]                                   sim/keyboard.h
//   [dts]                                        sim/dts.h
//   [gpu]                                        sim/gpus.h
// machines/README.md describes them all for the profile's author.
#pragma once
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/accessibility.h"
#include "sim/console_session.h"
#include "sim/device_setup.h"
#include "sim/dts.h"
#include "sim/ec.h"
#include "sim/firmware.h"
#include "sim/gpus.h"
#include "sim/hid.h"
#include "sim/keyboard.h"
#include "sim/smbios_table.h"
#include "sim/wmi.h"

namespace sim {

// A profile that cannot be read or parsed. what() is "FILE:LINE: message" (or "FILE: message"
// when no line is concerned).
class ProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MachineProfile {
  std::string source;  // file name, for messages

  SystemProfile system;
  ComProfile com;
  FirmwareProfile firmware;
  AccessibilityProfile accessibility;
  SessionProfile session;
  std::vector<VolumeProfile> volumes;
  std::vector<VideoModeProfile> video_modes;
  std::vector<DriverProfile> drivers;
  SmbiosProfile smbios;
  std::vector<HidInterfaceProfile> hid_interfaces;  // in enumeration order
  EcProfile ec;
  KeyboardProfile keyboard;
  DtsProfile dts;
  std::vector<GpuProfile> gpus;  // in profile order
};

// Parses profile text; `source` names it in error messages. Throws ProfileError.
MachineProfile ParseMachineProfile(std::string_view text, std::string source);
// Reads and parses a profile file. Throws ProfileError (also for a missing or unreadable file:
// "FILE: cannot read machine profile").
MachineProfile LoadMachineProfile(const std::string& path);

}  // namespace sim
