#include "jobs/CsvReader.h"

#include <csv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/jobs/CsvLoad.h"
#include "data/Quoted.h"

namespace Tessel::Jobs {
namespace {

constexpr std::size_t kBlockSize = 256 * 1024;

// Blanks are data in RFC 4180; libcsv would trim them around unquoted fields.
int NoSpace(unsigned char) { return 0; }

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

// Owns a libcsv parser.
class Parser {
 public:
  explicit Parser(char delimiter) {
    if (csv_init(&parser_, CSV_STRICT | CSV_STRICT_FINI | CSV_REPALL_NL | CSV_EMPTY_IS_NULL) != 0)
      throw std::bad_alloc();
    csv_set_delim(&parser_, static_cast<unsigned char>(delimiter));
    csv_set_space_func(&parser_, NoSpace);
  }
  ~Parser() { csv_free(&parser_); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;
  csv_parser* get() noexcept { return &parser_; }

 private:
  csv_parser parser_{};
};

// The state the C callbacks work on. Field texts of the current record are
// gathered in one buffer so that a record costs no allocation once the buffer
// has grown to the longest record.
class RecordAssembler {
 public:
  explicit RecordAssembler(CsvRecordSink& sink) : sink_(sink) {}

  static void OnField(void* data, std::size_t length, void* self) {
    static_cast<RecordAssembler*>(self)->Field(static_cast<const char*>(data), length);
  }
  static void OnRecordEnd(int terminator, void* self) {
    static_cast<RecordAssembler*>(self)->RecordEnd(terminator);
  }

  // An exception from the sink cannot pass through libcsv's C frames; it is
  // kept here and rethrown once csv_parse has returned.
  void RethrowIfFailed() const {
    if (failure_) std::rethrow_exception(failure_);
  }
  std::uint64_t Line() const noexcept { return line_; }
  std::size_t FieldsSoFar() const noexcept { return spans_.size(); }

 private:
  struct Span {
    std::size_t offset;
    std::size_t length;
    bool present;
  };

  void Field(const char* data, std::size_t length) {
    if (failure_) return;
    if (spans_.empty()) recordLine_ = line_;
    spans_.push_back({text_.size(), length, data != nullptr});
    if (data != nullptr) {
      text_.append(data, length);
      line_ += static_cast<std::uint64_t>(std::count(data, data + length, '\n'));
    }
  }

  void RecordEnd(int terminator) {
    if (!failure_ && !spans_.empty()) {
      try {
        fields_.clear();
        for (const Span& span : spans_)
          fields_.push_back({std::string_view(text_).substr(span.offset, span.length), span.present});
        sink_.OnRecord(recordLine_, fields_);
      } catch (...) {
        failure_ = std::current_exception();
      }
    }
    spans_.clear();
    text_.clear();
    if (terminator == '\n') ++line_;
  }

  CsvRecordSink& sink_;
  std::uint64_t line_ = 1;        // the line the parser has reached
  std::uint64_t recordLine_ = 1;  // the line the current record started on
  std::string text_;
  std::vector<Span> spans_;
  std::vector<CsvField> fields_;
  std::exception_ptr failure_;
};

// The text of the line around `at` within the block, cut to a readable length.
std::string LineAround(const char* block, std::size_t size, std::size_t at) {
  std::size_t begin = at;
  while (begin > 0 && block[begin - 1] != '\n') --begin;
  std::size_t end = at;
  while (end < size && block[end] != '\n' && block[end] != '\r') ++end;
  std::string line(block + begin, end - begin);
  if (line.size() > 80) line = line.substr(0, 77) + "...";
  return line;
}

}  // namespace

std::string CsvRecordSink::FieldLabel(std::size_t index) const {
  return "field " + std::to_string(index + 1);
}

std::uint64_t CsvFileSize(const std::string& path) {
  struct stat info {};
  if (path == "-" || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

void ReadCsv(const std::string& path, CsvRecordSink& sink, const CsvReadOptions& options) {
  FileHandle file = OpenInput(path);
  Parser parser(options.delimiter);
  RecordAssembler assembler(sink);
  std::vector<char> block(kBlockSize);
  std::uint64_t bytesRead = 0;
  std::uint64_t newlinesBefore = 0;  // line feeds in the blocks already parsed

  for (;;) {
    const std::size_t size = std::fread(block.data(), 1, block.size(), file.get());
    if (size == 0) break;
    const std::size_t parsed = csv_parse(parser.get(), block.data(), size, RecordAssembler::OnField,
                                         RecordAssembler::OnRecordEnd, &assembler);
    assembler.RethrowIfFailed();
    if (parsed < size) {
      const std::uint64_t line =
          newlinesBefore + static_cast<std::uint64_t>(std::count(block.data(), block.data() + parsed, '\n')) + 1;
      if (csv_error(parser.get()) != CSV_EPARSE)
        throw Error(std::string("reading CSV file '") + path + "': " + csv_strerror(csv_error(parser.get())));
      throw CsvLoadError(line, sink.FieldLabel(assembler.FieldsSoFar()), "",
                         "malformed CSV: a quote inside an unquoted field or text after a closing "
                         "quote, in: " + LineAround(block.data(), size, parsed));
    }
    newlinesBefore += static_cast<std::uint64_t>(std::count(block.data(), block.data() + size, '\n'));
    bytesRead += size;
    if (options.onBlock) options.onBlock(bytesRead);
  }
  if (std::ferror(file.get()))
    throw ArgumentError("cannot read CSV file " + Quoted(path) + ": " + std::strerror(errno));

  const std::uint64_t lastLine = assembler.Line();
  const std::size_t fieldsSoFar = assembler.FieldsSoFar();
  if (csv_fini(parser.get(), RecordAssembler::OnField, RecordAssembler::OnRecordEnd, &assembler) != 0) {
    assembler.RethrowIfFailed();
    throw CsvLoadError(lastLine, sink.FieldLabel(fieldsSoFar), "",
                       "malformed CSV: a quoted field is not closed before the end of the file");
  }
  assembler.RethrowIfFailed();
}

}  // namespace Tessel::Jobs
