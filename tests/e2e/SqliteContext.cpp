// The SQLite side of the end-to-end suite: one file per test in a fresh
// temporary directory; routines are rows of the catalogue table
// tessel_procedures, made on first use.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>

#include "BackendContext.h"
#include "TesselWrapper/IConnectWrapper.h"
#include "support/RawSqlite.h"

namespace Tessel::EndToEnd {
namespace {

constexpr int kShortLockWaitMs = 50;

const std::vector<std::pair<std::string, std::string>> kTypes = {
    {"{int}", "INTEGER"}, {"{bigint}", "INTEGER"},    {"{real}", "REAL"}, {"{numeric}", "NUMERIC"},
    {"{text}", "TEXT"},   {"{datetime}", "DATETIME"}, {"{date}", "DATE"}, {"{blob}", "BLOB"}};

using Connection = Testing::RawSqlite;

class SqliteContext : public BackendContext {
 public:
  SqliteContext() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessel-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a temporary directory";
    dir_ = pattern;
    path_ = (dir_ / "e2e.db").string();
    raw_ = std::make_unique<Connection>(path_);
  }
  ~SqliteContext() override {
    raw_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string ConnectionString(bool shortLockWait) const override {
    return "sqlite:" + path_ + (shortLockWait ? "?busy_timeout=" + std::to_string(kShortLockWaitMs) : "");
  }
  std::string TableSet() const override { return ""; }
  int ShortLockWaitMs() const override { return kShortLockWaitMs; }

  void Exec(const std::string& sql) override { raw_->Exec(WithTypes(sql, kTypes)); }
  std::string Query(const std::string& sql) override { return raw_->Query(sql); }
  std::string KindOf(const std::string& expression) const override { return "typeof(" + expression + ")"; }

  void DefineRoutine(const RoutineDefinition& routine) override {
    raw_->Exec("CREATE TABLE IF NOT EXISTS tessel_procedures (name TEXT PRIMARY KEY, body TEXT NOT NULL)");
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(raw_->get(), "INSERT INTO tessel_procedures VALUES (?1, ?2)", -1, &stmt, nullptr),
        SQLITE_OK);
    sqlite3_bind_text(stmt, 1, routine.name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, routine.body.c_str(), -1, SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE) << sqlite3_errmsg(raw_->get());
    sqlite3_finalize(stmt);
  }

  // BEGIN IMMEDIATE on a connection of its own: the write lock of the whole file.
  std::unique_ptr<LockHolder> HoldWriteLock(const std::string&) override {
    return std::make_unique<TransactionLock<Connection>>("BEGIN IMMEDIATE", path_);
  }

  // BEGIN EXCLUSIVE: not even a reader gets in.
  std::unique_ptr<LockHolder> HoldCatalogueLock() override {
    return std::make_unique<TransactionLock<Connection>>("BEGIN EXCLUSIVE", path_);
  }
  bool CatalogueLockSparesWrites() const override { return false; }

  // The connection's page limit, set by a routine so that it is the bridge's
  // connection that stops growing; a limit below the file's size is taken
  // as the file's size.
  bool SetDiskFull(IConnectWrapper& bridge, bool full) override {
    if (!diskRoutines_) {
      DefineRoutine({"tessel_test_fill_disk", {}, "PRAGMA max_page_count = 1", {}});
      DefineRoutine({"tessel_test_free_disk", {}, "PRAGMA max_page_count = 1073741823", {}});
      diskRoutines_ = true;
    }
    std::string output;
    const int result =
        bridge.ExecuteStoredProcedure(full ? "tessel_test_fill_disk" : "tessel_test_free_disk", {}, &output);
    EXPECT_NE(result, -1) << bridge.GetMessage();
    return true;
  }

  std::string UniqueViolationText() const override { return "UNIQUE constraint failed"; }

  std::string FailureCode(Failure kind) const override {
    switch (kind) {
      case Failure::LockWait:
        return "SQLITE_BUSY";
      case Failure::UniqueViolation:
        return "SQLITE_CONSTRAINT_UNIQUE";
      case Failure::CheckViolation:
        return "SQLITE_CONSTRAINT_CHECK";
      case Failure::NotNullViolation:
        return "SQLITE_CONSTRAINT_NOTNULL";
      case Failure::MissingTable:
        return "no such table";
    }
    return "?";
  }

 private:
  std::filesystem::path dir_;
  std::string path_;
  std::unique_ptr<Connection> raw_;
  bool diskRoutines_ = false;
};

}  // namespace

std::unique_ptr<BackendContext> MakeSqliteContext() { return std::make_unique<SqliteContext>(); }

}  // namespace Tessel::EndToEnd
