// Loading a CSV file into a database table through the queued road.
//
//   BridgeHandle db = OpenBridge("sqlite:cases.db", "");
//   CsvLoadOptions options;
//   options.progress = [](const CsvLoadProgress& p) { ... };
//   CsvLoadSummary done = LoadCsvFile(*db, "cases", "cases.csv", options);
//
// The file's first record is the header: one column name per field, each
// naming a column of the table (exact name first, then the one column that
// matches without regard to case); or, with CsvLoadOptions::columns, the file
// has no header and those names stand for it. Every further record becomes
// one SqlRow whose fields are typed from the table's own shape, read with
// DbConnect::GetTable:
//
//   integer columns     "LongInteger" when the text is a plain decimal integer
//                       in the 32-bit range, otherwise "Text" (the table parses
//                       it: wider integers, surrounding blanks)
//   Boolean             "LongInteger" 1 for 1, t, true, y, yes, on and 0 for
//                       0, f, false, n, no, off (any letter case), otherwise
//                       "Text"
//   Double              "Double" when the text is a plain decimal or exponent
//                       number, otherwise "Text" (NaN, Infinity)
//   DateTime            "Text" as the table reads it: YYYY-MM-DD[ HH:MM[:SS[.f]]]
//                       ('T' may stand for the space, up to 7 decimals); with
//                       a zone after the time (Z, +HH, +HHMM, +HH:MM,
//                       +HH:MM:SS) the time is converted to UTC first
//   Decimal, String     "Text": the table parses it exactly
//
// A null (an unquoted empty field, or with nullText set an unquoted field of
// that text) is left out of the record, so the column keeps its default (or
// null). A quoted empty field ("") is an empty text in a String column and
// left out elsewhere. A line whose every field is left out cannot become a
// row (a record without fields writes none) and is refused.
//
// The CSV dialect is RFC 4180: fields separated by the delimiter, optionally
// quoted with '"' (a doubled quote inside is one quote; a quoted field may
// span lines), records ended by LF, CRLF or CR, blank lines passed over and
// counted, blanks kept as data, a byte order mark at the start dropped. This
// reads what PostgreSQL's COPY ... TO ... WITH (FORMAT csv, HEADER) and the
// sqlite3 shell's .mode csv write. The file is decoded from its encoding
// (UTF-8 unless named) before it is parsed; a byte the encoding does not
// define, or a NUL byte, stops the load with its line, column and byte
// offset, and is never replaced.
//
// All records are converted and checked before anything is written: each is
// tried on a table of the write's own shape with the values the bridge will
// store, so a value, a null or a repeated key is judged exactly as the
// write's table judges it (its conversions, a key column that ignores case,
// "1.10" and "1.1" as one decimal, two spellings of one time). The whole
// table then goes out in one IConnectWrapper::BulkToTable call, one
// transaction. So a load either writes every record of the file or nothing.
// The first problem found stops it, with the physical line number (counting
// from 1, the header being line 1), the column and the value:
//   - a malformed line (a stray quote, an unclosed quote at the end of file),
//     or a record with more or fewer fields than the header;
//   - text that is not valid in the file's encoding, or a NUL byte;
//   - a value that its column cannot hold, or a line without any value;
//   - no value for a column that needs one (NOT NULL, no default, not filled
//     in by the database);
//   - a key already given on an earlier line of the file (primary key or
//     unique rule), naming both lines.
// A refusal of the database (a key already in the table, a foreign key)
// names the line of the row where the database names the row.
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
#include <optional>
#include <string>
#include <vector>

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
  // The file's character set: "UTF-8", "latin1" (ISO-8859-1), "locale" (the
  // process's LC_CTYPE set, UTF-8 under the "C" locale as everywhere in the
  // library) or any name iconv knows ("CP1252", ...).
  std::string encoding = "UTF-8";
  // When set, an unquoted field of exactly this text is a null, and an
  // unquoted empty field an empty text (as PostgreSQL's NULL option).
  std::optional<std::string> nullText;
  // When not empty, the file has no header line: these name its fields.
  std::vector<std::string> columns;
  // Called on the loading thread: while reading at most once per
  // progressInterval, and once when the write starts. May be empty. An
  // exception it throws ends the load with nothing written.
  std::function<void(const CsvLoadProgress&)> progress;
  std::chrono::milliseconds progressInterval{100};
};

// Lines of the file that did not become rows, for one reason.
struct CsvSkipped {
  std::string reason;  // "blank line"
  std::uint64_t count = 0;
  std::uint64_t firstLine = 0;
};

struct CsvLoadSummary {
  std::string table;
  std::uint64_t rows = 0;           // rows written: every data record of the file
  std::uint64_t rowsRead = 0;       // data lines read: rows + the skipped ones
  std::vector<CsvSkipped> skipped;  // what did not become a row, and why
  double seconds = 0;               // wall time of the whole load
  double writeSeconds = 0;          // wall time of the BulkToTable call
  long executionTime = 0;           // the component's figure for the write (ms)
  std::string message;              // the component's status after the write
};

// A load stopped by the content of the file. what() reads
// "line 5000, column 'Value', value 'abc': <reason>" (column and value are
// left out when the problem is the line as a whole; line 0 stands for the
// column names given instead of a header).
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
//                          the file has no header, the encoding is unknown
//   Tessel::DatabaseError  the database refused the write (its text, e.g. a
//                          key that the table already holds, with the line
//                          of the row where the database names the row)
//   Tessel::Error          anything else the bridge or the component throws;
//                          and, the one case with rows written, a write that
//                          went through without rows its table left out
//                          although the checks had passed them (the message
//                          says how many were written)
TESSELWRAPPER_API CsvLoadSummary LoadCsvFile(IConnectWrapper& db, const std::string& table,
                                             const std::string& path, const CsvLoadOptions& options = {});

}  // namespace Tessel::Jobs
