// Which ODBC failures ask for a rerun, which are schema changes, refusals,
// lost connections or commits nobody can vouch for: the sorting of SQLSTATEs
// and native codes, and what a failed COMMIT becomes.
#include <gtest/gtest.h>

#include "tessel/FailureText.h"
#include "tessel/odbc/Errors.h"

namespace Tessel::Odbc {
namespace {

Failure Make(Dbms dbms, std::string state, std::int32_t native = 0, std::string text = "failed") {
  Failure failure;
  failure.dbms = dbms;
  failure.sqlState = std::move(state);
  failure.nativeCode = native;
  failure.text = std::move(text);
  failure.connectionLost = failure.sqlState.rfind("08", 0) == 0;
  return failure;
}

TEST(OdbcErrors, CategoriesOfStatesAndNativeCodes) {
  struct Case {
    Dbms dbms;
    const char* state;
    std::int32_t native;
    const char* text;
    ErrorCategory expected;
  };
  const Case cases[] = {
      // Any driver: the standard classes.
      {Dbms::Other, "40001", 0, "serialization failure", ErrorCategory::Rerun},
      {Dbms::Other, "40P01", 0, "deadlock", ErrorCategory::Rerun},
      {Dbms::Other, "HYT00", 0, "timeout expired", ErrorCategory::Rerun},
      {Dbms::Other, "HYT01", 0, "connection timeout", ErrorCategory::Rerun},
      {Dbms::Other, "08S01", 0, "communication link failure", ErrorCategory::Connection},
      {Dbms::Other, "08001", 0, "cannot connect", ErrorCategory::Connection},
      {Dbms::Other, "42S02", 0, "base table not found", ErrorCategory::SchemaChange},
      {Dbms::Other, "42S22", 0, "column not found", ErrorCategory::SchemaChange},
      {Dbms::Other, "23000", 0, "integrity constraint violation", ErrorCategory::Refused},
      {Dbms::Other, "22001", 0, "string data right truncated", ErrorCategory::Refused},
      {Dbms::Other, "40002", 0, "integrity constraint violation at commit", ErrorCategory::Refused},
      {Dbms::Other, "40003", 0, "statement completion unknown", ErrorCategory::OutcomeUnknown},
      {Dbms::Other, "HY000", 5, "database is locked", ErrorCategory::Other},  // a code only SQLite gives
      {Dbms::Other, "42000", 0, "syntax error", ErrorCategory::Other},
      // PostgreSQL passes the server's own SQLSTATEs through.
      {Dbms::PostgreSQL, "55P03", 1, "lock timeout", ErrorCategory::Rerun},
      {Dbms::PostgreSQL, "57014", 1, "statement timeout", ErrorCategory::Rerun},
      {Dbms::PostgreSQL, "53100", 1, "disk full", ErrorCategory::Rerun},
      {Dbms::PostgreSQL, "25006", 1, "read-only transaction", ErrorCategory::Rerun},
      {Dbms::PostgreSQL, "42P01", 1, "relation does not exist", ErrorCategory::SchemaChange},
      {Dbms::PostgreSQL, "42703", 1, "column does not exist", ErrorCategory::SchemaChange},
      {Dbms::PostgreSQL, "42804", 1, "datatype mismatch", ErrorCategory::SchemaChange},
      {Dbms::PostgreSQL, "23505", 1, "duplicate key", ErrorCategory::Refused},
      {Dbms::PostgreSQL, "P0001", 1, "raised by a trigger", ErrorCategory::Refused},
      // SQLite's drivers say HY000 and put SQLite's code in the native code.
      {Dbms::SQLite, "HY000", 5, "database is locked (5)", ErrorCategory::Rerun},
      {Dbms::SQLite, "HY000", 6, "database table is locked", ErrorCategory::Rerun},
      {Dbms::SQLite, "HY000", 13, "database or disk is full", ErrorCategory::Rerun},
      {Dbms::SQLite, "HY000", 8, "attempt to write a readonly database", ErrorCategory::Other},
      {Dbms::SQLite, "HY000", 14, "unable to open database file", ErrorCategory::Other},
      {Dbms::SQLite, "HY000", 261, "database is locked", ErrorCategory::Rerun},  // SQLITE_BUSY_RECOVERY
      {Dbms::SQLite, "HY000", 17, "database schema has changed", ErrorCategory::SchemaChange},
      {Dbms::SQLite, "HY000", 1, "no such table: cases", ErrorCategory::SchemaChange},
      {Dbms::SQLite, "HY000", 1, "table cases has no column named note", ErrorCategory::SchemaChange},
      {Dbms::SQLite, "HY000", 19, "UNIQUE constraint failed: cases.id", ErrorCategory::Refused},
      {Dbms::SQLite, "HY000", 1, "near \"SELEC\": syntax error", ErrorCategory::Other},
      {Dbms::MySql, "HY000", 1205, "lock wait timeout exceeded", ErrorCategory::Rerun},
      {Dbms::MySql, "42S02", 1146, "table doesn't exist", ErrorCategory::SchemaChange},
      {Dbms::SqlServer, "HY000", 1222, "lock request time out period exceeded", ErrorCategory::Rerun},
      {Dbms::SqlServer, "42S02", 208, "invalid object name", ErrorCategory::SchemaChange},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.state) + " native " + std::to_string(c.native) + ": " + c.text);
    EXPECT_EQ(CategoryOf(Make(c.dbms, c.state, c.native, c.text)), c.expected);
  }
}

