#include "firmware/smbios.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "sim/smbios_table.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sim::SmbiosHotkeyEntry;
using sim::SmbiosTableBuilder;

// Type 1 with two strings, type 172 (3 entries), type 170 (1 entry, one string), end of table.
const Bytes kTable = {
    0x01, 0x08, 0x00, 0x01, 0x01, 0x02, 0x03, 0x04, 'a', 'b', 0x00, 'c', 'd', 0x00, 0x00,  // 0
    0xAC, 0x0F, 0x34, 0x12, 0x5A, 0xA5,                                                    // 15
    0x0E, 0x0F, 0x00, 0x0F, 0x01, 0x00, 0x08, 0x34, 0x12, 0x00, 0x00,
    0xAA, 0x12, 0x10, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00,    // 32
    0x85, 0x07, 0x08, 0x00, 'k', 0x00, 0x00,
    0x7F, 0x04, 0xFF, 0xFE, 0x00, 0x00};                                                  // 53

SmbiosRawTable Table(const Bytes& bytes) { return make_smbios_raw_table(bytes, 3, 4); }

// A record full of 0xEE, so that anything the decoder does not write shows.
template <typename Record>
Record Dirty() {
  Record r;
  std::memset(&r, 0xEE, sizeof(r));
  return r;
}

// The first n elements of a record array, and whether all from n on are zero.
template <typename T, size_t N>
std::vector<int> Head(const T (&a)[N], int n) { return std::vector<int>(a, a + n); }
template <typename T, size_t N>
bool ZeroFrom(const T (&a)[N], int n) {
  return std::all_of(a + n, a + N, [](T v) { return v == 0; });
}

TEST(SmbiosWalk, FramesStructuresWithAndWithoutStrings) {
  SmbiosRawTable table = Table(kTable);
  auto all = walk_smbios_structures(table);
  ASSERT_EQ(all.size(), 4u);
  std::vector<int> offsets, types, handles;
  for (const auto& s : all) {
    offsets.push_back(int(s.offset)), types.push_back(s.type), handles.push_back(s.handle);
    EXPECT_TRUE(s.strings_terminated);
  }
  EXPECT_EQ(offsets, (std::vector<int>{0, 15, 32, 53}));
  EXPECT_EQ(types, (std::vector<int>{1, 172, 170, 127}));
  EXPECT_EQ(handles, (std::vector<int>{0x0100, 0x1234, 0x0010, 0xFEFF}));
  EXPECT_EQ(all[3].next_offset, kTable.size());
  EXPECT_EQ(smbios_string(all[0], 1), "ab");
  EXPECT_EQ(smbios_string(all[0], 2), "cd");
  EXPECT_EQ(smbios_string(all[0], 3), "");
  EXPECT_EQ(smbios_string(all[0], 0), "");
  EXPECT_EQ(smbios_string(all[2], 1), "k");
  EXPECT_TRUE(all[1].string_set.empty());

  // The end-of-table structure is walked over like any other.
  auto found = find_smbios_structure(
      Table({0x7F, 0x04, 0x00, 0x00, 0x00, 0x00, 0xAC, 0x06, 0x09, 0x00, 0, 0, 0, 0}), 172);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->handle, 9);
}

TEST(SmbiosType172, DecodesEntriesZeroesTheRestAndTakesTheFirst) {
  auto r = Dirty<stSMBiosType172>();
  ASSERT_TRUE(parse_smbios_type172(Table(kTable), &r));
  EXPECT_EQ((std::vector<int>{r.type, r.length, r.handle, r.oem_byte4, r.oem_byte5, r.count}),
            (std::vector<int>{172, 15, 0x1234, 0x5A, 0xA5, 3}));
  EXPECT_EQ(Head(r.funNum, 3), (std::vector<int>{14, 15, 8}));
  EXPECT_EQ(Head(r.pfunNum1, 3), (std::vector<int>{0x000F, 1, 0x1234}));
  EXPECT_TRUE(ZeroFrom(r.funNum, 3) && ZeroFrom(r.pfunNum1, 3));

  // The first one's string set ("ab") must not be taken for the next structure.
  Bytes two = {0xAC, 0x09, 0x01, 0x00, 0, 0, 0x0E, 0x01, 0x00, 'a', 'b', 0x00, 0x00,
               0xAC, 0x09, 0x02, 0x00, 0, 0, 0x0E, 0x02, 0x00, 0x00, 0x00};
  ASSERT_TRUE(parse_smbios_type172(Table(two), &r));
  EXPECT_EQ(r.handle, 1);
  EXPECT_EQ(r.pfunNum1[0], 1);

  // Without one the record is left as it was.
  for (const Bytes& without : {Bytes{}, Bytes{0x7F, 0x04, 0x00, 0x00, 0x00, 0x00}}) {
    auto untouched = Dirty<stSMBiosType172>(), dirty = Dirty<stSMBiosType172>();
    EXPECT_FALSE(parse_smbios_type172(Table(without), &untouched));
    EXPECT_EQ(std::memcmp(&untouched, &dirty, sizeof(dirty)), 0);
  }
}

