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
  std::string text = "line " + std::to_string(line);
  if (!column.empty()) text += ", column " + Quoted(column);
  if (!value.empty()) text += ", value " + Quoted(value);
  return text + ": " + reason;
}

// Receives the parsed records: the first is the header, every later one
// becomes a queued SqlRow.
class QueueingSink final : public CsvRecordSink {
 public:
  QueueingSink(std::shared_ptr<const Data::DataTable> shape, OwnedRecordQueue& queue)
      : shape_(std::move(shape)), queue_(queue) {}

  void OnRecord(std::uint64_t line, std::span<const CsvField> fields) override {
    if (!builder_) {
      builder_.emplace(shape_, fields, line);
      return;
    }
    std::unique_ptr<SqlRow> record = builder_->Build(line, fields);
    lines_.push_back(line);
    queue_.records.push(record.get());
    record.release();  // the queue owns it now
  }

  std::string FieldLabel(std::size_t index) const override {
    return builder_ ? builder_->FieldLabel(index) : CsvRecordSink::FieldLabel(index);
  }

  bool SawHeader() const noexcept { return builder_.has_value(); }
  std::uint64_t Records() const noexcept { return lines_.size(); }
  std::uint64_t LineOf(std::size_t record) const { return lines_.at(record); }
  const CsvRecordBuilder& Builder() const { return *builder_; }

 private:
  std::shared_ptr<const Data::DataTable> shape_;
  OwnedRecordQueue& queue_;
  std::optional<CsvRecordBuilder> builder_;
  std::vector<std::uint64_t> lines_;  // the line of each queued record
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
  std::shared_ptr<const Data::DataTable> shape = ReadShape(db, table, options.tableSet);

  OwnedRecordQueue queue;
  QueueingSink sink(shape, queue);
  CsvLoadProgress progress;
  progress.bytesTotal = CsvFileSize(path);
  Clock::time_point lastReport = start;

  CsvReadOptions readOptions;
  readOptions.delimiter = options.delimiter;
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
  ReadCsv(path, sink, readOptions);
  if (!sink.SawHeader())
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
  try {
    written = db.BulkToTable(table, &queue.records, &executionTime);
  } catch (const Error&) {
    // The bridge leaves the queue as it was when a record cannot be
    // converted; trying each record's fields on a fresh row of the same shape
    // finds the first that fails, and with it the line and the column. The
    // load has failed anyway, so the records go as they are tried.
    for (std::size_t position = 0; !queue.records.empty(); ++position) {
      if (std::optional<CsvLoadError> explained =
              sink.Builder().Explain(*queue.records.front(), sink.LineOf(position)))
        throw *explained;
      queue.DropFront();
    }
    throw;
  }
  if (!written)
    throw DatabaseError("table " + Quoted(table) + " was not written: " + db.GetMessage());

  CsvLoadSummary summary;
  summary.table = table;
  summary.rows = records;
  summary.writeSeconds = SecondsSince(writeStart);
  summary.seconds = SecondsSince(start);
  summary.executionTime = executionTime;
  summary.message = db.GetMessage();
  return summary;
}

}  // namespace Tessel::Jobs
