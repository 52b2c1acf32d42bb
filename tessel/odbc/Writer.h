// Writing a DataTable's rows into a table through ODBC, with parameter
// arrays: a prepared INSERT INTO "schema"."table" ("col", ...) VALUES (?, ...)
// executed once per chunk of rows, each parameter bound column-wise to an
// array of the chunk's values (SQL_ATTR_PARAMSET_SIZE), read straight from
// the table's columnar storage.
//
// PlanInsert matches the model table against the shape read in the same
// transaction just before: each model column must still exist under its
// name (exactly, or the one case-insensitive match) with a type that maps to
// the model column's type, and the database table must not have gained a
// required column without a default that the model cannot fill. Any mismatch
// is a Failure marked as a shape change.
//
// InsertRows then sends the rows. A Generated column is left out of a row's
// insert when the row holds DBNull in it, so that the database fills it;
// rows are grouped by which Generated columns they leave out, one statement
// per group. Values bind as: integers SQL_C_SBIGINT, booleans SQL_C_BIT,
// doubles SQL_C_DOUBLE, decimals as their text, text as UTF-16
// (SQL_C_WCHAR), bytes SQL_C_BINARY, dates SQL_C_TYPE_TIMESTAMP (on SQLite,
// which has no date type, as the ISO text the SQLite backend writes, so that
// a file reads the same whichever backend wrote it); each with the column's
// own SQL type. Before a batch is sent, its values are checked against what
// the database behind the driver keeps (tessel/StorableValues.h; SQLite's
// and PostgreSQL's rules, as their native writers apply them). A chunk
// holds up to 1024 rows, fewer when its values would take more than about
// 16 MiB of buffers.
//
// A driver that refuses parameter arrays (or substitutes a size of 1) is
// sent one row per execution, in the same transaction. After each execution
// the writer checks what the driver reports: the number of parameter sets
// processed (SQL_ATTR_PARAMS_PROCESSED_PTR) and the status of each
// (SQL_ATTR_PARAM_STATUS_PTR); a driver that reports success for fewer sets
// than it was given fails the write. A driver that reports neither is
// trusted on its return code alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "TesselWrapper/data/DataTable.h"
#include "tessel/odbc/Errors.h"
#include "tessel/odbc/Handles.h"
#include "tessel/odbc/Schema.h"
#include "tessel/odbc/Session.h"

namespace Tessel::Odbc {

struct InsertColumn {
  std::size_t modelIndex = 0;  // the DataTable column
  std::string serverName;      // as the database spells it
  SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
  SQLINTEGER columnSize = 0;
  SQLSMALLINT decimalDigits = 0;
  bool generated = false;  // left out of a row whose cell is DBNull
  std::string typeName;    // the type as the database declares it
};

struct InsertPlan {
  std::string target;       // the table's name for SQL, qualified and quoted
  std::string displayName;  // the table's name for messages
  std::vector<InsertColumn> columns;
};

// Builds the plan, or gives the Failure (shapeChanged) that says what no
// longer matches.
std::optional<Failure> PlanInsert(const Session& session, const Data::DataTable& table,
                                  const TableShape& shape, InsertPlan& plan);

// Writes every row of `table` as the plan says; `first` is the position of
// its first row among all the rows of the write, for naming a row at fault.
// Must run inside a transaction on the session's connection (the caller
// commits or rolls back). Returns the failure, if any; on failure the
// transaction must be rolled back.
std::optional<Failure> InsertRows(Session& session, const InsertPlan& plan, const Data::DataTable& table,
                                  std::uint64_t first = 0);

// The steps of one write into the table that `table` names, on the
// session's connection: Begin (the transaction opened, the table's shape
// read and checked in it, PlanInsert), Write for each batch (InsertRows, the
// statement prepared anew for each batch), Commit (a COMMIT that fails
// without a verdict of the database is an unknown outcome, and the
// connection is closed). Each gives the failure, if any; after one, or
// without Commit, the destructor rolls back. `session` and `table` (the
// columns of every batch) must outlive the writer.
class TableWriter {
 public:
  TableWriter(Session& session, const Data::DataTable& table) : session_(session), table_(table) {}
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  std::optional<Failure> Begin();
  std::optional<Failure> Write(const Data::DataTable& batch, std::uint64_t first) {
    return InsertRows(session_, plan_, batch, first);
  }
  std::optional<Failure> Commit();

 private:
  Session& session_;
  const Data::DataTable& table_;
  std::optional<Transaction> transaction_;
  InsertPlan plan_;
};

}  // namespace Tessel::Odbc
