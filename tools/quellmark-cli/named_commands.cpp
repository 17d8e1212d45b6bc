#include "named_commands.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "app/command_catalogue.h"
#include "base/little_endian.h"
#include "base/text.h"
#include "base/win_codes.h"
#include "pipe/protocol.h"
#include "registry_types.h"

namespace cli {
namespace {

using ironbark::AnswerKind;
using ironbark::ArgKind;
using ironbark::CommandArg;
using ironbark::CommandRow;

// The arguments of a row: those with a name.
std::span<const CommandArg> Args(const CommandRow& row) {
  size_t n = 0;
  while (n < ironbark::kMaxCommandArgs && row.args[n].name != nullptr) ++n;
  return {row.args, n};
}

// The command whose named form is `noun verb`; null when there is none.
const CommandRow* FindNamed(const std::string& noun, const std::string& verb) {
  for (const CommandRow& row : ironbark::CommandCatalogue()) {
    if (row.noun != nullptr && noun == row.noun && verb == row.verb) return &row;
  }
  return nullptr;
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

std::string Usage(const CommandRow& row) {
  std::string line = std::string(row.noun) + " " + row.verb;
  for (const CommandArg& a : Args(row)) {
    line += a.optional ? std::string(" [") + a.name + "]" : std::string(" ") + a.name;
  }
  return line;
}

// One argument's wire bytes; false with *error set when `text` does not fit it.
bool Encode(const CommandArg& a, const std::string& text, std::vector<uint8_t>* out,
            std::string* error) {
  constexpr uint64_t k32 = std::numeric_limits<uint32_t>::max();
  std::optional<uint64_t> number;
  size_t width = 4;
  switch (a.kind) {
    case ArgKind::kText:
      *out = text::ToWireText(text);
      return true;
    case ArgKind::kData:
      return ParseTypedArgument(text, out, error);
    case ArgKind::kU64:
      number = ParseUnsigned(text, std::numeric_limits<uint64_t>::max());
      width = 8;
      break;
    case ArgKind::kU32:
      number = ParseUnsigned(text, k32);
      break;
    case ArgKind::kOnOff:
      number = NameOrNumber(text, kSwitchNames, k32);
      break;
    case ArgKind::kRegType:
      number = NameOrNumber(text, kRegistryTypes, k32);
      break;
    case ArgKind::kRegFlags:
      number = NameOrNumber(text, kRegFlagNames, k32);
      break;
    case ArgKind::kImageFormat:
      number = NameOrNumber(text, kImageFormatNames, k32);
      break;
  }
  if (!number) {
    *error = std::string(a.name) + ": '" + text + "' is not a " + (width == 8 ? "64" : "32") +
             "-bit value";
    return false;
  }
  *out = le::Bytes(*number, width);
  return true;
}

// What a left-out optional argument sends: no bytes for data, a 0 of the width for a number.
std::vector<uint8_t> LeftOut(const CommandArg& a) {
  switch (a.kind) {
    case ArgKind::kText:
    case ArgKind::kData:
      return {};
    case ArgKind::kU64:
      return le::Bytes(0, 8);
    default:
      return le::Bytes(0, 4);
  }
}

const char* AnswerText(AnswerKind answer) {
  switch (answer) {
    case AnswerKind::kItem32: return "32-bit";
    case AnswerKind::kItem64: return "64-bit";
    case AnswerKind::kItems32x3: return "three 32-bit";
    case AnswerKind::kCodeThenData: return "32-bit code, data";
    case AnswerKind::kTextItem: return "text";
    case AnswerKind::kNone: return "none";
  }
  return "";
}

}  // namespace

bool IsNamedCommand(const std::string& word) {
  for (const CommandRow& row : ironbark::CommandCatalogue())
    if (row.noun != nullptr && word == row.noun) return true;
  return false;
}

bool ParseNamedCommand(const std::vector<std::string>& words, SendCommandLine* out,
                       std::string* error) {
  const CommandRow* found = words.size() >= 2 ? FindNamed(words[0], words[1]) : nullptr;
  if (found == nullptr) {
    std::string forms;
    for (const CommandRow& row : ironbark::CommandCatalogue())
      if (row.noun != nullptr && !words.empty() && words[0] == row.noun)
        forms += (forms.empty() ? "" : " | ") + Usage(row);
    *error = forms.empty() ? "unknown command '" + (words.empty() ? std::string() : words[0]) + "'"
                           : "usage: " + forms;
    return false;
  }
  const std::span<const CommandArg> args = Args(*found);
  const size_t given = words.size() - 2;
  const size_t most = args.size();
  const size_t least = most - (most > 0 && args.back().optional ? 1 : 0);
  if (given < least || given > most) {
    *error = "usage: " + Usage(*found);
    return false;
  }
  SendCommandLine command;
  command.code = found->code;
  command.expect_answer = found->answer != AnswerKind::kNone;
  for (size_t i = 0; i < most; ++i) {
    std::vector<uint8_t>& bytes = command.arguments.emplace_back();
    if (i >= given) {
      bytes = LeftOut(args[i]);
      continue;
    }
    if (!Encode(args[i], words[2 + i], &bytes, error)) {
      *error += " (usage: " + Usage(*found) + ")";
      return false;
    }
  }
  *out = std::move(command);
  return true;
}

std::optional<std::string> FormatNamedAnswer(std::span<const uint8_t> response) {
  std::vector<std::vector<uint8_t>> items;
  if (!ironbark::ParseResponse(response.data(), response.size(), &items)) return std::nullopt;
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
  for (const CommandRow& row : ironbark::CommandCatalogue()) {
    if (row.noun == nullptr) continue;
    char code[64];
    std::snprintf(code, sizeof code, "send %u, answer %s", row.code, AnswerText(row.answer));
    std::string line = "  " + Usage(row);
    line.resize(std::max<size_t>(line.size() + 1, 44), ' ');
    out += line + "(" + code + ")\n";
  }
  return out;
}

}  // namespace cli
