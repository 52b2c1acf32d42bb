#include "tessel/sqlite/Routines.h"

#include "TesselWrapper/Errors.h"
#include "tessel/Catalogue.h"
#include "tessel/NameLookup.h"
#include "tessel/sqlite/Binding.h"
#include "tessel/sqlite/Errors.h"
#include "tessel/sqlite/Handles.h"
#include "tessel/sqlite/Schema.h"

namespace Tessel::Sqlite {
namespace {

// While a routine runs, turns any COMMIT but our own into a rollback, so that
// a body cannot commit half of its work. SQLite reports the refused commit as
// SQLITE_CONSTRAINT_COMMITHOOK.
class CommitGate {
 public:
  explicit CommitGate(sqlite3* db) noexcept : db_(db) { sqlite3_commit_hook(db_, &CommitGate::Hook, this); }
  ~CommitGate() { sqlite3_commit_hook(db_, nullptr, nullptr); }
  CommitGate(const CommitGate&) = delete;
  CommitGate& operator=(const CommitGate&) = delete;
  void Open() noexcept { open_ = true; }

 private:
  static int Hook(void* self) noexcept { return static_cast<CommitGate*>(self)->open_ ? 0 : 1; }
  sqlite3* db_;
  bool open_ = false;
};

class Runner {
 public:
  Runner(sqlite3* db, const Routine& routine, const RoutineArguments& arguments, bool allRows)
      : db_(db), routine_(routine), arguments_(arguments), allRows_(allRows) {
    if (arguments_.parameters != nullptr) {
      for (const auto& parameter : *arguments_.parameters)
        strippedNames_.emplace_back(parameter ? Catalogue::ArgumentName(parameter->ParameterName)
                                              : std::string_view());
    }
  }

  RoutineResult Run() {
    CommitGate gate(db_);
    Transaction transaction(db_);
    int rc = transaction.Begin();
    if (rc != SQLITE_OK) return Fail("could not start routine " + Quoted(routine_.name), rc);

    const char* sql = routine_.body.c_str();
    const char* const end = sql + routine_.body.size();
    int statement = 0;
    while (sql < end) {
      StmtHandle stmt;
      const char* tail = nullptr;
      sqlite3_stmt* raw = nullptr;
      rc = sqlite3_prepare_v2(db_, sql, static_cast<int>(end - sql), &raw, &tail);
      stmt.reset(raw);
      if (rc != SQLITE_OK) return Fail(Where(statement + 1), rc);
      sql = tail;
      if (!stmt) continue;  // only white space or a comment was left
      ++statement;
      if (!Bind(stmt.get(), statement)) return std::move(result_);
      rc = Execute(stmt.get());
      if (rc != SQLITE_DONE) return Fail(Where(statement), rc);
      if (sqlite3_get_autocommit(db_) != 0) {
        result_.message = Where(statement) +
                          ": the body ended the routine's transaction itself (ROLLBACK); a routine runs in "
                          "one transaction of its own and must not end it";
        return std::move(result_);
      }
    }
    gate.Open();
    rc = transaction.Commit();
    if (rc != SQLITE_OK) return Fail("could not commit routine " + Quoted(routine_.name), rc);
    result_.ok = true;
    return std::move(result_);
  }

 private:
  std::string Where(int statement) const {
    return "routine " + Quoted(routine_.name) + " failed in statement " + std::to_string(statement);
  }

  RoutineResult Fail(const std::string& what, int rc) {
    result_.ok = false;
    result_.message = what + ": " + DescribeWithRetry(db_, rc);
    result_.errorCode = sqlite3_extended_errcode(db_);
    if (result_.errorCode == SQLITE_CONSTRAINT_COMMITHOOK)
      result_.message += "; the body tried to commit, but a routine runs in one transaction of its own";
    return std::move(result_);
  }

