#include "base/text.h"

#include <locale>
#include <sstream>

#include <algorithm>

namespace text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point from UTF-8 at `i`, advancing `i`. A three-byte sequence may carry a
// surrogate (D800..DFFF), which is returned as it is.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + extra >= s.size()) {  // sequence cut short by the end of the text
    i = s.size();
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      i += k;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += extra + 1;
  if (cp > 0x10FFFF) return kReplacement;
  return cp;
}

bool IsSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// Any value up to U+10FFFF, surrogates included, in the UTF-8 form of its size.
void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string CodePointToUtf8(char32_t cp) {
  if (cp > 0x10FFFF || IsSurrogate(cp)) cp = kReplacement;
  std::string out;
  AppendUtf8(out, cp);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp = DecodeUtf8(utf8, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t cu = utf16[i];
    if (cu >= 0xD800 && cu <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cu = 0x10000 + ((cu - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, cu);  // an unpaired surrogate keeps its own three bytes
  }
  return out;
}

std::vector<uint8_t> ToWireText(std::string_view utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  std::vector<uint8_t> out;
  out.reserve(units.size() * 2 + 2);
  for (char16_t u : units) {
    out.push_back(static_cast<uint8_t>(u & 0xFF));
    out.push_back(static_cast<uint8_t>(u >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

std::string FromWireText(const uint8_t* data, size_t size, bool* terminated) {
  std::u16string units;
  bool found = false;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const char16_t u = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (u == 0) {
      found = true;
      break;
    }
    units.push_back(u);
  }
  if (terminated != nullptr) *terminated = found;
  return Utf16ToUtf8(units);
}

std::string NarrowToSingleByte(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = DecodeUtf8(utf8, i);
    out.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
  }
  return out;
}

std::string TruncateToUtf16Units(std::string_view utf8, size_t max_units) {
  size_t units = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    size_t next = i;
    const char32_t cp = DecodeUtf8(utf8, next);
    const size_t need = cp >= 0x10000 ? 2 : 1;
    if (units + need > max_units) break;
    units += need;
    i = next;
  }
  return std::string(utf8.substr(0, i));
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

double LeadingFloat(std::string_view s) {
  size_t at = 0;
  while (at < s.size() && (s[at] == ' ' || (s[at] >= '\t' && s[at] <= '\r'))) ++at;
  size_t end = at;
  if (end < s.size() && (s[end] == '-' || s[end] == '+')) ++end;
  const auto digits = [&] {
    const size_t from = end;
    while (end < s.size() && s[end] >= '0' && s[end] <= '9') ++end;
    return end - from;
  };
  size_t mantissa = digits();
  if (end < s.size() && s[end] == '.') {
    ++end;
    mantissa += digits();
  }
  if (mantissa == 0) return 0.0;
  // An exponent counts only with at least one digit.
  if (end < s.size() && (s[end] == 'e' || s[end] == 'E')) {
    const size_t mark = end++;
    if (end < s.size() && (s[end] == '-' || s[end] == '+')) ++end;
    if (digits() == 0) end = mark;
  }
  // The C locale's conversion of exactly that prefix (never the user's decimal comma).
  std::istringstream in(std::string(s.substr(at, end - at)));
  in.imbue(std::locale::classic());
  double value = 0.0;
  in >> value;
  return in.fail() ? 0.0 : value;
}

int32_t LeadingDecimal(std::string_view s) {
  size_t at = 0;
  while (at < s.size() && (s[at] == ' ' || (s[at] >= '\t' && s[at] <= '\r'))) ++at;
  const bool negative = at < s.size() && s[at] == '-';
  if (at < s.size() && (s[at] == '-' || s[at] == '+')) ++at;
  int64_t value = 0;
  for (; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at) {
    value = std::min<int64_t>(value * 10 + (s[at] - '0'), int64_t{INT32_MAX} + 1);
  }
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX));
}

}  // namespace text
