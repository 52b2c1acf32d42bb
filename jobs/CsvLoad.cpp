#include "TesselWrapper/jobs/CsvLoad.h"

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "TesselWrapper/component/DbConnectFactory.h"
#include "TesselWrapper/data/Text.h"
#include "data/Quoted.h"
#include "jobs/CsvReader.h"
#include "jobs/CsvRecordBuilder.h"
#include "jobs/OwnedRecordQueue.h"

namespace Tessel::Jobs {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string DescribeLoadError(std::uint64_t line, const std::string& column, const std::string& value,
                              const std::string& reason) {
  std::string text =
      line == 0 ? std::string("in the column names given for the file") : "line " + std::to_string(line);
  if (!column.empty()) text += ", column " + Quoted(column);
  if (!value.empty()) text += ", value " + QuotedExcerpt(value);
  return text + ": " + reason;
}

// The character set to decode the file from, by the names CsvLoadOptions
// documents.
std::string CharsetOf(const std::string& encoding) {
  std::string folded;
  for (char c : encoding)
    if (c != '-' && c != '_') folded += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (folded == "latin1" || folded == "l1" || folded == "iso88591") return "ISO-8859-1";
  if (folded == "utf8") return "UTF-8";
  if (folded == "locale") return Text::NativeIsUtf8() ? std::string("UTF-8") : Text::NativeCharsetName();
  return encoding;
}

// Receives the parsed records: the first is the header (unless the names are
// given), every later one becomes a queued SqlRow.
class QueueingSink final : public CsvRecordSink {
 public:
  QueueingSink(std::shared_ptr<const Data::DataTable> shape, const std::vector<std::string>& columns,
               OwnedRecordQueue& queue)
      : shape_(std::move(shape)), queue_(queue) {
    if (columns.empty()) return;
    std::vector<CsvField> names;
    for (const std::string& name : columns) names.push_back({name, true});
    builder_.emplace(shape_, names, 0);
  }

  void OnRecord(std::uint64_t line, std::span<const CsvField> fields) override {
    if (!builder_) {
      builder_.emplace(shape_, fields, line);
      return;
    }
    std::unique_ptr<SqlRow> record = builder_->Build(line, fields);
    queue_.records.push(record.get());
    record.release();  // the queue owns it now
  }

  std::string FieldLabel(std::size_t index) const override {
    return builder_ ? builder_->FieldLabel(index) : CsvRecordSink::FieldLabel(index);
  }

  bool HasBuilder() const noexcept { return builder_.has_value(); }
  std::uint64_t Records() const noexcept { return builder_ ? builder_->Records() : 0; }
  const CsvRecordBuilder& Builder() const { return *builder_; }

 private:
  std::shared_ptr<const Data::DataTable> shape_;
  OwnedRecordQueue& queue_;
  std::optional<CsvRecordBuilder> builder_;
};

std::shared_ptr<const Data::DataTable> ReadShape(IConnectWrapper& db, const std::string& table,
                                                 const std::string& tableSet) {
  // The bridge offers no view of a table's columns, so a component of our own
  // reads it; it goes (and closes its connection) before the write.
  std::shared_ptr<DbConnect> component =
      DbConnectFactory::CreateDbConnect(db.GetConnectionString(), tableSet);
  std::shared_ptr<Data::DataTable> shape = component->GetTable(table);
  if (!shape) {
    if (!component->Test())
      throw DatabaseError("cannot reach the database: " + Text::ManagedToNative(component->Message()));
    throw ArgumentError("table " + Quoted(table) + " does not exist" +
                        (tableSet.empty() ? std::string() : " in table set " + Quoted(tableSet)));
  }
  return shape;
}

// How many records the bridge's table refused, from its message ("; 2 of 9
// records were refused by table ..."), which it adds to a write that went
// through without them.
std::optional<std::uint64_t> RefusedRecords(const std::string& message) {
  const std::size_t at = message.find(" records were refused by table ");
  if (at == std::string::npos) return std::nullopt;
  const std::size_t of = message.rfind(" of ", at);
  if (of == std::string::npos) return std::nullopt;
  std::size_t begin = of;
  while (begin > 0 && message[begin - 1] >= '0' && message[begin - 1] <= '9') --begin;
  std::uint64_t count = 0;
  for (std::size_t i = begin; i < of; ++i) count = count * 10 + static_cast<std::uint64_t>(message[i] - '0');
  return count;
}

}  // namespace

