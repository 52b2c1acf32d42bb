#include "tessel/sqlite/Schema.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <set>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/Text.h"
#include "data/NumberText.h"
#include "tessel/NameLookup.h"
#include "tessel/sqlite/Errors.h"
#include "tessel/sqlite/Handles.h"

namespace Tessel::Sqlite {
namespace {

using Data::DataType;

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

using Data::TrimSpace;

// True when the '(' at the start of `text` is closed by its last character
// (quotes respected), so "(1)" is wrapped and "(1)+(2)" is not.
bool WrappedInParentheses(std::string_view text) {
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

// 'it''s' -> it's; nullopt when `text` is not exactly one quoted string.
std::optional<std::string> UnquoteString(std::string_view text) {
  if (text.size() < 2 || text.front() != '\'' || text.back() != '\'') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '\'') {
      if (i + 2 >= text.size() || text[i + 1] != '\'') return std::nullopt;
      ++i;
    }
    out.push_back(text[i]);
  }
  return out;
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

// SQLite's numeric literal, optionally signed: digits with an optional
// fraction and exponent, or 0x hex digits.
bool IsNumericLiteral(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (text.size() > i + 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i + 2), text.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
  }
  const auto digit = [&](std::size_t k) { return k < text.size() && std::isdigit(static_cast<unsigned char>(text[k])); };
  bool any = false;
  while (digit(i)) ++i, any = true;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (digit(i)) ++i, any = true;
  }
  if (!any) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digit(i)) return false;
    while (digit(i)) ++i;
  }
  return i == text.size();
}

Data::Value NumberValue(std::string_view text, DataType type) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (type == DataType::String || type == DataType::Decimal) return Data::Value(text);
  const bool negative = !text.empty() && text.front() == '-';
  std::string_view digits = negative ? text.substr(1) : text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    // SQLite reads hex literals as 64-bit two's complement.
    std::uint64_t bits = 0;
    std::from_chars(digits.data() + 2, digits.data() + digits.size(), bits, 16);
    const auto value = static_cast<std::int64_t>(bits);
    return Data::Value(negative ? -value : value);
  }
  if (type != DataType::Double) {
    std::int64_t value = 0;
    if (Data::ParseInt64(text, value)) return Data::Value(value);
  }
  double value = 0;
  switch (Data::TryParseDouble(text, value)) {
    case Data::ParseOutcome::Ok: return Data::Value(value);
    case Data::ParseOutcome::OutOfRange:  // SQLite itself reads 1e999 as infinity
      return Data::Value(negative ? -std::numeric_limits<double>::infinity()
                                  : std::numeric_limits<double>::infinity());
    case Data::ParseOutcome::Malformed: break;
  }
  return Data::Value(text);  // not reached for a checked literal; the column's conversion decides
}

// The literal as the column's own type, by the table model's conversion
// rules; nullopt when the column cannot hold it.
std::optional<Data::Value> ConvertForColumn(const Data::DataColumn& column, const Data::Value& literal) {
  try {
    auto probe = Data::DataTable::Create();
    Data::DataColumn value;
    value.ColumnName = "value";
    value.Type = column.Type;
    probe->AddColumn(std::move(value));
    Data::DataRow row = probe->NewRow();
    row.Set(std::size_t{0}, literal.View());
    return row.Get(std::size_t{0});
  } catch (const Tessel::Error&) {
    return std::nullopt;
  }
}

int Step(sqlite3* db, sqlite3_stmt* stmt, std::string_view context) {
  const int rc = sqlite3_step(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowDatabaseError(db, rc, context);
  return rc;
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column))) : std::string();
}

