// Owners for ODBC's handles, the transaction guard, and the UTF-16 text the
// API's wide entry points take.
//
// The backend calls only the plain and the ...W entry points, never the
// explicit ...A ones: the wide forms carry any text whatever the process's
// code page, and some driver managers (Wine's odbc32 among them) do not
// implement the ...A names at all. SQLWCHAR is two bytes on unixODBC and on
// Windows alike; Wide is a string of them.
//
// EnvHandle, ConnHandle and StmtHandle free their handle when they go (a
// connection is disconnected first); none can be copied. A connection must
// outlive its statements.
//
// Transaction switches auto-commit off for one unit of work: Begin, then
// Commit; if Commit is never reached, the destructor rolls back. Auto-commit
// is switched on again at the end either way, so that reads between writes
// never hold a transaction open. Nothing here throws.
#pragma once

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <string>
#include <string_view>

namespace Tessel::Odbc {

using Wide = std::basic_string<SQLWCHAR>;

// UTF-8 to UTF-16; an ill-formed sequence becomes U+FFFD.
Wide ToWide(std::string_view utf8);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string FromWide(const SQLWCHAR* text, std::size_t length);
inline std::string FromWide(const Wide& text) { return FromWide(text.data(), text.size()); }
// Appends the UTF-16 units of `utf8` at `out` (room for utf8.size() units
// is enough) and gives how many were written.
std::size_t PutWide(std::string_view utf8, SQLWCHAR* out) noexcept;

// Wide text for an argument of the API: a pointer the API may read (never
// written), or null for an empty optional argument.
inline SQLWCHAR* Arg(const Wide& text) noexcept { return const_cast<SQLWCHAR*>(text.c_str()); }

template <SQLSMALLINT kType>
struct FreeHandle {
  void operator()(void* handle) const noexcept { SQLFreeHandle(kType, handle); }
};
// A connection still inside a transaction refuses to disconnect (25000):
// that transaction is rolled back first, so that the handle is always freed.
struct DisconnectAndFree {
  void operator()(void* handle) const noexcept {
    if (!SQL_SUCCEEDED(SQLDisconnect(handle))) {
      SQLEndTran(SQL_HANDLE_DBC, handle, SQL_ROLLBACK);
      SQLDisconnect(handle);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, handle);
  }
};

using EnvHandle = std::unique_ptr<void, FreeHandle<SQL_HANDLE_ENV>>;
// A connection handle that may or may not be connected: disconnecting one
// that never connected is a harmless error.
using ConnHandle = std::unique_ptr<void, DisconnectAndFree>;
using StmtHandle = std::unique_ptr<void, FreeHandle<SQL_HANDLE_STMT>>;

// The scope of one transaction on a connection. Not copyable.
//
// Two styles: the driver's own (auto-commit off, SQLEndTran), right for any
// driver that keeps its transaction state straight; and plain statements
// under auto-commit (BEGIN ..., COMMIT, ROLLBACK), for a driver that loses
// track when the database ends a transaction by itself (SQLite rolls back on
// a full disk or an I/O error; its driver then believes a transaction still
// open and runs the next statements outside any).
class Transaction {
 public:
  enum class Style { Driver, Statements };

  // `begin` is the statement that opens a Statements transaction.
  explicit Transaction(SQLHDBC conn, Style style = Style::Driver, const char* begin = "BEGIN") noexcept
      : conn_(conn), style_(style), begin_(begin) {}
  ~Transaction() { Rollback(); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Opens the transaction (Driver: the driver starts it with the first
  // statement). Returns the driver's code.
  SQLRETURN Begin() noexcept;
  // Commits. On success the connection is back in auto-commit; on failure
  // the guard stays active, and the diagnostics are where Diagnostics says,
  // to be read before Rollback or the destructor.
  SQLRETURN Commit() noexcept;
  // Rolls back when the transaction is still the guard's and switches
  // auto-commit back on. A connection that is gone has nothing left to
  // undo. Never fails.
  void Rollback() noexcept;
  // Gives the transaction up without touching the connection again (after a
  // commit whose answer was lost, the connection is not to be trusted).
  void Abandon() noexcept { active_ = false; }

  // The handle (and its type) that holds the diagnostics of the last call
  // that failed.
  SQLSMALLINT DiagnosticsType() const noexcept { return stmt_ ? SQL_HANDLE_STMT : SQL_HANDLE_DBC; }
  SQLHANDLE DiagnosticsHandle() const noexcept { return stmt_ ? stmt_.get() : conn_; }

 private:
  SQLRETURN Run(const char* sql) noexcept;

  SQLHDBC conn_;
  Style style_;
  const char* begin_;
  bool active_ = false;
  StmtHandle stmt_;  // the last statement that Run made (Statements style)
};

// True when the driver reports the connection dead (SQL_ATTR_CONNECTION_DEAD).
// A driver that cannot tell reports it alive.
bool IsDead(SQLHDBC conn) noexcept;

}  // namespace Tessel::Odbc
