#include "tessel/DefaultLiteral.h"

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DataTable.h"
#include "data/NumberText.h"

namespace Tessel {
namespace {

// True when the '(' at the start of `text` is closed by its last character.
bool Enclosed(std::string_view text) {
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') return false;
  int depth = 0;
  char quote = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;  // a doubled quote reopens at once: same effect
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      return i + 1 == text.size();
    }
  }
  return false;
}

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

}  // namespace

std::string_view WithoutEnclosingParentheses(std::string_view text) {
  text = Data::TrimSpace(text);
  while (Enclosed(text)) text = Data::TrimSpace(text.substr(1, text.size() - 2));
  return text;
}

std::optional<LeadingString> ReadLeadingString(std::string_view text) {
  if (text.empty() || text.front() != '\'') return std::nullopt;
  LeadingString out;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] != '\'') {
      out.value.push_back(text[i]);
    } else if (i + 1 < text.size() && text[i + 1] == '\'') {
      out.value.push_back('\'');
      ++i;
    } else {
      out.length = i + 1;
      return out;
    }
  }
  return std::nullopt;  // unterminated
}

bool IsCastTail(std::string_view s) noexcept {
  const auto isAsciiDigit = [](char c) { return c >= '0' && c <= '9'; };
  const auto isTypeNameCharacter = [&](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isAsciiDigit(c) || c == '_' || c == ' ' ||
           c == '.' || c == '"' || c == '(' || c == ')' || c == ',' || c == '[' || c == ']';
  };
  while (!s.empty()) {
    if (s.substr(0, 2) != "::") return false;
    s.remove_prefix(2);
    std::size_t n = 0;
    while (n < s.size() && s.substr(n, 2) != "::") {
      const char c = s[n];
      if (!isTypeNameCharacter(c)) return false;
      if (c == '(') {  // type modifiers: numbers only
        const std::size_t close = s.find(')', n);
        if (close == std::string_view::npos) return false;
        for (std::size_t k = n + 1; k < close; ++k)
          if (!isAsciiDigit(s[k]) && s[k] != ',' && s[k] != ' ') return false;
        n = close;
      }
      ++n;
    }
    if (n == 0) return false;
    s.remove_prefix(n);
  }
  return true;
}

bool IsDecimalLiteral(std::string_view text) noexcept {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t start = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    return i > start;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  bool any = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    any = digits() || any;
  }
  if (!any) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == text.size();
}

void ApplyDefault(Data::DataColumn& column, const ParsedDefault& parsed) {
  switch (parsed.kind) {
    case ParsedDefault::Kind::None:
    case ParsedDefault::Kind::Null:
      return;
    case ParsedDefault::Kind::Expression:
      column.Generated = true;
      return;
    case ParsedDefault::Kind::Literal:
      break;
  }
  if (parsed.literal.IsDBNull()) return;
  // The literal in the column's own type, by the conversion every row uses:
  // a one-column probe table of that type takes it or refuses it.
  try {
    auto probe = Data::DataTable::Create();
    Data::DataColumn value;
    value.ColumnName = "value";
    value.Type = column.Type;
    probe->AddColumn(std::move(value));
    Data::DataRow row = probe->NewRow();
    row.Set(std::size_t{0}, parsed.literal.View());
    column.DefaultValue = row.Get(std::size_t{0});
  } catch (const Tessel::Error&) {
    column.Generated = true;  // the database applies the default the model cannot hold
  }
}

}  // namespace Tessel
