#include "tessel/postgres/Schema.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "TesselWrapper/Errors.h"
#include "data/NumberText.h"
#include "tessel/NameLookup.h"
#include "tessel/dialect/postgres/CatalogueQueries.h"
#include "tessel/dialect/postgres/DefaultLiteral.h"
#include "tessel/dialect/postgres/TypeMap.h"

namespace Tessel::Postgres {

// The type map (tessel/dialect/postgres/TypeMap.h) names libpq's Oid type
// without libpq.
static_assert(std::is_same_v<Oid, ::Oid>);

namespace {

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
