// Text conversions at the edges of the core. Inside the core text is UTF-8 std::string;
// pipe texts are UTF-16LE with their terminating zero; the log file is single-byte.
//
// UTF-16 from a client or from Windows may hold unpaired surrogates, and each such text names
// its own key or file. The core keeps them as their three-byte generalised UTF-8 form (the
// WTF-8 convention), so that UTF-16 -> core text -> UTF-16 gives back every code unit and two
// different texts never meet as one. Well-formed pairs become the usual four bytes. Every
// conversion to the W functions of Windows goes through Utf8ToUtf16 for the same reason.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// One code point as UTF-8; surrogates and values above U+10FFFF become U+FFFD.
std::string CodePointToUtf8(char32_t cp);

// UTF-8 to UTF-16 code units. A three-byte surrogate becomes that code unit; invalid
// sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
// UTF-16 code units to UTF-8. Unpaired surrogates keep their three-byte form.
std::string Utf16ToUtf8(std::u16string_view utf16);

// UTF-8 text as UTF-16LE bytes followed by the two-byte terminating zero.
std::vector<uint8_t> ToWireText(std::string_view utf8);
// UTF-16LE bytes (an odd trailing byte is ignored) up to the first zero code unit, or to the
// end when there is none; `terminated` (optional) tells whether a zero was found.
std::string FromWireText(const uint8_t* data, size_t size, bool* terminated = nullptr);

// Narrows UTF-8 to one byte per character: U+0000..U+00FF keep their value (Latin-1),
// anything above (an unpaired surrogate too) becomes '?'.
std::string NarrowToSingleByte(std::string_view utf8);

// Cuts UTF-8 text so that it holds at most `max_units` UTF-16 code units, never splitting a
// character. This is how a message is fitted into a fixed wide-character buffer.
std::string TruncateToUtf16Units(std::string_view utf8, size_t max_units);

// ASCII upper/lower casing (registry root names, key names).
std::string AsciiUpper(std::string_view s);
std::string AsciiLower(std::string_view s);

// The decimal number at the start of `s`, as _wtoi reads it: leading blanks skipped, one
// optional sign, then digits up to the first other character; 0 when there are none. A value
// beyond the 32-bit range gives INT32_MAX or INT32_MIN.
int32_t LeadingDecimal(std::string_view s);
// The floating number at the start of `s`, as _wtof reads it: leading blanks skipped, then the
// longest prefix that is a decimal number (sign, digits, one point, an exponent); 0.0 when
// there is none.
double LeadingFloat(std::string_view s);

}  // namespace text
