// The end-to-end suite on SQLite through its ODBC driver ("SQLite3"): one
// file per test in a fresh temporary directory, reached by the library as
// "odbc:Driver={SQLite3};Database=...". Routines are rows of the catalogue
// table tessel_procedures, which the ODBC backend runs where a driver has no
// procedures. The test's own connection goes through the same driver, so
// that its locks are the ones the library meets (under Wine the driver is
// the host's: paths are handed to it as Unix paths).
#include <filesystem>

#include "BackendContext.h"
#include "TesselWrapper/IConnectWrapper.h"
#include "odbc/OdbcTestSupport.h"

namespace Tessel::EndToEnd {
namespace {

using Testing::RawOdbc;

constexpr int kShortLockWaitMs = 50;
constexpr int kLockWaitMs = 5000;  // as the SQLite backend's default busy time-out

const std::vector<std::pair<std::string, std::string>> kTypes = {
    {"{int}", "INTEGER"}, {"{bigint}", "INTEGER"},    {"{real}", "REAL"}, {"{numeric}", "NUMERIC"},
    {"{text}", "TEXT"},   {"{datetime}", "DATETIME"}, {"{date}", "DATE"}, {"{blob}", "BLOB"}};

// A plain connection to the file, for a lock held under auto-commit (the
// driver's own transactions begin deferred; a lock needs BEGIN IMMEDIATE or
// EXCLUSIVE said outright).
class SqliteFile : public RawOdbc {
 public:
  explicit SqliteFile(const std::string& path) : RawOdbc(Testing::OdbcSqliteString(path, kLockWaitMs)) {}
};

class OdbcSqliteContext : public BackendContext {
 public:
  OdbcSqliteContext() {
    dir_ = Testing::MakeTemporaryDirectory("tessel-e2e-odbc");
    path_ = Testing::DriverPath((std::filesystem::path(dir_) / "e2e.db").string());
    raw_ = std::make_unique<SqliteFile>(path_);
  }
  ~OdbcSqliteContext() override {
    raw_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string ConnectionString(bool shortLockWait) const override {
    return "odbc:" + Testing::OdbcSqliteString(path_, shortLockWait ? kShortLockWaitMs : kLockWaitMs);
  }
  std::string TableSet() const override { return ""; }
  int ShortLockWaitMs() const override { return kShortLockWaitMs; }

  void Exec(const std::string& sql) override { raw_->Exec(WithTypes(sql, kTypes)); }
  std::string Query(const std::string& sql) override { return raw_->Query(sql); }
  std::string KindOf(const std::string& expression) const override { return "typeof(" + expression + ")"; }

  void DefineRoutine(const RoutineDefinition& routine) override {
    raw_->Exec("CREATE TABLE IF NOT EXISTS tessel_procedures (name TEXT PRIMARY KEY, body TEXT NOT NULL)");
    auto literal = [](const std::string& text) {
      std::string out = "'";
      for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
      return out + "'";
    };
    raw_->Exec("INSERT INTO tessel_procedures VALUES (" + literal(routine.name) + ", " +
               literal(routine.body) + ")");
  }

  std::unique_ptr<LockHolder> HoldWriteLock(const std::string&) override {
    return std::make_unique<TransactionLock<SqliteFile>>("BEGIN IMMEDIATE", path_);
  }
  std::unique_ptr<LockHolder> HoldCatalogueLock() override {
    return std::make_unique<TransactionLock<SqliteFile>>("BEGIN EXCLUSIVE", path_);
  }
  bool CatalogueLockSparesWrites() const override { return false; }

  // The page limit of the bridge's own connection, set by a catalogue
  // routine that the bridge runs.
  bool SetDiskFull(IConnectWrapper& bridge, bool full) override {
    const char* routine = full ? "tessel_test_disk_full" : "tessel_test_disk_free";
    if (!diskRoutines_) {
      DefineRoutine({"tessel_test_disk_full", {}, "PRAGMA max_page_count = 1", {}});
      DefineRoutine({"tessel_test_disk_free", {}, "PRAGMA max_page_count = 1073741823", {}});
      diskRoutines_ = true;
    }
    std::string output;
    EXPECT_NE(bridge.ExecuteStoredProcedure(routine, {}, &output), -1) << bridge.GetMessage();
    return true;
  }

  std::string UniqueViolationText() const override { return "UNIQUE constraint failed"; }
  std::string FailureCode(Failure kind) const override {
    switch (kind) {
      case Failure::LockWait:
        return "database is locked";
      case Failure::UniqueViolation:
        return "UNIQUE constraint failed";
      case Failure::CheckViolation:
        return "CHECK constraint failed";
      case Failure::NotNullViolation:
        return "NOT NULL constraint failed";
      case Failure::MissingTable:
        return "no such table";
    }
    return "?";
  }

 private:
  std::string dir_;
  std::string path_;
  std::unique_ptr<SqliteFile> raw_;
  bool diskRoutines_ = false;
};

}  // namespace

std::unique_ptr<BackendContext> MakeOdbcSqliteContext() { return std::make_unique<OdbcSqliteContext>(); }

}  // namespace Tessel::EndToEnd
