// Writing a DataTable's rows into a PostgreSQL table with COPY ... FROM STDIN.
//
// PlanCopy matches the model table against the catalogue's shape of the
// target table (read in the same transaction just before): each model column
// must still exist under its name (exactly, or the one case-insensitive
// match) with a type that maps to the model column's type, and the database
// table must not have gained a NOT NULL column without a default that the
// model cannot fill. Any mismatch is a Failure marked as a shape change.
//
// CopyRows then sends the rows, in the binary format when every column has a
// binary encoder and in text form otherwise (CopyFormat.h), in chunks of
// about 1 MiB, reading the cells straight from the table's columnar storage.
// A table still being filled (Data::detail::TableFeed) is sent as its rows
// are made, so that the server takes in rows while the next ones are made;
// should making them fail, the COPY is abandoned and nothing is written.
// A Generated column (identity, serial, a non-literal default) is left out of
// a row's COPY when the row holds DBNull in it, so that the server fills it;
// COPY names its columns once per statement, so the rows are grouped by which
// Generated columns they leave out, one COPY per group, all in the caller's
// transaction.
#pragma once

#include <libpq-fe.h>

#include <optional>
#include <string>
#include <vector>

#include "TesselWrapper/data/DataTable.h"
#include "tessel/postgres/Errors.h"
#include "tessel/postgres/Schema.h"

namespace Tessel::Postgres {

struct CopyColumn {
  std::size_t modelIndex = 0;  // the DataTable column
  std::string serverName;      // as the server spells it
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

// Writes every row of `table` as the plan says. Must run inside a
// transaction on `conn` (the caller commits or rolls back). Returns the
// server's failure, if any; on failure the transaction must be rolled back.
std::optional<Failure> CopyRows(PGconn* conn, const CopyPlan& plan, const Data::DataTable& table);

}  // namespace Tessel::Postgres
