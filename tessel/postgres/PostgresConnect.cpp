#include "tessel/postgres/PostgresConnect.h"

#include <chrono>
#include <cstdio>

#include "TesselWrapper/Errors.h"
#include "tessel/BackendStream.h"
#include "tessel/Backends.h"
#include "tessel/BulkExample.h"
#include "tessel/Catalogue.h"
#include "tessel/FailureText.h"
#include "tessel/NameLookup.h"
#include "tessel/RoutineOutput.h"
#include "tessel/postgres/Commit.h"
#include "tessel/postgres/Routines.h"
#include "tessel/postgres/Schema.h"
#include "tessel/postgres/Writer.h"

namespace Tessel::Postgres {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

template <typename Read>
auto PostgresConnect::ReadWithReconnect(Read&& read) -> decltype(read()) {
  const bool wasOpen = session_.IsOpen();
  try {
    return read();
  } catch (const QueryError& e) {
    session_.DropIfBroken();
    if (!wasOpen || session_.IsOpen() || !e.Failure().connectionLost) throw;
  }
  try {
    return read();
  } catch (const QueryError&) {
    session_.DropIfBroken();
    throw;
  }
}

PostgresConnect::PostgresConnect(const std::string& connect, const std::string& tableSet)
    : session_(connect, tableSet.empty() ? kDefaultSchema : tableSet),
      schema_(tableSet.empty() ? kDefaultSchema : tableSet) {
  SetConnectionString(connect);
}

PostgresConnect::~PostgresConnect() = default;

void PostgresConnect::OnConnectionStringChanged() {
  shapes_.Clear();
  session_.SetConnectionString(ConnectionString().value_or(std::string()));
}

bool PostgresConnect::Test() {
  try {
    // The schema is part of what must be there, as SQLite's Test checks its
    // table set: a server that answers is of no use for a schema it lacks.
    ResultHandle schema = ReadWithReconnect([&] {
      return session_.ExecParams("SELECT 1 FROM pg_catalog.pg_namespace WHERE nspname = $1",
                                 {schema_.c_str()}, "the PostgreSQL server does not answer");
    });
    if (PQntuples(schema.get()) == 0) {
      SetMessage("the PostgreSQL server answers, but its database has no schema " + Quoted(schema_) +
                 " (the table set)");
      return false;
    }
  } catch (const QueryError& e) {
    SetMessage(std::string(e.what()));
    return false;
  } catch (const ArgumentError& e) {  // a connection string that is no PostgreSQL form
    SetMessage(std::string(e.what()));
    return false;
  }
  SetMessage("PostgreSQL server answers (schema " + Quoted(schema_) + ")");
  return true;
}

std::shared_ptr<Data::DataTable> PostgresConnect::GetTable(const std::string& name) {
  return shapes_.Get(name, [&]() -> std::shared_ptr<Data::DataTable> {
    const std::optional<TableShape> shape =
        ReadWithReconnect([&] { return ReadTableShape(session_, schema_, name); });
    return shape ? MakeDataTable(*shape, name) : nullptr;
  });
}

bool PostgresConnect::IsEnumTable(const std::string& name) {
  return ReadWithReconnect([&] {
    const std::string context = "reading the enumeration tables of schema " + Quoted(schema_);
    ResultHandle exists = session_.ExecParams(
        "SELECT 1 FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
        "WHERE n.nspname = $1 AND c.relname = $2 AND c.relkind IN ('r', 'p', 'v', 'm', 'f')",
        {schema_.c_str(), Catalogue::kEnumTables}, context);
    if (PQntuples(exists.get()) == 0) return false;
    ResultHandle rows = session_.Exec(
        ("SELECT name FROM " + QualifiedName(schema_, Catalogue::kEnumTables) + " WHERE name IS NOT NULL")
            .c_str(),
        context);
    std::vector<std::string> names;
    for (int i = 0; i < PQntuples(rows.get()); ++i) names.emplace_back(PQgetvalue(rows.get(), i, 0));
    return PickByName(name, names).has_value();
  });
}

std::optional<Failure> PostgresConnect::WriteInTransaction(const Data::DataTable& table,
                                                           const std::string& schema) {
  TableWriter writer(session_, schema, table);
  return WriteAtOnce(writer, table);
}

std::unique_ptr<BulkStream> PostgresConnect::OpenBulkStream(const Data::DataTable& table) {
  return MakeWriterStream<TableWriter>(
      *this, shapes_, table,
      [this](std::optional<TableWriter>& writer, const Data::DataTable& shape) {
        writer.emplace(session_, schema_, shape);
      },
      [](auto&& step) -> std::optional<WriteFailure> {
        // A failure of the server thrown on the way (the connection could not
        // be made) is the write's failure.
        std::optional<Failure> failure;
        try {
          failure = step();
        } catch (const QueryError& e) {
          failure = e.Failure();
        }
        if (!failure) return std::nullopt;
        return WriteFailureOf(*failure);
      },
      // A lost connection is reopened at the next use.
      [this](bool) { session_.DropIfBroken(); });
}

bool PostgresConnect::BulkToTable(Data::DataTable& table, std::int64_t& executionTime) {
  return WriteWholeTable(*this, table, executionTime);
}

std::int64_t PostgresConnect::BulkExample(std::int32_t iterations) {
  try {
    // A temporary table lives in the session's own schema, so that
    // concurrent probes never meet.
    session_.Exec(
        "DROP TABLE IF EXISTS pg_temp.tessel_bulk_example; "
        "CREATE TEMP TABLE tessel_bulk_example (id int8 NOT NULL, a int8, b int8, "
        "x float8, y float8, stamp timestamp, label text, note text)",
        "preparing the bulk example");
    ResultHandle temp = session_.Exec(
        "SELECT nspname FROM pg_catalog.pg_namespace WHERE oid = pg_catalog.pg_my_temp_schema()",
        "preparing the bulk example");
    const std::string tempSchema = PQgetvalue(temp.get(), 0, 0);
    const std::optional<TableShape> shape =
        ReadTableShape(session_, tempSchema, Catalogue::kBulkExampleTable);
    if (!shape) throw DatabaseError("the bulk example's temporary table vanished");
    auto table = MakeDataTable(*shape, Catalogue::kBulkExampleTable);

    AddBulkExampleRows(*table, iterations);

    const auto start = Clock::now();
    const std::optional<Failure> failure = WriteInTransaction(*table, tempSchema);
    const auto elapsed = Clock::now() - start;
    session_.DropIfBroken();
    if (failure) ThrowDatabaseError(*failure, "bulk example");
    session_.Exec("DROP TABLE IF EXISTS pg_temp.tessel_bulk_example", "cleaning up after the bulk example");
    SetMessage(DescribeWrite(table->Rows().Count(), Catalogue::kBulkExampleTable));
    return std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
  } catch (const QueryError&) {
    session_.DropIfBroken();
    throw;
  }
}

std::int32_t PostgresConnect::ExecuteStoredProcedure(
    const std::string& procName, std::vector<std::shared_ptr<Data::DbParameter>>& parameters,
    ManagedText& output) {
  RoutineRow row;
  std::string routineName = procName;
  try {
    const std::optional<Routine> routine = FindRoutine(session_, schema_, procName);
    if (!routine) {
      SetMessage("no routine " + Quoted(procName) + " in schema " + Quoted(schema_));
      return -1;
    }
    routineName = routine->name;
    ResultHandle result = CallRoutine(session_, *routine, parameters);
    row = FirstRow(result.get());
  } catch (const QueryError& e) {
    session_.DropIfBroken();
    SetMessage("routine " + Quoted(routineName) +
               " failed: " + WithRetrySentence(DescribeError(e.Failure()), CategoryOf(e.Failure())));
    return -1;
  }
  output = FormatRoutineOutput(row);
  SetMessage("routine " + Quoted(routineName) + " completed");
  return RoutineResultCode(row);
}

std::shared_ptr<Data::DataTable> PostgresConnect::GetMaxSolnIdCaseId(const std::string& modelDir) {
  return ReadWithReconnect([&]() -> std::shared_ptr<Data::DataTable> {
    const std::optional<Routine> routine = FindRoutine(session_, schema_, Catalogue::kSolutionRoutine);
    if (!routine) return nullptr;
    std::vector<std::shared_ptr<Data::DbParameter>> arguments{std::make_shared<Data::DbParameter>(
        std::string(), Data::DbType::String, static_cast<std::int32_t>(modelDir.size()),
        Data::ParameterDirection::Input, Data::Value(modelDir))};
    ResultHandle result = CallRoutine(session_, *routine, arguments);
    return ResultTable(result.get(), routine->name);
  });
}

void PostgresConnect::ExecuteScript(const std::string& sql) {
  shapes_.Clear();  // a script may change any table
  try {
    session_.Exec(sql.c_str(), "script");
  } catch (const QueryError&) {
    session_.DropIfBroken();
    throw;
  }
}

std::shared_ptr<DbConnect> CreatePostgresConnect(const std::string& connect, const std::string& tableSet) {
  return std::make_shared<PostgresConnect>(connect, tableSet);
}

}  // namespace Tessel::Postgres
