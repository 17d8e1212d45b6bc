#include "firmware/smbios.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>


namespace {

using Bytes = std::vector<uint8_t>;
using Ints = std::vector<int>;

// Type 1 with two strings, type 172 (3 entries), type 170 (1 entry, one string), end of table.
const Bytes kTable = {
    0x01, 0x08, 0x00, 0x01, 0x01, 0x02, 0x03, 0x04, 'a', 'b', 0x00, 'c', 'd', 0x00, 0x00,  // 0
    0xAC, 0x0F, 0x34, 0x12, 0x5A, 0xA5,                                                    // 15
    0x0E, 0x0F, 0x00, 0x0F, 0x01, 0x00, 0x08, 0x34, 0x12, 0x00, 0x00,
    0xAA, 0x12, 0x10, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00,    // 32
    0x85, 0x07, 0x08, 0x01, 'k', 0x00, 0x00,
    0x7F, 0x04, 0xFF, 0xFE, 0x00, 0x00};                                                  // 53

SmbiosRawTable Table(const Bytes& bytes) { return make_smbios_raw_table(bytes, 3, 4); }

// A record full of 0xEE, so that anything the decoder does not write shows.
template <typename Record>
Record Dirty() {
  Record r;
  std::memset(&r, 0xEE, sizeof(r));
  return r;
}

template <typename T, size_t N>
Ints Head(const T (&a)[N], int n) { return Ints(a, a + std::clamp(n, 0, int(N))); }
template <typename T, size_t N>
bool ZeroFrom(const T (&a)[N], int n) {
  return std::all_of(a + n, a + N, [](T v) { return v == 0; });
}

TEST(SmbiosWalk, FramesStructuresAndTheirStrings) {
  const SmbiosRawTable table = Table(kTable);
  const auto all = walk_smbios_structures(table);  // views into `table`
  Ints offsets, types, handles;
  for (const auto& s : all)
    offsets.push_back(int(s.offset)), types.push_back(s.type), handles.push_back(s.handle);
  EXPECT_EQ(offsets, (Ints{0, 15, 32, 53}));
  EXPECT_EQ(types, (Ints{1, 172, 170, 127}));
  EXPECT_EQ(handles, (Ints{0x0100, 0x1234, 0x0010, 0xFEFF}));
  ASSERT_EQ(all.size(), 4u);
  const std::pair<uint8_t, const char*> strings[] = {{0, ""}, {1, "ab"}, {2, "cd"}, {3, ""}};
  for (const auto& [index, text] : strings) EXPECT_EQ(smbios_string(all[0], index), text);
  EXPECT_EQ(smbios_string(all[2], 1), "k");
  EXPECT_TRUE(all[1].string_set.empty());
  // The end-of-table structure is walked over like any other.
  auto found = find_smbios_structure(
      Table({0x7F, 0x04, 0x00, 0x00, 0x00, 0x00, 0xAC, 0x06, 0x09, 0x00, 0, 0, 0, 0}), 172);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->handle, 9);
}

TEST(SmbiosType172, DecodesTheFirstAndLeavesTheRecordAloneWithoutOne) {
  auto r = Dirty<stSMBiosType172>();
  ASSERT_TRUE(parse_smbios_type172(Table(kTable), &r));
  EXPECT_EQ((Ints{r.type, r.length, r.handle, r.oem_byte4, r.oem_byte5, r.count}),
            (Ints{172, 15, 0x1234, 0x5A, 0xA5, 3}));
  EXPECT_EQ(Head(r.funNum, 3), (Ints{14, 15, 8}));
  EXPECT_EQ(Head(r.pfunNum1, 3), (Ints{0x000F, 1, 0x1234}));
  EXPECT_TRUE(ZeroFrom(r.funNum, 3) && ZeroFrom(r.pfunNum1, 3));

  // The first one's string set ("ab") must not be taken for the next structure.
  const Bytes two = {0xAC, 0x09, 0x01, 0x00, 0, 0, 0x0E, 0x01, 0x00, 'a', 'b', 0x00, 0x00,
                     0xAC, 0x09, 0x02, 0x00, 0, 0, 0x0E, 0x02, 0x00, 0x00, 0x00};
  ASSERT_TRUE(parse_smbios_type172(Table(two), &r));
  EXPECT_EQ((Ints{r.handle, r.pfunNum1[0]}), (Ints{1, 1}));

  for (const Bytes& without : {Bytes{}, Bytes{0x7F, 0x04, 0x00, 0x00, 0x00, 0x00}}) {
    auto untouched = Dirty<stSMBiosType172>(), dirty = Dirty<stSMBiosType172>();
    EXPECT_FALSE(parse_smbios_type172(Table(without), &untouched));
    EXPECT_EQ(std::memcmp(&untouched, &dirty, sizeof(dirty)), 0);
  }
}

