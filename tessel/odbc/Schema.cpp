#include "tessel/odbc/Schema.h"

#include <algorithm>
#include <map>

#include "TesselWrapper/data/Text.h"
#include "tessel/NameLookup.h"
#include "tessel/odbc/DefaultLiteral.h"
#include "tessel/odbc/TypeMap.h"

namespace Tessel::Odbc {
namespace {

// SQLite's own catalogue, for its driver answers SQLTables with no rows at
// all while another connection locks the file (where SQLite itself reports
// the lock, which asks for a rerun).
std::vector<std::string> SqliteTables(Session& session, const char* types) {
  const std::string context = "reading the tables of the SQLite database";
  StmtHandle stmt = session.Statement();
  const Wide sql = ToWide(std::string("SELECT name FROM sqlite_master WHERE type IN (") +
                          (std::string(types) == "TABLE" ? "'table'" : "'table', 'view'") +
                          ") AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'");
  session.Check(stmt, SQLExecDirectW(stmt.get(), Arg(sql), SQL_NTS), context);
  std::vector<std::string> names;
  for (;;) {
    const SQLRETURN rc = SQLFetch(stmt.get());
    if (rc == SQL_NO_DATA) break;
    session.Check(stmt, rc, context);
    if (auto name = TextAt(stmt.get(), 1)) names.push_back(std::move(*name));
  }
  return names;
}

std::vector<std::string> TablesNamed(Session& session, const Wide& pattern, const char* types) {
  if (session.Connection() != nullptr && session.Traits().dbms == Dbms::SQLite)
    return SqliteTables(session, types);
  StmtHandle stmt = session.Statement();
  const Wide typeList = ToWide(types);
  const std::string context =
      "reading the tables of " +
      (session.Schema().empty() ? std::string("the data source") : "schema " + Quoted(session.Schema()));
  session.Check(stmt,
                SQLTablesW(stmt.get(), nullptr, 0, session.SchemaPattern(), SQL_NTS, Arg(pattern), SQL_NTS,
                           Arg(typeList), SQL_NTS),
                context);
  std::vector<std::string> names;
  for (;;) {
    const SQLRETURN rc = SQLFetch(stmt.get());
    if (rc == SQL_NO_DATA) break;
    session.Check(stmt, rc, context);
    if (!InSchema(session, stmt.get(), 2)) continue;
    if (auto name = TextAt(stmt.get(), 3)) names.push_back(std::move(*name));
  }
  return names;
}

// The column names of each unique key, in key order: the primary key, then
// the unique indexes. A driver that lacks one of the functions gives none.
std::vector<UniqueKey> ReadKeys(Session& session, const std::string& table) {
  std::vector<UniqueKey> keys;
  const Wide name = ToWide(table);
  {
    StmtHandle stmt = session.Statement();
    if (SQL_SUCCEEDED(
            SQLPrimaryKeysW(stmt.get(), nullptr, 0, session.SchemaArgument(), SQL_NTS, Arg(name), SQL_NTS))) {
      std::map<std::int64_t, std::string> columns;  // KEY_SEQ -> name
      while (SQL_SUCCEEDED(SQLFetch(stmt.get()))) {
        if (!InSchema(session, stmt.get(), 2) || TextAt(stmt.get(), 3) != table) continue;
        auto column = TextAt(stmt.get(), 4);
        const auto sequence = NumberAt(stmt.get(), 5);
        if (column && sequence) columns[*sequence] = std::move(*column);
      }
      if (!columns.empty()) {
        UniqueKey key{{}, true};
        for (auto& [sequence, column] : columns) key.columns.push_back(std::move(column));
        keys.push_back(std::move(key));
      }
    }
  }
  StmtHandle stmt = session.Statement();
  if (!SQL_SUCCEEDED(SQLStatisticsW(stmt.get(), nullptr, 0, session.SchemaArgument(), SQL_NTS, Arg(name),
                                    SQL_NTS, SQL_INDEX_UNIQUE, SQL_QUICK)))
    return keys;
  struct Index {
    std::map<std::int64_t, std::string> columns;  // ORDINAL_POSITION -> name
    bool usable = true;
  };
  std::vector<std::pair<std::string, Index>> indexes;  // in the driver's order
  while (SQL_SUCCEEDED(SQLFetch(stmt.get()))) {
    if (!InSchema(session, stmt.get(), 2) || TextAt(stmt.get(), 3) != table) continue;
    const auto nonUnique = NumberAt(stmt.get(), 4);
    const auto indexName = TextAt(stmt.get(), 6);
    const auto type = NumberAt(stmt.get(), 7);
    if (!indexName || type == SQL_TABLE_STAT || nonUnique.value_or(1) != 0) continue;
    const auto position = NumberAt(stmt.get(), 8);
    const auto column = TextAt(stmt.get(), 9);
    const auto filter = TextAt(stmt.get(), 13);
    auto it = std::find_if(indexes.begin(), indexes.end(),
                           [&](const auto& entry) { return entry.first == *indexName; });
    if (it == indexes.end()) it = indexes.insert(indexes.end(), {*indexName, Index()});
    // An expression or a partial index: the model cannot check it, and a
    // rule stricter than the database's would refuse rows it takes.
    if (!column || !position || (filter && !filter->empty())) {
      it->second.usable = false;
      continue;
    }
    it->second.columns[*position] = *column;
  }
  for (auto& [indexName, index] : indexes) {
    if (!index.usable || index.columns.empty()) continue;
    UniqueKey key;
    for (auto& [position, column] : index.columns) key.columns.push_back(std::move(column));
    keys.push_back(std::move(key));
  }
  return keys;
}

// Marks the columns whose values the database makes, as the driver describes
// a result over the table.
void ReadAutoUnique(Session& session, TableShape& shape) {
  StmtHandle stmt = session.Statement();
  const Wide sql = ToWide("SELECT * FROM " + session.Qualified(shape.name) + " WHERE 1 = 0");
  if (!SQL_SUCCEEDED(SQLExecDirectW(stmt.get(), Arg(sql), SQL_NTS)))
    return;  // the catalogue already answered
  SQLSMALLINT count = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(stmt.get(), &count))) return;
  for (SQLSMALLINT c = 1; c <= count; ++c) {
    SQLLEN autoUnique = SQL_FALSE;
    if (!SQL_SUCCEEDED(SQLColAttributeW(stmt.get(), static_cast<SQLUSMALLINT>(c), SQL_DESC_AUTO_UNIQUE_VALUE,
                                        nullptr, 0, nullptr, &autoUnique)) ||
        autoUnique != SQL_TRUE)
      continue;
    SQLWCHAR label[256] = {};
    SQLSMALLINT bytes = 0;
    if (!SQL_SUCCEEDED(SQLColAttributeW(stmt.get(), static_cast<SQLUSMALLINT>(c), SQL_DESC_NAME, label,
                                        sizeof label, &bytes, nullptr)))
      continue;
    const std::string name = FromWide(
        label, std::min<std::size_t>(
                   static_cast<std::size_t>(std::max<SQLSMALLINT>(bytes, 0)) / sizeof(SQLWCHAR), 255));
    for (ServerColumn& column : shape.columns)
      if (column.name == name) column.autoUnique = true;
  }
}

}  // namespace

