// ScriptedConnect: an in-memory data-access component for tests.
//
// It stands in for a database behind the bridge so that a test can decide
// every answer the component gives (tables, enumeration tables, the outcome
// of each write, routine results, failures) and afterwards read back every
// call the bridge made. It touches no database and keeps no rows beyond what
// it records.
//
// Getting one behind a bridge:
//
//   Tessel::Testing::RegisterScriptedProvider();          // scheme "script"
//   ConnectWrapper bridge;
//   bridge.LoadObject("script:anything", "tableset");
//   auto component = Tessel::Testing::ScriptedConnect::LastCreated();
//   component->AddTable(shape);                            // script it
//
// Every connection string "script:..." makes a new ScriptedConnect; the
// factory's arguments are kept (Connect(), TableSet()), and Connect becomes
// its ConnectionString(). LastCreated() gives the newest one while someone
// still owns it; LastCreatedWeak() lets a test watch when it is released.
//
// Scripting, per operation:
//   GetTable          answers CloneShape() of the table added under that exact
//                     name, else nullptr.
//   IsEnumTable       true for names marked with MarkEnumTable.
//   BulkToTable       takes the next queued BulkOutcome (FIFO), else the
//                     default outcome (true, message "wrote N rows to T",
//                     execution time unchanged, no category). Records a
//                     BulkCall.
//   NewDbParameter    records the call and returns a DbParameter holding
//                     exactly the figures given.
//   ExecuteStoredProcedure  records the call (with the parameters and the
//                     in/out text it received) and answers with the
//                     RoutineOutcome set by ScriptRoutine.
//   GetMaxSolnIdCaseId  answers the table set with ScriptSolutionTable.
//   BulkExample, Test answer the figures set with ScriptBulkExample and
//                     ScriptTest.
//   Any operation     throws the next error queued for it with FailNext,
//                     before doing anything else (the call is still counted).
//
// Not thread-safe, like every component; the "last created" registry is.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/data/DbParameter.h"
#include "TesselWrapper/data/Value.h"

namespace Tessel::Testing {

// Registers the factory provider for the scheme "script". Idempotent.
void RegisterScriptedProvider();

// A table named `name` with the given columns, for scripting shapes:
//   MakeTable("cases", {{.ColumnName = "id", .Type = Data::DataType::Int32}});
std::shared_ptr<Data::DataTable> MakeTable(std::string name, std::vector<Data::DataColumn> columns);

class ScriptedConnect : public DbConnect {
 public:
  static constexpr const char* kScheme = "script";

  enum class Operation {
    Test,
    BulkExample,
    GetTable,
    IsEnumTable,
    BulkToTable,
    NewDbParameter,
    ExecuteStoredProcedure,
    GetMaxSolnIdCaseId,
  };

  // What one BulkToTable call does: its result, the message it leaves, and
  // the execution time it leaves (set to an absolute value when
  // `setExecutionTime` holds one, else raised by `addExecutionTime`).
  struct BulkOutcome {
    bool result = true;
    std::optional<std::string> message;  // nullopt: "wrote N rows to T"
    std::int64_t addExecutionTime = 0;
    std::optional<std::int64_t> setExecutionTime;
    // The failure's kind; nullopt: left to be read from the message, as a
    // component that predates the category does.
    std::optional<ErrorCategory> category;
  };

  // One BulkToTable call as the component received it.
  struct BulkCall {
    std::string tableName;
    std::shared_ptr<Data::DataTable> table;      // the table itself (it may grow later)
    std::vector<std::vector<Data::Value>> rows;  // its rows' values at the time of the call
    std::int64_t executionTimeIn = 0;
    std::int64_t executionTimeOut = 0;
  };

  struct ParameterCall {
    std::string name;
    Data::DbType type = Data::DbType::AnsiString;
    std::int32_t size = 0;
    Data::ParameterDirection direction = Data::ParameterDirection::Input;
    Data::Value value;
  };

  struct RoutineCall {
    std::string procName;
    std::vector<std::shared_ptr<Data::DbParameter>> parameters;
    ManagedText outputIn;
  };

  // What ExecuteStoredProcedure answers: `result`, and `output` written into
  // the in/out text when set (left as received when nullopt).
  struct RoutineOutcome {
    std::int32_t result = 0;
    std::optional<ManagedText> output;
  };

