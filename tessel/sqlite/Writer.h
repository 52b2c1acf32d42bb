// The SQLite insert path: every row of a DataTable into one database table,
// in one transaction.
//
// The write:
//  1. BEGIN IMMEDIATE, so that a database another connection is writing is
//     reported at once (after the busy time-out), before any row is sent.
//  2. The table handed in is checked against the database, inside the
//     transaction so that nobody can change it between check and write: the
//     table must exist (exact name, then the one table matching without regard
//     to case), and each of its columns must still exist, be writable and hold
//     the same kind of value (integers and booleans; floating point and
//     decimal; text; dates; bytes; a database column without a declared type
//     takes anything). A mismatch fails with "schema change".
//  3. Prepared INSERT INTO "schema"."table" ("col", ...) VALUES (?, ...),
//     reset and rebound for each step, values read straight from the table's
//     columnar storage (no per-cell allocation). Rows go 64 to a step, in a
//     statement with as many VALUES rows (a step per row costs SQLite almost
//     twice as much); the rows that do not fill a batch go one per step. A
//     Generated column whose cell is DBNull is left out of that row's insert,
//     so that the database fills it; each distinct set of omitted columns
//     gets its own prepared statements, made once, and only consecutive rows
//     with the same set share a step. Rows are inserted in table order
//     either way.
//  4. COMMIT.
// Any failure rolls back, so no row of the table is written. The failure
// then names, for a row that fails, its 0-based position (a batch that fails
// is written again row by row to find it) and carries SQLite's own text and
// code name and the failure's category (Errors.h); the component makes the
// message from it.
//
// A table without rows succeeds at once without touching the database.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <optional>
#include <string>

#include "TesselWrapper/data/DataTable.h"
#include "tessel/FailureText.h"

namespace Tessel::Sqlite {

// Writes the rows of `table` into the table of `schema` that its TableName()
// names. Never throws for a failure of the database; throws std::bad_alloc
// only. `db` must be open and not inside a transaction.
// Returns nothing when every row was written, else why nothing was.
std::optional<WriteFailure> WriteTable(sqlite3* db, const std::string& schema, const Data::DataTable& table);

}  // namespace Tessel::Sqlite
