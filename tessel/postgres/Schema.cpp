#include "tessel/postgres/Schema.h"

#include <charconv>
#include <cstdint>
#include <limits>

#include "TesselWrapper/Errors.h"
#include "data/NumberText.h"
#include "tessel/NameLookup.h"
#include "tessel/postgres/DefaultLiteral.h"
#include "tessel/postgres/TypeMap.h"

namespace Tessel::Postgres {
namespace {

// Tables, partitioned tables and foreign tables. The last column says
// whether rows written into the table go to other servers: a foreign table,
// or a partitioned table with a foreign table among its partitions.
constexpr const char* kTablesSql =
    "SELECT c.oid, c.relname, c.relkind = 'f' OR (c.relkind = 'p' AND EXISTS ("
    "SELECT 1 FROM pg_catalog.pg_partition_tree(c.oid) t "
    "JOIN pg_catalog.pg_class p ON p.oid = t.relid WHERE p.relkind = 'f')) "
    "FROM pg_catalog.pg_class c "
    "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
    "WHERE n.nspname = $1 AND c.relkind IN ('r', 'p', 'f')";

// A domain column is read and written as its base type. The last column
// says whether the server compares the column's text without regard to case:
// the citext type, or a nondeterministic (case-insensitive) collation.
constexpr const char* kColumnsSql =
    "SELECT a.attname, a.attnum, "
    "CASE WHEN t.typtype = 'd' THEN t.typbasetype ELSE a.atttypid END, "
    "pg_catalog.format_type(a.atttypid, a.atttypmod), a.attnotnull, a.attidentity <> '', "
    "a.attgenerated = 's', pg_catalog.pg_get_expr(d.adbin, d.adrelid), "
    "t.typname = 'citext' OR coalesce((SELECT NOT co.collisdeterministic FROM pg_catalog.pg_collation co "
    "WHERE co.oid = a.attcollation), false) "
    "FROM pg_catalog.pg_attribute a "
    "JOIN pg_catalog.pg_type t ON t.oid = a.atttypid "
    "LEFT JOIN pg_catalog.pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
    "WHERE a.attrelid = $1 AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum";

// Unique indexes back primary keys and unique constraints alike. Partial and
// expression indexes are left out: the table model cannot check them, and a
// rule stricter than the database's would refuse rows the database takes.
constexpr const char* kKeysSql =
    "SELECT i.indisprimary, i.indkey FROM pg_catalog.pg_index i "
    "WHERE i.indrelid = $1 AND i.indisunique AND i.indisvalid "
    "AND i.indpred IS NULL AND i.indexprs IS NULL "
    "ORDER BY i.indisprimary DESC, i.indexrelid";

std::string_view Cell(const PGresult* result, int row, int column) {
  return {PQgetvalue(result, row, column), static_cast<std::size_t>(PQgetlength(result, row, column))};
}

bool IsTrue(const PGresult* result, int row, int column) { return Cell(result, row, column) == "t"; }

// A number the server printed in a catalogue column (an oid, an attnum).
// Anything else means that this reader and the catalogue disagree.
template <typename Number>
Number CatalogueNumber(std::string_view text, const char* what, const std::string& context) {
  std::int64_t value = 0;
  if (!Data::ParseInt64(text, value) || value < std::numeric_limits<Number>::min() ||
      value > static_cast<std::int64_t>(std::numeric_limits<Number>::max()))
    throw Error(context + ": the server gave " + what + " " + Quoted(text) +
                ", which is not a number in range");
  return static_cast<Number>(value);
}

std::vector<int> ParseNumbers(std::string_view text) {  // int2vector: "1 3"
  std::vector<int> numbers;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    int value = 0;
    auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc()) break;
    numbers.push_back(value);
    p = next;
  }
  return numbers;
}

Data::DataColumn MakeColumn(const ServerColumn& server) {
  Data::DataColumn column;
  column.ColumnName = server.name;
  column.Type = DataTypeOf(server.type);
  column.AllowDBNull = !server.notNull;
  column.DatabaseType = server.declaredType;
  column.IgnoreCase = server.ignoresCase;
  column.Generated = server.identity;
  if (!server.identity && server.defaultExpression)
    ApplyDefault(column, ParseDefault(*server.defaultExpression, column.Type));
  return column;
}

}  // namespace

