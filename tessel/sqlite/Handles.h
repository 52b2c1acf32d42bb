// Owners for SQLite's C handles, and the transaction guard.
//
// DbHandle closes its connection and StmtHandle finalizes its statement when
// they go; neither can be copied. A connection must outlive its statements:
// declare statement owners after the connection owner so that they go first
// (sqlite3_close_v2 would also wait for them, but holding that order keeps the
// memory short-lived and the intent visible).
//
// Transaction brackets a unit of work: Begin, then Commit; if Commit is never
// reached, or fails, the destructor rolls back. Nothing here throws except
// Prepare and Execute, which throw Tessel::DatabaseError (see Errors.h).
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string_view>

namespace Tessel::Sqlite {

struct CloseDb {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct FinalizeStmt {
  void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};

using DbHandle = std::unique_ptr<sqlite3, CloseDb>;
using StmtHandle = std::unique_ptr<sqlite3_stmt, FinalizeStmt>;

// Prepares one statement; on failure gives SQLite's result code and leaves
// `out` empty. An empty or comment-only text gives SQLITE_OK and no statement.
int TryPrepare(sqlite3* db, std::string_view sql, StmtHandle& out) noexcept;

// As TryPrepare, throwing DatabaseError("<context>: <SQLite's text>") on failure.
StmtHandle Prepare(sqlite3* db, std::string_view sql, std::string_view context);

// Runs SQL text that returns no rows; throws DatabaseError as Prepare does.
void Execute(sqlite3* db, const char* sql, std::string_view context);

// The scope of one transaction on a connection. Not copyable.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) noexcept : db_(db) {}
  ~Transaction() { Rollback(); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Starts the transaction. BEGIN IMMEDIATE takes the write lock at once, so
  // that a busy database is reported here (after the busy time-out) rather
  // than halfway through the work. Returns SQLite's result code.
  int Begin(const char* beginSql = "BEGIN IMMEDIATE") noexcept;
  // Returns SQLite's result code; on failure the transaction stays open and
  // is rolled back by Rollback or the destructor.
  int Commit() noexcept;
  // Rolls back when a transaction is still open. SQLite may already have
  // rolled back by itself after some errors; that case is recognised and
  // left alone. Never fails.
  void Rollback() noexcept;

 private:
  sqlite3* db_;
  bool active_ = false;
};

}  // namespace Tessel::Sqlite
