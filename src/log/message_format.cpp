#include "log/message_format.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/text.h"

namespace {

// Widths and precisions beyond this only pad text that the buffer cut removes again; capping
// them keeps a hostile "%999999999d" from allocating gigabytes.
constexpr int kMaxFieldWidth = 1 << 16;

enum class Length { kNone, kChar, kShort, kLong, kLongLong, kIntMax, kSize, kPtrDiff, kLongDouble };

struct Directive {
  std::string flags;  // subset of "-+ #0"
  int width = -1;
  int precision = -1;
  Length length = Length::kNone;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int ParseNumber(const char*& p) {
  long value = 0;
  while (IsDigit(*p)) {
    if (value <= kMaxFieldWidth) value = value * 10 + (*p - '0');
    ++p;
  }
  return value > kMaxFieldWidth ? kMaxFieldWidth : static_cast<int>(value);
}

std::string PrintfDirective(const Directive& directive, const char* length, char conversion) {
  std::string s = "%" + directive.flags;
  if (directive.width >= 0) s += std::to_string(directive.width);
  if (directive.precision >= 0) s += "." + std::to_string(directive.precision);
  s += length;
  s += conversion;
  return s;
}

template <typename T>
void AppendPrintf(std::string& out, const std::string& directive, T value) {
  char small[256];
  const int n = std::snprintf(small, sizeof small, directive.c_str(), value);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out.append(small, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), directive.c_str(), value);
  out.append(big.data(), static_cast<size_t>(n));
}

// Pads text to the field width counted in UTF-16 units, as a wide buffer would count it.
void AppendPadded(std::string& out, const Directive& directive, std::string_view value) {
  size_t units = text::Utf8ToUtf16(value).size();
  const bool left = directive.flags.find('-') != std::string::npos;
  const size_t pad = directive.width > 0 && static_cast<size_t>(directive.width) > units
                         ? static_cast<size_t>(directive.width) - units
                         : 0;
  if (!left) out.append(pad, ' ');
  out.append(value);
  if (left) out.append(pad, ' ');
}

long long SignedArg(Length length, va_list& args) {
  switch (length) {
    case Length::kChar: return static_cast<signed char>(va_arg(args, int));
    case Length::kShort: return static_cast<short>(va_arg(args, int));
    case Length::kLong: return va_arg(args, long);
    case Length::kLongLong: return va_arg(args, long long);
    case Length::kIntMax: return va_arg(args, intmax_t);
    case Length::kSize:
    case Length::kPtrDiff: return va_arg(args, ptrdiff_t);
    default: return va_arg(args, int);
  }
}

unsigned long long UnsignedArg(Length length, va_list& args) {
  switch (length) {
    case Length::kChar: return static_cast<unsigned char>(va_arg(args, unsigned int));
    case Length::kShort: return static_cast<unsigned short>(va_arg(args, unsigned int));
    case Length::kLong: return va_arg(args, unsigned long);
    case Length::kLongLong: return va_arg(args, unsigned long long);
    case Length::kIntMax: return va_arg(args, uintmax_t);
    case Length::kSize:
    case Length::kPtrDiff: return va_arg(args, size_t);
    default: return va_arg(args, unsigned int);
  }
}

// Reads the length prefix, translating the Microsoft ones: I64 is long long, I32 is int, a bare
// I is pointer-sized. 'w' (wide) and the h/l on %s and %c only pick the character width of the
// Microsoft text conversions, which is always UTF-8 here.
Length ParseLength(const char*& p) {
  switch (*p) {
    case 'h':
      ++p;
      if (*p == 'h') {
        ++p;
        return Length::kChar;
      }
      return Length::kShort;
    case 'l':
      ++p;
      if (*p == 'l') {
        ++p;
        return Length::kLongLong;
      }
      return Length::kLong;
    case 'q': ++p; return Length::kLongLong;
    case 'j': ++p; return Length::kIntMax;
    case 'z': ++p; return Length::kSize;
    case 't': ++p; return Length::kPtrDiff;
    case 'L': ++p; return Length::kLongDouble;
    case 'w': ++p; return Length::kNone;
    case 'I':
      if (p[1] == '6' && p[2] == '4') {
        p += 3;
        return Length::kLongLong;
      }
      if (p[1] == '3' && p[2] == '2') {
        p += 3;
        return Length::kNone;
      }
      ++p;
      return Length::kSize;
    default: return Length::kNone;
  }
}

}  // namespace

