#include "tessel/sqlite/SqliteConnect.h"

#include <chrono>
#include <cstdio>
#include <set>

#include "TesselWrapper/Errors.h"
#include "tessel/BackendStream.h"
#include "tessel/Backends.h"
#include "tessel/BulkExample.h"
#include "tessel/Catalogue.h"
#include "tessel/FailureText.h"
#include "tessel/NameLookup.h"
#include "tessel/RoutineOutput.h"
#include "tessel/sqlite/Errors.h"
#include "tessel/sqlite/Routines.h"
#include "tessel/sqlite/Writer.h"

namespace Tessel::Sqlite {
namespace {

constexpr const char* kDefaultSchema = "main";
using Catalogue::kBulkExampleTable;

using Clock = std::chrono::steady_clock;

Data::DataColumn MakeColumn(std::string name, Data::DataType type, bool allowNull = true) {
  Data::DataColumn column;
  column.ColumnName = std::move(name);
  column.Type = type;
  column.AllowDBNull = allowNull;
  return column;
}

// The narrowest of Int64, Double and String that holds every value of a
// result column.
Data::DataType ResultColumnType(const std::vector<std::vector<Data::Value>>& rows, std::size_t column) {
  bool integers = true;
  for (const auto& row : rows) {
    const auto& value = row[column].Get();
    if (std::holds_alternative<Data::DBNullType>(value) || std::holds_alternative<std::int64_t>(value))
      continue;
    if (!std::holds_alternative<double>(value)) return Data::DataType::String;
    integers = false;
  }
  return integers ? Data::DataType::Int64 : Data::DataType::Double;
}

}  // namespace

SqliteConnect::SqliteConnect(const std::string& connect, const std::string& tableSet)
    : session_(connect), schema_(tableSet.empty() ? kDefaultSchema : tableSet) {
  SetConnectionString(connect);
}

SqliteConnect::~SqliteConnect() = default;

void SqliteConnect::OnConnectionStringChanged() {
  shapes_.Clear();
  tableSetChecked_ = false;
  session_.SetConnectionString(ConnectionString().value_or(std::string()));
}

sqlite3* SqliteConnect::Db() { return session_.Connection(); }

sqlite3* SqliteConnect::DbWithTableSet() {
  sqlite3* db = Db();
  if (!tableSetChecked_) {
    if (!SchemaExists(db, schema_))
      throw ArgumentError("table set " + Quoted(schema_) + " is not a database of SQLite connection " +
                          Quoted(session_.Path()) + " (use main, temp or the name of an attached database)");
    tableSetChecked_ = true;
  }
  return db;
}

bool SqliteConnect::Test() {
  try {
    sqlite3* db = Db();
    // Reading the schema, unlike a bare SELECT 1, finds a file that is no
    // database (or is encrypted, or damaged in its first page).
    const std::string context = "SQLite database " + Quoted(session_.Path()) + " does not answer";
    StmtHandle stmt = Prepare(db, "SELECT count(*) FROM sqlite_master", context);
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) ThrowDatabaseError(db, rc, context);
    stmt.reset();
    DbWithTableSet();
    SetMessage("SQLite database " + Quoted(session_.Path()) + " answers");
    return true;
  } catch (const DatabaseError& e) {
    SetMessage(std::string(e.what()));
  } catch (const ArgumentError& e) {
    // A connection string that is no SQLite form, or a table set the
    // connection lacks: this database cannot be used, which is Test's answer.
    SetMessage(std::string(e.what()));
  }
  return false;
}

std::shared_ptr<Data::DataTable> SqliteConnect::GetTable(const std::string& name) {
  sqlite3* db = DbWithTableSet();
  shapes_.Revalidate(SchemaVersion(db, schema_));
  return shapes_.Get(name, [&]() -> std::shared_ptr<Data::DataTable> {
    const std::optional<std::string> picked = PickByName(name, ListTables(db, schema_));
    return picked ? ReadShape(db, schema_, *picked) : nullptr;
  });
}

bool SqliteConnect::IsEnumTable(const std::string& name) {
  sqlite3* db = DbWithTableSet();
  if (!RelationExists(db, schema_, Catalogue::kEnumTables)) return false;
  const std::string context = "could not read the enumeration tables of " + Quoted(schema_);
  return PickByName(name, ListCatalogueNames(db, schema_, Catalogue::kEnumTables, context)).has_value();
}

std::unique_ptr<BulkStream> SqliteConnect::OpenBulkStream(const Data::DataTable& table) {
  return MakeWriterStream<TableWriter>(
      *this, shapes_, table,
      [this](std::optional<TableWriter>& writer, const Data::DataTable& shape) {
        writer.emplace(DbWithTableSet(), schema_, shape);
      },
      [](auto&& step) { return step(); },  // its failures are WriteFailures already
      [this](bool failed) {
        // SQLite opens a file it may not write read-only and keeps it so:
        // once the file is mended, only a new connection can write, so the
        // rerun gets one.
        if (failed && session_.IsOpen() && sqlite3_db_readonly(session_.Connection(), schema_.c_str()) == 1)
          session_.SetConnectionString(ConnectionString().value_or(std::string()));
      });
}

