// Reading tables' shapes out of an SQLite schema.
//
// A schema here is one of the connection's database names: "main", "temp",
// or an attached database. Every name that enters SQL text is quoted with
// QuoteIdentifier, and table names are passed to the pragma functions as
// bound arguments, so any name is only ever a name.
//
// Declared types map to DataTypes as tessel/dialect/sqlite/TypeMap.h says.
//
// A column's shape:
//   AllowDBNull   false for NOT NULL
//   DefaultValue  a literal default (tessel/dialect/sqlite/DefaultLiteral.h),
//                 converted to the column's type
//   Generated     true for the rowid alias (the one INTEGER PRIMARY KEY column
//                 of a rowid table), and for a default only the database can
//                 apply (tessel/DefaultLiteral.h, ApplyDefault): a row that
//                 leaves such a column DBNull lets the database fill it
//   DatabaseType  the declared type as written
// Columns computed by GENERATED ALWAYS AS, and the hidden columns of virtual
// tables, are left out: they cannot be written. Constraints: the primary key
// (in key order) as the primary-key constraint, and each full (not partial)
// unique index over plain columns as a unique constraint.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TesselWrapper/data/DataColumn.h"
#include "TesselWrapper/data/DataTable.h"

namespace Tessel::Sqlite {

// One column as pragma_table_xinfo describes it.
struct ColumnInfo {
  std::string name;
  std::string declaredType;
  bool notNull = false;
  std::optional<std::string> defaultSql;
  int pkPosition = 0;  // 1-based position in the primary key; 0 when not in it
  int hidden = 0;      // 0 plain; 1 hidden (virtual table); 2, 3 generated always
  bool Writable() const noexcept { return hidden == 0; }
};

// True when `schema` names one of the connection's databases (without regard
// to case, as SQLite matches them).
bool SchemaExists(sqlite3* db, const std::string& schema);

// The schema's schema cookie: it changes whenever any table, index or view of
// the schema is created, altered or dropped, by any connection.
std::int64_t SchemaVersion(sqlite3* db, const std::string& schema);

// The names of the schema's tables (not views, not SQLite's own tables).
std::vector<std::string> ListTables(sqlite3* db, const std::string& schema);

// The non-null values of the column `name` of the schema's table `catalogue`
// (one of this library's own tables, such as the routines). Throws
// DatabaseError with `context` when SQLite refuses the read.
std::vector<std::string> ListCatalogueNames(sqlite3* db, const std::string& schema,
                                            std::string_view catalogue, const std::string& context);

// True when the schema has a table or view named `name` (without regard to
// case, as SQLite resolves names in SQL).
bool RelationExists(sqlite3* db, const std::string& schema, std::string_view name);

// The columns of an existing table, in table order.
std::vector<ColumnInfo> ReadColumns(sqlite3* db, const std::string& schema, const std::string& table);

// The shape of an existing table, named `table`. Throws DatabaseError when
// SQLite refuses the reads.
std::shared_ptr<Data::DataTable> ReadShape(sqlite3* db, const std::string& schema, const std::string& table);

}  // namespace Tessel::Sqlite
