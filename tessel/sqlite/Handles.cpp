#include "tessel/sqlite/Handles.h"

#include "tessel/sqlite/Errors.h"

namespace Tessel::Sqlite {

int TryPrepare(sqlite3* db, std::string_view sql, StmtHandle& out) noexcept {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  out.reset(raw);
  return rc;
}

StmtHandle Prepare(sqlite3* db, std::string_view sql, std::string_view context) {
  StmtHandle stmt;
  const int rc = TryPrepare(db, sql, stmt);
  if (rc != SQLITE_OK) ThrowDatabaseError(db, rc, context);
  return stmt;
}

void Execute(sqlite3* db, const char* sql, std::string_view context) {
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowDatabaseError(db, rc, context);
}

int Transaction::Begin(const char* beginSql) noexcept {
  const int rc = sqlite3_exec(db_, beginSql, nullptr, nullptr, nullptr);
  active_ = rc == SQLITE_OK;
  return rc;
}

int Transaction::Commit() noexcept {
  const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) active_ = false;
  return rc;
}

void Transaction::Rollback() noexcept {
  if (!active_) return;
  active_ = false;
  // After a few errors (SQLITE_FULL, SQLITE_IOERR, ...) SQLite has rolled
  // back already; a second ROLLBACK would only fail.
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace Tessel::Sqlite
