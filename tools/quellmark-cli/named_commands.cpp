#include "named_commands.h"

#include <cinttypes>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <limits>

#include "pipe/protocol.h"

namespace cli {
namespace {

enum class Value {
  kNone,         // no value
  kU32,          // a 32-bit value, required
  kU32OrZero,    // a 32-bit value, 0 when left out
  kU64,          // a 64-bit value, required
  kOnOffOrU32,   // on (1), off (0) or a 32-bit value
};

struct NamedCommand {
  const char* noun;
  const char* verb;
  uint16_t code;
  Value value;
  const char* value_name;  // in the usage text
};

// The reading firmware commands take a 32-bit selector, the writing ones a 64-bit value.
constexpr NamedCommand kCommands[] = {
    {"sysinfo", "get", 7, Value::kU32, "N"},
    {"fan-behavior", "set", 13, Value::kU64, "VALUE"},
    {"fan-behavior", "get", 14, Value::kU32, "N"},
    {"fan-speed", "set", 15, Value::kU64, "VALUE"},
    {"fan-speed", "get", 16, Value::kU32, "N"},
    {"fan-table", "set", 17, Value::kU64, "VALUE"},
    {"fan-table", "get", 18, Value::kU32OrZero, "[N]"},
    {"op-mode", "capability", 19, Value::kNone, ""},
    {"op-mode", "get", 20, Value::kNone, ""},
    {"op-mode", "set", 21, Value::kU32, "MODE"},
    {"profile", "set", 24, Value::kU64, "VALUE"},
    {"profile", "get", 25, Value::kU32, "N"},
    {"misc-setting", "set", 26, Value::kU64, "VALUE"},
    {"misc-setting", "get", 27, Value::kU32, "N"},
    {"sticky-keys", "set", 28, Value::kOnOffOrU32, "on|off"},
    {"sticky-keys", "get", 29, Value::kNone, ""},
    {"function", "get", 30, Value::kU32, "N"},
    {"function", "set", 31, Value::kU64, "VALUE"},
};

std::vector<uint8_t> LittleEndian(uint64_t value, size_t bytes) {
  std::vector<uint8_t> out(bytes);
  for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
  return out;
}

std::string Usage(const NamedCommand& c) {
  std::string line = std::string(c.noun) + " " + c.verb;
  if (*c.value_name != '\0') line += std::string(" ") + c.value_name;
  return line;
}

}  // namespace

bool IsNamedCommand(const std::string& word) {
  for (const NamedCommand& c : kCommands)
    if (word == c.noun) return true;
  return false;
}

bool ParseNamedCommand(const std::vector<std::string>& words, SendCommandLine* out,
                       std::string* error) {
  const NamedCommand* found = nullptr;
  for (const NamedCommand& c : kCommands)
    if (words.size() >= 2 && words[0] == c.noun && words[1] == c.verb) found = &c;
  if (found == nullptr) {
    std::string forms;
    for (const NamedCommand& c : kCommands)
      if (!words.empty() && words[0] == c.noun) forms += (forms.empty() ? "" : " | ") + Usage(c);
    *error = forms.empty() ? "unknown command '" + (words.empty() ? std::string() : words[0]) + "'"
                           : "usage: " + forms;
    return false;
  }
  const bool value_optional = found->value == Value::kNone || found->value == Value::kU32OrZero;
  const size_t most = found->value == Value::kNone ? 2 : 3;
  if (words.size() > most || (words.size() < 3 && !value_optional)) {
    *error = "usage: " + Usage(*found);
    return false;
  }
  SendCommandLine command;
  command.code = found->code;
  if (found->value != Value::kNone) {
    const std::string text = words.size() == 3 ? words[2] : "0";
    const bool wide = found->value == Value::kU64;
    std::optional<uint64_t> value;
    if (found->value == Value::kOnOffOrU32 && (text == "on" || text == "off"))
      value = text == "on" ? 1 : 0;
    else
      value = ParseUnsigned(text, wide ? std::numeric_limits<uint64_t>::max()
                                       : std::numeric_limits<uint32_t>::max());
    if (!value) {
      *error = "'" + text + "' is not a " + (wide ? "64" : "32") + "-bit value (usage: " +
               Usage(*found) + ")";
      return false;
    }
    command.arguments.push_back(LittleEndian(*value, wide ? 8 : 4));
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
      out += HexBytes(item) + "\n";
      continue;
    }
    uint64_t value = 0;
    for (size_t i = item.size(); i-- > 0;) value = (value << 8) | item[i];
    char line[64];
    std::snprintf(line, sizeof line, "%" PRIu64 " (0x%0*" PRIX64 ")\n", value,
                  static_cast<int>(item.size() * 2), value);
    out += line;
  }
  return out;
}

std::string NamedCommandUsage() {
  std::string out;
  for (const NamedCommand& c : kCommands) {
    char code[32];
    std::snprintf(code, sizeof code, "send %u", c.code);
    std::string line = "  " + Usage(c);
    line.resize(std::max<size_t>(line.size() + 1, 28), ' ');
    out += line + "(" + code + ")\n";
  }
  return out;
}

}  // namespace cli