  // Binds every parameter of the statement; false (message set) when one
  // has no argument.
  bool Bind(sqlite3_stmt* stmt, int statement) {
    const int count = sqlite3_bind_parameter_count(stmt);
    for (int index = 1; index <= count; ++index) {
      const char* rawName = sqlite3_bind_parameter_name(stmt, index);
      const std::string label = rawName ? rawName : "?" + std::to_string(index);
      const Data::Value* value = arguments_.every;
      Data::DbType type = Data::DbType::Object;
      if (value == nullptr) {
        const Data::DbParameter* parameter = Find(rawName, index);
        if (parameter == nullptr) {
          result_.message =
              Where(statement) + ": parameter " + Quoted(label) +
              (rawName && rawName[0] != '?' ? " is not among the parameters given"
                                            : " has no parameter at that position (" +
                                                  std::to_string(strippedNames_.size()) + " given)");
          return false;
        }
        value = &parameter->ParamValue;
        type = parameter->Type;
      }
      int rc = SQLITE_OK;
      try {
        rc = BindArgument(stmt, index, *value, type);
      } catch (const ArgumentError& e) {
        throw ArgumentError("parameter " + Quoted(label) + " of routine " + Quoted(routine_.name) + ": " +
                            e.what());
      }
      if (rc != SQLITE_OK) {
        Fail(Where(statement) + " binding parameter " + Quoted(label), rc);
        return false;
      }
    }
    return true;
  }

  // The argument for parameter `index` named `rawName` (null for a bare ?).
  const Data::DbParameter* Find(const char* rawName, int index) const {
    const auto& parameters = *arguments_.parameters;
    if (rawName == nullptr || rawName[0] == '?') {
      const auto at = static_cast<std::size_t>(index - 1);
      return at < parameters.size() ? parameters[at].get() : nullptr;
    }
    const std::string_view wanted(rawName + 1);
    const std::optional<std::string> picked = PickByName(wanted, strippedNames_);
    if (!picked) return nullptr;
    for (std::size_t i = 0; i < parameters.size(); ++i)
      if (parameters[i] && strippedNames_[i] == *picked) return parameters[i].get();
    return nullptr;
  }

  // Steps the statement to its end, keeping its rows as the result when it
  // returns any columns.
  int Execute(sqlite3_stmt* stmt) {
    const int columns = sqlite3_column_count(stmt);
    if (columns > 0) {
      result_.hasResult = true;
      result_.columns.clear();
      result_.rows.clear();
      for (int c = 0; c < columns; ++c) {
        const char* name = sqlite3_column_name(stmt, c);
        result_.columns.emplace_back(name ? name : "");
      }
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      if (columns == 0 || (!allRows_ && !result_.rows.empty())) continue;
      std::vector<Data::Value> row;
      row.reserve(static_cast<std::size_t>(columns));
      for (int c = 0; c < columns; ++c) row.push_back(ColumnValue(stmt, c));
      result_.rows.push_back(std::move(row));
    }
    return rc;
  }

  sqlite3* db_;
  const Routine& routine_;
  const RoutineArguments& arguments_;
  bool allRows_;
  std::vector<std::string> strippedNames_;
  RoutineResult result_;
};

}  // namespace

std::optional<Routine> FindRoutine(sqlite3* db, const std::string& schema, const std::string& name) {
  if (!RelationExists(db, schema, Catalogue::kProcedures)) return std::nullopt;
  const std::string context = "could not read the routines of " + Quoted(schema);

  std::optional<std::string> picked =
      PickByName(name, ListCatalogueNames(db, schema, Catalogue::kProcedures, context));
  if (!picked) return std::nullopt;

  const std::string table = QuoteIdentifier(schema) + "." + QuoteIdentifier(Catalogue::kProcedures);
  StmtHandle body = Prepare(db, "SELECT body FROM " + table + " WHERE name = ?1", context);
  sqlite3_bind_text(body.get(), 1, picked->data(), static_cast<int>(picked->size()), SQLITE_TRANSIENT);
  const int rc = sqlite3_step(body.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowDatabaseError(db, rc, context);
  Routine routine{std::move(*picked), {}};
  if (rc == SQLITE_ROW && sqlite3_column_type(body.get(), 0) != SQLITE_NULL)
    routine.body = reinterpret_cast<const char*>(sqlite3_column_text(body.get(), 0));
  return routine;
}

RoutineResult RunRoutine(sqlite3* db, const Routine& routine, const RoutineArguments& arguments,
                         bool allRows) {
  return Runner(db, routine, arguments, allRows).Run();
}

}  // namespace Tessel::Sqlite