TEST(SmbiosType172, CountFollowsTheLengthByte) {
  // L, then count, oem_byte4, oem_byte5: OEM bytes beyond L read as 0, a partial entry is
  // not decoded.
  const std::pair<Bytes, std::vector<int>> cases[] = {
      {{0xAC, 0x04, 0x01, 0x00, 0x00, 0x00}, {0, 0, 0}},
      {{0xAC, 0x05, 0x01, 0x00, 0x77, 0x00, 0x00}, {0, 0x77, 0}},
      {{0xAC, 0x06, 0x01, 0x00, 0x11, 0x22, 0x00, 0x00}, {0, 0x11, 0x22}},
      {{0xAC, 0x08, 0x01, 0x00, 0x11, 0x22, 0x0E, 0x34, 0x00, 0x00}, {0, 0x11, 0x22}},
      {{0xAC, 0x09, 0x01, 0x00, 0x11, 0x22, 0x0E, 0x34, 0x12, 0x00, 0x00}, {1, 0x11, 0x22}},
      {{0xAC, 0x0C, 0x01, 0x00, 0x11, 0x22, 0x0E, 0x34, 0x12, 0x0F, 0x01, 0x00, 0x00, 0x00},
       {2, 0x11, 0x22}},
  };
  for (const auto& [bytes, expected] : cases) {
    SCOPED_TRACE(testing::Message() << "L=" << int(bytes[1]));
    auto r = Dirty<stSMBiosType172>();
    ASSERT_TRUE(parse_smbios_type172(Table(bytes), &r));
    EXPECT_EQ((std::vector<int>{r.count, r.oem_byte4, r.oem_byte5}), expected);
    const int functions[] = {0x0E, 0x0F}, values[] = {0x1234, 1};
    EXPECT_EQ(Head(r.funNum, r.count), Head(functions, r.count));
    EXPECT_EQ(Head(r.pfunNum1, r.count), Head(values, r.count));
    EXPECT_TRUE(ZeroFrom(r.funNum, r.count) && ZeroFrom(r.pfunNum1, r.count));
  }

  // L = 255, the largest a length byte allows: 83 entries fill it exactly.
  Bytes maximal = {0xAC, 0xFF, 0x02, 0x00, 0x00, 0x00};
  for (int i = 0; i < 83; ++i) {
    maximal.insert(maximal.end(), {uint8_t(i + 1), uint8_t(i), uint8_t(0x80 | i)});
  }
  maximal.insert(maximal.end(), {0x00, 0x00});
  auto r = Dirty<stSMBiosType172>();
  ASSERT_TRUE(parse_smbios_type172(Table(maximal), &r));
  ASSERT_EQ(r.count, 83);
  EXPECT_EQ(r.funNum[82], 83);
  EXPECT_EQ(r.pfunNum1[82], 0xD252);
  EXPECT_TRUE(ZeroFrom(r.funNum, 83) && ZeroFrom(r.pfunNum1, 83));
}

TEST(SmbiosType172, FunctionLookupTakesTheFirstEntryBelowCount) {
  stSMBiosType172 r{};
  r.count = 3;
  const uint8_t functions[] = {14, 15, 14, 8};
  const uint16_t values[] = {0x0C, 0, 0x02, 5};
  std::memcpy(r.funNum, functions, sizeof(functions));
  std::memcpy(r.pfunNum1, values, sizeof(values));
  auto pd = find_smbios_function(r, kSmbiosFnPowerFeatures);
  ASSERT_TRUE(pd);
  EXPECT_EQ(pd->index, 0);
  EXPECT_EQ(pd->value, 0x0C);
  auto modes = find_smbios_function(r, kSmbiosFnOperationModes);  // present, value 0
  ASSERT_TRUE(modes);
  EXPECT_EQ(modes->index, 1);
  EXPECT_FALSE(find_smbios_function(r, kSmbiosFnKeyboardZones));  // index 3, not below count
  EXPECT_FALSE(find_smbios_function(r, 0));                       // zeroed slots are no entries
}

