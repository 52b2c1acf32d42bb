// Reading a table's shape through the catalogue functions every ODBC driver
// has (SQLTables, SQLColumns, SQLPrimaryKeys, SQLStatistics), and turning it
// into an empty DataTable.
//
// Names reach the catalogue functions as search patterns with '_' and '%'
// escaped (where the driver has an escape) and the rows are then filtered
// by exact name, so that a name is only ever itself. Tables are looked up
// in the session's schema among the driver's TABLE objects: the name
// exactly first, then the one table that matches without regard to case
// (PickByName). On SQLite the table names come from sqlite_master instead:
// its driver answers SQLTables with no rows at all while another connection
// locks the file, which would make every table vanish for that moment.
//
// Unique keys: the primary key (SQLPrimaryKeys), then every unique index
// (SQLStatistics, SQL_INDEX_UNIQUE) over plain columns. A driver that
// implements neither reports no keys: the table model then checks no
// uniqueness of its own, and the database's refusal of a duplicate is what
// the caller sees. A column is Generated when the driver says its values are
// made by the database (SQL_DESC_AUTO_UNIQUE_VALUE), when its default is an
// expression (a sequence, a function), and on SQLite for the rowid alias
// (the one INTEGER PRIMARY KEY column), as the SQLite backend does.
//
// Errors: the functions throw QueryError when a catalogue call fails.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TesselWrapper/data/DataTable.h"
#include "tessel/odbc/Session.h"

namespace Tessel::Odbc {

// One column as SQLColumns describes it.
struct ServerColumn {
  std::string name;
  SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;    // DATA_TYPE
  std::string typeName;                      // TYPE_NAME, as the database declares it
  SQLINTEGER columnSize = 0;                 // COLUMN_SIZE (0 when the driver gives none)
  SQLSMALLINT decimalDigits = 0;             // DECIMAL_DIGITS
  bool notNull = false;                      // NULLABLE is SQL_NO_NULLS
  std::optional<std::string> columnDefault;  // COLUMN_DEF
  bool autoUnique = false;                   // the database makes its values
};

struct UniqueKey {
  std::vector<std::string> columns;  // in key order
  bool isPrimaryKey = false;
};

struct TableShape {
  std::string name;                   // as the database spells it
  std::vector<ServerColumn> columns;  // in table order
  std::vector<UniqueKey> keys;        // primary key first
};

// Reading a catalogue function's result row: column `column` (1-based) as
// text or as a number, nullopt for a null or a value the driver cannot give
// in that form; and whether the row's schema column is the session's schema
// (every row is when the session has none).
std::optional<std::string> TextAt(SQLHSTMT stmt, SQLUSMALLINT column);
std::optional<std::int64_t> NumberAt(SQLHSTMT stmt, SQLUSMALLINT column);
bool InSchema(const Session& session, SQLHSTMT stmt, SQLUSMALLINT column);

// The names of the session schema's tables.
std::vector<std::string> ListTables(Session& session);

// True when the session's schema has a table (or view) named exactly `name`.
bool TableExists(Session& session, std::string_view name);

// The shape of the table `name` picks in the session's schema, or nullopt
// when there is none. Unique keys and generated columns are read only when
// `complete` (the writer's check needs the columns alone).
std::optional<TableShape> ReadTableShape(Session& session, std::string_view name, bool complete = true);

// An empty DataTable named `tableName` with the shape's columns and keys.
std::shared_ptr<Data::DataTable> MakeDataTable(const TableShape& shape, Dbms dbms, std::string tableName);

}  // namespace Tessel::Odbc
