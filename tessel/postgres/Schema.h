// Reading a table's shape from PostgreSQL's catalogues (pg_class,
// pg_attribute, pg_attrdef, pg_index), and turning it into an empty DataTable.
//
// Every name reaches the catalogue queries as a parameter, never as SQL text.
// Tables are looked up in one schema, among ordinary and partitioned tables:
// the name exactly first, then the one table that matches without regard to
// case (PickByName).
//
// Errors: the functions throw QueryError when a catalogue query fails.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TesselWrapper/data/DataTable.h"
#include "tessel/postgres/Session.h"

namespace Tessel::Postgres {

// One column as the catalogue describes it.
struct ServerColumn {
  std::string name;
  int number = 0;            // attnum
  Oid type = 0;              // a domain's base type in place of the domain
  std::string declaredType;  // format_type, e.g. "character varying(20)"
  bool notNull = false;
  bool identity = false;                         // GENERATED ... AS IDENTITY
  bool storedGenerated = false;                  // GENERATED ALWAYS AS (...) STORED: never written
  std::optional<std::string> defaultExpression;  // pg_get_expr of the default
  bool ignoresCase = false;                      // citext, or a case-insensitive collation
};

struct UniqueKey {
  std::vector<int> columnNumbers;  // attnums
  bool isPrimaryKey = false;
};

struct TableShape {
  Oid relation = 0;
  std::string schema;
  std::string name;                   // as the server spells it
  std::vector<ServerColumn> columns;  // in attnum order, dropped columns left out
  std::vector<UniqueKey> keys;        // primary key first
  // Rows written into the table go to other servers (a foreign table, or
  // foreign partitions): their commits are not one, so a COMMIT that fails
  // may have left some of them written.
  bool reachesOtherServers = false;
};

// The shape of the table `name` in `schema`, or nullopt when there is no such
// table. Unique keys are read only when `withKeys` (the writer's check needs
// columns alone).
std::optional<TableShape> ReadTableShape(Session& session, const std::string& schema, std::string_view name,
                                         bool withKeys = true);

// "<schema>"."<name>", both parts quoted, for SQL text.
std::string QualifiedName(std::string_view schema, std::string_view name);

// An empty DataTable named `tableName` with the shape's columns (stored
// generated columns left out) and unique keys. Types as DataTypeOf says;
// AllowDBNull from NOT NULL; a literal default becomes the DefaultValue;
// identity columns and columns whose default is an expression (a sequence,
// now(), ...) or a literal the model cannot hold are Generated.
std::shared_ptr<Data::DataTable> MakeDataTable(const TableShape& shape, std::string tableName);

}  // namespace Tessel::Postgres
