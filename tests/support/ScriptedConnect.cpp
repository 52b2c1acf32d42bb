#include "support/ScriptedConnect.h"

#include <mutex>

#include "TesselWrapper/component/DbConnectFactory.h"

namespace Tessel::Testing {
namespace {

struct LastCreatedRegistry {
  std::mutex mutex;
  std::weak_ptr<ScriptedConnect> last;
};

LastCreatedRegistry& Registry() {
  static LastCreatedRegistry registry;
  return registry;
}

std::vector<std::vector<Data::Value>> Snapshot(const Data::DataTable& table) {
  std::vector<std::vector<Data::Value>> rows;
  rows.reserve(table.Rows().Count());
  for (const Data::DataRow row : table.Rows()) {
    std::vector<Data::Value>& values = rows.emplace_back();
    for (std::size_t c = 0; c < table.ColumnCount(); ++c) values.push_back(row.Get(c));
  }
  return rows;
}

}  // namespace

void RegisterScriptedProvider() {
  DbConnectFactory::RegisterProvider(ScriptedConnect::kScheme,
                                     [](const std::string& connect, const std::string& tableSet) {
                                       auto component = std::make_shared<ScriptedConnect>(connect, tableSet);
                                       LastCreatedRegistry& registry = Registry();
                                       std::lock_guard lock(registry.mutex);
                                       registry.last = component;
                                       return std::shared_ptr<DbConnect>(component);
                                     });
}

std::shared_ptr<Data::DataTable> MakeTable(std::string name, std::vector<Data::DataColumn> columns) {
  auto table = Data::DataTable::Create(std::move(name));
  for (Data::DataColumn& column : columns) table->AddColumn(std::move(column));
  return table;
}

ScriptedConnect::ScriptedConnect(std::string connect, std::string tableSet)
    : connect_(std::move(connect)), tableSet_(std::move(tableSet)) {
  SetConnectionString(connect_);
}

std::shared_ptr<ScriptedConnect> ScriptedConnect::LastCreated() { return LastCreatedWeak().lock(); }

std::weak_ptr<ScriptedConnect> ScriptedConnect::LastCreatedWeak() {
  LastCreatedRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  return registry.last;
}

void ScriptedConnect::AddTable(std::shared_ptr<Data::DataTable> shape) {
  const std::string name = shape->TableName();
  tables_[name] = std::move(shape);
}

void ScriptedConnect::MarkEnumTable(std::string name) { enumTables_.insert(std::move(name)); }

void ScriptedConnect::QueueBulkOutcome(BulkOutcome outcome) { bulkOutcomes_.push_back(std::move(outcome)); }

void ScriptedConnect::SetDefaultBulkOutcome(BulkOutcome outcome) { defaultBulkOutcome_ = std::move(outcome); }

void ScriptedConnect::FailNext(Operation operation, std::exception_ptr error) {
  failures_[operation].push_back(std::move(error));
}

int ScriptedConnect::CallCount(Operation operation) const {
  const auto it = calls_.find(operation);
  return it == calls_.end() ? 0 : it->second;
}

void ScriptedConnect::Enter(Operation operation) {
  ++calls_[operation];
  std::deque<std::exception_ptr>& queued = failures_[operation];
  if (queued.empty()) return;
  std::exception_ptr error = std::move(queued.front());
  queued.pop_front();
  std::rethrow_exception(error);
}

bool ScriptedConnect::Test() {
  Enter(Operation::Test);
  return testResult_;
}

std::int64_t ScriptedConnect::BulkExample(std::int32_t iterations) {
  Enter(Operation::BulkExample);
  bulkExampleRequests_.push_back(iterations);
  return bulkExampleResult_;
}

std::shared_ptr<Data::DataTable> ScriptedConnect::GetTable(const std::string& name) {
  Enter(Operation::GetTable);
  getTableRequests_.push_back(name);
  const auto it = tables_.find(name);
  return it == tables_.end() ? nullptr : it->second->CloneShape();
}

bool ScriptedConnect::IsEnumTable(const std::string& name) {
  Enter(Operation::IsEnumTable);
  isEnumRequests_.push_back(name);
  return enumTables_.contains(name);
}

bool ScriptedConnect::BulkToTable(Data::DataTable& table, std::int64_t& executionTime) {
  Enter(Operation::BulkToTable);
  BulkOutcome outcome = defaultBulkOutcome_;
  if (!bulkOutcomes_.empty()) {
    outcome = std::move(bulkOutcomes_.front());
    bulkOutcomes_.pop_front();
  }
  BulkCall& call = bulkCalls_.emplace_back();
  call.tableName = table.TableName();
  call.table = table.shared_from_this();
  call.rows = Snapshot(table);
  call.executionTimeIn = executionTime;

  executionTime =
      outcome.setExecutionTime ? *outcome.setExecutionTime : executionTime + outcome.addExecutionTime;
  call.executionTimeOut = executionTime;
  SetMessage(outcome.message
                 ? *outcome.message
                 : "wrote " + std::to_string(table.Rows().Count()) + " rows to " + table.TableName());
  SetFailureCategory(outcome.category);
  return outcome.result;
}

std::shared_ptr<Data::DbParameter> ScriptedConnect::NewDbParameter(const std::string& name, Data::DbType type,
                                                                   std::int32_t size,
                                                                   Data::ParameterDirection direction,
                                                                   Data::Value value) {
  Enter(Operation::NewDbParameter);
  parameterCalls_.push_back({name, type, size, direction, value});
  return std::make_shared<Data::DbParameter>(name, type, size, direction, std::move(value));
}

std::int32_t ScriptedConnect::ExecuteStoredProcedure(
    const std::string& procName, std::vector<std::shared_ptr<Data::DbParameter>>& parameters,
    ManagedText& output) {
  Enter(Operation::ExecuteStoredProcedure);
  routineCalls_.push_back({procName, parameters, output});
  if (routineOutcome_.output) output = *routineOutcome_.output;
  return routineOutcome_.result;
}

std::shared_ptr<Data::DataTable> ScriptedConnect::GetMaxSolnIdCaseId(const std::string& modelDir) {
  Enter(Operation::GetMaxSolnIdCaseId);
  solutionRequests_.push_back(modelDir);
  return solutionTable_;
}

}  // namespace Tessel::Testing
