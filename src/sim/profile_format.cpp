#include "sim/profile_format.h"

#include <charconv>
#include <memory>

namespace sim::profile_format {

Section Keys(std::string name, KeyTable table) {
  auto shared = std::make_shared<KeyTable>(std::move(table));
  return Section{[shared, name](std::string_view key, std::string_view value) {
                   const auto it = shared->find(key);
                   if (it == shared->end()) {
                     throw LineError{"unknown key '" + std::string(key) + "' in [" + name + "]"};
                   }
                   it->second(value);
                 },
                 nullptr};
}

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> SplitList(std::string_view s, char separator) {
  std::vector<std::string_view> items;
  if (Trim(s).empty()) return items;
  size_t start = 0;
  while (true) {
    const size_t end = s.find(separator, start);
    items.push_back(Trim(s.substr(start, end == std::string_view::npos ? s.npos : end - start)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return items;
}

uint64_t Number(std::string_view s, uint64_t max, std::string_view what) {
  std::string_view digits = s;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  uint64_t v = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
  if (digits.empty() || ec == std::errc::result_out_of_range) {
    throw LineError{"'" + std::string(s) + "' is not a number in 0.." + std::to_string(max)};
  }
  if (ec != std::errc() || end != digits.data() + digits.size()) {
    throw LineError{"'" + std::string(s) + "' is not a number"};
  }
  if (v > max) {
    throw LineError{std::string(what) + " " + std::string(s) + " is out of range 0.." +
                    std::to_string(max)};
  }
  return v;
}

bool Switch(std::string_view s) {
  if (s == "yes" || s == "true") return true;
  if (s == "no" || s == "false") return false;
  throw LineError{"'" + std::string(s) + "' is not yes or no"};
}

std::string NonEmpty(std::string_view s) {
  if (s.empty()) throw LineError{"the value must not be empty"};
  return std::string(s);
}

}  // namespace sim::profile_format
