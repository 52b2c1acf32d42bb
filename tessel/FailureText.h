// The sentences every backend puts into a failure's message, built in one
// place from the failure's category (Errors.h): the retry texts the bridge
// and callers look for ("Rerun the transaction", "schema change"), the word on
// an outcome nobody knows, and "Nothing of the table was written".
//
// A backend maps its native codes to an ErrorCategory in its Errors.cpp and
// hands the category here; nothing else in the library decides which failure
// asks for a rerun.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnect.h"
#include "tessel/ShapeCache.h"

namespace Tessel {

// A write that failed, as a backend's writer reports it; the component makes
// the message from it with DescribeWriteFailure.
struct WriteFailure {
  ErrorCategory category = ErrorCategory::Other;
  // What went wrong, naming the row or column at fault where one is, and the
  // database's own text: "the row at position 3 (0-based): UNIQUE constraint
  // failed: cases.id (SQLITE_CONSTRAINT_PRIMARYKEY)".
  std::string reason;
  // The 0-based position of the row at fault among all the rows of the
  // write (a stream's rows, all its batches counted), when there is one.
  std::optional<std::uint64_t> row;
};

// A database's or driver's text on one line: runs of line breaks, tabs and
// spaces become one space, none at either end (their messages span lines).
std::string OneLine(std::string_view text);

// Appends `sentence` to `message` as a sentence of its own (". " between
// them unless the message already ends a sentence).
void AppendSentence(std::string& message, std::string_view sentence);

// `text` followed by the category's sentence, if it has one:
//   Rerun, Connection  "Rerun the transaction."
//   SchemaChange       "The table's shape changed in the database (schema change)."
// Used for errors that are thrown (a busy database while a shape is read)
// as much as for failed writes.
std::string WithCategorySentence(std::string text, ErrorCategory category);

// `text` with the retry sentence when the category asks for a rerun, and
// nothing else: for failures that are not writes of a table (a routine),
// where "schema change" would mean nothing to the caller.
std::string WithRetrySentence(std::string text, ErrorCategory category);

// "could not write table 'cases': <reason>. <category sentence> Nothing of
// the table was written." An unknown outcome says instead that nobody knows
// whether the rows were written, and contains neither retry text.
std::string DescribeWriteFailure(std::string_view table, const WriteFailure& failure);

// How a failure names the rows at fault, by their 0-based positions among
// all the rows of the write: "the row at position 70000 (0-based)", "the
// rows at positions 64 to 127 (0-based)". Callers read these words back (the
// load finds the line of the file from them).
std::string RowAtPosition(std::uint64_t position);
std::string RowsAtPositions(std::uint64_t first, std::uint64_t last);

// The one-line status of a successful write: "3 rows written to table 'cases'".
std::string DescribeWrite(std::uint64_t rows, std::string_view table);

// How every component ends a write: sets the component's message to the
// status of writing `rows` rows to `table`, or to the failure, forgets the
// table's cached shape when the failure is a schema change, and returns
// whether the rows were written.
bool ReportWrite(DbConnect& component, ShapeCache& shapes, const std::string& table, std::uint64_t rows,
                 const std::optional<WriteFailure>& failure);

}  // namespace Tessel
