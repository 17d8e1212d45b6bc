// Builds raw SMBIOS structure tables byte by byte: the simulated notebook's table and test
// fixtures. Structures are appended in call order with correct framing (type, L, handle,
// formatted area, string set with its double zero).
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "firmware/smbios.h"

// One entry of a type-170 structure.
struct SmbiosHotkeyEntry {
  uint8_t code = 0;
  uint8_t second_byte = 0;
  uint16_t kind = 0;
};

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
  // The table as the firmware query hands it over: the bytes, their count and the version.
  SmbiosRawTable Build(uint8_t major_version = 3, uint8_t minor_version = 0) const;

 private:
  std::vector<uint8_t> bytes_;
};
