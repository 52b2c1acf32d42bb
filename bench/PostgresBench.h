// The PostgreSQL side of the benchmark: the table, the plain libpq baseline
// (COPY in text format), one prepared INSERT per row for contrast, and the
// checks of what a road wrote. Every function takes a libpq connection
// string or URI and opens its own connection.
#pragma once

#include <string>

#include "bench/Dataset.h"
#include "bench/Measure.h"

namespace Tessel::Bench::PostgresBench {

// "PostgreSQL 15.x; fsync=off, synchronous_commit=off, ..." for the report.
// Throws std::runtime_error when the server cannot be reached.
std::string Describe(const std::string& uri);

// Drops and creates the table kTableName (empty), then asks for a checkpoint
// so that no road pays for the WAL of the road before it (quietly skipped
// when the role may not checkpoint).
void CreateFreshTable(const std::string& uri);

// Drops the table; errors are ignored.
void DropTable(const std::string& uri);

// (a) BEGIN, COPY ... FROM STDIN in text format with every row formatted
// here, COMMIT. Timed from connecting to the return of COMMIT, as the
// library's roads include their connection too.
Timing RunCopyBaseline(const std::string& uri, const Dataset& data);

// The ceiling, with no target: the same rows in COPY's binary format, each
// value encoded from the dataset's arrays, sent in chunks, one transaction.
Timing RunCopyBinary(const std::string& uri, const Dataset& data);

// (d) BEGIN, one prepared INSERT executed per row with text parameters,
// COMMIT. Timed like the baseline.
Timing RunInsertRoad(const std::string& uri, const Dataset& data);

// Reads the table back and throws std::runtime_error naming `road` when it
// does not hold exactly the dataset.
void Verify(const std::string& road, const std::string& uri, const Dataset& data);

}  // namespace Tessel::Bench::PostgresBench