// Each structure is followed by the string set "s", so a byte read beyond L shows as 's'.
Bytes WithLength(uint8_t type, uint8_t length, const Bytes& body) {
  Bytes bytes = {type, length, 0x01, 0x00};
  bytes.insert(bytes.end(), body.begin(), body.begin() + (length - 4));
  bytes.insert(bytes.end(), {'s', 0x00, 0x00});
  return bytes;
}

TEST(SmbiosType172, OemBytesAndEntriesEndAtTheLengthByte) {
  const Bytes body = {0x11, 0x22, 0x0E, 0x34, 0x12, 0x0F, 0x01, 0x00};
  const int kFunctions[] = {0x0E, 0x0F}, kValues[] = {0x1234, 1};
  const struct { uint8_t length; Ints count_oem4_oem5; } rows[] = {
      {4, {0, 0, 0}},       {5, {0, 0x11, 0}},    {6, {0, 0x11, 0x22}},  {8, {0, 0x11, 0x22}},
      {9, {1, 0x11, 0x22}}, {11, {1, 0x11, 0x22}}, {12, {2, 0x11, 0x22}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(int(row.length));
    auto r = Dirty<stSMBiosType172>();
    ASSERT_TRUE(parse_smbios_type172(Table(WithLength(0xAC, row.length, body)), &r));
    EXPECT_EQ((Ints{r.count, r.oem_byte4, r.oem_byte5}), row.count_oem4_oem5);
    EXPECT_EQ(Head(r.funNum, r.count), Head(kFunctions, r.count));
    EXPECT_EQ(Head(r.pfunNum1, r.count), Head(kValues, r.count));
    EXPECT_TRUE(ZeroFrom(r.funNum, r.count) && ZeroFrom(r.pfunNum1, r.count));
  }
}

TEST(SmbiosType172, FunctionLookupTakesTheFirstEntryBelowCount) {
  stSMBiosType172 r{};
  r.count = 3;
  const uint8_t functions[] = {14, 15, 14, 8};
  const uint16_t values[] = {0x0C, 0, 0x02, 5};
  std::memcpy(r.funNum, functions, sizeof(functions));
  std::memcpy(r.pfunNum1, values, sizeof(values));
  const auto found = [&](int function) {
    auto f = find_smbios_function(r, function);
    return f ? Ints{f->index, f->value} : Ints{};
  };
  EXPECT_EQ(found(kSmbiosFnPowerFeatures), (Ints{0, 0x0C}));
  EXPECT_EQ(found(kSmbiosFnOperationModes), (Ints{1, 0}));  // present, value 0
  EXPECT_FALSE(find_smbios_function(r, kSmbiosFnKeyboardZones));  // index 3, not below count
  EXPECT_FALSE(find_smbios_function(r, 0));                       // zeroed slots are no entries
}

TEST(SmbiosType170, DecodesTheFirstAndReadsNoWordOrEntryBeyondTheLengthByte) {
  auto r = Dirty<SmbiosType170>();
  ASSERT_TRUE(parse_smbios_type170(Table(kTable), &r));
  EXPECT_EQ((Ints{r.type, r.length, r.handle, r.count}), (Ints{170, 18, 0x0010, 1}));
  EXPECT_EQ(Head(r.oem_words, 5), (Ints{1, 2, 3, 4, 5}));
  EXPECT_EQ((Ints{r.codes[0], r.second_bytes[0], r.kinds[0]}), (Ints{0x85, 0x07, 0x108}));
  EXPECT_TRUE(ZeroFrom(r.codes, 1) && ZeroFrom(r.second_bytes, 1) && ZeroFrom(r.kinds, 1));

  Bytes body;
  for (uint8_t i = 4; i < 21; ++i) body.push_back(i);
  for (uint8_t length : {4, 5, 7, 13, 14, 17}) {
    SCOPED_TRACE(int(length));
    r = Dirty<SmbiosType170>();
    ASSERT_TRUE(parse_smbios_type170(Table(WithLength(0xAA, length, body)), &r));
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.oem_words[0], length >= 6 ? 0x0504 : 0);
    EXPECT_EQ(r.oem_words[4], length >= 14 ? 0x0D0C : 0);
    EXPECT_TRUE(ZeroFrom(r.codes, 0) && ZeroFrom(r.kinds, 0));
  }
  r = Dirty<SmbiosType170>();  // none: no entries
  EXPECT_FALSE(parse_smbios_type170(Table({0x01, 0x04, 0x00, 0x00, 0x00, 0x00}), &r));
  EXPECT_TRUE(r.count == 0 && ZeroFrom(r.codes, 0));
}