// A connection that could not be made: the database is not known yet, so
// the state, the driver manager's part and the drivers' own words tell
// whether a later attempt may succeed.
TEST(OdbcErrors, ConnectionsThatCannotBeMadeAskForARerunOnlyWhenTheCauseMayPass) {
  struct Case {
    const char* state;
    std::int32_t native;
    const char* text;
    ErrorCategory expected;
  };
  const Case cases[] = {
      {"IM002", 0, "[unixODBC][Driver Manager]Data source name not found", ErrorCategory::Other},
      {"01000", 0, "[unixODBC][Driver Manager]Can't open lib 'X' : file not found", ErrorCategory::Other},
      {"28000", 0, "Login failed for user", ErrorCategory::Other},
      {"08001", 101, "connection to server at \"h\" failed: FATAL: password authentication failed for user",
       ErrorCategory::Other},
      {"08001", 101, "connection to server at \"h\" failed: FATAL: database \"x\" does not exist",
       ErrorCategory::Other},
      {"08001", 101, "could not translate host name \"nowhere\" to address: Name or service not known",
       ErrorCategory::Other},
      {"08001", 101, "invalid sslmode value: \"bogus\"", ErrorCategory::Other},
      {"HY000", 14, "[SQLite]connect failed", ErrorCategory::Other},
      {"08001", 101, "connection to server at \"h\", port 1 failed: Connection refused",
       ErrorCategory::Connection},
      {"08001", 101, "connection to server failed: FATAL: the database system is starting up",
       ErrorCategory::Connection},
      {"08001", 101, "connection to server failed: FATAL: sorry, too many clients already",
       ErrorCategory::Connection},
      {"HYT00", 0, "login timeout expired", ErrorCategory::Rerun},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Failure failure = Make(Dbms::Other, c.state, c.native, c.text);
    failure.connecting = true;
    EXPECT_EQ(CategoryOf(failure), c.expected);
    EXPECT_EQ(DescribeFailure(failure).find(kRerunTransaction) != std::string::npos,
              AsksForRerun(c.expected));
  }
}

TEST(OdbcErrors, FlagsOutweighTheState) {
  Failure lost = Make(Dbms::Other, "HY000");
  lost.connectionLost = true;
  EXPECT_EQ(CategoryOf(lost), ErrorCategory::Connection);
  Failure shape = Make(Dbms::Other, "");
  shape.shapeChanged = true;
  EXPECT_EQ(CategoryOf(shape), ErrorCategory::SchemaChange);
  Failure unknown = Make(Dbms::PostgreSQL, "08006");
  unknown.outcomeUnknown = true;
  EXPECT_EQ(CategoryOf(unknown), ErrorCategory::OutcomeUnknown);
}

