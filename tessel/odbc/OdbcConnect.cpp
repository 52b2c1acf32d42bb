#include "tessel/odbc/OdbcConnect.h"

#include <algorithm>
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
#include "tessel/odbc/Routines.h"
#include "tessel/odbc/Schema.h"
#include "tessel/odbc/TypeMap.h"
#include "tessel/odbc/Writer.h"

namespace Tessel::Odbc {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

template <typename Read>
auto OdbcConnect::ReadWithReconnect(Read&& read) -> decltype(read()) {
  const bool wasOpen = session_.IsOpen();
  try {
    return read();
  } catch (const QueryError& e) {
    session_.DropIfBroken(e.Failure().connectionLost);
    if (!wasOpen || session_.IsOpen() || !e.Failure().connectionLost) throw;
  }
  try {
    return read();
  } catch (const QueryError& e) {
    session_.DropIfBroken(e.Failure().connectionLost);
    throw;
  }
}

OdbcConnect::OdbcConnect(const std::string& connect, const std::string& tableSet)
    : session_(connect, tableSet) {
  SetConnectionString(connect);
}

OdbcConnect::~OdbcConnect() = default;

void OdbcConnect::OnConnectionStringChanged() {
  shapes_.Clear();
  session_.SetConnectionString(ConnectionString().value_or(std::string()));
}

bool OdbcConnect::Test() {
  try {
    // A catalogue call every driver answers, and one that needs the
    // database (not only the driver) to answer.
    ReadWithReconnect([&] { return TableExists(session_, Catalogue::kEnumTables); });
  } catch (const Error& e) {  // QueryError, or a string that is no ODBC form
    SetMessage(std::string(e.what()));
    return false;
  }
  const DriverTraits& traits = session_.Traits();
  SetMessage("ODBC data source answers: " + traits.dbmsName + " " + traits.dbmsVersion + " through " +
             traits.driverName + " (" + session_.WhereText() + ")");
  return true;
}

std::shared_ptr<Data::DataTable> OdbcConnect::GetTable(const std::string& name) {
  return shapes_.Get(name, [&]() -> std::shared_ptr<Data::DataTable> {
    const std::optional<TableShape> shape = ReadWithReconnect([&] { return ReadTableShape(session_, name); });
    return shape ? MakeDataTable(*shape, session_.Traits().dbms, name) : nullptr;
  });
}

bool OdbcConnect::IsEnumTable(const std::string& name) {
  return ReadWithReconnect([&] {
    if (!TableExists(session_, Catalogue::kEnumTables)) return false;
    const std::string context = "reading the enumeration tables of " + session_.WhereText();
    StmtHandle stmt = session_.Statement();
    const Wide sql =
        ToWide("SELECT name FROM " + session_.Qualified(Catalogue::kEnumTables) + " WHERE name IS NOT NULL");
    session_.Check(stmt, SQLExecDirectW(stmt.get(), Arg(sql), SQL_NTS), context);
    std::vector<std::string> names;
    for (;;) {
      const SQLRETURN rc = SQLFetch(stmt.get());
      if (rc == SQL_NO_DATA) break;
      session_.Check(stmt, rc, context);
      Data::Value value;
      session_.Check(stmt, ReadCell(stmt.get(), 1, Data::DataType::String, value), context);
      if (!value.IsDBNull()) names.push_back(std::get<std::string>(value.Get()));
    }
    return PickByName(name, names).has_value();
  });
}

std::optional<Failure> OdbcConnect::WriteInTransaction(const Data::DataTable& table) {
  TableWriter writer(session_, table);
  return WriteAtOnce(writer, table);
}

std::unique_ptr<BulkStream> OdbcConnect::OpenBulkStream(const Data::DataTable& table) {
  // Whether a failure found the connection dead, for the upkeep after it.
  auto lost = std::make_shared<bool>(false);
  return MakeWriterStream<TableWriter>(
      *this, shapes_, table,
      [this](std::optional<TableWriter>& writer, const Data::DataTable& shape) {
        writer.emplace(session_, shape);
      },
      [lost](auto&& step) -> std::optional<WriteFailure> {
        // What is thrown on the way (the connection could not be made, a
        // string that is no ODBC form) is the write's failure.
        std::optional<Failure> failure;
        try {
          failure = step();
        } catch (const QueryError& e) {
          failure = e.Failure();
        } catch (const ArgumentError& e) {
          failure = ClientFailure(e.what());
        }
        if (!failure) return std::nullopt;
        *lost = failure->connectionLost;
        return WriteFailureOf(*failure);
      },
      [this, lost](bool) { session_.DropIfBroken(*lost); });
}

bool OdbcConnect::BulkToTable(Data::DataTable& table, std::int64_t& executionTime) {
  return WriteWholeTable(*this, table, executionTime);
}

std::int64_t OdbcConnect::BulkExample(std::int32_t iterations) {
  session_.Connection();
  const std::string target = session_.Qualified(Catalogue::kBulkExampleTable);
  const bool sqlServer = session_.Traits().dbms == Dbms::SqlServer;
  const std::string columns =
      sqlServer ? "(id BIGINT NOT NULL, value FLOAT, label NVARCHAR(64), stamp DATETIME2)"
                : "(id BIGINT NOT NULL, value DOUBLE PRECISION, label VARCHAR(64), stamp TIMESTAMP)";
  const auto drop = [&] {
    try {
      session_.Exec("DROP TABLE " + target, "dropping the bulk example's table");
    } catch (const QueryError&) {
      // not there
    }
  };
  drop();
  session_.Exec("CREATE TABLE " + target + " " + columns, "preparing the bulk example");
  shapes_.Forget(Catalogue::kBulkExampleTable);
  auto table = GetTable(Catalogue::kBulkExampleTable);
  if (!table) throw DatabaseError("the bulk example's table vanished");
  AddBulkExampleRows(*table, iterations);
  const auto start = Clock::now();
  std::optional<Failure> failure;
  try {
    failure = WriteInTransaction(*table);
  } catch (const QueryError& e) {
    failure = e.Failure();
  }
  const auto elapsed = Clock::now() - start;
  session_.DropIfBroken(failure && failure->connectionLost);
  if (failure) ThrowDatabaseError(*failure, "bulk example");
  drop();
  shapes_.Forget(Catalogue::kBulkExampleTable);
  SetMessage(DescribeWrite(table->Rows().Count(), Catalogue::kBulkExampleTable));
  return std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
}

std::int32_t OdbcConnect::ExecuteStoredProcedure(const std::string& procName,
                                                 std::vector<std::shared_ptr<Data::DbParameter>>& parameters,
                                                 ManagedText& output) {
  std::string routineName = procName;
  RoutineResult result;
  try {
    const std::optional<Routine> routine = FindRoutine(session_, procName);
    if (!routine) {
      SetMessage(
          "no routine " + Quoted(procName) + " in " + session_.WhereText() +
          (session_.Traits().procedures ? "" : " (routines are the rows of its table tessel_procedures)"));
      return -1;
    }
    routineName = routine->name;
    result = RunRoutine(session_, *routine, RoutineArguments{&parameters, nullptr}, false);
  } catch (const QueryError& e) {
    result.failure = e.Failure();
  }
  if (result.failure) {
    session_.DropIfBroken(result.failure->connectionLost);
    SetMessage("routine " + Quoted(routineName) +
               " failed: " + WithRetrySentence(DescribeError(*result.failure), CategoryOf(*result.failure)));
    return -1;
  }
  RoutineRow row;
  if (!result.rows.empty()) {
    row.names = result.columns;
    row.values = result.rows.front();
  }
  output = FormatRoutineOutput(row);
  SetMessage("routine " + Quoted(routineName) + " completed");
  return RoutineResultCode(row);
}

std::shared_ptr<Data::DataTable> OdbcConnect::GetMaxSolnIdCaseId(const std::string& modelDir) {
  return ReadWithReconnect([&]() -> std::shared_ptr<Data::DataTable> {
    const std::optional<Routine> routine = FindRoutine(session_, Catalogue::kSolutionRoutine);
    if (!routine) return nullptr;
    const Data::Value directory(modelDir);
    std::vector<std::shared_ptr<Data::DbParameter>> arguments{std::make_shared<Data::DbParameter>(
        std::string(), Data::DbType::String, static_cast<std::int32_t>(modelDir.size()),
        Data::ParameterDirection::Input, directory)};
    // Procedures take the directory as their argument; a catalogue body
    // takes it for every parameter it names.
    const RoutineResult result =
        routine->kind == Routine::Kind::Procedure
            ? RunRoutine(session_, *routine, RoutineArguments{&arguments, nullptr}, true)
            : RunRoutine(session_, *routine, RoutineArguments{nullptr, &directory}, true);
    if (result.failure) ThrowDatabaseError(*result.failure, "routine " + Quoted(routine->name));

    auto table = Data::DataTable::Create(routine->name);
    std::vector<std::string> used;
    for (std::size_t c = 0; c < result.columns.size(); ++c) {
      // Two result columns of one name would collide in the table.
      std::string name = result.columns[c];
      for (int n = 2; std::find(used.begin(), used.end(), name) != used.end(); ++n)
        name = result.columns[c] + "_" + std::to_string(n);
      used.push_back(name);
      Data::DataColumn column;
      column.ColumnName = std::move(name);
      // The values' own kinds: integers, doubles, dates, else text.
      column.Type = Data::DataType::String;
      bool integers = true, numbers = true, dates = true;
      for (const auto& row : result.rows) {
        const auto& value = row[c].Get();
        if (std::holds_alternative<Data::DBNullType>(value)) continue;
        integers = integers && std::holds_alternative<std::int64_t>(value);
        numbers =
            numbers && (std::holds_alternative<std::int64_t>(value) || std::holds_alternative<double>(value));
        dates = dates && std::holds_alternative<Data::DateTime>(value);
      }
      column.Type = integers  ? Data::DataType::Int64
                    : numbers ? Data::DataType::Double
                    : dates   ? Data::DataType::DateTime
                              : Data::DataType::String;
      table->AddColumn(std::move(column));
    }
    for (const auto& values : result.rows) {
      Data::DataRow row = table->NewRow();
      for (std::size_t c = 0; c < values.size(); ++c) row.Set(c, values[c].View());
      table->Rows().Add(row);
    }
    return table;
  });
}

void OdbcConnect::ExecuteScript(const std::string& sql) {
  shapes_.Clear();  // a script may change any table
  try {
    SQLHDBC conn = session_.Connection();
    Transaction transaction(conn, session_.TransactionStyle(), Session::kBeginStatement);
    session_.Check(transaction.DiagnosticsType(), transaction.DiagnosticsHandle(), transaction.Begin(),
                   "script");
    const Dbms dbms = session_.Traits().dbms;
    if (dbms == Dbms::PostgreSQL) {
      session_.Exec(sql, "script");
    } else {
      for (std::string_view statement : SplitStatements(sql, dbms))
        session_.Exec(std::string(statement), "script");
    }
    const SQLRETURN rc = transaction.Commit();
    if (!SQL_SUCCEEDED(rc))
      ThrowDatabaseError(
          CommitFailure(session_.Failure(transaction.DiagnosticsType(), transaction.DiagnosticsHandle(), rc)),
          "script");
  } catch (const QueryError& e) {
    session_.DropIfBroken(e.Failure().connectionLost);
    throw;
  }
}

std::shared_ptr<DbConnect> CreateOdbcConnect(const std::string& connect, const std::string& tableSet) {
  return std::make_shared<OdbcConnect>(connect, tableSet);
}

}  // namespace Tessel::Odbc
