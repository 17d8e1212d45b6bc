#include "platform/private_profile.h"

#include <cctype>
#include <optional>
#include <vector>

#include "base/text.h"

namespace platform {
namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view s) {
  const size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The text as UTF-8: a UTF-16LE file (byte order mark FF FE) converted, a UTF-8 byte order
// mark dropped.
std::string AsUtf8(std::string_view ini) {
  if (ini.size() >= 2 && static_cast<uint8_t>(ini[0]) == 0xFF &&
      static_cast<uint8_t>(ini[1]) == 0xFE) {
    std::u16string units;
    for (size_t i = 2; i + 1 < ini.size(); i += 2) {
      units.push_back(static_cast<char16_t>(static_cast<uint8_t>(ini[i]) |
                                            (static_cast<uint8_t>(ini[i + 1]) << 8)));
    }
    return text::Utf16ToUtf8(units);
  }
  if (ini.substr(0, 3) == "\xEF\xBB\xBF") ini.remove_prefix(3);
  return std::string(ini);
}

// The text without one pair of enclosing quotes: the same character (" or ') first and last.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

std::optional<std::string> FindValue(std::string_view ini, std::string_view section,
                                     std::string_view key) {
  // The lines before the first "[...]" form a section of their own, the nameless one, which
  // comes before every other: a later "[]" is a second section of that name.
  bool in_section = Trim(section).empty();
  bool seen_section = in_section;
  size_t at = 0;
  while (at <= ini.size()) {
    size_t end = ini.find('\n', at);
    if (end == std::string_view::npos) end = ini.size();
    const std::string_view line = Trim(ini.substr(at, end - at));
    at = end + 1;
    // A comment ("; ...") is no different from other text: it only holds no key anybody asks
    // for.
    if (line.empty()) continue;
    // A section line runs from '[' to the last ']' of the line; without one it is no section.
    const size_t close = line[0] == '[' ? line.rfind(']') : std::string_view::npos;
    if (close != std::string_view::npos) {
      // Only the first section of the name is read.
      if (in_section) return std::nullopt;
      in_section = !seen_section && SameName(Trim(line.substr(1, close - 1)), Trim(section));
      seen_section = seen_section || in_section;
      continue;
    }
    if (!in_section) continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos || !SameName(Trim(line.substr(0, equals)), Trim(key))) {
      continue;
    }
    return std::string(Unquote(Trim(line.substr(equals + 1))));
  }
  return std::nullopt;
}

}  // namespace

std::string ReadPrivateProfileText(std::string_view ini, std::string_view section,
                                   std::string_view key, std::string_view default_value,
                                   size_t buffer_chars) {
  if (buffer_chars == 0) return {};
  std::optional<std::string> value = FindValue(AsUtf8(ini), section, key);
  if (!value) {
    // The default keeps its leading blanks; its trailing ones and one pair of quotes go.
    const size_t last = default_value.find_last_not_of(kBlanks);
    value = std::string(
        Unquote(default_value.substr(0, last == std::string_view::npos ? 0 : last + 1)));
  }
  return text::TruncateToUtf16Units(*value, buffer_chars - 1);
}

}  // namespace platform
