#include "base/text.h"

#include <gtest/gtest.h>

namespace {

TEST(TextTest, Utf16ComesBackUnitForUnitUnpairedSurrogatesIncluded) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"A\u00E9\u20AC", "A\xC3\xA9\xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},              // a pair: the usual four bytes
      {u"\xD800", "\xED\xA0\x80"},                      // unpaired: three bytes each
      {u"\xDC00\xD800x", "\xED\xB0\x80\xED\xA0\x80x"},  // a pair the wrong way round
      {u"a\xD83D", "a\xED\xA0\xBD"},
  };
  for (const auto& [utf16, utf8] : cases) {
    EXPECT_EQ(text::Utf16ToUtf8(utf16), utf8);
    EXPECT_EQ(text::Utf8ToUtf16(utf8), utf16);
  }
  EXPECT_EQ(text::Utf8ToUtf16("\xFF|\xF4\x90\x80\x80|\xE2\x82"), u"\uFFFD|\uFFFD|\uFFFD");
  EXPECT_EQ(text::NarrowToSingleByte("\xED\xA0\x80\xC3\xA9"), "?\xE9");
}

}  // namespace