// A COMMIT that got no verdict of the server's own may have committed: it is
// never a request to rerun. An embedded database always knows.
TEST(OdbcErrors, ACommitWithoutAVerdictIsAnUnknownOutcome) {
  struct Case {
    Dbms dbms;
    const char* state;
    std::int32_t native;
    ErrorCategory expected;
  };
  const Case cases[] = {
      {Dbms::PostgreSQL, "08S01", 1, ErrorCategory::OutcomeUnknown},  // the connection went during COMMIT
      {Dbms::PostgreSQL, "HY000", 1, ErrorCategory::OutcomeUnknown},  // the driver cannot say what happened
      {Dbms::Other, "HYT00", 0, ErrorCategory::OutcomeUnknown},       // a time-out is no answer
      {Dbms::PostgreSQL, "57014", 1, ErrorCategory::OutcomeUnknown},  // cancelled while committing
      {Dbms::PostgreSQL, "40001", 1, ErrorCategory::Rerun},           // the server refused to commit
      {Dbms::Other, "40P01", 0, ErrorCategory::Rerun},
      {Dbms::PostgreSQL, "23505", 1, ErrorCategory::Refused},  // a deferred constraint
      {Dbms::SQLite, "HY000", 5, ErrorCategory::Rerun},        // busy: SQLite did not commit
      {Dbms::SQLite, "HY000", 13, ErrorCategory::Rerun},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    const Failure failure = CommitFailure(Make(c.dbms, c.state, c.native));
    EXPECT_EQ(CategoryOf(failure), c.expected);
    const std::string message = DescribeWriteFailure("cases", WriteFailureOf(failure));
    EXPECT_EQ(message.find(kRerunTransaction) != std::string::npos, AsksForRerun(c.expected)) << message;
  }
}

TEST(OdbcErrors, MessagesCarryTheStateAndTheNativeCodeWhereItSaysMore) {
  EXPECT_EQ(DescribeError(Make(Dbms::SQLite, "HY000", 19, "UNIQUE constraint failed: t.id")),
            "UNIQUE constraint failed: t.id (SQLSTATE HY000, native error 19)");
  EXPECT_EQ(DescribeError(Make(Dbms::PostgreSQL, "23505", 1, "duplicate key")),
            "duplicate key (SQLSTATE 23505)");
  EXPECT_EQ(DescribeError(ClientFailure("no such column")), "no such column");
  const QueryError error(Make(Dbms::SQLite, "HY000", 5, "database is locked"), "reading the tables");
  EXPECT_EQ(error.Category(), ErrorCategory::Rerun);
  EXPECT_EQ(error.NativeCode(), 5);
  EXPECT_EQ(error.SqlState(), "HY000");
  EXPECT_NE(std::string(error.what()).find("reading the tables: database is locked"), std::string::npos)
      << error.what();
  EXPECT_NE(std::string(error.what()).find(kRerunTransaction), std::string::npos) << error.what();
}

TEST(OdbcErrors, DatabasesAreKnownByTheNameTheirDriversGive) {
  EXPECT_EQ(DbmsOf("PostgreSQL"), Dbms::PostgreSQL);
  EXPECT_EQ(DbmsOf("SQLite"), Dbms::SQLite);
  EXPECT_EQ(DbmsOf("MariaDB"), Dbms::MySql);
  EXPECT_EQ(DbmsOf("Microsoft SQL Server"), Dbms::SqlServer);
  EXPECT_EQ(DbmsOf("Oracle"), Dbms::Other);
  EXPECT_EQ(DbmsOf(""), Dbms::Other);
}

}  // namespace
}  // namespace Tessel::Odbc
