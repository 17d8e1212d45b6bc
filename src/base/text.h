// Text conversions at the edges of the core. Inside the core text is UTF-8 std::string;
// pipe texts are UTF-16LE with their terminating zero; the log file is single-byte.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// One code point as UTF-8; surrogates and values above U+10FFFF become U+FFFD.
std::string CodePointToUtf8(char32_t cp);

// UTF-8 to UTF-16 code units. Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
// UTF-16 code units to UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// UTF-8 text as UTF-16LE bytes followed by the two-byte terminating zero.
std::vector<uint8_t> ToWireText(std::string_view utf8);
// UTF-16LE bytes (an odd trailing byte is ignored) up to the first zero code unit, or to the
// end when there is none; `terminated` (optional) tells whether a zero was found.
std::string FromWireText(const uint8_t* data, size_t size, bool* terminated = nullptr);

// Narrows UTF-8 to one byte per character: U+0000..U+00FF keep their value (Latin-1),
// anything above becomes '?'.
std::string NarrowToSingleByte(std::string_view utf8);

// Cuts UTF-8 text so that it holds at most `max_units` UTF-16 code units, never splitting a
// character. This is how a message is fitted into a fixed wide-character buffer.
std::string TruncateToUtf16Units(std::string_view utf8, size_t max_units);

// ASCII upper/lower casing (registry root names, key names).
std::string AsciiUpper(std::string_view s);
std::string AsciiLower(std::string_view s);

}  // namespace text
