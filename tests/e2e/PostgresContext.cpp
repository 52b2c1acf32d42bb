// The PostgreSQL side of the end-to-end suite: a fresh schema per test on the
// server of TESSEL_PG_URI, used as the table set; routines are SQL functions
// (those that return a row) and procedures (those that do not).
#include <cctype>

#include "BackendContext.h"
#include "PgTestServer.h"
#include "tessel/NameLookup.h"

namespace Tessel::EndToEnd {
namespace {

using Testing::PgSchema;
using Testing::RawPg;

constexpr int kShortLockWaitMs = 200;

const std::vector<std::pair<std::string, std::string>> kTypes = {
    {"{int}", "int4"},  {"{bigint}", "int8"},        {"{real}", "float8"}, {"{numeric}", "numeric"},
    {"{text}", "text"}, {"{datetime}", "timestamp"}, {"{date}", "date"},   {"{blob}", "bytea"}};

bool IsNameCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The body with each argument reference ":name" written as the bare name, the
// way a SQL function refers to its arguments ("::" casts are left alone).
std::string WithBareArguments(std::string body, const RoutineDefinition& routine) {
  for (const auto& [name, type] : routine.parameters) {
    const std::string reference = ":" + name;
    for (std::size_t at = body.find(reference); at != std::string::npos; at = body.find(reference, at)) {
      const std::size_t end = at + reference.size();
      const bool whole =
          (at == 0 || body[at - 1] != ':') && (end == body.size() || !IsNameCharacter(body[end]));
      if (whole) {
        body.erase(at, 1);
      } else {
        at = end;
      }
    }
  }
  return body;
}

std::string ColumnList(const std::vector<std::pair<std::string, std::string>>& columns, bool quoteNames) {
  std::string list;
  for (const auto& [name, type] : columns) {
    if (!list.empty()) list += ", ";
    list += (quoteNames ? "\"" + name + "\"" : name) + " " + type;
  }
  return list;
}

class PostgresContext : public BackendContext {
 public:
  explicit PostgresContext(const std::string& uri) : schema_(uri) {}

  std::string ConnectionString(bool shortLockWait) const override {
    if (!shortLockWait) return schema_.uri();
    return Testing::WithUriParameter(schema_.uri(), "options",
                                     "-c lock_timeout=" + std::to_string(kShortLockWaitMs));
  }
  std::string TableSet() const override { return schema_.name(); }
  int ShortLockWaitMs() const override { return kShortLockWaitMs; }

  void Exec(const std::string& sql) override { schema_.raw().Exec(WithTypes(sql, kTypes)); }
  std::string Query(const std::string& sql) override { return schema_.raw().Query(sql); }
  std::string KindOf(const std::string& e) const override {
    const std::string type = "pg_typeof(" + e + ")";
    std::string sql = "CASE WHEN (" + e + ") IS NULL THEN 'null'";
    sql +=
        " WHEN " + type + " IN ('smallint'::regtype, 'integer'::regtype, 'bigint'::regtype) THEN 'integer'";
    sql += " WHEN " + type +
           " IN ('real'::regtype, 'double precision'::regtype, 'numeric'::regtype) THEN 'real'";
    return sql + " ELSE 'text' END";
  }

  void DefineRoutine(const RoutineDefinition& routine) override {
    const std::string signature = (routine.exactName ? QuoteIdentifier(routine.name) : routine.name) + "(" +
                                  WithTypes(ColumnList(routine.parameters, false), kTypes) + ")";
    const std::string body = "$routine$ " + WithBareArguments(routine.body, routine) + " $routine$";
    if (routine.result.empty()) {
      schema_.raw().Exec("CREATE PROCEDURE " + signature + " LANGUAGE sql AS " + body);
    } else {
      schema_.raw().Exec("CREATE FUNCTION " + signature + " RETURNS TABLE (" +
                         WithTypes(ColumnList(routine.result, true), kTypes) + ") LANGUAGE sql AS " + body);
    }
  }

  // EXCLUSIVE mode: writers wait, readers (the test's own checks) do not.
  std::unique_ptr<LockHolder> HoldWriteLock(const std::string& table) override {
    return std::make_unique<TransactionLock<RawPg>>("BEGIN; LOCK TABLE " + table + " IN EXCLUSIVE MODE",
                                                    schema_.uri(), schema_.name());
  }

  std::unique_ptr<LockHolder> HoldCatalogueLock() override {
    return std::make_unique<TransactionLock<RawPg>>(
        "BEGIN; LOCK TABLE tessel_enum_tables IN ACCESS EXCLUSIVE MODE", schema_.uri(), schema_.name());
  }
  bool CatalogueLockSparesWrites() const override { return true; }

  // A full disk needs a file system of the server's; a client cannot cause one.
  bool SetDiskFull(IConnectWrapper&, bool) override { return false; }

  std::string UniqueViolationText() const override {
    return "duplicate key value violates unique constraint";
  }

  std::string FailureCode(Failure kind) const override {
    switch (kind) {
      case Failure::LockWait:
        return "SQLSTATE 55P03";
      case Failure::UniqueViolation:
        return "SQLSTATE 23505";
      case Failure::CheckViolation:
        return "SQLSTATE 23514";
      case Failure::NotNullViolation:
        return "SQLSTATE 23502";
      case Failure::MissingTable:
        return "SQLSTATE 42P01";
    }
    return "?";
  }

 private:
  PgSchema schema_;
};

}  // namespace

std::unique_ptr<BackendContext> MakePostgresContext(const std::string& uri) {
  return std::make_unique<PostgresContext>(uri);
}

}  // namespace Tessel::EndToEnd
