// The SQLite side of the benchmark: the table, the plain sqlite3 baseline and
// the checks of what a road wrote.
//
// Every road writes into a fresh database file with the same settings: the
// ones the library's SQLite backend applies when it opens a connection
// (kConnectionSettings), so that the baseline pays for the same journal and
// the same syncing as the library.
#pragma once

#include <string>

#include "bench/Dataset.h"
#include "bench/Measure.h"

namespace Tessel::Bench::SqliteBench {

// The statements the library's SQLite backend runs on a new connection, run
// by the baseline in the same way (see SqliteBench.cpp for where they come
// from); empty when the backend keeps SQLite's defaults.
extern const char* const kConnectionSettings;
// The journal mode those settings select, as PRAGMA journal_mode reports it.
extern const char* const kJournalMode;

// "SQLite 3.x.y; settings ...", read from a connection to `path` set up as
// the baseline sets up its own, for the report.
std::string Describe(const std::string& path);

// Deletes the file (and its -wal, -shm, -journal companions) and creates it
// anew holding the empty table kTableName. Throws std::runtime_error.
void CreateFreshTable(const std::string& path);

// The library's connection string for the file.
std::string ConnectionString(const std::string& path);

// (a) one prepared INSERT, one transaction, the plain sqlite3 calls. Timed
// from opening the connection to the return of COMMIT (the connection is
// closed afterwards, outside the timed span, as the library's stays open).
Timing RunBaseline(const std::string& path, const Dataset& data);

// The ceiling, with no target: the same rows, 64 to a prepared multi-row
// INSERT (the form the library uses), bound from the dataset's arrays, in one
// transaction, with the same settings as RunBaseline.
Timing RunMultiRowInsert(const std::string& path, const Dataset& data);

// Reads the table back and throws std::runtime_error naming `road` when it
// does not hold exactly the dataset (row count, aggregates, spot-checked rows,
// storage classes: integers as INTEGER, doubles as REAL, dates and texts as
// TEXT).
void Verify(const std::string& road, const std::string& path, const Dataset& data);

// The journal mode the file is in (read from the file after a road), so the
// report can confirm that the library used the settings the baseline copies.
std::string JournalMode(const std::string& path);

// Deletes the file and its companions; errors are ignored.
void RemoveDatabase(const std::string& path);

}  // namespace Tessel::Bench::SqliteBench