CsvLoadError::CsvLoadError(std::uint64_t line, std::string column, std::string value, std::string reason)
    : Error(DescribeLoadError(line, column, value, reason)),
      line_(line),
      column_(std::move(column)),
      value_(std::move(value)),
      reason_(std::move(reason)) {}

CsvLoadSummary LoadCsvFile(IConnectWrapper& db, const std::string& table, const std::string& path,
                           const CsvLoadOptions& options) {
  const Clock::time_point start = Clock::now();
  CsvReadOptions readOptions;
  readOptions.delimiter = options.delimiter;
  readOptions.encoding = CharsetOf(options.encoding);
  readOptions.nullText = options.nullText;
  if (!Text::IsKnownCharset(readOptions.encoding))
    throw ArgumentError("unknown encoding " + Quoted(options.encoding) +
                        " (UTF-8, latin1, locale, or a name iconv knows such as CP1252)");
  std::shared_ptr<const Data::DataTable> shape = ReadShape(db, table, options.tableSet);

  OwnedRecordQueue queue;
  QueueingSink sink(shape, options.columns, queue);
  CsvLoadProgress progress;
  progress.bytesTotal = CsvFileSize(path);
  Clock::time_point lastReport = start;

  if (options.progress) {
    readOptions.onBlock = [&](std::uint64_t bytesRead) {
      const Clock::time_point now = Clock::now();
      if (now - lastReport < options.progressInterval) return;
      lastReport = now;
      progress.rows = sink.Records();
      progress.bytesRead = bytesRead;
      progress.seconds = SecondsSince(start);
      options.progress(progress);
    };
  }
  const CsvReadCounts counts = ReadCsv(path, sink, readOptions);
  if (!sink.HasBuilder())
    throw ArgumentError("CSV file " + Quoted(path) + " is empty: it needs a header row of column names");

  const std::uint64_t records = sink.Records();
  if (options.progress) {
    progress.phase = CsvLoadProgress::Phase::Writing;
    progress.rows = records;
    progress.bytesRead = progress.bytesTotal;
    progress.seconds = SecondsSince(start);
    options.progress(progress);
  }

  const Clock::time_point writeStart = Clock::now();
  long executionTime = 0;
  bool written = false;
  if (records > 0) {
    written = db.BulkToTable(table, &queue.records, &executionTime);
    if (!written) {
      throw DatabaseError("table " + Quoted(table) + " was not written: " +
                          sink.Builder().WithFileLines(db.GetMessage(), queue.records));
    }
  }
  const std::string message = records > 0 ? db.GetMessage() : std::string();
  if (const std::optional<std::uint64_t> refused = RefusedRecords(message)) {
    throw Error("table " + Quoted(table) + " left " + std::to_string(*refused) + " of the file's " +
                std::to_string(records) + " rows out of a write that went through, so only " +
                std::to_string(records - std::min(*refused, records)) + " rows were written: " + message);
  }

  CsvLoadSummary summary;
  summary.table = table;
  summary.rows = records;
  summary.rowsRead = records + counts.blankLines;
  if (counts.blankLines > 0)
    summary.skipped.push_back({"blank line", counts.blankLines, counts.firstBlankLine});
  summary.writeSeconds = SecondsSince(writeStart);
  summary.seconds = SecondsSince(start);
  summary.executionTime = executionTime;
  summary.message = message;
  return summary;
}

}  // namespace Tessel::Jobs
