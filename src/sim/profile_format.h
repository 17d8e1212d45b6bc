// What every section of a machine profile is made of: the kinds of values a key may hold and a
// section of fixed keys. Each simulated device describes its own sections with these, beside its
// code; sim/machine_profile.cpp reads the lines and hands every key to its section.
//
// Every function here reports a bad value by throwing LineError with the message the profile's
// author reads; the parser puts the file name and the line number in front of it.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sim::profile_format {

struct LineError {
  std::string message;
};

// One section being read: what each key does, and an optional check when the section ends (a
// missing required key, reported at the section's header line).
struct Section {
  std::function<void(std::string_view key, std::string_view value)> key;
  std::function<void()> finish;
};

using KeyTable = std::map<std::string, std::function<void(std::string_view value)>, std::less<>>;

// A section of fixed keys. Any other key is "unknown key 'KEY' in [NAME]".
Section Keys(std::string name, KeyTable table);

inline constexpr uint64_t kMax8 = 0xFF;
inline constexpr uint64_t kMax16 = 0xFFFF;

// `s` without blanks (space, tab, carriage return) at either end.
std::string_view Trim(std::string_view s);
// The items between separators, each trimmed; none for a blank value.
std::vector<std::string_view> SplitList(std::string_view s, char separator);
// Decimal or 0x-hexadecimal, at most `max`; `what` names the value in the range message
// ("adaptors 3 is out of range 0..2").
uint64_t Number(std::string_view s, uint64_t max, std::string_view what = "value");
// yes / true or no / false.
bool Switch(std::string_view s);
// The value as it is; an empty one is refused.
std::string NonEmpty(std::string_view s);

}  // namespace sim::profile_format
