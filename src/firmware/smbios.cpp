#include "firmware/smbios.h"

#include <algorithm>
#include <cstring>

#include "base/little_endian.h"

namespace {

constexpr size_t kHeaderSize = 4;

// Type 172: two OEM bytes after the header, then 3-byte entries.
constexpr int kType172EntriesAt = 6;
constexpr int kType172EntrySize = 3;
// Type 170: five OEM words after the header, then 4-byte entries.
constexpr int kType170EntriesAt = 14;
constexpr int kType170EntrySize = 4;

static_assert((255 - kType172EntriesAt) / kType172EntrySize <= 256,
              "every type-172 entry an 8-bit L can describe fits the record");
static_assert((255 - kType170EntriesAt) / kType170EntrySize <= 255,
              "every type-170 entry an 8-bit L can describe fits the record");

std::span<const uint8_t> table_bytes(const SmbiosRawTable& table) {
  if (table.length <= 0) return {};
  size_t n = std::min(static_cast<size_t>(table.length), table.data.size());
  return {table.data.data(), n};
}

// The structure at `offset`, or false when its type and length bytes or its formatted area do
// not fit. A length byte below the header size still frames a structure: its string set is
// looked for from offset + L, so the walk goes on past it (it never goes back, since the
// double zero that ends the string set lies at offset + L or later). Such a structure has no
// handle of its own.
bool read_structure(std::span<const uint8_t> table, size_t offset, SmbiosStructure* s) {
  if (offset >= table.size() || table.size() - offset < 2) return false;
  uint8_t length = table[offset + 1];
  if (length > table.size() - offset) return false;

  s->offset = offset;
  s->type = table[offset];
  s->length = length;
  s->handle = length >= kHeaderSize ? le::LoadU16(&table[offset + 2]) : 0;
  s->formatted = table.subspan(offset, length);

  // The string set ends at the first zero byte that is followed by another zero; a structure
  // without strings therefore has its double zero right after the formatted area.
  size_t start = offset + length;
  for (size_t i = start; i + 1 < table.size(); ++i) {
    if (table[i] == 0 && table[i + 1] == 0) {
      s->string_set = table.subspan(start, i - start);
      s->strings_terminated = true;
      s->next_offset = i + 2;
      return true;
    }
  }
  s->string_set = table.subspan(start);
  s->strings_terminated = false;
  s->next_offset = table.size();
  return true;
}

// Calls `visit` for each structure of the walk until it answers true; the visited structure
// that stopped the walk, if any.
template <typename Visit>
std::optional<SmbiosStructure> walk(const SmbiosRawTable& table, Visit visit) {
  std::span<const uint8_t> bytes = table_bytes(table);
  size_t offset = 0;
  SmbiosStructure s;
  while (offset < bytes.size() && read_structure(bytes, offset, &s)) {
    if (visit(s)) return s;
    if (!s.strings_terminated) break;
    offset = s.next_offset;
  }
  return std::nullopt;
}

// Entries of a record of formatted length `length`. Trailing bytes too few for a whole entry are
// ignored; a structure shorter than its first entry has none (rather than a negative count).
int32_t entry_count(uint8_t length, int entries_at, int entry_size) {
  int32_t count = (static_cast<int32_t>(length) - entries_at) / entry_size;
  return std::max<int32_t>(count, 0);
}

}  // namespace

SmbiosRawTable make_smbios_raw_table(std::vector<uint8_t> bytes, uint8_t major_version,
                                     uint8_t minor_version) {
  SmbiosRawTable table;
  table.major_version = major_version;
  table.minor_version = minor_version;
  table.length = static_cast<int32_t>(bytes.size());
  table.data = std::move(bytes);
  return table;
}

std::vector<SmbiosStructure> walk_smbios_structures(const SmbiosRawTable& table) {
  std::vector<SmbiosStructure> all;
  walk(table, [&](const SmbiosStructure& s) {
    all.push_back(s);
    return false;
  });
  return all;
}

std::optional<SmbiosStructure> find_smbios_structure(const SmbiosRawTable& table, uint8_t type) {
  return walk(table, [type](const SmbiosStructure& s) { return s.type == type; });
}

std::string_view smbios_string(const SmbiosStructure& structure, uint8_t index) {
  std::span<const uint8_t> set = structure.string_set;
  size_t pos = 0;
  for (uint8_t n = 1; index != 0 && pos < set.size(); ++n) {
    size_t end = pos;
    while (end < set.size() && set[end] != 0) ++end;
    if (n == index) {
      return {reinterpret_cast<const char*>(set.data() + pos), end - pos};
    }
    pos = end + 1;
  }
  return {};
}

bool parse_smbios_type172(const SmbiosRawTable& table, stSMBiosType172* record) {
  std::optional<SmbiosStructure> found = find_smbios_structure(table, kSmbiosTypeFeatures);
  if (!found) return false;
  std::span<const uint8_t> f = found->formatted;

  std::memset(record, 0, sizeof(*record));
  record->type = found->type;
  record->length = found->length;
  record->handle = found->handle;
  // L may end inside the OEM bytes: what lies beyond it belongs to the string set.
  if (f.size() > 4) record->oem_byte4 = f[4];
  if (f.size() > 5) record->oem_byte5 = f[5];
  record->count = entry_count(found->length, kType172EntriesAt, kType172EntrySize);
  for (int32_t i = 0; i < record->count; ++i) {
    size_t at = kType172EntriesAt + static_cast<size_t>(i) * kType172EntrySize;
    record->funNum[i] = f[at];
    record->pfunNum1[i] = le::LoadU16(&f[at + 1]);
  }
  return true;
}

std::optional<SmbiosFunctionEntry> find_smbios_function(const stSMBiosType172& record,
                                                        uint8_t function_number) {
  int32_t count = std::clamp<int32_t>(record.count, 0, 256);
  for (int32_t i = 0; i < count; ++i) {
    if (record.funNum[i] == function_number) return SmbiosFunctionEntry{i, record.pfunNum1[i]};
  }
  return std::nullopt;
}

bool parse_smbios_type170(const SmbiosRawTable& table, SmbiosType170* record) {
  std::memset(record, 0, sizeof(*record));
  std::optional<SmbiosStructure> found = find_smbios_structure(table, kSmbiosTypeHotkeys);
  if (!found) return false;
  std::span<const uint8_t> f = found->formatted;

  record->type = found->type;
  record->length = found->length;
  record->handle = found->handle;
  for (size_t w = 0; w < 5; ++w) {
    size_t at = kHeaderSize + 2 * w;
    if (at + 2 <= f.size()) record->oem_words[w] = le::LoadU16(&f[at]);
  }
  record->count = entry_count(found->length, kType170EntriesAt, kType170EntrySize);
  for (int32_t i = 0; i < record->count; ++i) {
    size_t at = kType170EntriesAt + static_cast<size_t>(i) * kType170EntrySize;
    record->codes[i] = f[at];
    record->second_bytes[i] = f[at + 1];
    record->kinds[i] = le::LoadU16(&f[at + 2]);
  }
  return true;
}