void BindText(sqlite3_stmt* stmt, int index, std::string_view text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

struct IndexInfo {
  std::string name;
  bool unique = false;
  std::string origin;  // "c" CREATE INDEX, "u" UNIQUE constraint, "pk" primary key
  bool partial = false;
};

std::vector<IndexInfo> ReadIndexes(sqlite3* db, const std::string& schema, const std::string& table) {
  const std::string context = "could not read the indexes of table '" + table + "'";
  StmtHandle stmt = Prepare(
      db, "SELECT name, \"unique\", origin, partial FROM pragma_index_list(?1, ?2) ORDER BY seq", context);
  BindText(stmt.get(), 1, table);
  BindText(stmt.get(), 2, schema);
  std::vector<IndexInfo> indexes;
  while (Step(db, stmt.get(), context) == SQLITE_ROW) {
    indexes.push_back({ColumnText(stmt.get(), 0), sqlite3_column_int(stmt.get(), 1) != 0,
                       ColumnText(stmt.get(), 2), sqlite3_column_int(stmt.get(), 3) != 0});
  }
  return indexes;
}

// The key columns of an index by name; nullopt when a key is an expression
// or the rowid, which the model cannot check.
std::optional<std::vector<std::string>> ReadIndexColumns(sqlite3* db, const std::string& schema,
                                                         const std::string& index) {
  const std::string context = "could not read the columns of index '" + index + "'";
  StmtHandle stmt = Prepare(db, "SELECT cid, name FROM pragma_index_info(?1, ?2) ORDER BY seqno", context);
  BindText(stmt.get(), 1, index);
  BindText(stmt.get(), 2, schema);
  std::vector<std::string> columns;
  while (Step(db, stmt.get(), context) == SQLITE_ROW) {
    if (sqlite3_column_int(stmt.get(), 0) < 0) return std::nullopt;
    columns.push_back(ColumnText(stmt.get(), 1));
  }
  return columns;
}

// The columns that some unique index (a primary key's or a UNIQUE
// constraint's included) compares with the NOCASE collation, whether the
// collation comes from the column's declaration or from the index.
std::set<std::string, std::less<>> CaseInsensitiveKeyColumns(sqlite3* db, const std::string& schema,
                                                             const std::vector<IndexInfo>& indexes) {
  std::set<std::string, std::less<>> columns;
  for (const IndexInfo& index : indexes) {
    if (!index.unique || index.partial) continue;
    const std::string context = "could not read the collations of index '" + index.name + "'";
    StmtHandle stmt = Prepare(
        db, "SELECT name, coll FROM pragma_index_xinfo(?1, ?2) WHERE key AND cid >= 0 AND name IS NOT NULL", context);
    BindText(stmt.get(), 1, index.name);
    BindText(stmt.get(), 2, schema);
    while (Step(db, stmt.get(), context) == SQLITE_ROW)
      if (Text::EqualsIgnoreAsciiCase(ColumnText(stmt.get(), 1), "NOCASE")) columns.insert(ColumnText(stmt.get(), 0));
  }
  return columns;
}

}  // namespace

