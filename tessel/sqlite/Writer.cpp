#include "tessel/sqlite/Writer.h"

#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"
#include "tessel/NameLookup.h"
#include "tessel/sqlite/Binding.h"
#include "tessel/sqlite/Errors.h"
#include "tessel/sqlite/Handles.h"
#include "tessel/sqlite/Schema.h"

namespace Tessel::Sqlite {
namespace {

using Data::DataType;

enum class CellKind : std::uint8_t { Integer, Real, Text, Date, Blob };

CellKind KindOf(DataType type) noexcept {
  switch (type) {
    case DataType::Boolean:
    case DataType::Int16:
    case DataType::Int32:
    case DataType::Int64:
      return CellKind::Integer;
    case DataType::Double:
      return CellKind::Real;
    case DataType::Decimal:
    case DataType::String:
      return CellKind::Text;
    case DataType::DateTime:
      return CellKind::Date;
    case DataType::Binary:
      return CellKind::Blob;
  }
  return CellKind::Text;
}

// Kinds of value that may stand for one another when the table handed in is
// compared with the database: integer widths and booleans; exact and
// floating-point numbers.
int Family(DataType type) noexcept {
  switch (type) {
    case DataType::Boolean:
    case DataType::Int16:
    case DataType::Int32:
    case DataType::Int64:
      return 0;
    case DataType::Double:
    case DataType::Decimal:
      return 1;
    case DataType::String:
      return 2;
    case DataType::DateTime:
      return 3;
    case DataType::Binary:
      return 4;
  }
  return 2;
}

std::string Quoted(std::string_view name) { return "'" + std::string(name) + "'"; }

// What the checked table tells the insert: per column of the table handed in,
// its quoted database name and how its cells are bound.
struct Plan {
  std::string target;  // "schema"."table"
  std::vector<std::string> quotedColumns;
  std::vector<CellKind> kinds;
  std::vector<std::size_t> generated;  // columns that may be left to the database
};

// Checks the table handed in against the database; the reason for a
// mismatch, or nullopt when the write can go ahead (`plan` filled).
std::optional<std::string> CheckShape(sqlite3* db, const std::string& schema, const Data::DataTable& table,
                                      Plan& plan) {
  const std::optional<std::string> dbTable = PickByName(table.TableName(), ListTables(db, schema));
  if (!dbTable) return "table " + Quoted(table.TableName()) + " no longer exists in " + Quoted(schema);

  const std::vector<ColumnInfo> dbColumns = ReadColumns(db, schema, *dbTable);
  std::vector<std::string> names;
  names.reserve(dbColumns.size());
  for (const ColumnInfo& c : dbColumns) names.push_back(c.name);

  plan.target = QuoteIdentifier(schema) + "." + QuoteIdentifier(*dbTable);
  for (std::size_t i = 0; i < table.ColumnCount(); ++i) {
    const Data::DataColumn& column = table.Column(i);
    const std::optional<std::string> dbName = PickByName(column.ColumnName, names);
    if (!dbName) return "column " + Quoted(column.ColumnName) + " no longer exists";
    const ColumnInfo* info = nullptr;
    for (const ColumnInfo& c : dbColumns)
      if (c.name == *dbName) info = &c;
    if (!info->Writable()) return "column " + Quoted(column.ColumnName) + " is now computed by the database";
    if (!info->declaredType.empty() && Family(MapDeclaredType(info->declaredType)) != Family(column.Type))
      return "column " + Quoted(column.ColumnName) + " is now declared '" + info->declaredType +
             "', which does not hold " + std::string(Data::DataTypeName(column.Type)) + " values";
    plan.quotedColumns.push_back(QuoteIdentifier(*dbName));
    plan.kinds.push_back(KindOf(column.Type));
    if (column.Generated) plan.generated.push_back(i);
  }
  return std::nullopt;
}

// One prepared insert for one set of omitted columns.
struct Insert {
  std::string omitted;  // per generated column: '1' when left out
  std::vector<std::size_t> columns;  // the columns it binds, in parameter order
  StmtHandle stmt;
};

std::string InsertSql(const Plan& plan, const std::vector<std::size_t>& columns) {
  if (columns.empty()) return "INSERT INTO " + plan.target + " DEFAULT VALUES";
  std::string sql = "INSERT INTO " + plan.target + " (";
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (k > 0) sql += ", ";
    sql += plan.quotedColumns[columns[k]];
  }
  sql += ") VALUES (?";
  for (std::size_t k = 1; k < columns.size(); ++k) sql += ", ?";
  sql += ')';
  return sql;
}

const char kEmpty[] = "";

// A date's ISO text, kept per column until the row's insert has run (bound
// without a copy).
struct DateText {
  char text[kIsoDateTimeCapacity];
};

std::string Failure(std::string_view what, const std::string& reason) {
  return std::string(what) + ": " + reason + ". Nothing of the table was written.";
}

std::string SchemaChangeFailure(const std::string& tableName, const std::string& reason) {
  return "table " + Quoted(tableName) + " no longer matches the table handed in (" + kSchemaChange +
         "): " + reason + ". Nothing of the table was written.";
}

}  // namespace

