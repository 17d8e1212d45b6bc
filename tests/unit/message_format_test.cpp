#include "log/message_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

// Each row: what the formatter produced, what a log reader sees.
TEST(MessageFormatTest, ConversionsFlagsAndTexts) {
  for (const auto& [got, want] : std::vector<std::pair<std::string, std::string>>{
           {FormatMessage64("Rsponse data: 0x%I64X", uint64_t{0x1234ABCD5678EF00}),
            "Rsponse data: 0x1234ABCD5678EF00"},
           {FormatMessage64("%I64x", uint64_t{0xFFFFFFFFFFFFFFFF}), "ffffffffffffffff"},
           {FormatMessage64("%I64d", int64_t{INT64_MIN}), "-9223372036854775808"},
           {FormatMessage64("%I32d %I32u", int32_t{-5}, uint32_t{4000000000u}), "-5 4000000000"},
           {FormatMessage64("%016I64X", uint64_t{0xAB}), "00000000000000AB"},
           // A 64-bit conversion read as 32 bits would shift every later argument.
           {FormatMessageSized(256, "%d %I64x %s %u %lld %zu", -1, uint64_t{0x100000000}, "x", 7u,
                               -3LL, size_t{9}),
            "-1 100000000 x 7 -3 9"},
           {FormatMessage64("[%-4d|%4d|%+d]", 1, 2, 3), "[1   |   2|+3]"},
           {FormatMessage64("%*d|%-*d|", 4, 1, 3, 2), "   1|2  |"},
           {FormatMessage64("%.2f %#x %hhu", 1.005, 255u, 0x1FF), "1.00 0xff 255"},
           {FormatMessage64("100%% done%%"), "100% done%"},
           {FormatMessage64("%s|%S|%ls|%hs|%ws", "a", "b", "c", "d", "e"), "a|b|c|d|e"},
           {FormatMessage64("%s", static_cast<const char*>(nullptr)), "(null)"},
           // Width and precision count characters, never split a multi-byte one.
           {FormatMessage64("[%4s]", "\xC3\xA9"), "[   \xC3\xA9]"},
           {FormatMessage64("%.2s", "h\xC3\xA9llo"), "h\xC3\xA9"},
           {FormatMessage64("%c%C", 0xE9, 0x20AC), "\xC3\xA9\xE2\x82\xAC"},
           // Unknown and incomplete conversions are copied.
           {FormatMessage64("a %y b"), "a %y b"},
           {FormatMessage64("tail %"), "tail %"},
           {FormatMessage64("tail %08"), "tail %08"}})
    EXPECT_EQ(got, want);
}

TEST(MessageFormatTest, OutputIsCutToTheBufferLessOneNeverSplittingACharacter) {
  const std::string hundred(100, 'a'), emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
  std::string accents;
  for (int i = 0; i < 100; ++i) accents += "\xC3\xA9";
  const std::string big(1 << 20, 'x');
  for (const auto& [got, want] : std::vector<std::pair<std::string, std::string>>{
           {FormatMessage64("%s", hundred.c_str()), std::string(63, 'a')},
           {FormatMessageSized(100, "%s!", hundred.c_str()), std::string(99, 'a')},
           {FormatMessageSized(1, "%s", "abc"), ""},
           {FormatMessageSized(0, "%s", "abc"), ""},
           {FormatMessage64("%s", std::string(63, 'b').c_str()), std::string(63, 'b')},
           // 62 + 2 units do not fit into 63: the pair is dropped whole.
           {FormatMessage64("%s%s", std::string(62, 'a').c_str(), emoji.c_str()), std::string(62, 'a')},
           {FormatMessage64("%s%s", std::string(61, 'a').c_str(), emoji.c_str()),
            std::string(61, 'a') + emoji},
           {FormatMessage64("%s", accents.c_str()), accents.substr(0, 126)}})  // 63 units
    EXPECT_EQ(got, want);
  EXPECT_EQ(FormatPath260("C:\\%s", std::string(400, 'p').c_str()).size(), 259u);
  // Huge output is cut, not fatal.
  EXPECT_EQ(FormatMessageSized(1024, "%s%s", big.c_str(), big.c_str()).size(), 1023u);
  EXPECT_EQ(FormatMessageSized(256, "%999999999d", 1).size(), 255u);
  EXPECT_EQ(FormatMessageSized(256, "%.999999999f", 1.0).size(), 255u);
}

}  // namespace
