// The OEM SMBIOS records: the raw structure table as the firmware publishes it, the walk over
// its structures, and the decoding of the two OEM record types the broker reads — type 172
// (numbered feature values) and type 170 (hot-key entries). Everything here is pure: the
// functions look only at the bytes they are given, never read past the table's end, keep no
// state and may be called from any thread at once.
//
// Structure framing: byte 0 type, byte 1 length L of the formatted area (header included),
// bytes 2..3 handle, the rest of the formatted area, then the string set, which ends with two
// consecutive zero bytes (just the two zero bytes when the structure has no strings). Multi-byte
// values are little-endian.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

inline constexpr uint8_t kSmbiosTypeHotkeys = 170;     // 0xAA
inline constexpr uint8_t kSmbiosTypeFeatures = 172;    // 0xAC
inline constexpr uint8_t kSmbiosTypeEndOfTable = 127;  // walked over like any other structure

// Function numbers of the type-172 record that the start-up survey reads.
inline constexpr uint8_t kSmbiosFnKeyboardZones = 8;     // 0 = per-key lighting, n = n zones
inline constexpr uint8_t kSmbiosFnKeyboardColour = 10;   // 1 = single colour, 2 = RGB
inline constexpr uint8_t kSmbiosFnBootLogo = 13;         // 1 = POST screen can be customised
inline constexpr uint8_t kSmbiosFnPowerFeatures = 14;    // bit 1 two AC adaptors, bits 2/3 USB PD
inline constexpr uint8_t kSmbiosFnOperationModes = 15;   // 1 = supported
inline constexpr uint8_t kSmbiosFnKeyboardLightBar = 23; // 1 = EC controlled, 2 = over USB

// An owned copy of the raw structure table. `length` is the number of bytes of `data` that
// belong to the table; the walk uses the smaller of `length` and data.size() (a negative
// `length` reads as an empty table). The version bytes are recorded, nothing depends on them.
struct SmbiosRawTable {
  uint8_t major_version = 0;
  uint8_t minor_version = 0;
  std::vector<uint8_t> data;
  int32_t length = 0;
};

// The table over `bytes`, with length = bytes.size().
SmbiosRawTable make_smbios_raw_table(std::vector<uint8_t> bytes, uint8_t major_version = 0,
                                     uint8_t minor_version = 0);

// One structure of the table, as views into the table's bytes (valid while the table lives
// unchanged). `formatted` holds the L bytes of the formatted area, header included; `string_set`
// holds the strings with their separating zeros, without the closing double zero. When the string
// set runs into the table's end without its double zero, `strings_terminated` is false,
// `string_set` holds everything up to the end, and the walk ends with this structure.
struct SmbiosStructure {
  size_t offset = 0;  // of byte 0 within the table
  uint8_t type = 0;
  uint8_t length = 0;
  uint16_t handle = 0;
  std::span<const uint8_t> formatted;
  std::span<const uint8_t> string_set;
  bool strings_terminated = false;
  size_t next_offset = 0;  // where the following structure starts (meaningful when terminated)
};

// Every structure from the table's start, in order. The walk stops at the table's end, before a
// structure whose type and length bytes or formatted area run past the end, and after a
// structure whose string set is not terminated. A structure whose L is below 4 is framed like
// any other (its string set starts at offset + L) and has handle 0. The end-of-table structure
// (type 127) is not special: whatever follows it is walked too.
std::vector<SmbiosStructure> walk_smbios_structures(const SmbiosRawTable& table);

// The first structure of `type` met by the same walk. A structure whose string set runs into
// the table's end is still found (its formatted area is complete); anything after it is not.
std::optional<SmbiosStructure> find_smbios_structure(const SmbiosRawTable& table, uint8_t type);

// String `index` of the structure (1-based, as SMBIOS string references count); empty when the
// structure has fewer strings or index is 0.
std::string_view smbios_string(const SmbiosStructure& structure, uint8_t index);

// The decoded type-172 record: a list of (function number, value) entries.
struct stSMBiosType172 {
  uint8_t type;
  uint8_t length;
  uint16_t handle;
  uint8_t oem_byte4;  // copied, not interpreted
  uint8_t oem_byte5;  // copied, not interpreted
  int32_t count;      // (L - 6) / 3 entries; 0 when L is below 9
  uint8_t funNum[256];     // function number of entry i at index i
  uint16_t pfunNum1[256];  // value of entry i at index i
};

// Decodes the first type-172 structure of the table into `record`: the record is zeroed first,
// so indices from count on hold 0; an L below 9 gives count 0, and OEM bytes beyond L read as 0.
// False when the table holds no (complete) type-172 structure; `record` is then left untouched.
bool parse_smbios_type172(const SmbiosRawTable& table, stSMBiosType172* record);

// The first entry below count whose funNum is `function_number`: its index and its value.
// nullopt when no entry has that number — the feature counts as absent.
struct SmbiosFunctionEntry {
  int index;
  uint16_t value;
};
std::optional<SmbiosFunctionEntry> find_smbios_function(const stSMBiosType172& record,
                                                        uint8_t function_number);

// The decoded type-170 record: a list of hot-key entries (code, second byte, kind).
struct SmbiosType170 {
  uint8_t type;
  uint8_t length;
  uint16_t handle;
  uint16_t oem_words[5];  // copied, not interpreted
  int32_t count;          // (L - 14) / 4 entries; 0 when L is below 18
  uint8_t codes[255];
  uint8_t second_bytes[255];  // copied, not interpreted
  uint16_t kinds[255];
};

// Decodes the first type-170 structure of the table into `record`. The record is always zeroed
// first, so without a type-170 structure it has no entries (count 0) and the answer is false.
// OEM words that lie beyond L read as 0.
bool parse_smbios_type170(const SmbiosRawTable& table, SmbiosType170* record);
