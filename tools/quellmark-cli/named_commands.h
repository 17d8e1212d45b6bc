// Named forms of the broker's commands, so that nobody has to remember codes and argument
// widths: `quellmark-cli op-mode set 5` is `send 21 u32:5`, `fan-table get` is `send 18 u32:0`.
// The words, codes and arguments are those of the broker's own catalogue
// (app/command_catalogue.h). Pure functions, shared by every platform's build of the client.
//
//   NOUN VERB [VALUE]
//
// VALUE is decimal or 0x-prefixed hexadecimal and must fit the command's argument width;
// sticky-keys set also takes on / off.
#pragma once
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "send_arguments.h"

namespace cli {

// True when `word` is the noun of a named command (the caller then hands the words to
// ParseNamedCommand).
bool IsNamedCommand(const std::string& word);

// `words` from the noun on, as a request. On failure returns false with *error set to a usage
// message naming what is wrong.
bool ParseNamedCommand(const std::vector<std::string>& words, SendCommandLine* out,
                       std::string* error);

// The answer of a named command: one line per item, "DEC (0xHEX)" for 4- and 8-byte items
// (hex at the item's width), the item's hex bytes otherwise. nullopt when `response` is not a
// well-formed response.
std::optional<std::string> FormatNamedAnswer(std::span<const uint8_t> response);

// The usage lines of every named command, each ending with '\n'.
std::string NamedCommandUsage();

}  // namespace cli
