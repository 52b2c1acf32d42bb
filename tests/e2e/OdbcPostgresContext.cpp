// The end-to-end suite on PostgreSQL through its ODBC driver ("PostgreSQL
// Unicode"): a fresh schema per test on the server of TESSEL_PG_URI, used as
// the table set, reached by the library as "odbc:Driver=...". The test's own
// connection is a plain ODBC one too, so that the same context runs where
// no PostgreSQL client library exists (a Windows build under Wine).
#include <random>

#include "BackendContext.h"
#include "TesselWrapper/IConnectWrapper.h"
#include "odbc/OdbcTestSupport.h"
#include "tessel/NameLookup.h"

namespace Tessel::EndToEnd {
namespace {

using Testing::RawOdbc;

constexpr int kShortLockWaitMs = 200;

const std::vector<std::pair<std::string, std::string>> kTypes = {
    {"{int}", "int4"},  {"{bigint}", "int8"},        {"{real}", "float8"}, {"{numeric}", "numeric"},
    {"{text}", "text"}, {"{datetime}", "timestamp"}, {"{date}", "date"},   {"{blob}", "bytea"}};

// The routine's body with each argument reference ":name" as "$N", the
// argument's position, as a SQL function may refer to its arguments.
std::string WithNumberedArguments(std::string body, const RoutineDefinition& routine) {
  std::string out;
  for (std::size_t i = 0; i < body.size();) {
    bool replaced = false;
    if (body[i] == ':' && (i == 0 || body[i - 1] != ':') && i + 1 < body.size() && body[i + 1] != ':') {
      for (std::size_t p = 0; p < routine.parameters.size() && !replaced; ++p) {
        const std::string& name = routine.parameters[p].first;
        const std::size_t end = i + 1 + name.size();
        const bool whole = body.compare(i + 1, name.size(), name) == 0 &&
                           (end == body.size() ||
                            !(std::isalnum(static_cast<unsigned char>(body[end])) || body[end] == '_'));
        if (whole) {
          out += "$" + std::to_string(p + 1);
          i = end;
          replaced = true;
        }
      }
    }
    if (!replaced) out.push_back(body[i++]);
  }
  return out;
}

class OdbcPostgresContext : public BackendContext {
 public:
  explicit OdbcPostgresContext(std::string odbc) : odbc_(std::move(odbc)) {
    std::random_device random;
    schema_ = "tessel_odbc_" + std::to_string(random() % 1'000'000'000);
    RawOdbc admin(odbc_);
    admin.Exec("DROP SCHEMA IF EXISTS " + QuoteIdentifier(schema_) + " CASCADE");
    admin.Exec("CREATE SCHEMA " + QuoteIdentifier(schema_));
    raw_ = std::make_unique<RawOdbc>(odbc_);
    raw_->Exec("SET search_path TO " + QuoteIdentifier(schema_));
  }
  ~OdbcPostgresContext() override {
    raw_.reset();
    RawOdbc admin(odbc_);
    if (admin.IsOpen()) admin.Exec("DROP SCHEMA IF EXISTS " + QuoteIdentifier(schema_) + " CASCADE");
  }

  std::string ConnectionString(bool shortLockWait) const override {
    // psqlODBC runs ConnSettings on every new connection.
    return "odbc:" + odbc_ +
           (shortLockWait ? ";ConnSettings={SET lock_timeout = " + std::to_string(kShortLockWaitMs) + "}"
                          : "");
  }
  std::string TableSet() const override { return schema_; }
  int ShortLockWaitMs() const override { return kShortLockWaitMs; }

  void Exec(const std::string& sql) override { raw_->Exec(WithTypes(sql, kTypes)); }
  std::string Query(const std::string& sql) override { return raw_->Query(sql); }
  std::string KindOf(const std::string& e) const override {
    return "CASE WHEN (" + e + ") IS NULL THEN 'null' WHEN pg_typeof(" + e +
           ")::text IN ('smallint', 'integer', 'bigint') THEN 'integer' WHEN pg_typeof(" + e +
           ")::text IN ('real', 'double precision', 'numeric') THEN 'real' ELSE 'text' END";
  }

  void DefineRoutine(const RoutineDefinition& routine) override {
    std::string arguments, columns;
    for (const auto& [name, type] : routine.parameters)
      arguments += (arguments.empty() ? "" : ", ") + name + " " + type;
    for (const auto& [name, type] : routine.result)
      columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(name) + " " + type;
    const std::string signature = (routine.exactName ? QuoteIdentifier(routine.name) : routine.name) + "(" +
                                  WithTypes(arguments, kTypes) + ")";
    const std::string body = "$body$ " + WithNumberedArguments(routine.body, routine) + " $body$";
    if (routine.result.empty()) {
      raw_->Exec("CREATE PROCEDURE " + signature + " LANGUAGE sql AS " + body);
    } else {
      raw_->Exec("CREATE FUNCTION " + signature + " RETURNS TABLE (" + WithTypes(columns, kTypes) +
                 ") LANGUAGE sql AS " + body);
    }
  }

  // EXCLUSIVE mode: writers wait, readers (the test's own checks) do not.
  std::unique_ptr<LockHolder> HoldWriteLock(const std::string& table) override {
    return std::make_unique<TransactionLock<RawOdbc>>("BEGIN; SET search_path TO " +
                                                          QuoteIdentifier(schema_) + "; LOCK TABLE " + table +
                                                          " IN EXCLUSIVE MODE",
                                                      odbc_);
  }
  std::unique_ptr<LockHolder> HoldCatalogueLock() override {
    return std::make_unique<TransactionLock<RawOdbc>>(
        "BEGIN; LOCK TABLE " + QuoteIdentifier(schema_) + ".tessel_enum_tables IN ACCESS EXCLUSIVE MODE",
        odbc_);
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
  std::string odbc_;
  std::string schema_;
  std::unique_ptr<RawOdbc> raw_;
};

}  // namespace

std::unique_ptr<BackendContext> MakeOdbcPostgresContext(const std::string& odbc) {
  return std::make_unique<OdbcPostgresContext>(odbc);
}

}  // namespace Tessel::EndToEnd
