#include "jobs/CsvReader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/Text.h"
#include "TesselWrapper/jobs/CsvLoad.h"
#include "data/Quoted.h"

namespace Tessel::Jobs {
namespace {

constexpr std::size_t kBlockSize = 256 * 1024;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct FileCloser {
  void operator()(std::FILE* file) const noexcept {
    if (file != stdin) std::fclose(file);
  }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

FileHandle OpenInput(const std::string& path) {
  if (path == "-") return FileHandle(stdin);
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) throw ArgumentError("cannot open CSV file " + Quoted(path) + ": " + std::strerror(errno));
  return file;
}

std::string Hex(unsigned char byte) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[byte >> 4] + kDigits[byte & 15];
}

// The text of the line around `at`, cut to a readable length.
std::string LineAround(std::string_view text, std::size_t at) {
  std::size_t begin = at;
  while (begin > 0 && text[begin - 1] != '\n' && text[begin - 1] != '\r') --begin;
  std::size_t end = at;
  while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
  std::string line(text.substr(begin, end - begin));
  if (line.size() > 80) line = line.substr(0, 77) + "...";
  return line;
}

// The RFC 4180 state machine. It is fed decoded text in pieces of any size
// and keeps the fields of the record in progress in one buffer, so that a
// record costs no allocation once the buffer has grown to the longest one.
class Parser {
 public:
  Parser(CsvRecordSink& sink, char delimiter, const std::optional<std::string>& nullText)
      : sink_(sink), delimiter_(delimiter), nullText_(nullText) {}

  void Feed(std::string_view data) {
    std::size_t i = 0;
    const std::size_t n = data.size();
    while (i < n) {
      const char c = data[i];
      switch (state_) {
        case State::AfterCr:
          // A CR ended the record; an LF right after it belongs to it.
          state_ = State::FieldStart;
          if (c == '\n') ++i;
          break;
        case State::FieldStart:
          if (c == '\n' || c == '\r') {
            if (started_) {
              EndField();
              EndRecord();
            } else {
              ++counts_.blankLines;
              if (counts_.firstBlankLine == 0) counts_.firstBlankLine = line_;
            }
            EndLine(c);
            ++i;
            break;
          }
          started_ = true;
          fieldStart_ = text_.size();
          quoted_ = c == '"';
          if (quoted_) ++i;
          state_ = quoted_ ? State::Quoted : State::Unquoted;
          break;
        case State::Unquoted: {
          std::size_t j = i;
          while (j < n && data[j] != delimiter_ && data[j] != '"' && data[j] != '\n' && data[j] != '\r') ++j;
          text_.append(data.data() + i, j - i);
          i = j;
          if (i == n) break;
          if (data[i] == '"')
            Malformed("a quote inside an unquoted field (quote the whole field and double the quote)", data,
                      i);
          EndField();
          if (data[i] == delimiter_) {
            state_ = State::FieldStart;
          } else {
            EndRecord();
            EndLine(data[i]);
          }
          ++i;
          break;
        }
        case State::Quoted: {
          const std::size_t quote = std::min(data.find('"', i), n);
          line_ +=
              static_cast<std::uint64_t>(std::count(data.begin() + static_cast<std::ptrdiff_t>(i),
                                                    data.begin() + static_cast<std::ptrdiff_t>(quote), '\n'));
          text_.append(data.data() + i, quote - i);
          i = quote;
          if (i < n) {
            state_ = State::QuoteInQuoted;
            ++i;
          }
          break;
        }
        case State::QuoteInQuoted:
          if (c == '"') {  // a doubled quote is one quote of the text
            text_ += '"';
            state_ = State::Quoted;
          } else if (c == delimiter_) {
            EndField();
            state_ = State::FieldStart;
          } else if (c == '\n' || c == '\r') {
            EndField();
            EndRecord();
            EndLine(c);
          } else {
            Malformed("text after the closing quote of a field", data, i);
          }
          ++i;
          break;
      }
    }
  }

  // The end of the input: the last record may lack its line end.
  void Finish() {
    if (state_ == State::Quoted) {
      throw CsvLoadError(recordStartLine_, sink_.FieldLabel(spans_.size()), "",
                         "malformed CSV: the quoted field that starts on line " + std::to_string(fieldLine_) +
                             " is not closed before the end of the file");
    }
    if (started_ && state_ != State::AfterCr) {
      EndField();
      EndRecord();
    }
  }

  std::uint64_t Line() const noexcept { return line_; }
  std::size_t FieldIndex() const noexcept { return spans_.size(); }
  const CsvReadCounts& Counts() const noexcept { return counts_; }

 private:
  enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted, AfterCr };

  struct Span {
    std::size_t offset;
    std::size_t length;
    bool quoted;
  };

  void EndField() {
    if (spans_.empty()) recordLine_ = recordStartLine_;
    spans_.push_back({fieldStart_, text_.size() - fieldStart_, quoted_});
    // The next field may end before a character of its own is seen (an
    // empty last field): it starts out unquoted.
    quoted_ = false;
    fieldStart_ = text_.size();
    fieldLine_ = line_;
  }

