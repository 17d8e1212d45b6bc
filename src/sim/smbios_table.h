// The simulated notebook's SMBIOS table, the bytes the firmware hands Windows (and WMI's
// MSSMBios_RawSMBiosTables passes on), built from the machine profile; and the builder that
// frames SMBIOS structures byte by byte, which tests use for their fixtures too.
//
// Profile sections (machines/README.md has the long form):
//   [system]     manufacturer, model, family: the type-1 record, which Windows also reports as
//                Win32_ComputerSystem's "Manufacturer", "Model" and "SystemFamily" (absent:
//                no string, and the property reads as null)
//   [smbios]     present = yes | no (yes): the MSSMBios_RawSMBiosTables instance
//                major_version, minor_version = 0..255 (3, 4)
//                bios_vendor, bios_version, bios_date: type-0 strings
//                type172 = list of FUNCTION:VALUE (each 0..255 : 0..65535), at most 83
//                type170 = list of CODE:KIND or CODE:SECOND:KIND, at most 60
// The table holds type 0, type 1, type 170 when entries are given, type 172, and the
// end-of-table structure.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "sim/profile_format.h"

namespace sim {

// One entry of a type-170 structure.
struct SmbiosHotkeyEntry {
  uint8_t code = 0;
  uint8_t second_byte = 0;
  uint16_t kind = 0;
};

struct SystemProfile {
  std::optional<std::string> manufacturer;
  std::optional<std::string> model;
  std::optional<std::string> family;
};

struct SmbiosProfile {
  bool present = true;
  uint8_t major_version = 3;
  uint8_t minor_version = 4;
  std::optional<std::string> bios_vendor;
  std::optional<std::string> bios_version;
  std::optional<std::string> bios_date;
  std::vector<std::pair<uint8_t, uint16_t>> type172;
  std::vector<SmbiosHotkeyEntry> type170;
};

profile_format::Section SystemSection(SystemProfile& system);
profile_format::Section SmbiosSection(SmbiosProfile& smbios);

// The raw structure table of the machine (what "SMBiosData" holds).
std::vector<uint8_t> SmbiosTable(const SystemProfile& system, const SmbiosProfile& smbios);

// Structures are appended in call order with correct framing (type, L, handle, formatted area,
// string set with its double zero).
class SmbiosTableBuilder {
 public:
  // Appends a structure. `body` is the formatted area after the 4-byte header, so L is
  // 4 + body.size(). Throws std::length_error when L would exceed 255 and std::invalid_argument
  // for an empty string or one holding a zero byte (either would end the string set early).
  SmbiosTableBuilder& AddStructure(uint8_t type, uint16_t handle, std::span<const uint8_t> body,
                                   const std::vector<std::string>& strings = {});

  // A type-172 structure from (function number, value) pairs; L = 6 + 3 * pairs (at most 83).
  SmbiosTableBuilder& AddType172(uint16_t handle,
                                 std::span<const std::pair<uint8_t, uint16_t>> functions,
                                 uint8_t oem_byte4 = 0, uint8_t oem_byte5 = 0);

  // A type-170 structure from its entries; L = 14 + 4 * entries (at most 60).
  SmbiosTableBuilder& AddType170(uint16_t handle, std::span<const SmbiosHotkeyEntry> entries,
                                 const uint16_t (&oem_words)[5] = {0, 0, 0, 0, 0});

  // The end-of-table structure: type 127, L = 4, no strings.
  SmbiosTableBuilder& AddEndOfTable(uint16_t handle);

  // Appends raw bytes unchanged, for tables that break the framing on purpose.
  SmbiosTableBuilder& AddRaw(std::span<const uint8_t> bytes);

  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace sim