  ScriptedConnect(std::string connect, std::string tableSet);

  // The newest component the factory made, while it is still owned.
  static std::shared_ptr<ScriptedConnect> LastCreated();
  static std::weak_ptr<ScriptedConnect> LastCreatedWeak();

  const std::string& Connect() const noexcept { return connect_; }
  const std::string& TableSet() const noexcept { return tableSet_; }

  // --- scripting --------------------------------------------------------
  // Keyed by the shape's TableName(); a later shape of the same name replaces.
  void AddTable(std::shared_ptr<Data::DataTable> shape);
  void MarkEnumTable(std::string name);
  void QueueBulkOutcome(BulkOutcome outcome);
  void SetDefaultBulkOutcome(BulkOutcome outcome);
  void ScriptRoutine(RoutineOutcome outcome) { routineOutcome_ = std::move(outcome); }
  void ScriptSolutionTable(std::shared_ptr<Data::DataTable> table) { solutionTable_ = std::move(table); }
  void ScriptBulkExample(std::int64_t result) { bulkExampleResult_ = result; }
  void ScriptTest(bool result) { testResult_ = result; }
  // The next call of `operation` throws `error` (errors queue up per operation).
  void FailNext(Operation operation, std::exception_ptr error);
  template <typename E>
  void FailNext(Operation operation, E error) {
    FailNext(operation, std::make_exception_ptr(std::move(error)));
  }

  // --- what was received ------------------------------------------------
  int CallCount(Operation operation) const;
  const std::vector<std::string>& GetTableRequests() const noexcept { return getTableRequests_; }
  const std::vector<std::string>& IsEnumTableRequests() const noexcept { return isEnumRequests_; }
  const std::vector<BulkCall>& BulkCalls() const noexcept { return bulkCalls_; }
  const std::vector<ParameterCall>& ParameterCalls() const noexcept { return parameterCalls_; }
  const std::vector<RoutineCall>& RoutineCalls() const noexcept { return routineCalls_; }
  const std::vector<std::string>& SolutionRequests() const noexcept { return solutionRequests_; }
  const std::vector<std::int32_t>& BulkExampleRequests() const noexcept { return bulkExampleRequests_; }

  // --- DbConnect --------------------------------------------------------
  bool Test() override;
  std::int64_t BulkExample(std::int32_t iterations) override;
  std::shared_ptr<Data::DataTable> GetTable(const std::string& name) override;
  bool IsEnumTable(const std::string& name) override;
  std::string TableSetName() const override { return tableSet_; }
  bool BulkToTable(Data::DataTable& table, std::int64_t& executionTime) override;
  std::shared_ptr<Data::DbParameter> NewDbParameter(const std::string& name, Data::DbType type,
                                                    std::int32_t size, Data::ParameterDirection direction,
                                                    Data::Value value) override;
  std::int32_t ExecuteStoredProcedure(const std::string& procName,
                                      std::vector<std::shared_ptr<Data::DbParameter>>& parameters,
                                      ManagedText& output) override;
  std::shared_ptr<Data::DataTable> GetMaxSolnIdCaseId(const std::string& modelDir) override;

 private:
  // Counts the call and throws a queued error for it, if any.
  void Enter(Operation operation);

  std::string connect_;
  std::string tableSet_;
  std::map<std::string, std::shared_ptr<Data::DataTable>, std::less<>> tables_;
  std::set<std::string, std::less<>> enumTables_;
  std::deque<BulkOutcome> bulkOutcomes_;
  BulkOutcome defaultBulkOutcome_;
  RoutineOutcome routineOutcome_;
  std::shared_ptr<Data::DataTable> solutionTable_;
  std::int64_t bulkExampleResult_ = 0;
  bool testResult_ = true;
  std::map<Operation, std::deque<std::exception_ptr>> failures_;
  std::map<Operation, int> calls_;

  std::vector<std::string> getTableRequests_;
  std::vector<std::string> isEnumRequests_;
  std::vector<BulkCall> bulkCalls_;
  std::vector<ParameterCall> parameterCalls_;
  std::vector<RoutineCall> routineCalls_;
  std::vector<std::string> solutionRequests_;
  std::vector<std::int32_t> bulkExampleRequests_;
};

}  // namespace Tessel::Testing
