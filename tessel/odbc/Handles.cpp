#include "tessel/odbc/Handles.h"

#include "data/Utf8.h"

namespace Tessel::Odbc {

std::size_t PutWide(std::string_view utf8, SQLWCHAR* out) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t n = utf8.size();
  SQLWCHAR* start = out;
  for (std::size_t i = 0; i < n;) {
    if (p[i] < 0x80) {
      *out++ = static_cast<SQLWCHAR>(p[i++]);
      continue;
    }
    const Text::detail::Utf8Step step = Text::detail::DecodeUtf8(p + i, n - i);
    i += step.length;
    const char32_t cp = step.valid ? step.codePoint : Text::detail::kReplacementCharacter;
    if (cp >= 0x10000) {
      // A four-byte sequence becomes two units: never more units than bytes.
      *out++ = static_cast<SQLWCHAR>(0xD800 + ((cp - 0x10000) >> 10));
      *out++ = static_cast<SQLWCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      *out++ = static_cast<SQLWCHAR>(cp);
    }
  }
  return static_cast<std::size_t>(out - start);
}

Wide ToWide(std::string_view utf8) {
  Wide out(utf8.size(), SQLWCHAR{0});
  out.resize(PutWide(utf8, out.data()));
  return out;
}

std::string FromWide(const SQLWCHAR* text, std::size_t length) {
  std::string out;
  out.reserve(length);
  char buffer[4];
  for (std::size_t i = 0; i < length; ++i) {
    char32_t cp = static_cast<std::uint16_t>(text[i]);
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length) {
      const char32_t low = static_cast<std::uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = Text::detail::kReplacementCharacter;
    const char* end = Text::detail::EncodeUtf8(cp, buffer);
    out.append(buffer, static_cast<std::size_t>(end - buffer));
  }
  return out;
}

namespace {

SQLRETURN SetAutoCommit(SQLHDBC conn, bool on) noexcept {
  return SQLSetConnectAttrW(
      conn, SQL_ATTR_AUTOCOMMIT,
      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)), 0);
}

}  // namespace

SQLRETURN Transaction::Run(const char* sql) noexcept {
  stmt_.reset();
  SQLHSTMT stmt = nullptr;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, conn_, &stmt);
  if (!SQL_SUCCEEDED(rc)) return rc;
  stmt_.reset(stmt);
  try {
    const Wide text = ToWide(sql);
    rc = SQLExecDirectW(stmt, Arg(text), SQL_NTS);
  } catch (...) {  // out of memory for a few characters
    rc = SQL_ERROR;
  }
  return rc;
}

SQLRETURN Transaction::Begin() noexcept {
  const SQLRETURN rc = style_ == Style::Driver ? SetAutoCommit(conn_, false) : Run(begin_);
  active_ = SQL_SUCCEEDED(rc);
  return rc;
}

SQLRETURN Transaction::Commit() noexcept {
  stmt_.reset();
  const SQLRETURN rc =
      style_ == Style::Driver ? SQLEndTran(SQL_HANDLE_DBC, conn_, SQL_COMMIT) : Run("COMMIT");
  if (SQL_SUCCEEDED(rc)) {
    active_ = false;
    if (style_ == Style::Driver) SetAutoCommit(conn_, true);
  }
  return rc;
}

void Transaction::Rollback() noexcept {
  if (!active_) return;
  active_ = false;
  if (IsDead(conn_)) return;
  if (style_ == Style::Statements) {
    // The database may have rolled back already; then ROLLBACK fails, harmlessly.
    Run("ROLLBACK");
    stmt_.reset();
    return;
  }
  SQLEndTran(SQL_HANDLE_DBC, conn_, SQL_ROLLBACK);
  // Switching auto-commit on commits an open transaction: only after the
  // rollback.
  SetAutoCommit(conn_, true);
}

bool IsDead(SQLHDBC conn) noexcept {
  SQLUINTEGER dead = SQL_CD_FALSE;
  const SQLRETURN rc = SQLGetConnectAttrW(conn, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
  return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE;
}

}  // namespace Tessel::Odbc