bool SqliteConnect::BulkToTable(Data::DataTable& table, std::int64_t& executionTime) {
  return WriteWholeTable(*this, table, executionTime);
}

std::int64_t SqliteConnect::BulkExample(std::int32_t iterations) {
  sqlite3* db = Db();
  auto table = Data::DataTable::Create(kBulkExampleTable);
  table->AddColumn(MakeColumn("id", Data::DataType::Int64, false));
  table->AddColumn(MakeColumn("value", Data::DataType::Double));
  table->AddColumn(MakeColumn("label", Data::DataType::String));
  table->AddColumn(MakeColumn("stamp", Data::DataType::DateTime));
  AddBulkExampleRows(*table, iterations);

  Execute(db, "DROP TABLE IF EXISTS temp.tessel_bulk_example", "could not prepare the bulk example");
  Execute(
      db,
      "CREATE TEMP TABLE tessel_bulk_example (id INTEGER NOT NULL, value REAL, label TEXT, stamp DATETIME)",
      "could not prepare the bulk example");
  const auto start = Clock::now();
  const std::optional<WriteFailure> failure = WriteTable(db, "temp", *table);
  const auto elapsed = Clock::now() - start;
  Execute(db, "DROP TABLE IF EXISTS temp.tessel_bulk_example", "could not clean up after the bulk example");
  if (failure)
    throw DatabaseError("bulk example failed: " + DescribeWriteFailure(kBulkExampleTable, *failure),
                        failure->category);
  SetMessage(DescribeWrite(table->Rows().Count(), kBulkExampleTable));
  return std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
}

std::int32_t SqliteConnect::ExecuteStoredProcedure(
    const std::string& procName, std::vector<std::shared_ptr<Data::DbParameter>>& parameters,
    ManagedText& output) {
  sqlite3* db = DbWithTableSet();
  std::optional<Routine> routine;
  try {
    routine = FindRoutine(db, schema_, procName);
  } catch (const DatabaseError& e) {
    SetMessage(std::string(e.what()));
    return -1;
  }
  if (!routine) {
    SetMessage("no routine " + Quoted(procName) + " in table set " + Quoted(schema_) +
               " (routines are the rows of its table tessel_procedures)");
    return -1;
  }
  const RoutineResult result = RunRoutine(db, *routine, RoutineArguments{&parameters, nullptr}, false);
  if (!result.ok) {
    SetMessage(result.message);
    return -1;
  }
  RoutineRow row;
  if (!result.rows.empty()) {
    row.names = result.columns;
    row.values = result.rows.front();
  }
  output = FormatRoutineOutput(row);
  SetMessage("routine " + Quoted(routine->name) + " completed");
  return RoutineResultCode(row);
}

std::shared_ptr<Data::DataTable> SqliteConnect::GetMaxSolnIdCaseId(const std::string& modelDir) {
  sqlite3* db = DbWithTableSet();
  const std::optional<Routine> routine = FindRoutine(db, schema_, Catalogue::kSolutionRoutine);
  if (!routine) return nullptr;
  const Data::Value directory(modelDir);
  const RoutineResult result = RunRoutine(db, *routine, RoutineArguments{nullptr, &directory}, true);
  if (!result.ok) throw DatabaseError(result.message, CategoryOf(result.errorCode, ""), result.errorCode);

  auto table = Data::DataTable::Create(routine->name);
  std::set<std::string> used;
  for (std::size_t c = 0; c < result.columns.size(); ++c) {
    // Two result columns of one name would collide in the table; the later
    // one gets a numbered name instead of being lost.
    std::string name = result.columns[c];
    for (int n = 2; !used.insert(name).second; ++n) name = result.columns[c] + "_" + std::to_string(n);
    table->AddColumn(MakeColumn(std::move(name), ResultColumnType(result.rows, c)));
  }
  for (const auto& values : result.rows) {
    Data::DataRow row = table->NewRow();
    for (std::size_t c = 0; c < values.size(); ++c) row.Set(c, values[c].View());
    table->Rows().Add(row);
  }
  return table;
}

void SqliteConnect::ExecuteScript(const std::string& sql) {
  sqlite3* db = DbWithTableSet();
  shapes_.Clear();
  Transaction transaction(db);
  int rc = transaction.Begin();
  if (rc != SQLITE_OK) ThrowDatabaseError(db, rc, "could not start the script's transaction");
  rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowDatabaseError(db, rc, "script failed");
  rc = transaction.Commit();
  if (rc != SQLITE_OK) ThrowDatabaseError(db, rc, "could not commit the script");
}

std::shared_ptr<DbConnect> CreateSqliteConnect(const std::string& connect, const std::string& tableSet) {
  return std::make_shared<SqliteConnect>(connect, tableSet);
}

}  // namespace Tessel::Sqlite
