#include "named_commands.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "base/little_endian.h"
#include "base/text.h"
#include "base/win_codes.h"
#include "pipe/protocol.h"
#include "registry_types.h"

namespace cli {
namespace {

enum class Param {
  kU32,          // a 32-bit number
  kU32OrZero,    // a 32-bit number, 0 when left out (last parameter only)
  kU64,          // a 64-bit number
  kOnOff,        // on (1), off (0) or a 32-bit number
  kText,         // UTF-16LE text with its NUL, as the broker's texts travel
  kRegType,      // REG_SZ, REG_DWORD, ... or a number: 32 bits
  kRegFlags,     // RRF_RT_ANY, RRF_RT_REG_SZ, ... or a number: 32 bits
  kData,         // a typed argument as `send` takes it (str:, u32:, u64:, hex:, file:)
  kDataOrEmpty,  // the same, zero bytes when left out (last parameter only)
  kImageFormat,  // gif (0), jpg (1) or a 32-bit number
};

struct ParamSpec {
  Param kind;
  const char* name;  // in the usage text
};

struct NamedCommand {
  const char* noun;
  const char* verb;
  uint16_t code;
  std::vector<ParamSpec> params;
};

bool Optional(Param p) { return p == Param::kU32OrZero || p == Param::kDataOrEmpty; }

// The reading firmware commands take a 32-bit selector, the writing ones a 64-bit value.
const std::vector<NamedCommand>& Commands() {
  static const std::vector<NamedCommand> commands = {
      {"key", "create", 1, {{Param::kText, "KEY"}}},
      {"key", "delete", 2, {{Param::kText, "KEY"}}},
      {"value", "create", 3,
       {{Param::kText, "KEY"}, {Param::kText, "NAME"}, {Param::kRegType, "TYPE"},
        {Param::kData, "DATA"}}},
      {"value", "delete", 4, {{Param::kText, "KEY"}, {Param::kText, "NAME"}}},
      {"value", "set", 5,
       {{Param::kText, "KEY"}, {Param::kText, "NAME"}, {Param::kRegType, "TYPE"},
        {Param::kData, "DATA"}}},
      {"value", "get", 6,
       {{Param::kText, "KEY"}, {Param::kText, "NAME"}, {Param::kRegFlags, "FLAGS"},
        {Param::kU32, "SIZE"}, {Param::kDataOrEmpty, "[DEFAULT]"}}},
      {"sysinfo", "get", 7, {{Param::kU32, "N"}}},
      {"fan-behavior", "set", 13, {{Param::kU64, "VALUE"}}},
      {"fan-behavior", "get", 14, {{Param::kU32, "N"}}},
      {"fan-speed", "set", 15, {{Param::kU64, "VALUE"}}},
      {"fan-speed", "get", 16, {{Param::kU32, "N"}}},
      {"fan-table", "set", 17, {{Param::kU64, "VALUE"}}},
      {"fan-table", "get", 18, {{Param::kU32OrZero, "[N]"}}},
      {"op-mode", "capability", 19, {}},
      {"op-mode", "get", 20, {}},
      {"op-mode", "set", 21, {{Param::kU32, "MODE"}}},
      {"profile", "set", 24, {{Param::kU64, "VALUE"}}},
      {"profile", "get", 25, {{Param::kU32, "N"}}},
      {"misc-setting", "set", 26, {{Param::kU64, "VALUE"}}},
      {"misc-setting", "get", 27, {{Param::kU32, "N"}}},
      {"sticky-keys", "set", 28, {{Param::kOnOff, "on|off"}}},
      {"sticky-keys", "get", 29, {}},
      {"function", "get", 30, {{Param::kU32, "N"}}},
      {"function", "set", 31, {{Param::kU64, "VALUE"}}},
      {"logo", "apply", 36, {{Param::kText, "IMAGE"}, {Param::kImageFormat, "gif|jpg"}}},
      {"logo", "restore", 37, {}},
      {"logo", "get", 38, {}},
  };
  return commands;
}

// A word of the command line that stands for a number (the registry types use the same shape).
using Word = RegistryTypeName;
constexpr Word kRegFlagNames[] = {
    {"RRF_RT_ANY", win::kRrfRtAny},           {"RRF_RT_REG_NONE", win::kRrfRtRegNone},
    {"RRF_RT_REG_SZ", win::kRrfRtRegSz},      {"RRF_RT_REG_EXPAND_SZ", win::kRrfRtRegExpandSz},
    {"RRF_RT_REG_BINARY", win::kRrfRtRegBinary}, {"RRF_RT_REG_DWORD", win::kRrfRtRegDword},
    {"RRF_RT_REG_MULTI_SZ", win::kRrfRtRegMultiSz}, {"RRF_RT_REG_QWORD", win::kRrfRtRegQword},
    {"RRF_RT_DWORD", win::kRrfRtDword},       {"RRF_RT_QWORD", win::kRrfRtQword},
};
constexpr Word kSwitchNames[] = {{"on", 1}, {"off", 0}};
constexpr Word kImageFormatNames[] = {{"gif", 0}, {"jpg", 1}, {"jpeg", 1}};

template <typename Names>
std::optional<uint64_t> NameOrNumber(const std::string& text, const Names& names, uint64_t max) {
  const std::string upper = text::AsciiUpper(text);
  for (const auto& n : names)
    if (upper == text::AsciiUpper(n.name)) return n.type;
  return ParseUnsigned(text, max);
}

std::string Usage(const NamedCommand& c) {
  std::string line = std::string(c.noun) + " " + c.verb;
  for (const ParamSpec& p : c.params) line += std::string(" ") + p.name;
  return line;
}

// One parameter's wire bytes; false with *error set when `text` does not fit it.
bool Encode(const ParamSpec& p, const std::string& text, std::vector<uint8_t>* out,
            std::string* error) {
  constexpr uint64_t k32 = std::numeric_limits<uint32_t>::max();
  std::optional<uint64_t> number;
  size_t width = 4;
  switch (p.kind) {
    case Param::kText:
      *out = text::ToWireText(text);
      return true;
    case Param::kData:
    case Param::kDataOrEmpty:
      return ParseTypedArgument(text, out, error);
    case Param::kU64:
      number = ParseUnsigned(text, std::numeric_limits<uint64_t>::max());
      width = 8;
      break;
    case Param::kU32:
    case Param::kU32OrZero:
      number = ParseUnsigned(text, k32);
      break;
    case Param::kOnOff:
      number = NameOrNumber(text, kSwitchNames, k32);
      break;
    case Param::kRegType:
      number = NameOrNumber(text, kRegistryTypes, k32);
      break;
    case Param::kRegFlags:
      number = NameOrNumber(text, kRegFlagNames, k32);
      break;
    case Param::kImageFormat:
      number = NameOrNumber(text, kImageFormatNames, k32);
      break;
  }
  if (!number) {
    *error = std::string(p.name) + ": '" + text + "' is not a " + (width == 8 ? "64" : "32") +
             "-bit value";
    return false;
  }
  *out = le::Bytes(*number, width);
  return true;
}

}  // namespace

bool IsNamedCommand(const std::string& word) {
  for (const NamedCommand& c : Commands())
    if (word == c.noun) return true;
  return false;
}

bool ParseNamedCommand(const std::vector<std::string>& words, SendCommandLine* out,
                       std::string* error) {
  const NamedCommand* found = nullptr;
  for (const NamedCommand& c : Commands())
    if (words.size() >= 2 && words[0] == c.noun && words[1] == c.verb) found = &c;
  if (found == nullptr) {
    std::string forms;
    for (const NamedCommand& c : Commands())
      if (!words.empty() && words[0] == c.noun) forms += (forms.empty() ? "" : " | ") + Usage(c);
    *error = forms.empty() ? "unknown command '" + (words.empty() ? std::string() : words[0]) + "'"
                           : "usage: " + forms;
    return false;
  }
  const size_t given = words.size() - 2;
  const size_t most = found->params.size();
  const size_t least = most - (most > 0 && Optional(found->params.back().kind) ? 1 : 0);
  if (given < least || given > most) {
    *error = "usage: " + Usage(*found);
    return false;
  }
  SendCommandLine command;
  command.code = found->code;
  for (size_t i = 0; i < most; ++i) {
    const ParamSpec& p = found->params[i];
    std::vector<uint8_t>& bytes = command.arguments.emplace_back();
    if (i >= given) {
      if (p.kind == Param::kU32OrZero) bytes = le::Bytes(0, 4);
      continue;  // kDataOrEmpty: zero bytes
    }
    if (!Encode(p, words[2 + i], &bytes, error)) {
      *error += " (usage: " + Usage(*found) + ")";
      return false;
    }
  }
  *out = std::move(command);
  return true;
}

std::optional<std::string> FormatNamedAnswer(std::span<const uint8_t> response) {
  std::vector<std::vector<uint8_t>> items;
  if (!pipeproto::ParseResponse(response.data(), response.size(), &items)) return std::nullopt;
  std::string out;
  for (const auto& item : items) {
    if (item.size() != 4 && item.size() != 8) {
      const auto text = ItemText(item);
      out += (text ? "text: " + *text : HexBytes(item)) + "\n";
      continue;
    }
    const uint64_t value = le::Load(item);
    char line[64];
    std::snprintf(line, sizeof line, "%" PRIu64 " (0x%0*" PRIX64 ")\n", value,
                  static_cast<int>(item.size() * 2), value);
    out += line;
  }
  return out;
}

std::string NamedCommandUsage() {
  std::string out;
  for (const NamedCommand& c : Commands()) {
    char code[32];
    std::snprintf(code, sizeof code, "send %u", c.code);
    std::string line = "  " + Usage(c);
    line.resize(std::max<size_t>(line.size() + 1, 44), ' ');
    out += line + "(" + code + ")\n";
  }
  return out;
}

}  // namespace cli
