// PostgreSQL's rules apart from any driver: what each SQLSTATE and each text
// of a connection that cannot be made means for the caller's rows, how the
// server's types and the text of their values read, how a column default
// reads, and the search path of a table set.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DataColumn.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/Value.h"
#include "tessel/DefaultLiteral.h"
#include "tessel/dialect/postgres/CatalogueQueries.h"
#include "tessel/dialect/postgres/DefaultLiteral.h"
#include "tessel/dialect/postgres/SqlStates.h"
#include "tessel/dialect/postgres/TypeMap.h"

namespace Tessel::Testing {
namespace {

using Data::DataType;
using Data::Value;
using Tessel::ParsedDefault;

TEST(PostgresSqlStates, EachStateAsksForWhatCanHelp) {
  struct Case {
    const char* state;
    bool connectionLost;
    ErrorCategory category;
  };
  const Case cases[] = {
      {"40003", false, ErrorCategory::OutcomeUnknown},
      {"40003", true, ErrorCategory::OutcomeUnknown},
      {"42P01", false, ErrorCategory::SchemaChange},  // undefined table
      {"42703", false, ErrorCategory::SchemaChange},  // undefined column
      {"42804", false, ErrorCategory::SchemaChange},
      {"22P03", false, ErrorCategory::SchemaChange},  // a binary value the column no longer reads
      {"3F000", false, ErrorCategory::SchemaChange},
      {"42809", false, ErrorCategory::SchemaChange},
      {"40P01", false, ErrorCategory::Rerun},  // deadlock
      {"40001", false, ErrorCategory::Rerun},  // serialization failure
      {"55P03", false, ErrorCategory::Rerun},
      {"57014", false, ErrorCategory::Rerun},
      {"57P01", true, ErrorCategory::Rerun},  // shutting down, the connection gone with it
      {"57P03", true, ErrorCategory::Rerun},
      {"25006", false, ErrorCategory::Rerun},
      {"53300", true, ErrorCategory::Rerun},   // too many connections
      {"53100", false, ErrorCategory::Rerun},  // disk full
      {"28P01", true, ErrorCategory::Other},   // lasting, although no connection was made
      {"28000", true, ErrorCategory::Other},
      {"3D000", true, ErrorCategory::Other},
      {"42501", false, ErrorCategory::Other},
      {"55000", true, ErrorCategory::Other},
      {"08006", false, ErrorCategory::Connection},
      {"", true, ErrorCategory::Connection},
      {"23505", true,
       ErrorCategory::Connection},  // the answer may be about a row, but the connection is gone
      {"23505", false, ErrorCategory::Refused},
      {"22001", false, ErrorCategory::Refused},
      {"P0001", false, ErrorCategory::Refused},
      {"42601", false, ErrorCategory::Other},  // a syntax error
      {"", false, ErrorCategory::Other},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Postgres::CategoryOfSqlState(c.state, c.connectionLost), c.category)
        << c.state << (c.connectionLost ? " (connection lost)" : "");
}

TEST(PostgresConnectTexts, OnlyACauseThatStaysUntilSomeoneActsIsLasting) {
  const char* lasting[] = {
      "password authentication failed for user \"tessel\"",
      "no pg_hba.conf entry for host \"10.0.0.1\", user \"tessel\", database \"x\"",
      "database \"nowhere\" does not exist",
      "role \"nobody\" does not exist",
      "permission denied for database \"x\"",
      "role \"r\" is not permitted to log in",
      "database \"x\" is not currently accepting connections",
      "could not translate host name \"nohost\" to address: Name or service not known",
      "invalid sslmode value: \"sometimes\"",
      "invalid URI query parameter: \"x\"",
      "missing \"=\" after \"x\" in connection info string",
      "fe_sendauth: no password supplied",
      "server does not support SSL, but SSL was required",
  };
  for (const char* text : lasting) EXPECT_TRUE(Postgres::IsLastingConnectFailure(text)) << text;
  const char* passing[] = {
      "connection to server at \"127.0.0.1\", port 5432 failed: Connection refused",
      "timeout expired",
      "the database system is starting up",
      "the database system is shutting down",
      "sorry, too many clients already",
      "server closed the connection unexpectedly",
      "",
  };
  for (const char* text : passing) EXPECT_FALSE(Postgres::IsLastingConnectFailure(text)) << text;
}

TEST(PostgresTypeMap, ServerTypesAndTheirTextReadAsTheModelsValues) {
  using namespace Postgres::TypeOid;
  EXPECT_EQ(Postgres::DataTypeOf(kInt2), DataType::Int16);
  EXPECT_EQ(Postgres::DataTypeOf(kInt4), DataType::Int32);
  EXPECT_EQ(Postgres::DataTypeOf(kInt8), DataType::Int64);
  EXPECT_EQ(Postgres::DataTypeOf(kFloat4), DataType::Double);
  EXPECT_EQ(Postgres::DataTypeOf(kNumeric), DataType::Decimal);
  EXPECT_EQ(Postgres::DataTypeOf(kMoney), DataType::Decimal);
  EXPECT_EQ(Postgres::ResultDataTypeOf(kMoney), DataType::String);  // printed with a currency symbol
  EXPECT_EQ(Postgres::DataTypeOf(kTimestampTz), DataType::DateTime);
  EXPECT_EQ(Postgres::DataTypeOf(kBool), DataType::Boolean);
  EXPECT_EQ(Postgres::DataTypeOf(kBytea), DataType::Binary);
  EXPECT_EQ(Postgres::DataTypeOf(kVarchar), DataType::String);
  EXPECT_EQ(Postgres::DataTypeOf(2950), DataType::String);  // uuid

  EXPECT_EQ(Postgres::ValueFromText(kBool, "t"), Value(true));
  EXPECT_EQ(Postgres::ValueFromText(kInt2, "-7"), Value(std::int32_t{-7}));
  EXPECT_EQ(Postgres::ValueFromText(kInt8, "9007199254740993"), Value(std::int64_t{9007199254740993}));
  EXPECT_EQ(Postgres::ValueFromText(kFloat8, "1.5"), Value(1.5));
  EXPECT_EQ(Postgres::ValueFromText(kBytea, "\\x0aff"), Value(Data::Bytes{0x0a, 0xff}));
  EXPECT_EQ(Postgres::ValueFromText(kTimestampTz, "2024-01-02 03:04:05.5+01"),
            Value(Data::DateTime(2024, 1, 2, 3, 4, 5, 500)));  // the local part
  // What no model value holds stays the server's text.
  EXPECT_EQ(Postgres::ValueFromText(kTimestamp, "infinity"), Value("infinity"));
  EXPECT_EQ(Postgres::ValueFromText(kInt4, "99999999999"), Value("99999999999"));
  EXPECT_EQ(Postgres::ValueFromText(kBytea, "\\000"), Value("\\000"));  // the old escape form
}

TEST(PostgresDefaults, LiteralsAreReadAndEverythingElseIsComputed) {
  using Kind = ParsedDefault::Kind;
  struct Case {
    const char* sql;
    DataType type;
    Kind kind;
    Value value;
  } cases[] = {
      {"42", DataType::Int32, Kind::Literal, Value(std::int32_t{42})},
      {"(-1)", DataType::Int64, Kind::Literal, Value(std::int64_t{-1})},
      {"'-1'::integer", DataType::Int32, Kind::Literal, Value(std::int32_t{-1})},
      {"1.5", DataType::Double, Kind::Literal, Value(1.5)},
      {"12.50", DataType::Decimal, Kind::Literal, Value("12.50")},
      {"'it''s'::text", DataType::String, Kind::Literal, Value("it's")},
      {"'x'::character varying(20)", DataType::String, Kind::Literal, Value("x")},
      {"true", DataType::Boolean, Kind::Literal, Value(true)},
      {"'2024-01-02 00:00:00'::timestamp without time zone", DataType::DateTime, Kind::Literal,
       Value(Data::DateTime(2024, 1, 2))},
      {"'\\x0aff'::bytea", DataType::Binary, Kind::Literal, Value(Data::Bytes{0x0a, 0xff})},
      {"NULL::text", DataType::String, Kind::Null, Value()},
      {"'infinity'::timestamp without time zone", DataType::DateTime, Kind::Expression, Value()},
      {"'70000'::integer", DataType::Int16, Kind::Expression, Value()},  // no Int16 holds it
      {"nextval('cases_id_seq'::regclass)", DataType::Int32, Kind::Expression, Value()},
      {"now()", DataType::DateTime, Kind::Expression, Value()},
      {"CURRENT_TIMESTAMP", DataType::DateTime, Kind::Expression, Value()},
      {"'a'::text || 'b'::text", DataType::String, Kind::Expression, Value()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    const ParsedDefault parsed = Postgres::ParseDefault(c.sql, c.type);
    EXPECT_EQ(parsed.kind, c.kind);
    EXPECT_EQ(parsed.literal, c.value);
  }
}

// The schema is an identifier in the list, quoted whatever it holds, so no
// table set's name can add a schema of its own choosing to the path.
TEST(PostgresSearchPath, TheTableSetQuotedThenPublic) {
  EXPECT_EQ(Postgres::SearchPathFor("public"), "\"public\"");
  EXPECT_EQ(Postgres::SearchPathFor("Cases"), "\"Cases\", public");
  EXPECT_EQ(Postgres::SearchPathFor("a\", evil"), "\"a\"\", evil\", public");
}

}  // namespace
}  // namespace Tessel::Testing
