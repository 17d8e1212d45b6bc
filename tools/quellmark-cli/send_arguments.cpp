#include "send_arguments.h"

#include <fstream>
#include <iterator>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>

#include "base/little_endian.h"
#include "base/text.h"
#include "base/win_codes.h"
#include "pipe/protocol.h"

namespace cli {

namespace {

constexpr size_t kHexBytesPerLine = 16;

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsByteSeparator(char c) { return c == '-' || c == ':' || c == '.'; }

bool ParseHexBytes(std::string_view digits, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  size_t i = 0;
  while (i < digits.size()) {
    if (IsByteSeparator(digits[i])) {
      // Only between two bytes: "01-ab", never "-01", "01-" or "01--ab".
      if (out->empty() || i + 1 >= digits.size() || IsByteSeparator(digits[i + 1])) {
        *error = "misplaced separator";
        return false;
      }
      ++i;
      continue;
    }
    const int high = HexDigitValue(digits[i]);
    if (high < 0) {
      *error = std::string("'") + digits[i] + "' is not a hex digit";
      return false;
    }
    if (i + 1 >= digits.size() || IsByteSeparator(digits[i + 1])) {
      *error = "odd number of hex digits";
      return false;
    }
    const int low = HexDigitValue(digits[i + 1]);
    if (low < 0) {
      *error = std::string("'") + digits[i + 1] + "' is not a hex digit";
      return false;
    }
    out->push_back(static_cast<uint8_t>(high << 4 | low));
    i += 2;
  }
  return true;
}

// A UTF-16 code unit that is neither printable nor a line/tab character.
bool IsControlUnit(char16_t u) {
  if (u == u'\t' || u == u'\n' || u == u'\r') return false;
  return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

std::string FormatValueLine(const char* label, uint64_t value, int hex_digits) {
  char line[64];
  std::snprintf(line, sizeof(line), "  %s: %llu (0x%0*llX)\n", label,
                static_cast<unsigned long long>(value), hex_digits,
                static_cast<unsigned long long>(value));
  return line;
}

}  // namespace

std::optional<uint64_t> ParseUnsigned(std::string_view text, uint64_t max) {
  int base = 10;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  // from_chars accepts neither a sign nor spaces for an unsigned type; an empty digit run
  // fails too, so "0x" alone is rejected.
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  if (value > max) return std::nullopt;
  return value;
}

bool ParseTypedArgument(std::string_view typed, std::vector<uint8_t>* out, std::string* error) {
  const size_t colon = typed.find(':');
  const std::string_view type = colon == std::string_view::npos ? typed : typed.substr(0, colon);
  if (colon == std::string_view::npos) {
    *error = "argument '" + std::string(typed) + "' has no type (use u32:, u64:, str:, hex: or file:)";
    return false;
  }
  const std::string_view value = typed.substr(colon + 1);
  out->clear();
  if (type == "u32" || type == "u64") {
    const bool wide = type == "u64";
    const auto number =
        ParseUnsigned(value, wide ? std::numeric_limits<uint64_t>::max() : 0xFFFFFFFFull);
    if (!number) {
      *error = "argument '" + std::string(typed) + "': not an unsigned " +
               (wide ? "64" : "32") + "-bit number (decimal or 0x hex)";
      return false;
    }
    le::Append(*out, *number, wide ? 8 : 4);
    return true;
  }
  if (type == "str") {
    *out = text::ToWireText(value);
    return true;
  }
  if (type == "hex") {
    std::string why;
    if (!ParseHexBytes(value, out, &why)) {
      *error = "argument '" + std::string(typed) + "': " + why;
      return false;
    }
    return true;
  }
  if (type == "file") {
    // Requests larger than a command line can carry (100 KB and more) come from a file.
    std::ifstream in(std::string(value), std::ios::binary);
    if (!in) {
      *error = "argument '" + std::string(typed) + "': cannot read the file";
      return false;
    }
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
  }
  *error = "argument '" + std::string(typed) + "': unknown type '" + std::string(type) +
           "' (use u32:, u64:, str:, hex: or file:)";
  return false;
}

bool ParseSendCommandLine(const std::vector<std::string>& args, SendCommandLine* out,
                          std::string* error) {
  *out = SendCommandLine{};
  size_t i = 0;
  while (i < args.size() && args[i].starts_with("--")) {
    const std::string& option = args[i];
    if (option == "--") {
      ++i;
      break;
    }
    if (option == "--raw") {
      out->raw = true;
      ++i;
    } else if (option == "--timeout" || option == "--repeat" || option == "--hold") {
      if (i + 1 >= args.size()) {
        *error = option + " needs a value";
        return false;
      }
      const auto value = ParseUnsigned(args[i + 1], 0xFFFFFFFFull);
      const bool zero_allowed = option == "--hold";
      if (!value || (*value == 0 && !zero_allowed)) {
        *error = option + " '" + args[i + 1] + "': expected a number from " +
                 (zero_allowed ? "0" : "1") + " to 4294967295";
        return false;
      }
      const auto number = static_cast<uint32_t>(*value);
      if (option == "--timeout") out->timeout_ms = number;
      if (option == "--repeat") out->repeat = number;
      if (option == "--hold") out->hold_ms = number;
      i += 2;
    } else {
      *error = "unknown option " + option + " for send";
      return false;
    }
  }
  if (i >= args.size()) {
    *error = "send needs a command code";
    return false;
  }
  const auto code = ParseUnsigned(args[i], 0xFFFF);
  if (!code) {
    *error = "command code '" + args[i] + "': expected 0..65535, decimal or 0x hex";
    return false;
  }
  out->code = static_cast<uint16_t>(*code);
  ++i;
  // The request's count is one byte.
  if (args.size() - i > 255) {
    *error = "at most 255 arguments fit in one request";
    return false;
  }
  for (; i < args.size(); ++i) {
    std::vector<uint8_t> bytes;
    if (!ParseTypedArgument(args[i], &bytes, error)) return false;
    out->arguments.push_back(std::move(bytes));
  }
  return true;
}

std::string HexBytes(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) out.push_back(' ');
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return out;
}

std::optional<std::string> ItemText(std::span<const uint8_t> item) {
  if (item.size() < 2 || item.size() % 2 != 0) return std::nullopt;
  const size_t units = item.size() / 2;
  std::u16string text;
  text.reserve(units - 1);
  for (size_t i = 0; i < units; ++i) {
    const char16_t u = static_cast<char16_t>(item[2 * i] | (item[2 * i + 1] << 8));
    if (i + 1 == units) {
      if (u != 0) return std::nullopt;
      break;
    }
    if (u == 0 || IsControlUnit(u)) return std::nullopt;
    text.push_back(u);
  }
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return std::nullopt;
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return std::nullopt;
    }
  }
  return text::Utf16ToUtf8(text);
}

