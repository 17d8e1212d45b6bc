// The private-profile (INI) reading of GetPrivateProfileStringW over a file's text, for the
// builds whose system has no such call. The Windows build asks the system instead.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The value of `key` in `[section]` of the INI text `ini` (UTF-8, or UTF-16LE after its byte
// order mark), as GetPrivateProfileStringW answers it:
// - section and key names are compared without regard to case, blanks around them ignored;
//   the first matching section and, in it, the first matching key win;
// - a section line runs from '[' to the last ']' of its line (a line without ']' starts no
//   section); the lines before the first section line form the nameless section "", which
//   comes before any later "[]";
// - a line "key=value" gives the value with the blanks around it removed and, when it starts
//   and ends with the same quote character (" or '), that pair removed;
// - lines without '=' are not keys; a comment line ("; text") is not special: "; key=value"
//   is the key "; key";
// - `default_value` when no key matches, its trailing blanks and then one such pair of quotes
//   removed (its leading blanks kept);
// - the answer is cut to buffer_chars - 1 UTF-16 units; an empty string for buffer_chars 0.
std::string ReadPrivateProfileText(std::string_view ini, std::string_view section,
                                   std::string_view key, std::string_view default_value,
                                   size_t buffer_chars);

}  // namespace platform
