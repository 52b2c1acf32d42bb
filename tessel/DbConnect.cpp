#include "TesselWrapper/component/DbConnect.h"

#include "TesselWrapper/Errors.h"
#include "tessel/BackendStream.h"

namespace Tessel {
namespace {

// The stream of a component that has none of its own: every row appended is
// copied into one table of the stream's columns (without unique rules: the
// component's BulkToTable judges the rows as it judges any table's), which
// Commit writes with BulkToTable and lets go.
class BufferedStream final : public BulkStream {
 public:
  BufferedStream(DbConnect& component, const Data::DataTable& table)
      : component_(component), rows_(Data::DataTable::Create(table.TableName())) {
    for (std::size_t c = 0; c < table.ColumnCount(); ++c) rows_->AddColumn(table.Column(c));
  }

  bool Append(const Data::DataTable& batch) override {
    if (failed_) return false;
    if (!rows_) throw ArgumentError("the stream into a table is already committed");
    CheckBatch(*rows_, batch);
    for (const Data::DataRow& from : batch.Rows()) {
      Data::DataRow to = rows_->NewRow();
      for (std::size_t c = 0; c < batch.ColumnCount(); ++c) to.Set(c, from.Get(c).View());
      rows_->Rows().Add(to);
    }
    AddRows(batch.Rows().Count());
    return true;
  }

  bool Commit() override {
    if (failed_) return false;
    if (!rows_) return true;
    std::int64_t milliseconds = 0;
    component_.SetFailureCategory(std::nullopt);
    const bool written = rows_->Rows().Count() == 0 || component_.BulkToTable(*rows_, milliseconds);
    AddMilliseconds(milliseconds);
    if (!written) {
      failed_ = true;
      SetFailure(component_.FailureCategory(), std::nullopt);
      return false;
    }
    rows_.reset();
    return true;
  }

 private:
  DbConnect& component_;
  std::shared_ptr<Data::DataTable> rows_;  // null once committed
  bool failed_ = false;
};

}  // namespace

BulkStream::~BulkStream() = default;

DbConnect::~DbConnect() = default;

ErrorCategory DbConnect::FailureCategory() const {
  if (failureCategory_) return *failureCategory_;
  if (!message_) return ErrorCategory::Other;
  if (message_->find(kRerunTransaction) != std::string::npos) return ErrorCategory::Rerun;
  if (message_->find(kSchemaChange) != std::string::npos) return ErrorCategory::SchemaChange;
  return ErrorCategory::Other;
}

void DbConnect::SetConnectionString(ManagedText connectionString) {
  connectionString_ = std::move(connectionString);
  OnConnectionStringChanged();
}

std::shared_ptr<Data::DbParameter> DbConnect::NewDbParameter(const std::string& name, Data::DbType type,
                                                             std::int32_t size,
                                                             Data::ParameterDirection direction,
                                                             Data::Value value) {
  return std::make_shared<Data::DbParameter>(name, type, size, direction, std::move(value));
}

std::unique_ptr<BulkStream> DbConnect::OpenBulkStream(const Data::DataTable& table) {
  return std::make_unique<BufferedStream>(*this, table);
}

void DbConnect::ForgetShape(const std::string&) {}

void DbConnect::ExecuteScript(const std::string&) {
  throw ArgumentError("this component does not run SQL scripts");
}

}  // namespace Tessel
