#include "tessel/dialect/sqlite/DefaultLiteral.h"

#include <charconv>
#include <cstdint>
#include <limits>

#include "TesselWrapper/data/Text.h"
#include "data/NumberText.h"

namespace Tessel::Sqlite {
namespace {

using Data::DataType;

bool IsHexDigit(char c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "0x1F" after an optional sign: the digits, or nullopt.
std::optional<std::string_view> HexDigits(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  if (text.size() <= 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return std::nullopt;
  text.remove_prefix(2);
  for (char c : text)
    if (!IsHexDigit(c)) return std::nullopt;
  return text;
}

// X'0aFF' -> bytes; nullopt when not a blob literal.
std::optional<Data::Bytes> UnhexBlob(std::string_view text) {
  if (text.size() < 3 || (text[0] != 'x' && text[0] != 'X') || text[1] != '\'' || text.back() != '\'')
    return std::nullopt;
  const std::string_view hex = text.substr(2, text.size() - 3);
  if (hex.size() % 2 != 0) return std::nullopt;
  Data::Bytes out(hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    auto [end, ec] = std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, out[i], 16);
    if (ec != std::errc() || end != hex.data() + 2 * i + 2) return std::nullopt;
  }
  return out;
}

Data::Value NumberValue(std::string_view text, DataType type) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (type == DataType::String || type == DataType::Decimal) return Data::Value(text);
  const bool negative = !text.empty() && text.front() == '-';
  if (const auto hex = HexDigits(text)) {
    // SQLite reads hex literals as 64-bit two's complement.
    std::uint64_t bits = 0;
    std::from_chars(hex->data(), hex->data() + hex->size(), bits, 16);
    const auto value = static_cast<std::int64_t>(bits);
    return Data::Value(negative ? -value : value);
  }
  if (type != DataType::Double) {
    std::int64_t value = 0;
    if (Data::ParseInt64(text, value)) return Data::Value(value);
  }
  double value = 0;
  switch (Data::TryParseDouble(text, value)) {
    case Data::ParseOutcome::Ok:
      return Data::Value(value);
    case Data::ParseOutcome::OutOfRange:  // SQLite itself reads 1e999 as infinity
      return Data::Value(negative ? -std::numeric_limits<double>::infinity()
                                  : std::numeric_limits<double>::infinity());
    case Data::ParseOutcome::Malformed:
      break;
  }
  return Data::Value(text);  // not reached for a checked literal; the column's conversion decides
}

}  // namespace

ParsedDefault ParseDefault(std::optional<std::string_view> defaultSql, Data::DataType literalType) {
  if (!defaultSql) return {};
  const std::string_view text = WithoutEnclosingParentheses(*defaultSql);

  ParsedDefault parsed{ParsedDefault::Kind::Literal, Data::Value()};
  if (Text::EqualsIgnoreAsciiCase(text, "NULL")) {
    parsed.kind = ParsedDefault::Kind::Null;
  } else if (Text::EqualsIgnoreAsciiCase(text, "TRUE") || Text::EqualsIgnoreAsciiCase(text, "FALSE")) {
    parsed.literal = Data::Value(Text::EqualsIgnoreAsciiCase(text, "TRUE"));
  } else if (auto quoted = ReadLeadingString(text); quoted && quoted->length == text.size()) {
    parsed.literal = Data::Value(std::move(quoted->value));
  } else if (auto blob = UnhexBlob(text)) {
    parsed.literal = Data::Value(std::move(*blob));
  } else if (IsDecimalLiteral(text) || HexDigits(text)) {
    parsed.literal = NumberValue(text, literalType);
  } else {
    parsed.kind = ParsedDefault::Kind::Expression;  // CURRENT_TIMESTAMP, calls, operators, ...
  }
  return parsed;
}

}  // namespace Tessel::Sqlite
