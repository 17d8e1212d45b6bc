// The subset of WQL the broker sends, parsed for the simulated WMI provider:
//   SELECT * | prop [, prop ...] FROM class [WHERE prop = 'text' | "text" | number]
// Keywords are case-insensitive; blanks separate tokens. Anything else does not parse.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct WqlCondition {
  std::string property;
  bool is_number = false;
  std::string text;     // a quoted literal, without its quotes
  uint64_t number = 0;  // a decimal literal
};

struct WqlQuery {
  std::vector<std::string> properties;  // empty: SELECT *
  std::string class_name;
  std::optional<WqlCondition> where;
};

// Parses `query`; nullopt when it is not of the form above.
std::optional<WqlQuery> ParseWql(std::string_view query);

}  // namespace sim
