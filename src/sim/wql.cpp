#include "sim/wql.h"

#include <charconv>

#include "base/text.h"

namespace sim {
namespace {

enum class Kind { kWord, kText, kNumber, kStar, kComma, kEquals };

struct Token {
  Kind kind;
  std::string value;
};

bool WordChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

std::optional<std::vector<Token>> Tokenize(std::string_view q) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < q.size()) {
    const char c = q[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '*') {
      tokens.push_back({Kind::kStar, "*"});
      ++i;
    } else if (c == ',') {
      tokens.push_back({Kind::kComma, ","});
      ++i;
    } else if (c == '=') {
      tokens.push_back({Kind::kEquals, "="});
      ++i;
    } else if (c == '\'' || c == '"') {
      const size_t end = q.find(c, i + 1);
      if (end == std::string_view::npos) return std::nullopt;
      tokens.push_back({Kind::kText, std::string(q.substr(i + 1, end - i - 1))});
      i = end + 1;
    } else if (c >= '0' && c <= '9') {
      size_t end = i;
      while (end < q.size() && q[end] >= '0' && q[end] <= '9') ++end;
      if (end < q.size() && WordChar(q[end])) return std::nullopt;  // "12abc"
      tokens.push_back({Kind::kNumber, std::string(q.substr(i, end - i))});
      i = end;
    } else if (WordChar(c)) {
      size_t end = i;
      while (end < q.size() && WordChar(q[end])) ++end;
      tokens.push_back({Kind::kWord, std::string(q.substr(i, end - i))});
      i = end;
    } else {
      return std::nullopt;
    }
  }
  return tokens;
}

bool IsKeyword(const Token& t, std::string_view keyword) {
  return t.kind == Kind::kWord && text::AsciiUpper(t.value) == keyword;
}

bool IsName(const Token& t) {
  return t.kind == Kind::kWord && !IsKeyword(t, "SELECT") && !IsKeyword(t, "FROM") &&
         !IsKeyword(t, "WHERE");
}

}  // namespace

std::optional<WqlQuery> ParseWql(std::string_view query) {
  const std::optional<std::vector<Token>> tokens = Tokenize(query);
  if (!tokens) return std::nullopt;
  const std::vector<Token>& t = *tokens;
  size_t i = 0;
  const auto at = [&](size_t k) -> const Token* { return k < t.size() ? &t[k] : nullptr; };

  WqlQuery result;
  if (at(i) == nullptr || !IsKeyword(t[i], "SELECT")) return std::nullopt;
  ++i;
  if (at(i) != nullptr && t[i].kind == Kind::kStar) {
    ++i;
  } else {
    while (true) {
      if (at(i) == nullptr || !IsName(t[i])) return std::nullopt;
      result.properties.push_back(t[i].value);
      ++i;
      if (at(i) == nullptr || t[i].kind != Kind::kComma) break;
      ++i;
    }
  }
  if (at(i) == nullptr || !IsKeyword(t[i], "FROM")) return std::nullopt;
  ++i;
  if (at(i) == nullptr || !IsName(t[i])) return std::nullopt;
  result.class_name = t[i].value;
  ++i;
  if (at(i) != nullptr) {
    if (!IsKeyword(t[i], "WHERE")) return std::nullopt;
    if (at(i + 3) == nullptr || !IsName(t[i + 1]) || t[i + 2].kind != Kind::kEquals) {
      return std::nullopt;
    }
    WqlCondition condition;
    condition.property = t[i + 1].value;
    const Token& literal = t[i + 3];
    if (literal.kind == Kind::kText) {
      condition.text = literal.value;
    } else if (literal.kind == Kind::kNumber) {
      condition.is_number = true;
      const char* first = literal.value.data();
      const char* last = first + literal.value.size();
      if (std::from_chars(first, last, condition.number).ec != std::errc()) return std::nullopt;
    } else {
      return std::nullopt;
    }
    result.where = std::move(condition);
    i += 4;
    if (at(i) != nullptr) return std::nullopt;
  }
  return result;
}

}  // namespace sim
