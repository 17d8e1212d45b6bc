// The embedded controller's and the keyboard's wire bytes, and the EC's reply checks, as byte
// tables: what goes out, and what each kind of reply makes of the result and the log line.
#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "hid/ec_protocol.h"
#include "hid/keyboard_hid.h"

namespace {

using namespace corlan::QRN300;

// Hex digits, blanks ignored, into the start of a zeroed block.
EcBlock Hex(std::string_view hex) {
  EcBlock block{};
  size_t n = 0;
  for (size_t i = 0; i < hex.size(); ++i) {
    if (hex[i] == ' ') continue;
    block[n++] = static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    ++i;
  }
  return block;
}

TEST(EcProtocolTest, RequestsAndKeyboardBlocksAreTheseBytes) {
  EXPECT_EQ(EcSystemStatusRequest(3), Hex("00A0 0000 03"));
  EXPECT_EQ(EcOCProfileRequest(), Hex("00A0 0200 0200"));
  EXPECT_EQ(EcDeviceStatusGetRequest(2), Hex("00A0 0A00 02 02"));
  EXPECT_EQ(EcDeviceStatusSetRequest(2, 0x1234, 300), Hex("00A0 0A00 01 02 0100 3412 2C01"));
  const std::pair<KeyboardBlock, KeyboardBlock> keyboard[] = {
      {KeyboardBacklightOff30sSetBlock(1), {0x30, 1, 1, 0, 0, 0, 0, 0xCD}},
      {KeyboardBacklightOff30sSetBlock(2), {0x30, 1, 0, 0, 0, 0, 0, 0xCE}},
      {KeyboardBacklightOff30sGetBlock(), {0xB0, 0, 0, 0, 0, 0, 0, 0x4F}},
      {KeyboardWinMenuKeySetBlock(1), {0x03, 0, 0, 0, 0, 0, 0, 0xFC}},
      {KeyboardWinMenuKeySetBlock(0), {0x03, 3, 0, 0, 0, 0, 0, 0xF9}},
      {KeyboardWinMenuKeyGetBlock(), {0x83, 0, 0, 0, 0, 0, 0, 0x7C}}};
  for (size_t i = 0; i < std::size(keyboard); ++i) EXPECT_EQ(keyboard[i].first, keyboard[i].second) << i;
}

TEST(EcProtocolTest, EachReplyCheckDecidesResultValueAndLine) {
  constexpr uint32_t kUnset = 0x5A5A;
  struct Row {
    const char* what;
    char check;  // V data version, S system status (type 2), P profile, G device get, T device set
    uint32_t cached_version;
    const char* reply;
    uint32_t result;  // 1/0 for the Boolean checks, the result code for G
    uint32_t value;   // the value read (kUnset: untouched)
    const char* line;
  };
  const Row rows[] = {
      {"legacy version", 'V', kEcVersionUnknown, "00E0 0000 0005 FFFF", 1, 0x0500, ""},
      {"current version", 'V', kEcVersionUnknown, "00E0 0000 0000 0106", 1, 0x0601, ""},
      {"malformed version", 'V', kEcVersionUnknown, "00E0 0000 0300 0106", 0, kUnset, "Error getting data version"},
      {"version refused", 'V', kEcVersionUnknown, "01E0 0000", 0, kUnset, "HID return code: E001"},
      {"version echo", 'V', kEcVersionUnknown, "00E0 0200 0000 0106", 0, kUnset, ""},
      {"legacy status", 'S', 0x0500, "00E0 0000 0100 0200", 1, 1, ""},
      {"current status", 'S', 0x0600, "00E0 0000 0200 0100", 1, 1, ""},
      {"unknown version", 'S', kEcVersionUnknown, "00E0 0000 0200 0700", 1, 7, ""},
      {"current 0x0001", 'S', 0x0001, "00E0 0000 0300 0100", 0, kUnset, "Type 2 Feature Command: 03 not match"},
      {"whole u16 shown", 'S', 0x0600, "00E0 0000 0301 0100", 0, kUnset, "Type 2 Feature Command: 103 not match"},
      {"status code", 'S', 0x0600, "0FE0 0000 0200", 0, kUnset, "Type 2 return code: E00F"},
      {"status echo", 'S', 0x0600, "00E0 0A00 0200", 0, kUnset, "Type 2 Command ID: 000A not match"},
      {"profile", 'P', 0x0600, "00E0 0200 00 11 2222 3333 4444 5555 6666 77 88 99 AAAA BBBB CCCC", 1, 0x11, ""},
      {"profile code", 'P', 0x0600, "02E0 0200", 0, kUnset, "HID return code: E002"},
      {"profile echo", 'P', 0x0600, "00E0 0000", 0, kUnset, ""},
      {"get", 'G', 0x0600, "00E0 0A00 02 02 0100 3200 1E00", 0xE000, 0x32, ""},
      {"get E001", 'G', 0x0600, "01E0 0A00 02 02 0100 3200", 0xE001, kUnset, "device 2 return code: E001"},
      {"get echo first", 'G', 0x0600, "01E0 0B00 02 03", 0xE0D1, kUnset, "device 2 return command: 000B not match"},
      {"get device", 'G', 0x0600, "01E0 0A00 02 03", 0xE0D1, kUnset, "device 2 return device index: 03 not match"},
      {"set", 'T', 0x0600, "00E0 0A00 01 02", 1, kUnset, ""},
      {"set code first", 'T', 0x0600, "01E0 0B00 01 03", 0, kUnset, "device 2 return code: E001"},
      {"set echo", 'T', 0x0600, "00E0 0B00 01 03", 0, kUnset, "device 2 return command: 000B not match"},
      {"set device", 'T', 0x0600, "00E0 0A00 01 03", 0, kUnset, "device 2 return device index: 03 not match"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const EcBlock reply = Hex(r.reply);
    uint32_t value = kUnset;
    EcCheck check;
    switch (r.check) {
      case 'V': check = EcCheckDataVersion(reply, &value); break;
      case 'S': check = EcCheckSystemStatus(reply, 2, r.cached_version, &value); break;
      case 'T': check = EcCheckDeviceStatusSet(reply, 2); break;
      case 'P': {
        OCProfile profile;
        profile.values[0] = kUnset;
        check = EcCheckOCProfile(reply, &profile);
        value = profile.values[0];
        if (check.ok) {
          EXPECT_EQ(std::vector<uint32_t>(profile.values, profile.values + 12),
                    (std::vector<uint32_t>{0x11, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666, 0x77,
                                           0x88, 0x99, 0xAAAA, 0xBBBB, 0xCCCC}));
        }
        break;
      }
      case 'G': {
        uint32_t first = kUnset, third = kUnset;
        const uint16_t code = EcCheckDeviceStatusGet(reply, 2, &first, &value, &third, &check.error);
        EXPECT_EQ(code, r.result);
        check.ok = code != 0;
        EXPECT_EQ(std::pair(first, third), code == kEcSuccess ? std::pair(1u, 30u) : std::pair(kUnset, kUnset));
        break;
      }
    }
    EXPECT_EQ(check.ok, r.result != 0);
    EXPECT_EQ(value, r.value);
    EXPECT_EQ(check.error, r.line);
  }
}

TEST(KeyboardTableTest, FieldFileRowLandsBeforeTheThreeRowsThatAlwaysWin) {
  const KeyboardTable plain = BuildKeyboardTable(0, 0, 0);
  EXPECT_EQ(plain.at({0, 0}), 0);
  EXPECT_EQ(plain.at({0, 0x0B9E}), 1);
  EXPECT_EQ(plain.at({0x0D62, 0x0ABD}), kNoKeyboard);
  EXPECT_EQ(plain.at({0x05AF, 0x668E}), 1);
  EXPECT_EQ(BuildKeyboardTable(3426, 2973, 2).at({0x0D62, 0x0B9D}), 2);
  EXPECT_EQ(BuildKeyboardTable(3426, 2975, 2).at({0x0D62, 0x0B9F}), 0);
  EXPECT_EQ(BuildKeyboardTable(3426, 2974, 2).at({0x0D62, 0x0B9E}), 1);
  // The field file's values are read as _wtoi reads them.
  const std::pair<const char*, int32_t> decimals[] = {
      {"3426", 3426}, {" +12x", 12}, {"-7", -7}, {"0x0D62", 0}, {"", 0}, {"99999999999", INT32_MAX}};
  for (const auto& [text, value] : decimals) EXPECT_EQ(text::LeadingDecimal(text), value) << text;
}

}  // namespace