std::optional<std::string> TextAt(SQLHSTMT stmt, SQLUSMALLINT column) {
  Data::Value value;
  if (!SQL_SUCCEEDED(ReadCell(stmt, column, Data::DataType::String, value)) || value.IsDBNull())
    return std::nullopt;
  return std::get<std::string>(value.Get());
}

std::optional<std::int64_t> NumberAt(SQLHSTMT stmt, SQLUSMALLINT column) {
  Data::Value value;
  if (!SQL_SUCCEEDED(ReadCell(stmt, column, Data::DataType::Int64, value)) || value.IsDBNull())
    return std::nullopt;
  return std::get<std::int64_t>(value.Get());
}

bool InSchema(const Session& session, SQLHSTMT stmt, SQLUSMALLINT column) {
  if (session.Schema().empty()) return true;
  return TextAt(stmt, column).value_or(std::string()) == session.Schema();
}

std::vector<std::string> ListTables(Session& session) { return TablesNamed(session, ToWide("%"), "TABLE"); }

bool TableExists(Session& session, std::string_view name) {
  for (const std::string& table : TablesNamed(session, session.Pattern(name), "TABLE,VIEW"))
    if (table == name) return true;
  return false;
}

std::optional<TableShape> ReadTableShape(Session& session, std::string_view name, bool complete) {
  const std::optional<std::string> picked = PickByName(name, ListTables(session));
  if (!picked) return std::nullopt;
  TableShape shape;
  shape.name = *picked;

  const std::string context = "reading the columns of table " + Quoted(shape.name);
  StmtHandle stmt = session.Statement();
  const Wide pattern = session.Pattern(shape.name);
  const Wide every = ToWide("%");
  session.Check(stmt,
                SQLColumnsW(stmt.get(), nullptr, 0, session.SchemaPattern(), SQL_NTS, Arg(pattern), SQL_NTS,
                            Arg(every), SQL_NTS),
                context);
  std::vector<std::pair<std::int64_t, ServerColumn>> columns;
  for (;;) {
    const SQLRETURN rc = SQLFetch(stmt.get());
    if (rc == SQL_NO_DATA) break;
    session.Check(stmt, rc, context);
    if (!InSchema(session, stmt.get(), 2) || TextAt(stmt.get(), 3) != shape.name) continue;
    ServerColumn column;
    column.name = TextAt(stmt.get(), 4).value_or(std::string());
    column.sqlType = static_cast<SQLSMALLINT>(NumberAt(stmt.get(), 5).value_or(SQL_UNKNOWN_TYPE));
    column.typeName = TextAt(stmt.get(), 6).value_or(std::string());
    column.columnSize = static_cast<SQLINTEGER>(NumberAt(stmt.get(), 7).value_or(0));
    column.decimalDigits = static_cast<SQLSMALLINT>(NumberAt(stmt.get(), 9).value_or(0));
    column.notNull = NumberAt(stmt.get(), 11) == SQL_NO_NULLS;
    column.columnDefault = TextAt(stmt.get(), 13);
    const std::int64_t ordinal =
        NumberAt(stmt.get(), 17).value_or(static_cast<std::int64_t>(columns.size()) + 1);
    columns.emplace_back(ordinal, std::move(column));
  }
  std::stable_sort(columns.begin(), columns.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [ordinal, column] : columns) shape.columns.push_back(std::move(column));
  stmt.reset();

  if (complete) {
    shape.keys = ReadKeys(session, shape.name);
    ReadAutoUnique(session, shape);
    if (session.Traits().dbms == Dbms::SQLite) {
      // The rowid alias: the table's one-column primary key declared INTEGER.
      for (const UniqueKey& key : shape.keys) {
        if (!key.isPrimaryKey || key.columns.size() != 1) continue;
        for (ServerColumn& column : shape.columns)
          if (column.name == key.columns.front() && Text::EqualsIgnoreAsciiCase(column.typeName, "INTEGER"))
            column.autoUnique = true;
      }
    }
  }
  return shape;
}

