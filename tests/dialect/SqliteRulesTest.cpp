// SQLite's rules apart from any driver: how a declared type and a column
// default read, and what each result code means for the caller's rows.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DataColumn.h"
#include "TesselWrapper/data/Value.h"
#include "tessel/DefaultLiteral.h"
#include "tessel/dialect/sqlite/DefaultLiteral.h"
#include "tessel/dialect/sqlite/ResultCodes.h"
#include "tessel/dialect/sqlite/TypeMap.h"

namespace Tessel::Testing {
namespace {

using Data::DataType;
using Data::Value;
using Tessel::ParsedDefault;

TEST(SqliteTypeMapping, DeclaredTypesMapToModelTypes) {
  const std::pair<const char*, DataType> cases[] = {
      {"", DataType::String},
      {"INTEGER", DataType::Int64},
      {"bigint", DataType::Int64},
      {"UNSIGNED BIG INT", DataType::Int64},
      {"BOOLEAN", DataType::Boolean},
      {"bool", DataType::Boolean},
      {"DATETIME", DataType::DateTime},
      {"date", DataType::DateTime},
      {"TIMESTAMP", DataType::DateTime},
      {"NUMERIC(10,2)", DataType::Decimal},
      {"DECIMAL", DataType::Decimal},
      {"money", DataType::Decimal},
      {"VARCHAR(20)", DataType::String},
      {"NCHAR(5)", DataType::String},
      {"CLOB", DataType::String},
      {"TEXT", DataType::String},
      {"REAL", DataType::Double},
      {"FLOAT", DataType::Double},
      {"DOUBLE PRECISION", DataType::Double},
      {"BLOB", DataType::Binary},
      {"VARBINARY(16)", DataType::Binary},
      {"JSON", DataType::String},
  };
  for (const auto& [declared, expected] : cases)
    EXPECT_EQ(Sqlite::MapDeclaredType(declared), expected) << declared;
}

TEST(SqliteDefaults, LiteralsAreReadAndEverythingElseIsComputed) {
  using Kind = ParsedDefault::Kind;
  struct Case {
    std::optional<std::string> sql;
    DataType type;
    Kind kind;
    Value value;
  } cases[] = {
      {std::nullopt, DataType::String, Kind::None, Value()},
      {"NULL", DataType::Int64, Kind::Null, Value()},
      {"'it''s'", DataType::String, Kind::Literal, Value("it's")},
      {"''", DataType::String, Kind::Literal, Value("")},
      {"-5", DataType::Int64, Kind::Literal, Value(std::int64_t{-5})},
      {"+7", DataType::Int64, Kind::Literal, Value(std::int64_t{7})},
      {"(5)", DataType::Int64, Kind::Literal, Value(std::int64_t{5})},
      {"0x10", DataType::Int64, Kind::Literal, Value(std::int64_t{16})},
      {"1.5", DataType::Double, Kind::Literal, Value(1.5)},
      {"-1.5e3", DataType::Double, Kind::Literal, Value(-1500.0)},
      {"12.50", DataType::Decimal, Kind::Literal, Value("12.50")},
      {"TRUE", DataType::Boolean, Kind::Literal, Value(true)},
      {"false", DataType::Int64, Kind::Literal, Value(false)},
      {"X'0aFF'", DataType::Binary, Kind::Literal, Value(Data::Bytes{0x0a, 0xff})},
      {"('(a)')", DataType::String, Kind::Literal, Value("(a)")},
      {"CURRENT_TIMESTAMP", DataType::DateTime, Kind::Expression, Value()},
      {"(datetime('now'))", DataType::DateTime, Kind::Expression, Value()},
      {"(1)+(2)", DataType::Int64, Kind::Expression, Value()},
      {"'a' || 'b'", DataType::String, Kind::Expression, Value()},
      {"1.", DataType::Double, Kind::Literal, Value(1.0)},
      {"1e", DataType::Double, Kind::Expression, Value()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql.value_or("<none>"));
    const ParsedDefault parsed = Sqlite::ParseDefault(c.sql, c.type);
    EXPECT_EQ(parsed.kind, c.kind);
    EXPECT_EQ(parsed.literal, c.value);
  }
}

// The codes as the sqlite3 library returns them and an ODBC driver over
// SQLite passes them (extended codes carry the primary one in their low
// byte); a plain SQLITE_ERROR says what it is only in its text.
TEST(SqliteResultCodes, EachCodeAsksForWhatCanHelp) {
  struct Case {
    int code;
    const char* text;
    int systemErrno;
    ErrorCategory category;
  };
  const Case cases[] = {
      {5, "database is locked", 0, ErrorCategory::Rerun},                               // BUSY
      {5 | (3 << 8), "database is locked", 0, ErrorCategory::Rerun},                    // BUSY_TIMEOUT
      {6, "database table is locked", 0, ErrorCategory::Rerun},                         // LOCKED
      {7, "out of memory", 0, ErrorCategory::Rerun},                                    // NOMEM
      {10 | (3 << 8), "disk I/O error", 0, ErrorCategory::Rerun},                       // IOERR_WRITE
      {13, "database or disk is full", 0, ErrorCategory::Rerun},                        // FULL
      {8 | (1 << 8), "attempt to write a readonly database", 0, ErrorCategory::Rerun},  // READONLY_RECOVERY
      {8, "attempt to write a readonly database", 0, ErrorCategory::Other},             // READONLY
      {8 | (6 << 8), "attempt to write a readonly database", 0, ErrorCategory::Other},  // READONLY_DIRECTORY
      {14, "unable to open database file", EMFILE, ErrorCategory::Connection},          // CANTOPEN
      {14, "unable to open database file", ENOMEM, ErrorCategory::Connection},
      {14, "unable to open database file", ENOENT, ErrorCategory::Other},
      {14, "unable to open database file", EACCES, ErrorCategory::Other},
      {14, "unable to open database file", 0, ErrorCategory::Other},
      {17, "database schema has changed", 0, ErrorCategory::SchemaChange},  // SCHEMA
      {1, "no such table: main.cases", 0, ErrorCategory::SchemaChange},     // ERROR
      {1, "[SQLite]no such column: weight", 0, ErrorCategory::SchemaChange},
      {1, "table cases has no column named weight", 0, ErrorCategory::SchemaChange},
      {1, "near \"SELEC\": syntax error", 0, ErrorCategory::Other},
      {19 | (6 << 8), "UNIQUE constraint failed: cases.id", 0,
       ErrorCategory::Refused},                                           // CONSTRAINT_PRIMARYKEY
      {20, "datatype mismatch", 0, ErrorCategory::Refused},               // MISMATCH
      {18, "string or blob too big", 0, ErrorCategory::Refused},          // TOOBIG
      {25, "column index out of range", 0, ErrorCategory::Refused},       // RANGE
      {11, "database disk image is malformed", 0, ErrorCategory::Other},  // CORRUPT
      {23, "authorization denied", 0, ErrorCategory::Other},              // AUTH
  };
  for (const Case& c : cases)
    EXPECT_EQ(Sqlite::CategoryOf(c.code, c.text, c.systemErrno), c.category)
        << c.code << " " << c.text << " errno " << c.systemErrno;
}

}  // namespace
}  // namespace Tessel::Testing