Data::DataType MapDeclaredType(std::string_view declaredType) {
  const std::string t = AsciiUpper(TrimSpace(declaredType));
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

ParsedDefault ParseDefault(std::optional<std::string_view> defaultSql, Data::DataType literalType) {
  if (!defaultSql) return {};
  std::string_view text = TrimSpace(*defaultSql);
  while (WrappedInParentheses(text)) text = TrimSpace(text.substr(1, text.size() - 2));

  ParsedDefault parsed{ParsedDefault::Kind::Literal, Data::Value()};
  if (Text::EqualsIgnoreAsciiCase(text, "NULL")) return parsed;
  if (Text::EqualsIgnoreAsciiCase(text, "TRUE") || Text::EqualsIgnoreAsciiCase(text, "FALSE")) {
    parsed.literal = Data::Value(Text::EqualsIgnoreAsciiCase(text, "TRUE"));
  } else if (auto quoted = UnquoteString(text)) {
    parsed.literal = Data::Value(std::move(*quoted));
  } else if (auto blob = UnhexBlob(text)) {
    parsed.literal = Data::Value(std::move(*blob));
  } else if (IsNumericLiteral(text)) {
    parsed.literal = NumberValue(text, literalType);
  } else {
    parsed.kind = ParsedDefault::Kind::Computed;  // CURRENT_TIMESTAMP, expressions, ...
  }
  return parsed;
}

bool SchemaExists(sqlite3* db, const std::string& schema) {
  // The temporary database is listed only once something has used it.
  if (Text::EqualsIgnoreAsciiCase(schema, "temp")) return true;
  const std::string context = "could not list the databases of the connection";
  StmtHandle stmt =
      Prepare(db, "SELECT 1 FROM pragma_database_list WHERE name = ?1 COLLATE NOCASE", context);
  BindText(stmt.get(), 1, schema);
  return Step(db, stmt.get(), context) == SQLITE_ROW;
}

std::int64_t SchemaVersion(sqlite3* db, const std::string& schema) {
  const std::string context = "could not read the schema version of '" + schema + "'";
  StmtHandle stmt = Prepare(db, "PRAGMA " + QuoteIdentifier(schema) + ".schema_version", context);
  if (Step(db, stmt.get(), context) != SQLITE_ROW) return 0;
  return sqlite3_column_int64(stmt.get(), 0);
}

std::vector<std::string> ListTables(sqlite3* db, const std::string& schema) {
  const std::string context = "could not list the tables of '" + schema + "'";
  StmtHandle stmt = Prepare(db,
                            "SELECT name FROM " + QuoteIdentifier(schema) +
                                ".sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'",
                            context);
  std::vector<std::string> names;
  while (Step(db, stmt.get(), context) == SQLITE_ROW) names.push_back(ColumnText(stmt.get(), 0));
  return names;
}

std::vector<std::string> ListCatalogueNames(sqlite3* db, const std::string& schema,
                                            std::string_view catalogue, const std::string& context) {
  StmtHandle stmt = Prepare(db,
                            "SELECT name FROM " + QuoteIdentifier(schema) + "." + QuoteIdentifier(catalogue) +
                                " WHERE name IS NOT NULL",
                            context);
  std::vector<std::string> names;
  while (Step(db, stmt.get(), context) == SQLITE_ROW) names.push_back(ColumnText(stmt.get(), 0));
  return names;
}

bool RelationExists(sqlite3* db, const std::string& schema, std::string_view name) {
  const std::string context = "could not list the tables of '" + schema + "'";
  StmtHandle stmt = Prepare(db,
                            "SELECT 1 FROM " + QuoteIdentifier(schema) +
                                ".sqlite_master WHERE type IN ('table', 'view') AND name = ?1 COLLATE NOCASE",
                            context);
  BindText(stmt.get(), 1, name);
  return Step(db, stmt.get(), context) == SQLITE_ROW;
}

std::vector<ColumnInfo> ReadColumns(sqlite3* db, const std::string& schema, const std::string& table) {
  const std::string context = "could not read the columns of table '" + table + "'";
  StmtHandle stmt = Prepare(
      db, "SELECT name, type, \"notnull\", dflt_value, pk, hidden FROM pragma_table_xinfo(?1, ?2) ORDER BY cid",
      context);
  BindText(stmt.get(), 1, table);
  BindText(stmt.get(), 2, schema);
  std::vector<ColumnInfo> columns;
  while (Step(db, stmt.get(), context) == SQLITE_ROW) {
    ColumnInfo column;
    column.name = ColumnText(stmt.get(), 0);
    column.declaredType = ColumnText(stmt.get(), 1);
    column.notNull = sqlite3_column_int(stmt.get(), 2) != 0;
    if (sqlite3_column_type(stmt.get(), 3) != SQLITE_NULL) column.defaultSql = ColumnText(stmt.get(), 3);
    column.pkPosition = sqlite3_column_int(stmt.get(), 4);
    column.hidden = sqlite3_column_int(stmt.get(), 5);
    columns.push_back(std::move(column));
  }
  return columns;
}

std::shared_ptr<Data::DataTable> ReadShape(sqlite3* db, const std::string& schema, const std::string& table) {
  const std::vector<ColumnInfo> columns = ReadColumns(db, schema, table);
  const std::vector<IndexInfo> indexes = ReadIndexes(db, schema, table);

  // The rowid alias: the single INTEGER PRIMARY KEY column of a rowid table.
  // Any other primary key (WITHOUT ROWID, another type, DESC) has an index of
  // origin "pk"; the alias has none.
  const bool hasPkIndex =
      std::any_of(indexes.begin(), indexes.end(), [](const IndexInfo& index) { return index.origin == "pk"; });
  const auto pkCount =
      std::count_if(columns.begin(), columns.end(), [](const ColumnInfo& c) { return c.pkPosition > 0; });

  const auto ignoreCase = CaseInsensitiveKeyColumns(db, schema, indexes);

  auto shape = Data::DataTable::Create(table);
  std::map<std::string, std::size_t, std::less<>> indexOf;
  std::vector<std::pair<int, std::size_t>> pk;  // (position in key, shape column)
  bool pkComplete = true;
  for (const ColumnInfo& info : columns) {
    if (!info.Writable()) {
      if (info.pkPosition > 0) pkComplete = false;
      continue;
    }
    Data::DataColumn column;
    column.ColumnName = info.name;
    column.Type = MapDeclaredType(info.declaredType);
    column.AllowDBNull = !info.notNull;
    column.DatabaseType = info.declaredType;
    column.IgnoreCase = ignoreCase.count(info.name) != 0;
    const ParsedDefault parsed = ParseDefault(info.defaultSql, column.Type);
    if (parsed.kind == ParsedDefault::Kind::Computed) {
      column.Generated = true;
    } else if (parsed.kind == ParsedDefault::Kind::Literal && !parsed.literal.IsDBNull()) {
      if (auto converted = ConvertForColumn(column, parsed.literal))
        column.DefaultValue = std::move(*converted);
      else
        column.Generated = true;  // the database applies the default it can hold
    }
    if (pkCount == 1 && info.pkPosition == 1 && !hasPkIndex && Text::EqualsIgnoreAsciiCase(info.declaredType, "INTEGER"))
      column.Generated = true;
    const std::size_t at = shape->AddColumn(std::move(column));
    indexOf.emplace(info.name, at);
    if (info.pkPosition > 0) pk.emplace_back(info.pkPosition, at);
  }

  std::set<std::vector<std::size_t>> seen;  // column sets already constrained, sorted
  if (!pk.empty() && pkComplete) {
    std::sort(pk.begin(), pk.end());
    std::vector<std::size_t> key;
    for (const auto& [position, at] : pk) key.push_back(at);
    std::vector<std::size_t> sorted = key;
    std::sort(sorted.begin(), sorted.end());
    seen.insert(std::move(sorted));
    shape->AddUniqueConstraint(std::move(key), true);
  }
  for (const IndexInfo& index : indexes) {
    if (!index.unique || index.partial || index.origin == "pk") continue;
    const auto names = ReadIndexColumns(db, schema, index.name);
    if (!names || names->empty()) continue;
    std::vector<std::size_t> key;
    for (const std::string& name : *names) {
      auto it = indexOf.find(name);
      if (it == indexOf.end()) break;  // a computed column: not checkable here
      key.push_back(it->second);
    }
    if (key.size() != names->size()) continue;
    std::vector<std::size_t> sorted = key;
    std::sort(sorted.begin(), sorted.end());
    if (!seen.insert(std::move(sorted)).second) continue;
    shape->AddUniqueConstraint(std::move(key), false);
  }
  return shape;
}

std::shared_ptr<Data::DataTable> ShapeCache::Get(sqlite3* db, const std::string& schema, const std::string& name) {
  const std::int64_t version = SchemaVersion(db, schema);
  if (!version_ || *version_ != version) {
    Clear();
    tables_ = ListTables(db, schema);
    version_ = version;
  }
  const std::optional<std::string> picked = PickByName(name, tables_);
  if (!picked) return nullptr;
  auto it = shapes_.find(*picked);
  if (it == shapes_.end()) it = shapes_.emplace(*picked, ReadShape(db, schema, *picked)).first;
  auto table = it->second->CloneShape();
  table->SetTableName(name);
  return table;
}

void ShapeCache::Clear() noexcept {
  version_.reset();
  tables_.clear();
  shapes_.clear();
}

}  // namespace Tessel::Sqlite