  void EndRecord() {
    fields_.clear();
    for (const Span& span : spans_) {
      const std::string_view text = std::string_view(text_).substr(span.offset, span.length);
      const bool present = span.quoted || (nullText_ ? text != std::string_view(*nullText_) : !text.empty());
      fields_.push_back({text, present});
    }
    // The record is over before the sink sees it, so that an error the sink
    // throws finds the parser between records.
    spans_.clear();
    fieldStart_ = 0;
    started_ = false;
    sink_.OnRecord(recordLine_, fields_);
    text_.clear();
  }

  void EndLine(char terminator) {
    ++line_;
    recordStartLine_ = line_;
    fieldLine_ = line_;
    state_ = terminator == '\r' ? State::AfterCr : State::FieldStart;
  }

  [[noreturn]] void Malformed(const std::string& what, std::string_view data, std::size_t at) const {
    throw CsvLoadError(line_, sink_.FieldLabel(spans_.size()), "",
                       "malformed CSV: " + what + ", in: " + LineAround(data, at));
  }

  CsvRecordSink& sink_;
  const char delimiter_;
  const std::optional<std::string>& nullText_;
  State state_ = State::FieldStart;
  bool started_ = false;               // the record in progress has begun
  bool quoted_ = false;                // the field in progress began with a quote
  std::uint64_t line_ = 1;             // the line the parser has reached
  std::uint64_t recordStartLine_ = 1;  // the line the record in progress began on
  std::uint64_t recordLine_ = 1;
  std::uint64_t fieldLine_ = 1;  // the line the field in progress began on
  std::string text_;
  std::size_t fieldStart_ = 0;
  std::vector<Span> spans_;
  std::vector<CsvField> fields_;
  CsvReadCounts counts_;
};

}  // namespace

std::string CsvRecordSink::FieldLabel(std::size_t index) const {
  return "field " + std::to_string(index + 1);
}

std::uint64_t CsvFileSize(const std::string& path) {
  struct stat info {};
  if (path == "-" || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

CsvReadCounts ReadCsv(const std::string& path, CsvRecordSink& sink, const CsvReadOptions& options) {
  if (!Text::IsKnownCharset(options.encoding))
    throw ArgumentError("unknown encoding " + Quoted(options.encoding) +
                        " (UTF-8, latin1, or any name iconv knows, such as CP1252)");
  FileHandle file = OpenInput(path);
  return ReadCsv(file.get(), path, sink, options);
}

CsvReadCounts ReadCsv(std::FILE* file, const std::string& path, CsvRecordSink& sink,
                      const CsvReadOptions& options) {
  if (!Text::IsKnownCharset(options.encoding))
    throw ArgumentError("unknown encoding " + Quoted(options.encoding) +
                        " (UTF-8, latin1, or any name iconv knows, such as CP1252)");
  Parser parser(sink, options.delimiter, options.nullText);
  std::vector<char> block(kBlockSize);
  std::string raw;              // bytes not decoded yet: a character cut by the block's end, then the block
  std::string decoded;          // the decodable part, as UTF-8
  std::uint64_t rawOffset = 0;  // the file offset of raw[0]
  std::uint64_t bytesRead = 0;
  bool atStart = true;

  // Stops the read at a byte of the file, after the text before it has been
  // parsed, so that the line and field are those of the byte.
  auto refuseByteAt = [&](std::size_t at, const std::string& before, const std::string& after) {
    const std::string where = " at byte offset " + std::to_string(rawOffset + at) + " of the file";
    throw CsvLoadError(parser.Line(), sink.FieldLabel(parser.FieldIndex()), "", before + where + after);
  };

  for (;;) {
    const std::size_t size = std::fread(block.data(), 1, block.size(), file);
    if (size == 0) break;
    if (options.copyTo != nullptr && std::fwrite(block.data(), 1, size, options.copyTo) != size)
      throw ArgumentError("cannot keep a copy of " + Quoted(path) +
                          " to read again: " + std::strerror(errno));
    raw.append(block.data(), size);
    const std::size_t nul = std::min(raw.find('\0'), raw.size());
    decoded.clear();
    const Text::StrictDecoding result =
        Text::DecodeStrict(std::string_view(raw).substr(0, nul), options.encoding, decoded);
    std::string_view text = decoded;
    if (atStart && !text.empty()) {
      if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
      atStart = false;
    }
    parser.Feed(text);
    if (result.invalid || (result.truncated && nul < raw.size())) {
      refuseByteAt(result.decoded, "byte " + Hex(static_cast<unsigned char>(raw[result.decoded])),
                   " is not valid " + options.encoding + " (name the file's encoding with --encoding)");
    }
    if (result.decoded == nul && nul < raw.size())
      refuseByteAt(nul, "a NUL byte", ": no text value can hold it, and it would cut the text short");
    raw.erase(0, result.decoded);
    rawOffset += result.decoded;
    bytesRead += size;
    if (options.onBlock) options.onBlock(bytesRead);
  }
  if (std::ferror(file))
    throw ArgumentError("cannot read CSV file " + Quoted(path) + ": " + std::strerror(errno));
  if (!raw.empty())
    refuseByteAt(
        0, "byte " + Hex(static_cast<unsigned char>(raw[0])),
        " begins a character that the end of the file cuts short (not valid " + options.encoding + ")");
  parser.Finish();
  return parser.Counts();
}

}  // namespace Tessel::Jobs