std::string FormatItem(size_t index, std::span<const uint8_t> item) {
  std::string out = "item " + std::to_string(index) + ": " + std::to_string(item.size()) +
                    (item.size() == 1 ? " byte\n" : " bytes\n");
  for (size_t start = 0; start < item.size(); start += kHexBytesPerLine) {
    const size_t n = std::min(kHexBytesPerLine, item.size() - start);
    out += "  " + HexBytes(item.subspan(start, n)) + "\n";
  }
  if (item.size() == 4) out += FormatValueLine("u32", le::Load(item), 8);
  if (item.size() == 8) out += FormatValueLine("u64", le::Load(item), 16);
  const std::optional<std::string> text = ItemText(item);
  // A number's bytes often read as one or three characters of some script (0x050B is U+050B);
  // for items already shown as numbers only plain ASCII counts as text.
  const bool shown_as_number = item.size() == 4 || item.size() == 8;
  if (text.has_value() &&
      (!shown_as_number || std::all_of(text->begin(), text->end(),
                                       [](char c) { return c >= 0x20 && c < 0x7F; }))) {
    std::string body = *text;
    if (!body.empty() && body.back() == '\n') body.pop_back();
    out += "  text: ";
    for (const char c : body) {
      out.push_back(c);
      if (c == '\n') out += "        ";
    }
    out += "\n";
  }
  return out;
}

std::optional<std::string> FormatResponse(std::span<const uint8_t> response, bool raw) {
  if (raw) return HexBytes(response) + "\n";
  std::vector<std::vector<uint8_t>> items;
  if (!ironbark::ParseResponse(response.data(), response.size(), &items)) return std::nullopt;
  std::string out = "items: " + std::to_string(items.size()) + "\n";
  for (size_t i = 0; i < items.size(); ++i) out += FormatItem(i, items[i]);
  return out;
}

std::string ExchangeFailureMessage(ExchangeStage stage, uint32_t error, std::string_view pipe) {
  const std::string code = " (error " + std::to_string(error) + ")";
  switch (stage) {
    case ExchangeStage::kConnect:
      if (error == win::kErrorFileNotFound) return "no broker is serving " + std::string(pipe) + code;
      if (error == win::kErrorSemTimeout) {
        return "every instance of " + std::string(pipe) + " stayed busy" + code;
      }
      return "cannot connect to " + std::string(pipe) + code;
    case ExchangeStage::kWrite:
      return "writing the request to " + std::string(pipe) + " failed" + code;
    case ExchangeStage::kRead:
      if (error == win::kErrorBrokenPipe) {
        return "the broker closed the connection without an answer (unknown command or "
               "malformed request?)";
      }
      return "reading the answer from " + std::string(pipe) + " failed" + code;
  }
  return "failed" + code;
}

}  // namespace cli
