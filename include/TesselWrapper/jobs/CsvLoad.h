// Loading a CSV file into a database table through the queued road.
//
//   BridgeHandle db = OpenBridge("sqlite:cases.db", "");
//   CsvLoadOptions options;
//   options.progress = [](const CsvLoadProgress& p) { ... };
//   CsvLoadSummary done = LoadCsvFile(*db, "cases", "cases.csv", options);
//
// The file's first record is the header: one column name per field, each
// naming a column of the table (exact name first, then the one column that
// matches without regard to case). Every further record becomes one SqlRow
// whose fields are typed from the table's own shape, read with
// DbConnect::GetTable:
//
//   integer columns     "LongInteger" when the text is a plain decimal integer
//                       in the 32-bit range, otherwise "Text" (the table parses
//                       it: wider integers, surrounding blanks)
//   Boolean             "LongInteger" for "0" and "1", otherwise "Text"
//   Double              "Double" when the text is a plain decimal or exponent
//                       number, otherwise "Text"
//   Decimal, DateTime,  "Text": the table parses it exactly (ISO dates for
//   String, Binary      DateTime)
//
// An empty unquoted field is left out of the record, so the column keeps its
// default (or null). A quoted empty field ("") is an empty text in a String
// column and, like an unquoted one, left out elsewhere.
//
// The CSV dialect is RFC 4180: fields separated by the delimiter, optionally
// quoted with '"' (a doubled quote inside is one quote; a quoted field may
// span lines), records ended by LF or CRLF, blank lines skipped, blanks kept
// as data. A UTF-8 byte order mark before the header is dropped.
//
// All records are converted and checked before anything is written; the
// whole table then goes out in one IConnectWrapper::BulkToTable call, one
// transaction. So a load either writes every record of the file or nothing.
// The first problem found stops it, with the physical line number (counting
// from 1, the header being line 1), the column and the value:
//   - a malformed line (a stray quote, an unclosed quote at the end of file),
//     or a record with more or fewer fields than the header;
//   - a value that its column cannot hold (found by the table's conversion);
//   - no value for a column that needs one (NOT NULL, no default, not filled
//     in by the database);
//   - a key already given on an earlier line of the file (primary key or
//     unique rule). The table would otherwise drop such a record silently.
// Every queued record is freed on every path.
//
// Memory: the file's records are held as SqlRow records, then as the table's
// rows, until the write; plan for a few hundred bytes per field.
//
// Not thread-safe beyond IConnectWrapper's rule: one load per bridge object
// at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/Export.h"
#include "TesselWrapper/IConnectWrapper.h"

namespace Tessel::Jobs {

struct CsvLoadProgress {
  enum class Phase {
    Reading,  // records are being read, checked and queued
    Writing,  // every record is queued; the single write has started
  };
  Phase phase = Phase::Reading;
  std::uint64_t rows = 0;        // data records queued so far
  std::uint64_t bytesRead = 0;   // bytes of the file consumed so far
  std::uint64_t bytesTotal = 0;  // the file's size; 0 when unknown (a pipe)
  double seconds = 0;            // since the load started
};

struct CsvLoadOptions {
  // The table set in which the table's shape is read; "" for the default.
  // Give the table set that the bridge was loaded with.
  std::string tableSet;
  char delimiter = ',';
  // Called on the loading thread: while reading at most once per
  // progressInterval, and once when the write starts. May be empty. An
  // exception it throws ends the load with nothing written.
  std::function<void(const CsvLoadProgress&)> progress;
  std::chrono::milliseconds progressInterval{100};
};

struct CsvLoadSummary {
  std::string table;
  std::uint64_t rows = 0;          // rows written: every data record of the file
  double seconds = 0;              // wall time of the whole load
  double writeSeconds = 0;         // wall time of the BulkToTable call
  long executionTime = 0;          // the component's figure for the write (ms)
  std::string message;             // the component's status after the write
};

// A load stopped by the content of the file. what() reads
// "line 5000, column 'Value', value 'abc': <reason>" (column and value are
// left out when the problem is the line as a whole).
class TESSELWRAPPER_API CsvLoadError : public Tessel::Error {
 public:
  CsvLoadError(std::uint64_t line, std::string column, std::string value, std::string reason);

  std::uint64_t Line() const noexcept { return line_; }
  const std::string& Column() const noexcept { return column_; }
  const std::string& Value() const noexcept { return value_; }
  const std::string& Reason() const noexcept { return reason_; }

 private:
  std::uint64_t line_;
  std::string column_;
  std::string value_;
  std::string reason_;
};

// Loads the CSV file at `path` ("-" reads standard input) into `table`
// through `db`, whose component must be loaded. The table's shape is read
// with a component of its own made from db.GetConnectionString() and
// options.tableSet, which is released before the write.
//
// Returns the summary when every record was written. Throws, with nothing
// written:
//   CsvLoadError           the file's content, as the file comment lists
//   Tessel::ArgumentError  the file cannot be read, the table does not exist,
//                          the file has no header
//   Tessel::DatabaseError  the database refused the write (its text, e.g. a
//                          key that the table already holds)
//   Tessel::Error          anything else the bridge or the component throws
TESSELWRAPPER_API CsvLoadSummary LoadCsvFile(IConnectWrapper& db, const std::string& table,
                                             const std::string& path,
                                             const CsvLoadOptions& options = {});

}  // namespace Tessel::Jobs
