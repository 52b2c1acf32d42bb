// The SQLite insert path: the rows of a table, a batch at a time, into one
// database table, in one transaction.
//
// The write:
//  1. BEGIN IMMEDIATE (Begin), so that a database another connection is
//     writing is reported at once (after the busy time-out), before any row
//     is sent.
//  2. The table the writer was made for is checked against the database,
//     inside the transaction so that nobody can change it between check and
//     write: the table must exist (exact name, then the one table matching
//     without regard to case), and each of its columns must still exist, be
//     writable and hold the same kind of value (integers and booleans;
//     floating point and decimal; text; dates; bytes; a database column
//     without a declared type takes anything). A mismatch fails with "schema
//     change".
//  3. Each batch (Write): prepared INSERT INTO "schema"."table" ("col", ...)
//     VALUES (?, ...), reset and rebound for each step, values read straight
//     from the batch's columnar storage (no per-cell allocation). Rows go 64
//     to a step, in a statement with as many VALUES rows (a step per row
//     costs SQLite almost twice as much); the rows that do not fill a batch
//     of 64 go one per step. A Generated column whose cell is DBNull is left
//     out of that row's insert, so that the database fills it; each distinct
//     set of omitted columns gets its own prepared statements, made once for
//     the whole write, and only consecutive rows with the same set share a
//     step. Rows are inserted in order either way. A table still being
//     filled on another thread (TableFeed) is written 64 statements' worth
//     of rows at a time, as they are made. A double cell that holds NaN fails the write (SQLite
//     would store it as NULL).
//  4. COMMIT (Commit).
// Any failure rolls back (Rollback, or the destructor), so no row of the
// table is written. The failure then names, for a row that fails, its 0-based
// position among all the rows of the write (a step of 64 that fails is run
// again row by row to find it) and carries SQLite's own text and code name
// and the failure's category (Errors.h); the component makes the message
// from it.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "TesselWrapper/data/DataTable.h"
#include "tessel/FailureText.h"
#include "tessel/sqlite/Handles.h"

namespace Tessel::Sqlite {

struct WritePlan;
class RowWriter;

class TableWriter {
 public:
  // Touches nothing yet. `db` must be open, not inside a transaction, and
  // outlive the writer; `table` gives the database table's name (its
  // TableName()) and the columns of every batch, and must outlive it too.
  TableWriter(sqlite3* db, std::string schema, const Data::DataTable& table);
  ~TableWriter();
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  // Each returns nothing on success, else why nothing was written; never
  // throws for a failure of the database (std::bad_alloc only). After a
  // failure only Rollback (or the destructor) is left to call.
  std::optional<WriteFailure> Begin();
  // The rows of `batch`, a table with the writer's columns; `first` is the
  // position of its first row among all the rows of the write.
  std::optional<WriteFailure> Write(const Data::DataTable& batch, std::uint64_t first);
  std::optional<WriteFailure> Commit();
  void Rollback() noexcept;

 private:
  sqlite3* db_;
  std::string schema_;
  const Data::DataTable& table_;
  Transaction transaction_;
  std::unique_ptr<WritePlan> plan_;
  std::unique_ptr<RowWriter> rows_;  // its statements go before the transaction ends
};

// Begin, one Write of every row of `table`, Commit: the rows of `table` into
// the table of `schema` that its TableName() names. A table without rows
// succeeds at once without touching the database.
std::optional<WriteFailure> WriteTable(sqlite3* db, const std::string& schema, const Data::DataTable& table);

}  // namespace Tessel::Sqlite
