// Writing a table's rows, a batch at a time, into a PostgreSQL table with
// COPY ... FROM STDIN.
//
// PlanCopy matches the model table against the catalogue's shape of the
// target table (read in the same transaction just before): each model column
// must still exist under its name (exactly, or the one case-insensitive
// match) with a type that maps to the model column's type, and the database
// table must not have gained a NOT NULL column without a default that the
// model cannot fill. Any mismatch is a Failure marked as a shape change.
//
// CopyStream then sends the rows of each batch handed to it, in the binary
// format when every column has a binary encoder and in text form otherwise
// (CopyFormat.h), in chunks of about 1 MiB, reading the cells straight from
// the batch's columnar storage. One COPY statement takes the rows of one
// batch after another until Finish, so that the server takes in a batch
// while the caller makes the next. A batch still being filled
// (Data::detail::TableFeed, the queued road's large queues) is sent as its
// rows are made; should making them fail, the write fails with nothing
// written.
//
// A Generated column (identity, serial, a non-literal default) is left out
// of a row's COPY when the row holds DBNull in it, so that the server fills
// it; COPY names its columns once per statement, so the rows of a batch are
// grouped by which Generated columns they leave out (in the order of each
// group's first row, rows keeping their order within a group), and a group
// that leaves out other columns than the COPY in progress ends it and starts
// its own, all in the caller's transaction.
//
// A row the server refuses is named by its position among all the rows of
// the write, "the row at position 70000 (0-based)" (Failure::row), when the
// server says which line of the COPY it was reading; a foreign key checked
// at the end of the statement names no line, only its key.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "TesselWrapper/data/DataTable.h"
#include "data/TableLoad.h"
#include "tessel/postgres/Errors.h"
#include "tessel/postgres/Handles.h"
#include "tessel/postgres/Schema.h"
#include "tessel/postgres/Session.h"

namespace Tessel::Postgres {

struct CopyColumn {
  std::size_t modelIndex = 0;  // the DataTable column
  Data::DataType modelType = Data::DataType::String;
  std::string serverName;  // as the server spells it
  Oid serverType = 0;
  bool generated = false;  // left out of a row whose cell is DBNull
};

struct CopyPlan {
  std::string target;       // "schema"."table", quoted
  std::string displayName;  // the table's name for messages
  std::vector<CopyColumn> columns;
  bool binary = true;
};

// Builds the plan, or gives the Failure (shapeChanged) that says what no
// longer matches.
std::optional<Failure> PlanCopy(const Data::DataTable& table, const TableShape& shape, CopyPlan& plan);

class CopyStream {
 public:
  // Sends nothing yet. Must be used inside a transaction on `conn` (the
  // caller commits or rolls back); `plan` must outlive the stream.
  CopyStream(PGconn* conn, const CopyPlan& plan);
  // Abandons a COPY still open: the server drops what it received.
  ~CopyStream();
  CopyStream(const CopyStream&) = delete;
  CopyStream& operator=(const CopyStream&) = delete;

  // Sends the rows of `batch` (a table with the plan's model columns);
  // `first` is the position of its first row among all the rows of the
  // write. The server's failure may only come with a later call.
  std::optional<Failure> Write(const Data::DataTable& batch, std::uint64_t first);
  // Ends the COPY in progress and gives the server's verdict on it. On any
  // failure the transaction must be rolled back.
  std::optional<Failure> Finish();

 private:
  struct Open;

  // Ends the COPY in progress, if any, and starts one without the columns
  // `omitted` marks.
  std::optional<Failure> Start(const std::vector<bool>& omitted);
  // Sends `records` (rows of `batch`; the first is the write's row `first`),
  // or those of them that `indexes` picks, into the COPY in progress.
  std::optional<Failure> Send(const Data::DataTable& batch, std::uint64_t first,
                              std::span<const Data::RecordId> records,
                              const std::vector<std::size_t>* indexes);
  // Sends the rows of a batch still being made (a table with a feed) a chunk
  // at a time as they come, so that the server takes in one chunk while the
  // next is made.
  std::optional<Failure> SendAsMade(const Data::DataTable& batch, std::uint64_t first,
                                    Data::detail::RowsToWrite& source);
  // Ends the COPY in progress (with `error`: abandoned) and gives its result.
  std::optional<Failure> End(const char* error);

  PGconn* conn_;
  const CopyPlan& plan_;
  std::vector<std::size_t> generated_;  // plan columns that are Generated
  std::unique_ptr<Open> open_;          // the COPY in progress
};

// The steps of one write into the table of `schema` that `table` names, on
// the session's connection: Begin (BEGIN, the table's shape read and checked
// in the transaction, PlanCopy), Write for each batch (CopyStream), Commit
// (the COPY ended, the transaction's id read and COMMIT sent through
// CommitWrite, so that a lost answer is resolved as Commit.h says). Each
// gives the failure, if any; after one, or without Commit, the destructor
// abandons the COPY and rolls back. `session` and `table` (the columns of
// every batch) must outlive the writer.
class TableWriter {
 public:
  TableWriter(Session& session, std::string schema, const Data::DataTable& table);
  ~TableWriter();
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  std::optional<Failure> Begin();
  std::optional<Failure> Write(const Data::DataTable& batch, std::uint64_t first);
  std::optional<Failure> Commit();

 private:
  Session& session_;
  std::string schema_;
  const Data::DataTable& table_;
  PGconn* conn_ = nullptr;
  std::optional<Transaction> transaction_;
  CopyPlan plan_;
  bool reachesOtherServers_ = false;  // see TableShape
  std::optional<CopyStream> copy_;    // ended before the transaction
};

}  // namespace Tessel::Postgres
