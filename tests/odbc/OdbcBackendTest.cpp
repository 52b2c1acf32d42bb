// The ODBC component against real drivers: SQLite3 on a file of the test's
// own and PostgreSQL Unicode on the server of TESSEL_PG_URI (a fresh schema
// per test). Shapes read through the catalogue functions, rows of every type
// written with parameter arrays and read back by a plain connection, chunks
// and long values, columns left to the database, and the write-failure
// contract: nothing written on failure, and a COMMIT whose answer is lost is
// never called a rerun.
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <random>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "odbc/OdbcTestSupport.h"
#include "support/FailureSorting.h"
#include "tessel/NameLookup.h"
#include "tessel/odbc/OdbcConnect.h"

namespace Tessel::Testing {
namespace {

constexpr const char* kRerun = "Rerun the transaction";

enum class Driver { Sqlite, Postgres };

std::string NameOf(const ::testing::TestParamInfo<Driver>& info) {
  return info.param == Driver::Sqlite ? "Sqlite" : "Postgres";
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class OdbcBackend : public ::testing::TestWithParam<Driver> {
 protected:
  void SetUp() override {
    UseProjectOdbcFiles();
    if (GetParam() == Driver::Sqlite) {
      dir_ = MakeTemporaryDirectory("tessel-odbc");
      odbc_ = OdbcSqliteString(DriverPath((std::filesystem::path(dir_) / "test.db").string()), 2000);
    } else {
      const char* uri = std::getenv("TESSEL_PG_URI");
      if (uri == nullptr || *uri == '\0') {
        if (OdbcRequired()) FAIL() << "TESSEL_PG_URI is not set";
        GTEST_SKIP() << "TESSEL_PG_URI is not set";
      }
      odbc_ = OdbcPostgresString(uri);
    }
    if (const auto why = OdbcUnavailable(odbc_)) {
      if (OdbcRequired()) FAIL() << "the ODBC driver cannot be used: " << *why;
      GTEST_SKIP() << "the ODBC driver cannot be used: " << *why;
    }
    if (GetParam() == Driver::Postgres) {
      std::random_device random;
      schema_ = "tessel_odbc_unit_" + std::to_string(random() % 1'000'000'000);
      RawOdbc(odbc_).Exec("CREATE SCHEMA " + QuoteIdentifier(schema_));
    }
    raw_ = std::make_unique<RawOdbc>(odbc_);
    if (!schema_.empty()) raw_->Exec("SET search_path TO " + QuoteIdentifier(schema_));
  }

  void TearDown() override {
    component_.reset();
    raw_.reset();
    if (!schema_.empty())
      RawOdbc(odbc_).Exec("DROP SCHEMA IF EXISTS " + QuoteIdentifier(schema_) + " CASCADE");
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
  }

  bool IsPostgres() const { return GetParam() == Driver::Postgres; }
  // The type name for this database: `sqlite` on SQLite, `postgres` on PostgreSQL.
  const char* Type(const char* sqlite, const char* postgres) const {
    return IsPostgres() ? postgres : sqlite;
  }

  // The component under test, made by the factory (`extra` is added to the
  // connection string).
  DbConnect& Component(const std::string& extra = {}) {
    if (!component_) component_ = DbConnectFactory::CreateDbConnect("odbc:" + odbc_ + extra, schema_);
    return *component_;
  }
  void NewComponent(const std::string& extra = {}) {
    component_.reset();
    Component(extra);
  }

  RawOdbc& raw() { return *raw_; }

  std::string dir_;
  std::string odbc_;
  std::string schema_;
  std::unique_ptr<RawOdbc> raw_;
  std::shared_ptr<DbConnect> component_;
};

TEST_P(OdbcBackend, ShapesComeFromTheCatalogueFunctions) {
  raw().Exec(std::string("CREATE TABLE shapes (") + "a " + Type("INTEGER", "int4") + " NOT NULL, " + "b " +
             Type("BIGINT", "int8") + ", " + "c " + Type("DOUBLE", "float8") + ", " + "d " +
             Type("NUMERIC(10,2)", "numeric(10,2)") + " DEFAULT 1.50, " + "e " +
             Type("VARCHAR(20)", "varchar(20)") + " DEFAULT 'it''s', " + "f " +
             Type("TIMESTAMP", "timestamp") + " DEFAULT CURRENT_TIMESTAMP, " + "g " + Type("BLOB", "bytea") +
             ", " + "h " + Type("BOOLEAN", "boolean") + ", " + "k " + Type("INTEGER", "int4") +
             " DEFAULT 7, " + "PRIMARY KEY (a, b))");
  raw().Exec("CREATE UNIQUE INDEX shapes_e ON shapes (e)");
  auto table = Component().GetTable("SHAPES");  // the one match without regard to case
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->TableName(), "SHAPES");
  struct Expected {
    const char* name;
    Data::DataType type;
    bool allowNull;
    bool generated;
    Data::Value defaultValue;
  };
  using Data::DataType;
  const Expected expected[] = {
      {"a", IsPostgres() ? DataType::Int32 : DataType::Int64, false, false, {}},
      {"b", DataType::Int64, false, false, {}},  // SQLite's driver, too, calls key columns NOT NULL
      {"c", DataType::Double, true, false, {}},
      {"d", DataType::Decimal, true, false, Data::Value("1.50")},
      {"e", DataType::String, true, false, Data::Value("it's")},
      {"f", DataType::DateTime, true, true, {}},
      {"g", DataType::Binary, true, false, {}},
      {"h", DataType::Boolean, true, false, {}},
      {"k", IsPostgres() ? DataType::Int32 : DataType::Int64, true, false,
       IsPostgres() ? Data::Value(std::int32_t{7}) : Data::Value(std::int64_t{7})},
  };
  ASSERT_EQ(table->ColumnCount(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const Data::DataColumn& column = table->Column(i);
    SCOPED_TRACE(column.ColumnName);
    EXPECT_EQ(column.ColumnName, expected[i].name);
    EXPECT_EQ(column.Type, expected[i].type);
    EXPECT_EQ(column.AllowDBNull, expected[i].allowNull);
    EXPECT_EQ(column.Generated, expected[i].generated);
    EXPECT_EQ(column.DefaultValue, expected[i].defaultValue);
  }
  ASSERT_EQ(table->UniqueConstraints().size(), 2u);
  EXPECT_TRUE(table->UniqueConstraints()[0].IsPrimaryKey);
  EXPECT_EQ(table->UniqueConstraints()[0].Columns, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(table->UniqueConstraints()[1].Columns, (std::vector<std::size_t>{4}));
  EXPECT_EQ(Component().GetTable("no_such_table"), nullptr);
}

TEST_P(OdbcBackend, EveryTypeIsWrittenAndReadBack) {
  raw().Exec(std::string("CREATE TABLE typed (id ") + Type("INTEGER", "int4") + " PRIMARY KEY, big " +
             Type("BIGINT", "int8") + ", ratio " + Type("DOUBLE", "float8") + ", amount " +
             Type("NUMERIC(12,3)", "numeric(12,3)") + ", label " + Type("TEXT", "text") + ", taken " +
             Type("DATETIME", "timestamp") + ", day " + Type("DATE", "date") + ", data " +
             Type("BLOB", "bytea") + ", flag " + Type("BOOLEAN", "boolean") + ")");
  auto table = Component().GetTable("typed");
  ASSERT_NE(table, nullptr);
  auto row = table->NewRow();
  row.Set("id", std::int64_t{1});
  row.Set("big", std::int64_t{5'000'000'000});
  row.Set("ratio", -0.125);
  row.Set("amount", "12.345");
  row.Set("label", "caf\xC3\xA9 \xF0\x9F\x98\x80 it's");
  row.Set("taken", Data::DateTime(2023, 3, 15, 12, 0, 1, 250));
  row.Set("day", Data::DateTime(2024, 2, 29));
  row.Set("data", Data::Value(Data::Bytes{0, 1, 0xFF}).View());
  row.Set("flag", true);
  table->Rows().Add(row);
  auto empty = table->NewRow();  // every other column null
  empty.Set("id", std::int64_t{2});
  empty.Set("label", "");
  table->Rows().Add(empty);
  std::int64_t ms = 0;
  ASSERT_TRUE(Component().BulkToTable(*table, ms)) << Component().Message().value_or("");
  EXPECT_EQ(Component().Message().value_or(""), "2 rows written to table 'typed'");

  const std::string hex = IsPostgres() ? "encode(data, 'hex')" : "hex(data)";
  const std::string day = IsPostgres() ? "to_char(day, 'YYYY-MM-DD')" : "substr(day, 1, 10)";
  EXPECT_EQ(raw().Query("SELECT id, big, ratio, label, " + hex + ", " + day +
                        ", CASE WHEN flag THEN 'yes' ELSE 'no' END FROM typed ORDER BY id"),
            IsPostgres() ? "1|5000000000|-0.125|caf\xC3\xA9 \xF0\x9F\x98\x80 it's|0001ff|2024-02-29|yes\n"
                           "2|NULL|NULL||NULL|NULL|no"
                         : "1|5000000000|-0.125|caf\xC3\xA9 \xF0\x9F\x98\x80 it's|0001FF|2024-02-29|yes\n"
                           "2|NULL|NULL|||NULL|no");  // SQLite's hex(NULL) is ''

  EXPECT_EQ(
      raw().Query(IsPostgres() ? "SELECT amount::text, to_char(taken, 'YYYY-MM-DD HH24:MI:SS.MS') FROM typed "
                                 "WHERE id = 1"
                               : "SELECT amount, taken FROM typed WHERE id = 1"),
      IsPostgres() ? "12.345|2023-03-15 12:00:01.250" : "12.345|2023-03-15 12:00:01.250");
}

// More rows than one parameter array holds, and values long enough that a
// chunk must shrink to stay within its buffers: every row arrives once.
TEST_P(OdbcBackend, ChunksOfRowsAndLongValues) {
  raw().Exec(std::string("CREATE TABLE many (id ") + Type("INTEGER", "int4") + " PRIMARY KEY, note " +
             Type("TEXT", "text") + ")");
  auto table = Component().GetTable("many");
  ASSERT_NE(table, nullptr);
  constexpr int kRows = 2600;
  for (int i = 0; i < kRows; ++i) {
    auto row = table->NewRow();
    row.Set("id", std::int64_t{i});
    // Every 500th note is 100 KB: a chunk of 1024 such widths would need
    // 200 MB of UTF-16 buffer.
    row.Set("note",
            i % 500 == 0 ? std::string(100'000, static_cast<char>('a' + i % 26)) : "n" + std::to_string(i));
    table->Rows().Add(row);
  }
  std::int64_t ms = 0;
  ASSERT_TRUE(Component().BulkToTable(*table, ms)) << Component().Message().value_or("");
  EXPECT_EQ(raw().Query("SELECT count(*), sum(id), sum(length(note)) FROM many"),
            std::to_string(kRows) + "|" + std::to_string(kRows * (kRows - 1) / 2) + "|" +
                std::to_string(6 * 100'000 + [] {
                  int total = 0;
                  for (int i = 0; i < kRows; ++i)
                    if (i % 500 != 0) total += static_cast<int>(("n" + std::to_string(i)).size());
                  return total;
                }()));
  EXPECT_EQ(raw().Query("SELECT substr(note, 1, 3), length(note) FROM many WHERE id = 1500"), "sss|100000");
}

// A column the database fills (an INTEGER PRIMARY KEY on SQLite, a serial on
// PostgreSQL) is left out of the rows that hold no value in it.
TEST_P(OdbcBackend, ColumnsTheDatabaseFillsAreLeftToIt) {
  raw().Exec(std::string("CREATE TABLE filled (id ") + Type("INTEGER", "serial") + " PRIMARY KEY, note " +
             Type("TEXT", "text") + ")");
  auto table = Component().GetTable("filled");
  ASSERT_NE(table, nullptr);
  ASSERT_TRUE(table->Column(0).Generated);
  for (int i : {0, 100, 0, 101}) {
    auto row = table->NewRow();
    if (i != 0) row.Set("id", std::int64_t{i});
    row.Set("note", i == 0 ? "by the database" : "given");
    table->Rows().Add(row);
  }
  std::int64_t ms = 0;
  ASSERT_TRUE(Component().BulkToTable(*table, ms)) << Component().Message().value_or("");
  EXPECT_EQ(raw().Query("SELECT count(*), count(DISTINCT id) FROM filled"), "4|4");
  EXPECT_EQ(raw().Query("SELECT id FROM filled WHERE note = 'given' ORDER BY id"), "100\n101");
}

// The write-failure contract through a driver: a refused row fails the
// whole table (nothing written, no retry text), and a table that changed
// shape since it was read is a schema change whose shape is read anew.
TEST_P(OdbcBackend, AFailedWriteWritesNothing) {
  raw().Exec(std::string("CREATE TABLE items (id ") + Type("INTEGER", "int4") + " PRIMARY KEY, note " +
             Type("TEXT", "text") + ")");
  raw().Exec("INSERT INTO items VALUES (1500, 'stored')");
  auto table = Component().GetTable("items");
  ASSERT_NE(table, nullptr);
  for (int i = 0; i < 3000; ++i) {
    auto row = table->NewRow();
    row.Set("id", std::int64_t{i});
    table->Rows().Add(row);
  }
  std::int64_t ms = 0;
  EXPECT_FALSE(Component().BulkToTable(*table, ms));
  const std::string message = Component().Message().value_or("");
  EXPECT_TRUE(Contains(message, IsPostgres() ? "SQLSTATE 23505" : "UNIQUE constraint failed")) << message;
  EXPECT_TRUE(Contains(message, "Nothing of the table was written")) << message;
  EXPECT_FALSE(Contains(message, kRerun)) << message;
  EXPECT_EQ(raw().Query("SELECT count(*) FROM items"), "1");

  raw().Exec("DELETE FROM items");
  raw().Exec(IsPostgres() ? "ALTER TABLE items ALTER COLUMN note TYPE int4 USING 0"
                          : "ALTER TABLE items RENAME COLUMN note TO remark");
  auto stale = table->CloneShape();
  auto row = stale->NewRow();
  row.Set("id", std::int64_t{1});
  row.Set("note", "text");
  stale->Rows().Add(row);
  EXPECT_FALSE(Component().BulkToTable(*stale, ms));
  EXPECT_TRUE(Contains(Component().Message().value_or(""), "schema change"))
      << Component().Message().value_or("");
  EXPECT_EQ(raw().Query("SELECT count(*) FROM items"), "0");
  auto fresh = Component().GetTable("items");
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->Column(1).ColumnName, IsPostgres() ? "note" : "remark");
  EXPECT_EQ(fresh->Column(1).Type, IsPostgres() ? Data::DataType::Int32 : Data::DataType::String)
      << "the shape is read anew after a schema change";
}

// A stream through a driver: its batches are written in one transaction, a
// stream dropped without Commit leaves nothing, and a row refused in a later
// batch undoes the earlier ones. (The drivers tried here mark no single row
// of a parameter array, so the row is not named by its position.)
TEST_P(OdbcBackend, AStreamWritesItsBatchesInOneTransaction) {
  raw().Exec(std::string("CREATE TABLE items (id ") + Type("INTEGER", "int4") + " PRIMARY KEY, note " +
             Type("TEXT", "text") + ")");
  auto shape = Component().GetTable("items");
  ASSERT_NE(shape, nullptr);
  auto batch = [&](int first, int rows, int twin = -1) {
    auto table = shape->CloneShape();
    for (int i = 0; i < rows; ++i) {
      auto row = table->NewRow();
      row.Set("id", std::int64_t{i == twin ? 7 : first + i});
      row.Set("note", "n" + std::to_string(first + i));
      table->Rows().Add(row);
    }
    return table;
  };
  struct Case {
    const char* name;
    bool commit;
    int twin;  // the position in the second batch that repeats id 7; -1 for none
    const char* rowsAfter;
  };
  for (const Case& c : {Case{"committed", true, -1, "2500|3123750"}, Case{"dropped", false, -1, "0|NULL"},
                        Case{"refused in the second batch", true, 300, "0|NULL"}}) {
    SCOPED_TRACE(c.name);
    raw().Exec("DELETE FROM items");
    {
      const std::unique_ptr<BulkStream> stream = Component().OpenBulkStream(*shape);
      ASSERT_TRUE(stream->Append(*batch(0, 1200))) << Component().Message().value_or("");
      const bool written = stream->Append(*batch(1200, 1300, c.twin)) && (!c.commit || stream->Commit());
      EXPECT_EQ(written, c.twin < 0) << Component().Message().value_or("");
      if (c.twin >= 0) {
        const std::string message = Component().Message().value_or("");
        EXPECT_TRUE(Contains(message, IsPostgres() ? "SQLSTATE 23505" : "UNIQUE constraint failed"))
            << message;
        EXPECT_FALSE(stream->Commit());
      }
    }
    EXPECT_EQ(raw().Query("SELECT count(*), sum(id) FROM items"), c.rowsAfter);
  }
}

// Another connection holds the table: the write waits for the driver's or
// the database's lock time-out, then asks for a rerun, and the rerun writes.
TEST_P(OdbcBackend, ALockedTableAsksForARerun) {
  raw().Exec(std::string("CREATE TABLE locked (id ") + Type("INTEGER", "int4") + ")");
  NewComponent(IsPostgres() ? ";ConnSettings={SET lock_timeout = 100}" : "");
  auto table = Component().GetTable("locked");
  ASSERT_NE(table, nullptr);
  auto row = table->NewRow();
  row.Set("id", std::int64_t{1});
  table->Rows().Add(row);
  {
    RawOdbc holder(
        IsPostgres() ? odbc_
                     : OdbcSqliteString(DriverPath((std::filesystem::path(dir_) / "test.db").string()), 100));
    holder.Exec(IsPostgres() ? "BEGIN; LOCK TABLE " + QuoteIdentifier(schema_) + ".locked IN EXCLUSIVE MODE"
                             : std::string("BEGIN IMMEDIATE"));
    std::int64_t ms = 0;
    EXPECT_FALSE(Component().BulkToTable(*table, ms));
    EXPECT_TRUE(Contains(Component().Message().value_or(""), kRerun)) << Component().Message().value_or("");
    holder.Exec("ROLLBACK");
  }
  std::int64_t ms = 0;
  ASSERT_TRUE(Component().BulkToTable(*table, ms)) << Component().Message().value_or("");
  EXPECT_EQ(raw().Query("SELECT count(*) FROM locked"), "1");
}

// The database's own procedures are called through {CALL ...}, arguments
// matched to parameters by name in any order; on PostgreSQL a procedure
// (which the driver's escape cannot run) is called again with CALL.
TEST_P(OdbcBackend, RoutinesTakeArgumentsByNameOrPosition) {
  raw().Exec(std::string("CREATE TABLE cases (id ") + Type("INTEGER", "int4") + " PRIMARY KEY, name " +
             Type("TEXT", "text") + ")");
  if (IsPostgres()) {
    raw().Exec(
        "CREATE PROCEDURE addcase(p_id int4, p_name text) LANGUAGE sql AS "
        "$$ INSERT INTO cases VALUES (p_id, p_name) $$");
    raw().Exec(
        "CREATE FUNCTION describe(p_id int4, p_suffix text) RETURNS TABLE (\"Id\" int4, \"Text\" text) "
        "LANGUAGE sql AS $$ SELECT id, name || p_suffix FROM cases WHERE id = p_id $$");
  } else {
    raw().Exec("CREATE TABLE tessel_procedures (name TEXT PRIMARY KEY, body TEXT NOT NULL)");
    raw().Exec(
        "INSERT INTO tessel_procedures VALUES ('addcase', 'INSERT INTO cases VALUES (:p_id, @p_name)'), "
        "('describe', 'SELECT 0; SELECT id AS Id, name || ?2 AS Text FROM cases WHERE id = ?1')");
  }
  auto argument = [](const char* name, Data::Value value, Data::DbType type) {
    return std::make_shared<Data::DbParameter>(name, type, 0, Data::ParameterDirection::Input,
                                               std::move(value));
  };
  std::vector<std::shared_ptr<Data::DbParameter>> add{argument("@p_name", "seven", Data::DbType::String),
                                                      argument("P_ID", std::int32_t{7}, Data::DbType::Int32)};
  ManagedText output = std::string("before");
  EXPECT_EQ(Component().ExecuteStoredProcedure("AddCase", add, output), 0)
      << Component().Message().value_or("");
  EXPECT_EQ(output, "");
  std::vector<std::shared_ptr<Data::DbParameter>> describe{argument("", std::int32_t{7}, Data::DbType::Int32),
                                                           argument("", "!", Data::DbType::String)};
  EXPECT_EQ(Component().ExecuteStoredProcedure("describe", describe, output), 7)
      << Component().Message().value_or("");
  EXPECT_EQ(output, "Id=7;Text=seven!;");

  // Run again: the key is taken, the routine fails, and nothing stays.
  output = std::string("before");
  EXPECT_EQ(Component().ExecuteStoredProcedure("addcase", add, output), -1);
  EXPECT_EQ(output, "before");
  EXPECT_TRUE(Contains(Component().Message().value_or(""), IsPostgres() ? "23505" : "UNIQUE"))
      << Component().Message().value_or("");
  EXPECT_EQ(raw().Query("SELECT count(*) FROM cases"), "1");
}

// A server only (SQLite has no connection to lose): the component's connection is cut between two writes
// (the write then asks for a rerun, and the rerun reconnects), and while a
// COMMIT is in flight (a deferred trigger ends the session during COMMIT):
// that outcome is unknown to the client, and is never called a rerun.
class OdbcServer : public OdbcBackend {};

TEST_P(OdbcServer, LostConnectionsBeforeAndDuringCommit) {
  raw().Exec("CREATE TABLE items (id int4 PRIMARY KEY)");
  NewComponent(";ConnSettings={SET application_name = 'tessel_odbc_victim'}");
  auto table = Component().GetTable("items");
  ASSERT_NE(table, nullptr);
  auto row = table->NewRow();
  row.Set("id", std::int64_t{1});
  table->Rows().Add(row);

  raw().Exec(
      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'tessel_odbc_victim'");
  std::int64_t ms = 0;
  EXPECT_FALSE(Component().BulkToTable(*table, ms));
  EXPECT_TRUE(Contains(Component().Message().value_or(""), kRerun)) << Component().Message().value_or("");
  EXPECT_FALSE(Contains(Component().Message().value_or(""), "position")) << "the row is not at fault";
  EXPECT_EQ(raw().Query("SELECT count(*) FROM items"), "0");
  ASSERT_TRUE(Component().BulkToTable(*table, ms)) << Component().Message().value_or("");
  EXPECT_EQ(raw().Query("SELECT count(*) FROM items"), "1");

  raw().Exec(
      "CREATE FUNCTION end_session() RETURNS trigger LANGUAGE plpgsql AS "
      "$$ BEGIN PERFORM pg_terminate_backend(pg_backend_pid()); RETURN NULL; END $$");
  raw().Exec(
      "CREATE CONSTRAINT TRIGGER at_commit AFTER INSERT ON items DEFERRABLE INITIALLY DEFERRED "
      "FOR EACH ROW EXECUTE FUNCTION end_session()");
  auto next = table->CloneShape();
  auto second = next->NewRow();
  second.Set("id", std::int64_t{2});
  next->Rows().Add(second);
  EXPECT_FALSE(Component().BulkToTable(*next, ms));
  const std::string message = Component().Message().value_or("");
  EXPECT_TRUE(Contains(message, "unknown")) << message;
  EXPECT_FALSE(Contains(message, kRerun)) << message;
  EXPECT_FALSE(Contains(message, "Nothing of the table was written")) << message;

  raw().Exec("DROP TRIGGER at_commit ON items");
  auto third = table->CloneShape();
  auto row3 = third->NewRow();
  row3.Set("id", std::int64_t{3});
  third->Rows().Add(row3);
  ASSERT_TRUE(Component().BulkToTable(*third, ms)) << Component().Message().value_or("");
  EXPECT_EQ(raw().Query("SELECT id FROM items ORDER BY id"), "1\n3")
      << "the session ended before its COMMIT took";
}

// psqlODBC writes a numeric's text with the C library's decimal point; a
// routine's result keeps '.' whatever the host's locale.
TEST_P(OdbcServer, DecimalsKeepTheirPointUnderACommaLocale) {
  raw().Exec(
      "CREATE FUNCTION amounts() RETURNS TABLE (\"Amount\" numeric, \"Ratio\" float8) LANGUAGE sql AS "
      "$$ SELECT 12.50::numeric, 0.25::float8 $$");
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  bool switched = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE.ISO-8859-1", "de_DE"})
    if (!switched && std::setlocale(LC_NUMERIC, name) != nullptr) switched = true;
  if (!switched) GTEST_SKIP() << "no locale with a decimal comma here";
  std::vector<std::shared_ptr<Data::DbParameter>> none;
  ManagedText output;
  const std::int32_t result = Component().ExecuteStoredProcedure("amounts", none, output);
  std::setlocale(LC_NUMERIC, before.c_str());
  EXPECT_EQ(result, 0) << Component().Message().value_or("");
  EXPECT_EQ(output, "Amount=12.50;Ratio=0.25;");
}

TEST_P(OdbcBackend, ScriptsRunInOneTransaction) {
  Component().ExecuteScript(std::string("CREATE TABLE s1 (id ") + Type("INTEGER", "int4") +
                            "); INSERT INTO s1 VALUES (1); INSERT INTO s1 VALUES (2)");
  EXPECT_EQ(raw().Query("SELECT count(*) FROM s1"), "2");
  EXPECT_THROW(Component().ExecuteScript("INSERT INTO s1 VALUES (3); INSERT INTO no_such_table VALUES (4)"),
               DatabaseError);
  EXPECT_EQ(raw().Query("SELECT count(*) FROM s1"), "2") << "the script's first statement was rolled back";
  EXPECT_GE(Component().BulkExample(50), 0);
  EXPECT_EQ(Component().Message().value_or(""), "50 rows written to table 'tessel_bulk_example'");
}

// Every failure sorted by one question: can the same call succeed later
// without anyone changing anything? Only then does a message ask for a rerun.
TEST_P(OdbcBackend, FailuresAskForARerunOnlyWhenTheCauseMayPass) {
  raw().Exec("CREATE TABLE cases (id INTEGER)");
  const std::string schema = schema_;
  const auto open = [schema](std::string odbc) {
    return [odbc, schema] { return DbConnectFactory::CreateDbConnect("odbc:" + odbc, schema); };
  };
  std::vector<ProvokedFailure> cases = {
      {"a data source that is not defined", open("DSN=tessel_no_such_source"), ErrorCategory::Other, false,
       true},
      {"a driver that is not installed", open("Driver={Tessel No Such Driver};Database=x"),
       ErrorCategory::Other, false, true},
  };
  if (IsPostgres()) {
    std::string uri = std::getenv("TESSEL_PG_URI");
    uri = uri.substr(0, uri.find('?'));
    const std::string noDatabase = uri.substr(0, uri.rfind('/') + 1) + "tessel_no_such_database";
    cases.push_back({"a database that does not exist", open(OdbcPostgresString(noDatabase)),
                     ErrorCategory::Other, false, true});
    cases.push_back({"a server that refuses the connection",
                     open(OdbcPostgresString("postgresql://postgres@127.0.0.1:1/tessel_test")),
                     ErrorCategory::Connection, true, true});
    cases.push_back({"another connection holds the lock",
                     [&] {
                       raw().SetAutoCommit(false);
                       raw().Exec("LOCK TABLE cases IN ACCESS EXCLUSIVE MODE");
                       return open(odbc_ + ";ConnSettings={SET lock_timeout = 200}")();
                     },
                     ErrorCategory::Rerun, true, false});
  } else {
#ifndef _WIN32
    // Left out under Windows: through Wine's odbc32 to the host's driver the
    // write and Test() fail as here, but reading the shape answers "no such
    // table" instead of the open's failure (not yet looked into).
    const std::string missing = DriverPath((std::filesystem::path(dir_) / "missing" / "x.db").string());
    cases.push_back({"a folder that does not exist", open(OdbcSqliteString(missing, 50)),
                     ErrorCategory::Other, false, true});
#endif
    cases.push_back({"another connection holds the lock",
                     [&] {
                       raw().SetAutoCommit(false);
                       raw().Exec("INSERT INTO cases VALUES (5)");
                       const std::string path = (std::filesystem::path(dir_) / "test.db").string();
                       return open(OdbcSqliteString(DriverPath(path), 50))();
                     },
                     ErrorCategory::Rerun, true, false});
  }
  for (const ProvokedFailure& c : cases) ExpectSorted(c);
  raw().Rollback();
  raw().SetAutoCommit(true);
  EXPECT_EQ(raw().Query("SELECT count(*) FROM cases"), "0");
}

INSTANTIATE_TEST_SUITE_P(Drivers, OdbcBackend, ::testing::Values(Driver::Sqlite, Driver::Postgres), NameOf);
INSTANTIATE_TEST_SUITE_P(Drivers, OdbcServer, ::testing::Values(Driver::Postgres), NameOf);

}  // namespace
}  // namespace Tessel::Testing
