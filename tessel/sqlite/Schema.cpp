#include "tessel/sqlite/Schema.h"

#include <algorithm>
#include <set>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/Text.h"
#include "data/NumberText.h"
#include "tessel/NameLookup.h"
#include "tessel/dialect/sqlite/DefaultLiteral.h"
#include "tessel/dialect/sqlite/TypeMap.h"
#include "tessel/sqlite/Errors.h"
#include "tessel/sqlite/Handles.h"

namespace Tessel::Sqlite {
namespace {

int Step(sqlite3* db, sqlite3_stmt* stmt, std::string_view context) {
  const int rc = sqlite3_step(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowDatabaseError(db, rc, context);
  return rc;
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
              : std::string();
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
  const std::string context = "could not read the indexes of table " + Quoted(table);
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
  const std::string context = "could not read the columns of index " + Quoted(index);
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
    const std::string context = "could not read the collations of index " + Quoted(index.name);
    StmtHandle stmt = Prepare(
        db, "SELECT name, coll FROM pragma_index_xinfo(?1, ?2) WHERE key AND cid >= 0 AND name IS NOT NULL",
        context);
    BindText(stmt.get(), 1, index.name);
    BindText(stmt.get(), 2, schema);
    while (Step(db, stmt.get(), context) == SQLITE_ROW)
      if (Text::EqualsIgnoreAsciiCase(ColumnText(stmt.get(), 1), "NOCASE"))
        columns.insert(ColumnText(stmt.get(), 0));
  }
  return columns;
}

}  // namespace

bool SchemaExists(sqlite3* db, const std::string& schema) {
  // The temporary database is listed only once something has used it.
  if (Text::EqualsIgnoreAsciiCase(schema, "temp")) return true;
  const std::string context = "could not list the databases of the connection";
  StmtHandle stmt = Prepare(db, "SELECT 1 FROM pragma_database_list WHERE name = ?1 COLLATE NOCASE", context);
  BindText(stmt.get(), 1, schema);
  return Step(db, stmt.get(), context) == SQLITE_ROW;
}

std::int64_t SchemaVersion(sqlite3* db, const std::string& schema) {
  const std::string context = "could not read the schema version of " + Quoted(schema);
  StmtHandle stmt = Prepare(db, "PRAGMA " + QuoteIdentifier(schema) + ".schema_version", context);
  if (Step(db, stmt.get(), context) != SQLITE_ROW) return 0;
  return sqlite3_column_int64(stmt.get(), 0);
}

std::vector<std::string> ListTables(sqlite3* db, const std::string& schema) {
  const std::string context = "could not list the tables of " + Quoted(schema);
  StmtHandle stmt =
      Prepare(db,
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
  const std::string context = "could not list the tables of " + Quoted(schema);
  StmtHandle stmt = Prepare(db,
                            "SELECT 1 FROM " + QuoteIdentifier(schema) +
                                ".sqlite_master WHERE type IN ('table', 'view') AND name = ?1 COLLATE NOCASE",
                            context);
  BindText(stmt.get(), 1, name);
  return Step(db, stmt.get(), context) == SQLITE_ROW;
}

std::vector<ColumnInfo> ReadColumns(sqlite3* db, const std::string& schema, const std::string& table) {
  const std::string context = "could not read the columns of table " + Quoted(table);
  StmtHandle stmt = Prepare(
      db,
      "SELECT name, type, \"notnull\", dflt_value, pk, hidden FROM pragma_table_xinfo(?1, ?2) ORDER BY cid",
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
  const bool hasPkIndex = std::any_of(indexes.begin(), indexes.end(),
                                      [](const IndexInfo& index) { return index.origin == "pk"; });
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
    ApplyDefault(column, ParseDefault(info.defaultSql, column.Type));
    if (pkCount == 1 && info.pkPosition == 1 && !hasPkIndex &&
        Text::EqualsIgnoreAsciiCase(info.declaredType, "INTEGER"))
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

}  // namespace Tessel::Sqlite