TEST(SmbiosType170, DecodesEntriesCountsAndTakesTheFirst) {
  auto r = Dirty<SmbiosType170>();
  ASSERT_TRUE(parse_smbios_type170(Table(kTable), &r));
  EXPECT_EQ((std::vector<int>{r.type, r.length, r.handle, r.count}),
            (std::vector<int>{170, 18, 0x0010, 1}));
  EXPECT_EQ(Head(r.oem_words, 5), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ((std::vector<int>{r.codes[0], r.second_bytes[0], r.kinds[0]}),
            (std::vector<int>{0x85, 0x07, 8}));
  EXPECT_TRUE(ZeroFrom(r.codes, 1) && ZeroFrom(r.second_bytes, 1) && ZeroFrom(r.kinds, 1));

  // Below 18 there are no entries, never a negative count; words beyond L read as 0.
  for (uint8_t length : {4, 10, 14, 17}) {
    SCOPED_TRACE(int(length));
    Bytes bytes = {0xAA, length, 0x01, 0x00};
    for (uint8_t i = 4; i < length; ++i) bytes.push_back(i);
    bytes.insert(bytes.end(), {0x00, 0x00});
    r = Dirty<SmbiosType170>();
    ASSERT_TRUE(parse_smbios_type170(Table(bytes), &r));
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.oem_words[0], length >= 6 ? 0x0504 : 0);
    EXPECT_EQ(r.oem_words[4], length >= 14 ? 0x0D0C : 0);
    EXPECT_TRUE(ZeroFrom(r.codes, 0) && ZeroFrom(r.kinds, 0));
  }

  Bytes two = {0xAA, 0x12, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x81, 0, 0x08, 0, 0, 0,
               0xAA, 0x12, 0x02, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x82, 0, 0x08, 0, 0, 0};
  ASSERT_TRUE(parse_smbios_type170(Table(two), &r));
  EXPECT_EQ(r.codes[0], 0x81);
  r = Dirty<SmbiosType170>();  // none: no entries
  EXPECT_FALSE(parse_smbios_type170(Table({0x01, 0x04, 0x00, 0x00, 0x00, 0x00}), &r));
  EXPECT_EQ(r.count, 0);
  EXPECT_TRUE(ZeroFrom(r.codes, 0));
}

TEST(SmbiosMalformed, TruncationAtEveryOffsetStaysInBounds) {
  for (size_t cut = 0; cut <= kTable.size(); ++cut) {
    SCOPED_TRACE(cut);
    // An exact-size copy (an overread shows under AddressSanitizer), and the whole buffer with
    // a shorter length field: both must end the table at `cut`.
    SmbiosRawTable exact = Table(Bytes(kTable.begin(), kTable.begin() + cut));
    SmbiosRawTable by_length = Table(kTable);
    by_length.length = static_cast<int32_t>(cut);
    size_t expected = cut < 8 ? 0 : cut < 30 ? 1 : cut < 50 ? 2 : cut < 57 ? 3 : 4;
    for (const SmbiosRawTable* table : {&exact, &by_length}) {
      auto all = walk_smbios_structures(*table);
      ASSERT_EQ(all.size(), expected);
      for (const auto& s : all) {
        for (uint8_t n = 0; n < 4; ++n) (void)smbios_string(s, n);
      }
      stSMBiosType172 r172{};
      ASSERT_EQ(parse_smbios_type172(*table, &r172), cut >= 30);
      EXPECT_EQ(r172.pfunNum1[2], cut >= 30 ? 0x1234 : 0);
      SmbiosType170 r170{};
      ASSERT_EQ(parse_smbios_type170(*table, &r170), cut >= 50);
    }
  }
  SmbiosRawTable negative = Table(kTable);
  negative.length = -1;
  EXPECT_TRUE(walk_smbios_structures(negative).empty());
  SmbiosRawTable overlong = Table(Bytes(kTable.begin(), kTable.begin() + 20));
  overlong.length = 4096;  // more than data holds: data's size bounds the walk
  EXPECT_EQ(walk_smbios_structures(overlong).size(), 1u);
}

