#include "tessel/dialect/postgres/DefaultLiteral.h"

#include <cstdint>
#include <limits>

#include "TesselWrapper/data/Text.h"
#include "data/NumberText.h"
#include "tessel/dialect/postgres/TypeMap.h"

namespace Tessel::Postgres {
namespace {

using Data::TrimSpace;

template <typename Int>
std::optional<Int> ToInt(std::string_view s) {
  Int value{};
  if (!Data::ParseInteger(s, value)) return std::nullopt;
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

namespace {

// The literal's text, or nullopt when the expression is no literal.
struct LiteralText {
  bool null = false;
  std::string text;
};
std::optional<LiteralText> ReadLiteral(std::string_view expression) {
  const std::string_view s = WithoutEnclosingParentheses(expression);
  if (const auto quoted = ReadLeadingString(s)) {
    if (!IsCastTail(s.substr(quoted->length))) return std::nullopt;
    return LiteralText{false, quoted->value};
  }
  // An unquoted literal: a number, true/false or NULL, with optional casts.
  const std::size_t cast = s.find("::");
  if (cast != std::string_view::npos && !IsCastTail(s.substr(cast))) return std::nullopt;
  const std::string_view head = WithoutEnclosingParentheses(s.substr(0, cast));
  if (head == "NULL") return LiteralText{true, {}};
  if (head == "true" || head == "false" || IsDecimalLiteral(head))
    return LiteralText{false, std::string(head)};
  return std::nullopt;
}

}  // namespace

ParsedDefault ParseDefault(std::string_view expression, Data::DataType type) {
  ParsedDefault parsed{ParsedDefault::Kind::Expression, Data::Value()};
  const std::optional<LiteralText> literal = ReadLiteral(expression);
  if (!literal) return parsed;
  if (literal->null) {
    parsed.kind = ParsedDefault::Kind::Null;
  } else if (auto value = LiteralValue(type, literal->text)) {
    parsed.kind = ParsedDefault::Kind::Literal;
    parsed.literal = std::move(*value);
  }
  // else: a literal the model cannot hold; the server applies it.
  return parsed;
}

std::optional<Data::Value> LiteralValue(Data::DataType type, std::string_view text) {
  using Data::DataType;
  switch (type) {
    case DataType::Boolean:
      if (auto v = ToBool(TrimSpace(text))) return Data::Value(*v);
      return std::nullopt;
    case DataType::Int16:
      if (auto v = ToInt<std::int16_t>(text)) return Data::Value(std::int32_t{*v});
      return std::nullopt;
    case DataType::Int32:
      if (auto v = ToInt<std::int32_t>(text)) return Data::Value(*v);
      return std::nullopt;
    case DataType::Int64:
      if (auto v = ToInt<std::int64_t>(text)) return Data::Value(*v);
      return std::nullopt;
    case DataType::Double: {
      double v = 0;
      if (!Data::ParseDouble(text, v)) return std::nullopt;
      return Data::Value(v);
    }
    case DataType::Decimal:
      if (!IsDecimalLiteral(TrimSpace(text))) return std::nullopt;
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