std::string QualifiedName(std::string_view schema, std::string_view name) {
  return QuoteIdentifier(schema) + "." + QuoteIdentifier(name);
}

std::optional<TableShape> ReadTableShape(Session& session, const std::string& schema, std::string_view name,
                                         bool withKeys) {
  const std::string context = "reading the tables of schema " + Quoted(schema);
  ResultHandle tables = session.ExecParams(kTablesSql, {schema.c_str()}, context);
  std::vector<std::string> names;
  names.reserve(PQntuples(tables.get()));
  for (int i = 0; i < PQntuples(tables.get()); ++i) names.emplace_back(Cell(tables.get(), i, 1));
  const std::optional<std::string> picked = PickByName(name, names);
  if (!picked) return std::nullopt;

  TableShape shape;
  shape.schema = schema;
  shape.name = *picked;
  std::string relation;
  for (int i = 0; i < PQntuples(tables.get()); ++i) {
    if (names[i] == *picked) {
      relation = PQgetvalue(tables.get(), i, 0);
      shape.reachesOtherServers = IsTrue(tables.get(), i, 2);
      break;
    }
  }
  shape.relation = CatalogueNumber<Oid>(relation, "the table oid", context);

  const std::string columnsContext = "reading the columns of table " + Quoted(shape.name);
  ResultHandle columns = session.ExecParams(kColumnsSql, {relation.c_str()}, columnsContext);
  const PGresult* c = columns.get();
  for (int i = 0; i < PQntuples(c); ++i) {
    ServerColumn column;
    column.name = Cell(c, i, 0);
    column.number = CatalogueNumber<int>(Cell(c, i, 1), "the column number", columnsContext);
    column.type = CatalogueNumber<Oid>(Cell(c, i, 2), "the type oid", columnsContext);
    column.declaredType = Cell(c, i, 3);
    column.notNull = IsTrue(c, i, 4);
    column.identity = IsTrue(c, i, 5);
    column.storedGenerated = IsTrue(c, i, 6);
    if (!PQgetisnull(c, i, 7)) column.defaultExpression = std::string(Cell(c, i, 7));
    column.ignoresCase = IsTrue(c, i, 8);
    shape.columns.push_back(std::move(column));
  }

  if (withKeys) {
    ResultHandle keys = session.ExecParams(kKeysSql, {relation.c_str()}, columnsContext);
    for (int i = 0; i < PQntuples(keys.get()); ++i) {
      UniqueKey key;
      key.isPrimaryKey = IsTrue(keys.get(), i, 0);
      key.columnNumbers = ParseNumbers(Cell(keys.get(), i, 1));
      shape.keys.push_back(std::move(key));
    }
  }
  return shape;
}

std::shared_ptr<Data::DataTable> MakeDataTable(const TableShape& shape, std::string tableName) {
  auto table = Data::DataTable::Create(std::move(tableName));
  std::vector<std::pair<int, std::size_t>> indexOfNumber;  // attnum -> model column
  for (const ServerColumn& server : shape.columns) {
    if (server.storedGenerated) continue;
    indexOfNumber.emplace_back(server.number, table->AddColumn(MakeColumn(server)));
  }
  std::vector<std::vector<std::size_t>> added;
  for (const UniqueKey& key : shape.keys) {
    std::vector<std::size_t> columns;
    for (int number : key.columnNumbers) {
      for (const auto& [attnum, index] : indexOfNumber) {
        if (attnum == number) {
          columns.push_back(index);
          break;
        }
      }
    }
    // A key over a stored generated column cannot be checked without it.
    if (columns.size() != key.columnNumbers.size() || columns.empty()) continue;
    bool duplicate = false;
    for (const auto& existing : added) duplicate = duplicate || existing == columns;
    if (duplicate) continue;
    added.push_back(columns);
    table->AddUniqueConstraint(std::move(columns), key.isPrimaryKey);
  }
  return table;
}

}  // namespace Tessel::Postgres