std::shared_ptr<Data::DataTable> MakeDataTable(const TableShape& shape, Dbms dbms, std::string tableName) {
  auto table = Data::DataTable::Create(std::move(tableName));
  for (const ServerColumn& server : shape.columns) {
    Data::DataColumn column;
    column.ColumnName = server.name;
    column.Type = DataTypeOf(server.sqlType, server.typeName, dbms);
    column.AllowDBNull = !server.notNull;
    column.DatabaseType = server.typeName;
    column.Generated = server.autoUnique;
    if (!server.autoUnique) ApplyDefault(column, ParseDefault(server.columnDefault, column.Type, dbms));
    table->AddColumn(std::move(column));
  }
  std::vector<std::vector<std::size_t>> added;
  for (const UniqueKey& key : shape.keys) {
    std::vector<std::size_t> columns;
    for (const std::string& name : key.columns) {
      for (std::size_t c = 0; c < shape.columns.size(); ++c) {
        if (shape.columns[c].name == name) {
          columns.push_back(c);
          break;
        }
      }
    }
    if (columns.size() != key.columns.size() || columns.empty()) continue;
    if (std::find(added.begin(), added.end(), columns) != added.end()) continue;
    added.push_back(columns);
    table->AddUniqueConstraint(std::move(columns), key.isPrimaryKey);
  }
  return table;
}

}  // namespace Tessel::Odbc
