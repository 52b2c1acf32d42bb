// Reading CSV records with libcsv, keeping track of physical line numbers.
//
// libcsv parses byte blocks and reports fields and record ends through C
// callbacks; it knows nothing of lines. The reader counts them: every
// unquoted line feed is reported (CSV_REPALL_NL), and line feeds inside quoted
// fields are counted from the field's text, so each record carries the line
// on which it starts even when a quoted field spans lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace Tessel::Jobs {

// One field of a record. `present` is false for an empty unquoted field; a
// quoted empty field ("") is present with empty text.
struct CsvField {
  std::string_view text;
  bool present = true;
};

class CsvRecordSink {
 public:
  virtual ~CsvRecordSink() = default;
  // One record; the views are valid during the call only. May throw: the
  // reader stops and rethrows once libcsv has returned.
  virtual void OnRecord(std::uint64_t line, std::span<const CsvField> fields) = 0;
  // How to name field `index` (0-based) of a record in a message.
  virtual std::string FieldLabel(std::size_t index) const;
};

struct CsvReadOptions {
  char delimiter = ',';
  // Called after each block with the bytes consumed so far.
  std::function<void(std::uint64_t bytesRead)> onBlock;
};

// Reads all of `path` ("-" for standard input) and hands every record, blank
// lines skipped, to `sink`. Throws CsvLoadError for malformed input (with the
// line), Tessel::ArgumentError when the file cannot be opened or read, and
// whatever the sink throws.
void ReadCsv(const std::string& path, CsvRecordSink& sink, const CsvReadOptions& options);

// The size of the file at `path` in bytes; 0 for "-" or when unknown.
std::uint64_t CsvFileSize(const std::string& path);

}  // namespace Tessel::Jobs
