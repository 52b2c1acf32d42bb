#include "tessel/dialect/sqlite/TypeMap.h"

#include <string>

#include "data/NumberText.h"

namespace Tessel::Sqlite {
namespace {

// ASCII letters only: the process locale must not decide what a declared
// type means (toupper leaves "i" alone under a Turkish locale, and would
// rewrite the bytes of non-ASCII names under a single-byte one).
std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

Data::DataType MapDeclaredType(std::string_view declaredType) {
  using Data::DataType;
  const std::string t = AsciiUpper(Data::TrimSpace(declaredType));
  if (t.empty()) return DataType::String;
  if (Contains(t, "BOOL")) return DataType::Boolean;
  if (Contains(t, "DATE") || Contains(t, "TIME")) return DataType::DateTime;
  if (Contains(t, "INT")) return DataType::Int64;
  if (Contains(t, "DEC") || Contains(t, "NUMERIC") || Contains(t, "MONEY")) return DataType::Decimal;
  if (Contains(t, "CHAR") || Contains(t, "CLOB") || Contains(t, "TEXT")) return DataType::String;
  if (Contains(t, "REAL") || Contains(t, "FLOA") || Contains(t, "DOUB")) return DataType::Double;
  if (Contains(t, "BLOB") || Contains(t, "BINARY")) return DataType::Binary;
  return DataType::String;
}

bool DeclaresDay(std::string_view declaredType) {
  const std::string t = AsciiUpper(declaredType);
  return MapDeclaredType(declaredType) == Data::DataType::DateTime && Contains(t, "DATE") &&
         !Contains(t, "TIME");
}

}  // namespace Tessel::Sqlite