TEST(SmbiosMalformed, ShortLengthByteIsSkippedAndAMissingTerminatorEndsTheWalk) {
  const Bytes tail172 = {0xAC, 0x09, 0x01, 0x01, 0x11, 0x22, 0x0E, 0x01, 0x00, 0x00, 0x00};
  stSMBiosType172 r{};
  // L below the header: its string set starts at offset + L, and the walk goes on behind it.
  // Where the scan ends depends on L: L = 3 lands in a zero-length structure whose length
  // byte (0xAC) runs past the end.
  for (uint8_t length : {0, 1, 2, 3}) {
    Bytes bytes = {0x01, length, 0x00, 0x00, 0x00, 0x00};
    bytes.insert(bytes.end(), tail172.begin(), tail172.end());
    const auto all = walk_smbios_structures(Table(bytes));
    ASSERT_FALSE(all.empty()) << int(length);
    EXPECT_EQ(all[0].handle, 0) << int(length);
    EXPECT_EQ(parse_smbios_type172(Table(bytes), &r), length == 1 || length == 2) << int(length);
  }
  ASSERT_TRUE(parse_smbios_type172(
      Table({0x01, 0x02, 0x00, 0x00, 0xAC, 0x09, 0x01, 0x00, 0x00, 0x00, 0x0F, 0x01, 0x00, 0x00, 0x00}),
      &r));
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.funNum[0], 15);
  EXPECT_EQ(r.pfunNum1[0], 1);
  // Formatted area longer than the table.
  EXPECT_TRUE(walk_smbios_structures(Table({0xAC, 0x10, 0x01, 0x00, 0x0E, 0x01})).empty());

  // The wanted structure is still decoded when its string set runs into the end ...
  SmbiosRawTable table = Table({0xAC, 0x09, 0x07, 0x00, 0, 0, 0x0F, 0x01, 0x00, 'a', 'b', 0x00});
  ASSERT_TRUE(parse_smbios_type172(table, &r));
  EXPECT_EQ(r.pfunNum1[0], 1);
  auto all = walk_smbios_structures(table);  // views into `table`
  ASSERT_EQ(all.size(), 1u);
  EXPECT_FALSE(all[0].strings_terminated);
  EXPECT_EQ(smbios_string(all[0], 1), "ab");
  // ... but a string set without its double zero swallows what follows.
  Bytes swallowed = {0x01, 0x04, 0x00, 0x00, 'x', 0x00};
  swallowed.insert(swallowed.end(), tail172.begin(), tail172.end() - 2);
  EXPECT_FALSE(parse_smbios_type172(Table(swallowed), &r));
}

TEST(SmbiosTableBuilder, ProducesTheHandWrittenBytes) {
  const std::pair<uint8_t, uint16_t> functions[] = {{14, 0x000F}, {15, 1}, {8, 0x1234}};
  const uint8_t body1[] = {1, 2, 3, 4};
  const Bytes body170(kTable.begin() + 36, kTable.begin() + 50);  // AddType170 adds no strings
  SmbiosTableBuilder b;
  b.AddStructure(1, 0x0100, body1, {"ab", "cd"})
      .AddType172(0x1234, functions, 0x5A, 0xA5)
      .AddStructure(170, 0x0010, body170, {"k"})
      .AddEndOfTable(0xFEFF);
  EXPECT_EQ(b.Bytes(), kTable);

  const SmbiosHotkeyEntry hotkeys[] = {{0x85, 0x07, 8}};
  Bytes expected170(kTable.begin() + 32, kTable.begin() + 50);
  expected170.insert(expected170.end(), {0x00, 0x00});
  EXPECT_EQ(SmbiosTableBuilder().AddType170(0x0010, hotkeys, {1, 2, 3, 4, 5}).Bytes(), expected170);

  std::vector<std::pair<uint8_t, uint16_t>> many(83, {1, 1});
  EXPECT_NO_THROW(SmbiosTableBuilder().AddType172(1, many));
  many.emplace_back(2, 2);
  EXPECT_THROW(SmbiosTableBuilder().AddType172(1, many), std::length_error);
  EXPECT_THROW(SmbiosTableBuilder().AddStructure(1, 1, {}, {""}), std::invalid_argument);
}

}  // namespace
