// Reading CSV records, keeping track of physical line numbers and of the
// file's encoding.
//
// The file is decoded block by block into UTF-8 with Text::DecodeStrict
// before it is parsed, so that a byte that is not valid in the file's
// encoding, or a NUL byte, stops the read with its byte offset in the file,
// its line and its field instead of turning into U+FFFD or cutting the text
// short. The parser is RFC 4180, strict: fields separated by the delimiter,
// optionally quoted with '"' (a doubled quote inside is one quote; a quoted
// field may span lines), records ended by LF, CRLF or CR, blank lines passed
// over (and counted), blanks kept as data, a byte order mark at the start of
// the file dropped. A quote inside an unquoted field, text after a closing
// quote and a quote left open at the end of the file are refused.
//
// Each record carries the line on which it starts, so a quoted field that
// spans lines does not shift the numbers of the records after it. The load
// reports every refusal by line, and the field parsers of the packaged CSV
// libraries know bytes, not lines: that, and decoding before parsing, is why
// the reader is the project's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace Tessel::Jobs {

// One field of a record. `present` is false for a null: an unquoted empty
// field, or with a null text set, an unquoted field of exactly that text (an
// unquoted empty field is then an empty text). A quoted field is always
// present.
struct CsvField {
  std::string_view text;
  bool present = true;
};

class CsvRecordSink {
 public:
  virtual ~CsvRecordSink() = default;
  // One record; the views are valid during the call only. What it throws
  // stops the read and leaves ReadCsv.
  virtual void OnRecord(std::uint64_t line, std::span<const CsvField> fields) = 0;
  // How to name field `index` (0-based) of a record in a message.
  virtual std::string FieldLabel(std::size_t index) const;
};

struct CsvReadOptions {
  char delimiter = ',';
  // The file's character set, an iconv name ("UTF-8", "ISO-8859-1", ...).
  std::string encoding = "UTF-8";
  // An unquoted field of this text is a null (see CsvField).
  std::optional<std::string> nullText;
  // Called after each block with the bytes of the file consumed so far.
  std::function<void(std::uint64_t bytesRead)> onBlock;
  // When set, every byte read is also written here, as it was read (a copy
  // of standard input that can be read again).
  std::FILE* copyTo = nullptr;
};

struct CsvReadCounts {
  std::uint64_t blankLines = 0;      // lines passed over because they were empty
  std::uint64_t firstBlankLine = 0;  // the first of them; 0 when none
};

// Reads all of `path` ("-" for standard input) and hands every record to
// `sink`. Throws CsvLoadError for malformed input and for a byte the encoding
// refuses or a NUL byte (with the line, the field and the byte offset),
// Tessel::ArgumentError when the file cannot be opened or read or the
// encoding is unknown, and whatever the sink throws.
CsvReadCounts ReadCsv(const std::string& path, CsvRecordSink& sink, const CsvReadOptions& options);
// The same from a file already open, from where it stands; `name` names it
// in messages.
CsvReadCounts ReadCsv(std::FILE* file, const std::string& name, CsvRecordSink& sink,
                      const CsvReadOptions& options);

// The size of the file at `path` in bytes; 0 for "-" or when unknown.
std::uint64_t CsvFileSize(const std::string& path);

}  // namespace Tessel::Jobs
