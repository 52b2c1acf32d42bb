#include "tessel/postgres/DefaultLiteral.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <limits>

#include "TesselWrapper/data/Text.h"
#include "data/NumberText.h"
#include "tessel/postgres/TypeMap.h"

namespace Tessel::Postgres {
namespace {

using Data::TrimSpace;

// ASCII only: under a single-byte locale isalnum would also take bytes of
// non-ASCII type names, and whether a default is read would follow the locale.
constexpr bool IsAsciiAlnum(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Whether the parentheses at s.front() and s.back() enclose all of s.
bool EnclosedInParentheses(std::string_view s) {
  if (s.size() < 2 || s.front() != '(' || s.back() != ')') return false;
  int depth = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\'') quoted = !quoted;
    if (quoted) continue;
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0 && i + 1 != s.size()) return false;
  }
  return depth == 0;
}

// A tail of casts such as "::character varying(20)[]" or
// "::timestamp(3) without time zone": only type-name characters, no
// operators, quotes or calls with arguments other than numbers.
bool IsCastTail(std::string_view s) {
  while (!s.empty()) {
    if (s.substr(0, 2) != "::") return false;
    s.remove_prefix(2);
    std::size_t n = 0;
    while (n < s.size() && s.substr(n, 2) != "::") {
      const char c = s[n];
      if (!(IsAsciiAlnum(c) || c == '_' || c == ' ' || c == '.' || c == '"' || c == '(' ||
            c == ')' || c == ',' || c == '[' || c == ']'))
        return false;
      if (c == '(') {  // type modifiers: numbers only
        std::size_t close = s.find(')', n);
        if (close == std::string_view::npos) return false;
        for (std::size_t k = n + 1; k < close; ++k)
          if (!std::isdigit(static_cast<unsigned char>(s[k])) && s[k] != ',' && s[k] != ' ')
            return false;
        n = close;
      }
      ++n;
    }
    if (n == 0) return false;
    s.remove_prefix(n);
  }
  return true;
}

bool IsNumber(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  const std::size_t digitsStart = i;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  bool digits = i > digitsStart;
  if (i < s.size() && s[i] == '.') {
    ++i;
    const std::size_t fractionStart = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    digits = digits || i > fractionStart;
  }
  if (!digits) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    const std::size_t expStart = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    if (i == expStart) return false;
  }
  return i == s.size();
}

template <typename Int>
std::optional<Int> ToInt(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  Int value{};
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return value;
}

std::optional<bool> ToBool(std::string_view s) {
  for (std::string_view yes : {"true", "t", "yes", "on", "1"})
    if (Text::EqualsIgnoreAsciiCase(s, yes)) return true;
  for (std::string_view no : {"false", "f", "no", "off", "0"})
    if (Text::EqualsIgnoreAsciiCase(s, no)) return false;
  return std::nullopt;
}

}  // namespace

ParsedDefault ParseDefaultExpression(std::string_view expression) {
  std::string_view s = TrimSpace(expression);
  while (EnclosedInParentheses(s)) s = TrimSpace(s.substr(1, s.size() - 2));

  ParsedDefault parsed;
  if (!s.empty() && s.front() == '\'') {
    std::string text;
    std::size_t i = 1;
    for (;; ++i) {
      if (i >= s.size()) return parsed;  // unterminated: not something we read
      if (s[i] == '\'') {
        if (i + 1 < s.size() && s[i + 1] == '\'') {
          text.push_back('\'');
          ++i;
          continue;
        }
        break;
      }
      text.push_back(s[i]);
    }
    if (!IsCastTail(s.substr(i + 1))) return parsed;
    parsed.kind = ParsedDefault::Kind::Literal;
    parsed.text = std::move(text);
    return parsed;
  }

  // An unquoted literal: a number, true/false or NULL, with optional casts.
  const std::size_t cast = s.find("::");
  std::string_view head = TrimSpace(s.substr(0, cast));
  if (cast != std::string_view::npos && !IsCastTail(s.substr(cast))) return parsed;
  while (EnclosedInParentheses(head)) head = TrimSpace(head.substr(1, head.size() - 2));
  if (head == "NULL") {
    parsed.kind = ParsedDefault::Kind::Null;
  } else if (head == "true" || head == "false" || IsNumber(head)) {
    parsed.kind = ParsedDefault::Kind::Literal;
    parsed.text = std::string(head);
  }
  return parsed;
}

std::optional<Data::Value> LiteralValue(Data::DataType type, std::string_view text) {
  using Data::DataType;
  switch (type) {
    case DataType::Boolean:
      if (auto v = ToBool(TrimSpace(text))) return Data::Value(*v);
      return std::nullopt;
    case DataType::Int16:
      if (auto v = ToInt<std::int16_t>(TrimSpace(text))) return Data::Value(std::int32_t{*v});
      return std::nullopt;
    case DataType::Int32:
      if (auto v = ToInt<std::int32_t>(TrimSpace(text))) return Data::Value(*v);
      return std::nullopt;
    case DataType::Int64:
      if (auto v = ToInt<std::int64_t>(TrimSpace(text))) return Data::Value(*v);
      return std::nullopt;
    case DataType::Double: {
      const std::string_view t = TrimSpace(text);
      if (t == "NaN") return Data::Value(std::numeric_limits<double>::quiet_NaN());
      if (t == "Infinity") return Data::Value(std::numeric_limits<double>::infinity());
      if (t == "-Infinity") return Data::Value(-std::numeric_limits<double>::infinity());
      if (!IsNumber(t)) return std::nullopt;
      double v = 0;
      std::string_view digits = t.front() == '+' ? t.substr(1) : t;
      auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
      if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
      return Data::Value(v);
    }
    case DataType::Decimal:
      if (!IsNumber(TrimSpace(text))) return std::nullopt;
      return Data::Value(std::string(TrimSpace(text)));
    case DataType::DateTime: {
      // A timestamptz constant prints with the session's offset; like every
      // date read back, it keeps its local part.
      Data::Value value = ValueFromText(TypeOid::kTimestampTz, TrimSpace(text));
      if (std::holds_alternative<Data::DateTime>(value.Get())) return value;
      return std::nullopt;  // 'infinity', 'epoch', ...
    }
    case DataType::Binary: {
      Data::Value value = ValueFromText(TypeOid::kBytea, text);
      if (std::holds_alternative<Data::Bytes>(value.Get())) return value;
      return std::nullopt;
    }
    case DataType::String:
      return Data::Value(std::string(text));
  }
  return std::nullopt;
}

}  // namespace Tessel::Postgres