std::string FormatMessageSizedV(size_t buffer_chars, const char* format, va_list args_in) {
  if (buffer_chars == 0 || format == nullptr) return std::string();
  const size_t max_units = buffer_chars - 1;
  va_list args;
  va_copy(args, args_in);

  const size_t stop_at = max_units > SIZE_MAX / 4 ? SIZE_MAX : 3 * max_units + 4;
  std::string out;
  const char* p = format;
  // Once the output has three bytes per allowed code unit it is certain to be cut; the rest of
  // the format cannot change what survives.
  while (*p != '\0' && out.size() < stop_at) {
    if (*p != '%') {
      out.push_back(*p++);
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out.push_back('%');
      ++p;
      continue;
    }

    Directive directive;
    while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr) {
      if (directive.flags.find(*p) == std::string::npos) directive.flags.push_back(*p);
      ++p;
    }
    if (*p == '*') {
      ++p;
      int w = va_arg(args, int);
      if (w < 0) {
        if (directive.flags.find('-') == std::string::npos) directive.flags.push_back('-');
        w = w == INT_MIN ? kMaxFieldWidth : -w;
      }
      directive.width = w > kMaxFieldWidth ? kMaxFieldWidth : w;
    } else if (IsDigit(*p)) {
      directive.width = ParseNumber(p);
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        ++p;
        const int prec = va_arg(args, int);
        directive.precision = prec < 0 ? -1 : (prec > kMaxFieldWidth ? kMaxFieldWidth : prec);
      } else {
        directive.precision = ParseNumber(p);
      }
    }
    directive.length = ParseLength(p);

    const char conversion = *p;
    if (conversion == '\0') {
      out.append(start, static_cast<size_t>(p - start));
      break;
    }
    ++p;

    switch (conversion) {
      case 'd':
      case 'i':
        AppendPrintf(out, PrintfDirective(directive, "ll", conversion), SignedArg(directive.length, args));
        break;
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        AppendPrintf(out, PrintfDirective(directive, "ll", conversion), UnsignedArg(directive.length, args));
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (directive.length == Length::kLongDouble) {
          AppendPrintf(out, PrintfDirective(directive, "L", conversion), va_arg(args, long double));
        } else {
          AppendPrintf(out, PrintfDirective(directive, "", conversion), va_arg(args, double));
        }
        break;
      case 'c':
      case 'C': {
        const uint32_t cp = static_cast<uint32_t>(va_arg(args, int));
        // A zero character would end the text in a wide buffer; it contributes nothing here.
        AppendPadded(out, directive, cp == 0 ? std::string() : text::CodePointToUtf8(cp));
        break;
      }
      case 's':
      case 'S': {
        const char* s = va_arg(args, const char*);
        std::string_view value = s != nullptr ? std::string_view(s) : std::string_view("(null)");
        if (directive.precision >= 0) {
          AppendPadded(out, directive,
                       text::TruncateToUtf16Units(value, static_cast<size_t>(directive.precision)));
        } else {
          AppendPadded(out, directive, value);
        }
        break;
      }
      case 'p': {
        // The pointer as the Windows runtime prints it: 16 upper-case hex digits, no "0x".
        const void* ptr = va_arg(args, const void*);
        char digits[32];
        std::snprintf(digits, sizeof digits, "%016llX",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(ptr)));
        AppendPadded(out, directive, digits);
        break;
      }
      case 'n':
        (void)va_arg(args, void*);
        break;
      default:
        out.append(start, static_cast<size_t>(p - start));
        break;
    }
  }
  va_end(args);
  return text::TruncateToUtf16Units(out, max_units);
}

std::string FormatMessageSized(size_t buffer_chars, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string result = FormatMessageSizedV(buffer_chars, format, args);
  va_end(args);
  return result;
}

std::string FormatMessage64(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string result = FormatMessageSizedV(64, format, args);
  va_end(args);
  return result;
}

std::string FormatPath260(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string result = FormatMessageSizedV(260, format, args);
  va_end(args);
  return result;
}