TEST(SmbiosMalformed, TruncationAtEveryOffsetStaysInBounds) {
  const size_t ends[] = {15, 32, 53, kTable.size()};
  for (size_t cut = 0; cut <= kTable.size(); ++cut) {
    SCOPED_TRACE(cut);
    // An exact-size copy (an overread shows under AddressSanitizer), and the whole buffer with
    // a shorter length field, where the bytes behind the end are still there to be misread.
    SmbiosRawTable exact = Table(Bytes(kTable.begin(), kTable.begin() + cut));
    SmbiosRawTable by_length = Table(kTable);
    by_length.length = static_cast<int32_t>(cut);
    const size_t expected = cut < 8 ? 0 : cut < 30 ? 1 : cut < 50 ? 2 : cut < 57 ? 3 : 4;
    for (const SmbiosRawTable* table : {&exact, &by_length}) {
      auto all = walk_smbios_structures(*table);
      ASSERT_EQ(all.size(), expected);
      if (!all.empty()) {
        EXPECT_EQ(all.back().strings_terminated, cut >= ends[all.size() - 1]);
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
  // L below the header: its string set starts at offset + L, and the walk goes on behind it;
  // L = 3 lands in a zero-length structure whose length byte (0xAC) runs past the end.
  for (uint8_t length : {0, 1, 2, 3}) {
    Bytes bytes = {0x01, length, 0x00, 0x00, 0x00, 0x00};
    bytes.insert(bytes.end(), tail172.begin(), tail172.end());
    const auto all = walk_smbios_structures(Table(bytes));
    ASSERT_FALSE(all.empty()) << int(length);
    EXPECT_EQ(all[0].handle, 0) << int(length);
    EXPECT_EQ(parse_smbios_type172(Table(bytes), &r), length == 1 || length == 2) << int(length);
  }
  EXPECT_TRUE(walk_smbios_structures(Table({0xAC, 0x10, 0x01, 0x00, 0x0E, 0x01})).empty());
  for (uint8_t length : {2, 3}) {  // the handle bytes are there, but not part of the header
    const auto all = walk_smbios_structures(Table({0x01, length, 0x34, 0x12, 0x00, 0x00}));
    EXPECT_EQ(all.empty() ? -1 : all[0].handle, 0) << int(length);
  }

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

}  // namespace
