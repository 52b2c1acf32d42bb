// Reading table shapes as SQLite declares them: types, defaults, keys,
// collations, and the table set as a database of the connection.
#include <algorithm>
#include <optional>

#include "SqliteFixture.h"
#include "TesselWrapper/Errors.h"
#include "tessel/sqlite/Schema.h"

namespace Tessel::Testing {
namespace {

using Data::DataType;
using Data::Value;

struct ExpectedColumn {
  std::string name;
  DataType type;
  bool allowNull;
  bool generated;
  Value defaultValue;
};

void ExpectColumns(const Data::DataTable& table, const std::vector<ExpectedColumn>& expected) {
  ASSERT_EQ(table.ColumnCount(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Data::DataColumn& column = table.Column(i);
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(column.ColumnName, expected[i].name);
    EXPECT_EQ(column.Type, expected[i].type);
    EXPECT_EQ(column.AllowDBNull, expected[i].allowNull);
    EXPECT_EQ(column.Generated, expected[i].generated);
    EXPECT_EQ(column.DefaultValue, expected[i].defaultValue);
  }
}

using Constraints = std::vector<std::pair<std::vector<std::size_t>, bool>>;

Constraints ConstraintsOf(const Data::DataTable& table) {
  Constraints out;
  for (const auto& constraint : table.UniqueConstraints())
    out.emplace_back(constraint.Columns, constraint.IsPrimaryKey);
  std::sort(out.begin(), out.end());  // the order of the rules means nothing
  return out;
}

TEST_F(SqliteTest, ShapeCarriesTypesNullabilityDefaultsAndKeys) {
  Raw().Exec(R"(
    CREATE TABLE cases (
      id INTEGER PRIMARY KEY,
      code VARCHAR(20) NOT NULL UNIQUE,
      title TEXT DEFAULT 'it''s new',
      weight REAL NOT NULL DEFAULT 1.5,
      count INT DEFAULT -3,
      price NUMERIC(10,2) DEFAULT 12.50,
      active BOOLEAN DEFAULT TRUE,
      created DATETIME DEFAULT CURRENT_TIMESTAMP,
      started DATETIME DEFAULT '2001-02-03 04:05:06',
      level INTEGER DEFAULT 'high',
      payload BLOB,
      note,
      doubled INT GENERATED ALWAYS AS (count * 2),
      region TEXT,
      zone TEXT);
    CREATE UNIQUE INDEX cases_place ON cases (region, zone);
    CREATE UNIQUE INDEX cases_lower_title ON cases (lower(title));
    CREATE UNIQUE INDEX cases_positive ON cases (count) WHERE count > 0;
    CREATE INDEX cases_note ON cases (note);)");

  auto table = Component().GetTable("cases");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->TableName(), "cases");
  ExpectColumns(*table,
                {
                    {"id", DataType::Int64, true, true, Value()},
                    {"code", DataType::String, false, false, Value()},
                    {"title", DataType::String, true, false, Value("it's new")},
                    {"weight", DataType::Double, false, false, Value(1.5)},
                    {"count", DataType::Int64, true, false, Value(std::int64_t{-3})},
                    {"price", DataType::Decimal, true, false, Value("12.50")},
                    {"active", DataType::Boolean, true, false, Value(true)},
                    {"created", DataType::DateTime, true, true, Value()},
                    {"started", DataType::DateTime, true, false, Value(Data::DateTime(2001, 2, 3, 4, 5, 6))},
                    // a default the column's type cannot hold is left to the database
                    {"level", DataType::Int64, true, true, Value()},
                    {"payload", DataType::Binary, true, false, Value()},
                    {"note", DataType::String, true, false, Value()},
                    {"region", DataType::String, true, false, Value()},
                    {"zone", DataType::String, true, false, Value()},
                });
  EXPECT_EQ(table->Column(1).DatabaseType, "VARCHAR(20)");
  // Primary key; the UNIQUE column; the full unique index over plain columns.
  // Not the expression index, the partial one, or the plain index.
  EXPECT_EQ(ConstraintsOf(*table), (Constraints{{{0}, true}, {{1}, false}, {{12, 13}, false}}));
}

// A unique column whose collation ignores case (declared on the column or on
// the index) must refuse "A" after "a" in the model too: otherwise the
// database refuses the whole table at the flush.
TEST_F(SqliteTest, NocaseKeysIgnoreCaseInTheModel) {
  Raw().Exec(R"(
    CREATE TABLE tags (
      code TEXT UNIQUE COLLATE NOCASE,
      label TEXT UNIQUE,
      alias TEXT);
    CREATE UNIQUE INDEX tags_alias ON tags (alias COLLATE NOCASE);)");
  auto table = Component().GetTable("tags");
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(table->Column(0).IgnoreCase);
  EXPECT_FALSE(table->Column(1).IgnoreCase);
  EXPECT_TRUE(table->Column(2).IgnoreCase);

  auto row = [&](const char* code, const char* label, const char* alias) {
    Data::DataRow r = table->NewRow();
    r.Set("code", code);
    r.Set("label", label);
    r.Set("alias", alias);
    return r;
  };
  table->Rows().Add(row("a", "x", "p"));
  table->Rows().Add(row("b", "X", "q"));  // label compares case-sensitively
  EXPECT_THROW(table->Rows().Add(row("A", "y", "r")), ConstraintError);
  EXPECT_THROW(table->Rows().Add(row("c", "z", "Q")), ConstraintError);
  std::int64_t elapsed = 0;
  ASSERT_TRUE(Component().BulkToTable(*table, elapsed)) << Component().Message().value_or("");
  EXPECT_EQ(Raw().Query("SELECT group_concat(code, ',') FROM (SELECT code FROM tags ORDER BY code)"), "a,b");
}

TEST_F(SqliteTest, OnlyTheSingleIntegerKeyOfARowidTableIsGenerated) {
  Raw().Exec(R"(
    CREATE TABLE alias (k INTEGER PRIMARY KEY, v TEXT);
    CREATE TABLE descending (k INTEGER PRIMARY KEY DESC, v TEXT);
    CREATE TABLE no_rowid (k INTEGER PRIMARY KEY, v TEXT) WITHOUT ROWID;
    CREATE TABLE big (k BIGINT PRIMARY KEY, v TEXT);
    CREATE TABLE pair (a TEXT, k INTEGER, v TEXT, PRIMARY KEY (k, a));)");
  const std::pair<const char*, bool> cases[] = {
      {"alias", true}, {"descending", false}, {"no_rowid", false}, {"big", false}, {"pair", false}};
  for (const auto& [name, generated] : cases) {
    SCOPED_TRACE(name);
    auto table = Component().GetTable(name);
    ASSERT_NE(table, nullptr);
    const std::size_t k = table->ColumnIndex("k");
    EXPECT_EQ(table->Column(k).Generated, generated);
    ASSERT_FALSE(table->UniqueConstraints().empty());
    EXPECT_TRUE(table->UniqueConstraints().front().IsPrimaryKey);
  }
  // A composite key keeps its key order, not the column order.
  EXPECT_EQ(ConstraintsOf(*Component().GetTable("pair")), (Constraints{{{1, 0}, true}}));
}

// The table set names a database of the connection: a hostile one is only a
// name that no database has.
TEST_F(SqliteTest, AHostileTableSetIsOnlyEverAName) {
  Raw().Exec("CREATE TABLE victims (id INTEGER); INSERT INTO victims VALUES (1);");
  Sqlite::SqliteConnect other(ConnectionString(), R"(main"; DROP TABLE victims; --)");
  EXPECT_THROW(other.GetTable("victims"), ArgumentError);
  EXPECT_EQ(Raw().Query("SELECT count(*) FROM victims"), "1");
}

// SQLite tells a schema change by its schema cookie, so what another
// connection changes shows at the very next GetTable, before any write has
// failed on the old shape.
TEST_F(SqliteTest, ShapesAnotherConnectionChangesAreSeenAtTheNextCall) {
  Raw().Exec("CREATE TABLE cases (id INTEGER, name TEXT)");
  auto before = Component().GetTable("cases");
  ASSERT_NE(before, nullptr);
  EXPECT_EQ(before->ColumnCount(), 2u);

  Raw().Exec("ALTER TABLE cases ADD COLUMN weight REAL");
  auto after = Component().GetTable("cases");
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(after->ColumnCount(), 3u);
}

}  // namespace
}  // namespace Tessel::Testing