WriteResult WriteTable(sqlite3* db, const std::string& schema, const Data::DataTable& table) {
  WriteResult result;
  const std::string& name = table.TableName();
  const std::span<const Data::RecordId> records = table.Rows().Records();
  if (records.empty()) {
    result.ok = true;
    result.message = "0 rows written to table " + Quoted(name);
    return result;
  }

  Transaction transaction(db);
  int rc = transaction.Begin();
  if (rc != SQLITE_OK) {
    result.message = Failure("could not start writing table " + Quoted(name), DescribeFailure(db, rc));
    return result;
  }

  Plan plan;
  try {
    if (auto mismatch = CheckShape(db, schema, table, plan)) {
      result.message = SchemaChangeFailure(name, *mismatch);
      return result;
    }
  } catch (const DatabaseError& e) {
    result.message = Failure("could not check table " + Quoted(name), e.what());
    if (IsRetryable(e.NativeCode())) result.message += std::string(" ") + kRerunTransaction + ".";
    return result;
  }

  // Declared after the transaction so that they are finalized before it
  // rolls back.
  std::deque<Insert> inserts;  // a deque keeps `insert` valid as statements are added
  std::vector<DateText> dateText(table.ColumnCount());
  std::string omitted(plan.generated.size(), '0');

  const auto statementFor = [&](const std::string& mask) -> Insert* {
    for (Insert& insert : inserts)
      if (insert.omitted == mask) return &insert;
    Insert insert{mask, {}, nullptr};
    std::size_t g = 0;
    for (std::size_t i = 0; i < table.ColumnCount(); ++i) {
      if (g < plan.generated.size() && plan.generated[g] == i) {
        if (mask[g++] == '1') continue;
      }
      insert.columns.push_back(i);
    }
    rc = TryPrepare(db, InsertSql(plan, insert.columns), insert.stmt);
    if (rc != SQLITE_OK) return nullptr;
    inserts.push_back(std::move(insert));
    return &inserts.back();
  };

  Insert* insert = plan.generated.empty() ? statementFor(omitted) : nullptr;
  for (std::size_t position = 0; position < records.size(); ++position) {
    const Data::RecordId record = records[position];
    if (!plan.generated.empty()) {
      for (std::size_t g = 0; g < plan.generated.size(); ++g)
        omitted[g] = table.IsNull(record, plan.generated[g]) ? '1' : '0';
      if (insert == nullptr || insert->omitted != omitted) insert = statementFor(omitted);
    }
    if (insert == nullptr) {
      result.message = Failure("could not prepare the insert into table " + Quoted(name), DescribeFailure(db, rc));
      return result;
    }

    sqlite3_stmt* stmt = insert->stmt.get();
    int bindRc = SQLITE_OK;
    int parameter = 1;
    for (const std::size_t column : insert->columns) {
      if (table.IsNull(record, column)) {
        bindRc |= sqlite3_bind_null(stmt, parameter++);
        continue;
      }
      switch (plan.kinds[column]) {
        case CellKind::Integer:
          bindRc |= sqlite3_bind_int64(stmt, parameter, table.GetInt64(record, column));
          break;
        case CellKind::Real:
          bindRc |= sqlite3_bind_double(stmt, parameter, table.GetDouble(record, column));
          break;
        case CellKind::Text: {
          const std::string_view text = table.GetText(record, column);
          bindRc |= sqlite3_bind_text64(stmt, parameter, text.empty() ? kEmpty : text.data(), text.size(),
                                        SQLITE_STATIC, SQLITE_UTF8);
          break;
        }
        case CellKind::Date: {
          char(&text)[kIsoDateTimeCapacity] = dateText[column].text;
          const std::size_t n = FormatIsoDateTime(table.GetDateTime(record, column), text);
          bindRc |= sqlite3_bind_text(stmt, parameter, text, static_cast<int>(n), SQLITE_STATIC);
          break;
        }
        case CellKind::Blob: {
          const std::span<const std::uint8_t> bytes = table.GetBytes(record, column);
          bindRc |= bytes.empty() ? sqlite3_bind_zeroblob(stmt, parameter, 0)
                                  : sqlite3_bind_blob64(stmt, parameter, bytes.data(), bytes.size(), SQLITE_STATIC);
          break;
        }
      }
      ++parameter;
    }
    rc = bindRc == SQLITE_OK ? sqlite3_step(stmt) : SQLITE_ERROR;
    if (rc != SQLITE_DONE) {
      if (bindRc != SQLITE_OK) rc = sqlite3_errcode(db);
      result.message = Failure("could not write the row at position " + std::to_string(position) +
                                   " (0-based) of table " + Quoted(name),
                               DescribeFailure(db, rc));
      sqlite3_reset(stmt);
      return result;
    }
    sqlite3_reset(stmt);
  }

  inserts.clear();
  rc = transaction.Commit();
  if (rc != SQLITE_OK) {
    result.message = Failure("could not commit the rows of table " + Quoted(name), DescribeFailure(db, rc));
    return result;
  }
  result.ok = true;
  result.rows = records.size();
  result.message = std::to_string(records.size()) + (records.size() == 1 ? " row" : " rows") +
                   " written to table " + Quoted(name);
  return result;
}

}  // namespace Tessel::Sqlite
