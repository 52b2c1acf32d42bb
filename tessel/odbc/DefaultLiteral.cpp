#include "tessel/odbc/DefaultLiteral.h"

#include <cstdint>

#include "TesselWrapper/data/Text.h"
#include "data/NumberText.h"
#include "tessel/dialect/sqlite/DefaultLiteral.h"

namespace Tessel::Odbc {
namespace {

// A number's text as a value: text for String and Decimal columns (so that
// "12.50" keeps its digits), else an integer when it is one, else a double.
Data::Value NumberValue(std::string_view text, Data::DataType type) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (type == Data::DataType::String || type == Data::DataType::Decimal) return Data::Value(text);
  std::int64_t integer = 0;
  if (type != Data::DataType::Double && Data::ParseInt64(text, integer)) return Data::Value(integer);
  double number = 0;
  if (Data::ParseDouble(text, number)) return Data::Value(number);
  return Data::Value(text);
}

}  // namespace

ParsedDefault ParseDefault(std::optional<std::string_view> columnDefault, Data::DataType type, Dbms dbms) {
  if (!columnDefault) return {};
  if (dbms == Dbms::SQLite) {
    ParsedDefault parsed = Sqlite::ParseDefault(columnDefault, type);
    // SQLite's ODBC driver reports a quoted default without its quotes (the
    // doubled quotes inside kept): what SQLite's rules take for no literal,
    // and is neither a CURRENT_... keyword nor an expression in
    // parentheses, is that text.
    const std::string_view text = Data::TrimSpace(*columnDefault);
    const bool keyword = text.size() > 8 && Text::EqualsIgnoreAsciiCase(text.substr(0, 8), "CURRENT_");
    if (parsed.kind == ParsedDefault::Kind::Expression && !keyword && !text.empty() && text.front() != '(') {
      std::string value;
      for (std::size_t i = 0; i < text.size(); ++i) {
        value.push_back(text[i]);
        if (text[i] == '\'' && i + 1 < text.size() && text[i + 1] == '\'') ++i;
      }
      parsed.kind = ParsedDefault::Kind::Literal;
      parsed.literal = Data::Value(std::move(value));
    }
    return parsed;
  }
  ParsedDefault parsed{ParsedDefault::Kind::Expression, Data::Value()};
  const std::string_view s = WithoutEnclosingParentheses(*columnDefault);
  if (const auto quoted = ReadLeadingString(s)) {
    if (!IsCastTail(s.substr(quoted->length))) return parsed;
    parsed.kind = ParsedDefault::Kind::Literal;
    parsed.literal = Data::Value(quoted->value);
    return parsed;
  }
  const std::size_t cast = s.find("::");
  if (cast != std::string_view::npos && !IsCastTail(s.substr(cast))) return parsed;
  const std::string_view head = WithoutEnclosingParentheses(s.substr(0, cast));
  if (Text::EqualsIgnoreAsciiCase(head, "NULL")) {
    parsed.kind = ParsedDefault::Kind::Null;
  } else if (Text::EqualsIgnoreAsciiCase(head, "TRUE") || Text::EqualsIgnoreAsciiCase(head, "FALSE")) {
    parsed.kind = ParsedDefault::Kind::Literal;
    parsed.literal = Data::Value(Text::EqualsIgnoreAsciiCase(head, "TRUE"));
  } else if (IsDecimalLiteral(head)) {
    parsed.kind = ParsedDefault::Kind::Literal;
    parsed.literal = NumberValue(head, type);
  }
  return parsed;
}

}  // namespace Tessel::Odbc
