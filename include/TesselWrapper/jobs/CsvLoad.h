// Loading a CSV file into a database table, in one transaction, a batch of
// rows at a time.
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
// one row whose fields are typed from the table's own shape, read with
// DbConnect::GetTable:
//
//   integer columns     the number when the text is a plain decimal integer
//                       (64 bits), otherwise the text, which the table model
//                       parses (surrounding blanks) or refuses
//   Boolean             1 for 1, t, true, y, yes, on and 0 for 0, f, false,
//                       n, no, off (any letter case), otherwise the text
//   Double              the number when the text is a plain decimal or
//                       exponent number, otherwise the text (NaN, Infinity)
//   DateTime            the text as the table model reads it:
//                       YYYY-MM-DD[ HH:MM[:SS[.f]]] ('T' may stand for the
//                       space, up to 7 decimals); with a zone after the time
//                       (Z, +HH, +HHMM, +HH:MM, +HH:MM:SS) the time is
//                       converted to UTC first
//   Decimal, String     the text: the table model parses it exactly
//
// A null (an unquoted empty field, or with nullText set an unquoted field of
// that text) leaves its column at its default (or null). A quoted empty field
// ("") is an empty text in a String column and left out elsewhere. A line whose
// every field is left out cannot become a row (it would ask for a row of
// defaults only) and is refused.
//
// The CSV dialect is RFC 4180: fields separated by the delimiter, optionally
// quoted with '"' (a doubled quote inside is one quote; a quoted field may
// span lines), records ended by LF, CRLF or CR, blank lines passed over and
// counted, blanks kept as data, a byte order mark at the start dropped. This
// reads what PostgreSQL's COPY ... TO ... WITH (FORMAT csv, HEADER) and the
// sqlite3 shell's .mode csv write. The file is decoded from its encoding
// (UTF-8 unless named) before it is parsed; a byte the encoding does not
// define, or a NUL byte, stops the load with its line, column and byte
// offset, and is never replaced. Text goes to the database as the UTF-8 it
// was decoded to, whatever the process's locale.
//
// The load streams: records are read, converted and checked (each value as
// its column demands, with the table model's conversions and rules) into
// batches of 16,384 rows on the calling thread, while a thread of its own
// writes the batch before through the component's DbConnect::BulkStream. All
// batches go into one transaction, committed after the last: a load either
// writes every record of the file or nothing, and at most two batches are in
// memory at a time, whatever the file's size. The first problem found stops
// it and rolls back, with the physical line number (counting from 1, the
// header being line 1), the column and the value:
//   - a malformed line (a stray quote, an unclosed quote at the end of file),
//     or a record with more or fewer fields than the header;
//   - text that is not valid in the file's encoding, or a NUL byte;
//   - a value that its column cannot hold, or a line without any value;
//   - no value for a column that needs one (NOT NULL, no default, not filled
//     in by the database);
//   - a key already given on an earlier line of the file (primary key or
//     unique rule), naming both lines. Whether a key repeats is the
//     database's verdict, as the table compares keys (a key column that
//     ignores case, "1.10" and "1.1" as one decimal, two spellings of one
//     time); once the database refuses the row, the file is read again to
//     name the earlier line (standard input is kept in a temporary file as it
//     is read, for that).
// A refusal of the database otherwise (a key already in the table, a foreign
// key) names the line of the row where the database names the row.
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
    Reading,  // records are being read and checked, and written batch by batch
    Writing,  // every record is read; the last rows are written and committed
  };
  Phase phase = Phase::Reading;
  std::uint64_t rows = 0;        // data records read so far
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
  double writeSeconds = 0;          // time the writing thread spent writing and committing
                                    // (much of it while the file was being read)
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

// Loads the CSV file at `path` ("-" reads standard input) into `table`. The
// table's shape is read, and the rows written, by a component of the load's
// own, made from db.GetConnectionString() and options.tableSet (`db`'s
// component must be loaded); it goes when the load returns.
//
// Returns the summary when every record was written. Throws, with nothing
// written:
//   CsvLoadError           the file's content, as the file comment lists
//   Tessel::ArgumentError  the file cannot be read, the table does not exist,
//                          the file has no header, the encoding is unknown
//   Tessel::DatabaseError  the database refused the write (its text, e.g. a
//                          key that the table already holds, with the line
//                          of the row where the database names the row), of
//                          the write's ErrorCategory; a failure that is no
//                          row's fault (a lost connection, a busy database)
//                          names no line; a lack of memory says "out of
//                          memory" and asks for a rerun (ErrorCategory::Rerun)
//   Tessel::Error          anything else the component throws; and, should
//                          the database take another number of rows than
//                          the file's, that (the one case with rows written)
TESSELWRAPPER_API CsvLoadSummary LoadCsvFile(IConnectWrapper& db, const std::string& table,
                                             const std::string& path, const CsvLoadOptions& options = {});

}  // namespace Tessel::Jobs
