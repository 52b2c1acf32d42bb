// Adding rows: the checks and their order, unique rules as a database applies
// them, refused rows, enumeration, and copies of a table's shape.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DataTable.h"
#include "support/Contains.h"

namespace Tessel::Data {
namespace {

// people(id Int64 primary key, email String unique, name String not null,
//        note String)
std::shared_ptr<DataTable> People() {
  auto table = DataTable::Create("people");
  table->AddColumn({.ColumnName = "id", .Type = DataType::Int64});
  table->AddColumn({.ColumnName = "email", .Type = DataType::String});
  table->AddColumn({.ColumnName = "name", .Type = DataType::String, .AllowDBNull = false});
  table->AddColumn({.ColumnName = "note", .Type = DataType::String});
  table->AddUniqueConstraint({0}, true);
  table->AddUniqueConstraint({1});
  return table;
}

DataRow Person(const std::shared_ptr<DataTable>& table, ValueView id, ValueView email, ValueView name) {
  DataRow row = table->NewRow();
  row.Set("id", id);
  row.Set("email", email);
  row.Set("name", name);
  return row;
}

std::string ErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

using Testing::Contains;

TEST(RowsTest, AddChecksInOrderAndRefusedRowCanBeMendedAndAddedAgain) {
  auto table = People();
  table->Rows().Add(Person(table, std::int64_t{1}, "a@x", "Ann"));

  // Wrong on every count: null id (a primary key), null name, a taken email.
  DataRow row = Person(table, DBNull, "a@x", DBNull);
  struct Step {
    std::function<void()> mend;
    const char* errorPart;  // empty: the add succeeds
  };
  const std::vector<Step> steps = {
      {[] {}, "column 'id' of table 'people' does not allow DBNull"},
      {[&] { row.Set("id", std::int64_t{1}); }, "column 'name' of table 'people'"},
      {[&] { row.Set("name", "Bob"); }, "column 'id' of table 'people' is the primary key: value '1'"},
      {[&] { row.Set("id", std::int64_t{2}); },
       "column 'email' of table 'people' is constrained to be unique: value 'a@x'"},
      {[&] { row.Set("email", "b@x"); }, ""},
  };
  for (const Step& step : steps) {
    step.mend();
    const std::string error = ErrorText([&] { table->Rows().Add(row); });
    EXPECT_TRUE(Contains(error, step.errorPart)) << error;
    if (*step.errorPart != '\0') {
      EXPECT_EQ(row.RowState(), DataRowState::Detached);
      EXPECT_EQ(table->Rows().Count(), 1u);
    }
  }
  EXPECT_EQ(row.RowState(), DataRowState::Added);
  EXPECT_EQ(table->Rows().Count(), 2u);
  EXPECT_EQ(table->Rows()[1].Get("name"), Value("Bob"));

  // The kinds of error, and the rows that are not this table's to add.
  EXPECT_THROW(table->Rows().Add(row), ArgumentError);
  EXPECT_TRUE(Contains(ErrorText([&] { table->Rows().Add(row); }), "already belongs to this table"));
  auto other = People();
  EXPECT_THROW(other->Rows().Add(Person(table, std::int64_t{9}, "c@x", "Cy")), ArgumentError);
  EXPECT_TRUE(Contains(ErrorText([&] { other->Rows().Add(row); }), "already belongs to another table"));
  EXPECT_THROW(table->Rows().Add(DataRow(nullptr, 0)), ArgumentNullError);
  EXPECT_THROW(table->Rows().Add(Person(table, std::int64_t{3}, "d@x", DBNull)), NoNullAllowedError);
  EXPECT_THROW(table->Rows().Add(Person(table, std::int64_t{2}, "e@x", "Ed")), ConstraintError);
  EXPECT_EQ(table->Rows().Count(), 2u);
}

TEST(RowsTest, UniqueRulesFollowTheDatabase) {
  auto table = DataTable::Create("t");
  table->AddColumn({.ColumnName = "s", .Type = DataType::String});
  table->AddColumn({.ColumnName = "d", .Type = DataType::Double});
  table->AddColumn({.ColumnName = "m", .Type = DataType::Decimal});
  table->AddColumn({.ColumnName = "ci", .Type = DataType::String, .IgnoreCase = true});
  table->AddUniqueConstraint({0});
  table->AddUniqueConstraint({1});
  table->AddUniqueConstraint({2});
  table->AddUniqueConstraint({3});
  struct Case {
    const char* column;
    ValueView first;
    ValueView second;
    bool collide;
  };
  const std::vector<Case> cases = {
      {"s", DBNull, DBNull, false},  // nulls never collide
      {"s", "abc", "ABC", false},    // text is compared case-sensitively
      {"s", "abc", "abc", true},
      {"s", "abc", "abc ", false},
      {"d", 0.0, -0.0, true},  // doubles by value
      {"d", 1.5, "1.5", true},
      {"m", "1.5", "1.50", true},  // decimals by value, whatever their scale
      {"m", "-0", "0.0", true},
      {"m", "10", "1", false},
      {"ci", "abc", "ABC", true},          // a column whose collation ignores case
      {"ci", "Straße", "STRASSE", false},  // only ASCII letters fold
      {"ci", "É", "é", false},
      {"ci", "abc", "abd", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.column) + ": '" + Value(c.first).ToString() + "' then '" +
                 Value(c.second).ToString() + "'");
    auto fresh = table->CloneShape();
    DataRow a = fresh->NewRow();
    a.Set(c.column, c.first);
    fresh->Rows().Add(a);
    DataRow b = fresh->NewRow();
    b.Set(c.column, c.second);
    if (c.collide) {
      EXPECT_THROW(fresh->Rows().Add(b), ConstraintError);
    } else {
      EXPECT_NO_THROW(fresh->Rows().Add(b));
    }
  }
}

TEST(RowsTest, CompositeUniqueRuleTakesTheWholeKey) {
  auto table = DataTable::Create("pairs");
  table->AddColumn({.ColumnName = "a", .Type = DataType::Int32});
  table->AddColumn({.ColumnName = "b", .Type = DataType::String, .IgnoreCase = true});
  table->AddUniqueConstraint({0, 1});
  struct Case {
    ValueView a, b;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {1, "x", true},    {1, "y", true},    {2, "x", true}, {1, "x", false},
      {1, DBNull, true}, {1, DBNull, true},  // a null anywhere in the key collides with nothing
      {2, "X", false},                       // b's collation ignores case
  };
  for (const Case& c : cases) {
    DataRow row = table->NewRow();
    row.Set("a", c.a);
    row.Set("b", c.b);
    const std::string error = ErrorText([&] { table->Rows().Add(row); });
    EXPECT_EQ(error.empty(), c.accepted) << error;
    if (!c.accepted) {
      EXPECT_TRUE(Contains(error, "columns 'a, b' of table 'pairs'") &&
                  Contains(error, "'" + Value(c.a).ToString() + ", " + Value(c.b).ToString() + "'"))
          << error;
    }
  }
  EXPECT_EQ(table->Rows().Count(), 5u);
}

TEST(RowsTest, PrimaryKeyRefusesNullsExceptInGeneratedColumns) {
  auto table = DataTable::Create("t");
  table->AddColumn({.ColumnName = "rowid", .Type = DataType::Int64, .Generated = true});
  table->AddColumn({.ColumnName = "code", .Type = DataType::String});
  table->AddUniqueConstraint({0, 1}, true);
  EXPECT_FALSE(table->Column(1).AllowDBNull);
  for (const char* code : {"a", "b"}) {
    DataRow row = table->NewRow();  // rowid left DBNull: the database fills it
    row.Set("code", code);
    table->Rows().Add(row);
  }
  EXPECT_THROW(table->Rows().Add(table->NewRow()), NoNullAllowedError);
  EXPECT_EQ(table->Rows().Count(), 2u);
}

TEST(RowsTest, RowsAreEnumeratedInAddOrder) {
  auto table = DataTable::Create("t");
  table->AddColumn({.ColumnName = "n", .Type = DataType::Int32});
  std::vector<DataRow> made;
  for (std::int32_t n = 0; n < 4; ++n) {
    made.push_back(table->NewRow());
    made.back().Set("n", n);
  }
  for (int i : {3, 0, 2}) table->Rows().Add(made[i]);  // row 1 is never added

  std::vector<Value> seen;
  for (DataRow row : table->Rows()) seen.push_back(row.Get("n"));
  EXPECT_EQ(seen, (std::vector<Value>{std::int32_t{3}, std::int32_t{0}, std::int32_t{2}}));
  const std::vector<RecordId> records(table->Rows().Records().begin(), table->Rows().Records().end());
  EXPECT_EQ(records, (std::vector<RecordId>{made[3].Record(), made[0].Record(), made[2].Record()}));
  EXPECT_EQ(table->Rows()[1], made[0]);
  EXPECT_EQ(made[1].RowState(), DataRowState::Detached);
  EXPECT_THROW(table->Rows()[3], ArgumentError);
}

// A row already in the table keeps its rules when written, and its keys stay
// findable under their new values only.
TEST(RowsTest, WritingAnAddedRowKeepsItsRules) {
  auto table = People();
  DataRow first = Person(table, std::int64_t{1}, "a@x", "Ann");
  DataRow second = Person(table, std::int64_t{2}, "b@x", "Bob");
  table->Rows().Add(first);
  table->Rows().Add(second);

  EXPECT_THROW(second.Set("id", std::int64_t{1}), ConstraintError);
  EXPECT_EQ(second.Get("id"), Value(std::int64_t{2}));
  EXPECT_THROW(second.Set("name", DBNull), NoNullAllowedError);
  EXPECT_THROW(second.Set("name", nullptr), NoNullAllowedError);
  EXPECT_EQ(second.Get("name"), Value("Bob"));
  EXPECT_THROW(second.Set("email", "a@x"), ConstraintError);
  EXPECT_EQ(second.Get("email"), Value("b@x"));

  second.Set("id", std::int64_t{3});
  second.Set("email", DBNull);
  EXPECT_NO_THROW(table->Rows().Add(Person(table, std::int64_t{2}, "b@x", "Bea")));  // old keys freed
  EXPECT_THROW(table->Rows().Add(Person(table, std::int64_t{3}, "c@x", "Cy")), ConstraintError);
  second.Set("email", "d@x");
  EXPECT_THROW(table->Rows().Add(Person(table, std::int64_t{4}, "d@x", "Di")), ConstraintError);
}

// Enough rows to make the indexes grow several times, and rows taken out and
// put back in under new keys: every key must stay findable.
TEST(RowsTest, UniqueIndexStaysExactThroughGrowthAndRewrites) {
  auto table = DataTable::Create("big");
  table->AddColumn({.ColumnName = "n", .Type = DataType::Int64});
  table->AddColumn({.ColumnName = "s", .Type = DataType::String});
  table->AddUniqueConstraint({0});
  table->AddUniqueConstraint({1});
  constexpr std::int64_t kRows = 5000;
  std::vector<DataRow> rows;
  for (std::int64_t n = 0; n < kRows; ++n) {
    DataRow row = table->NewRow();
    row.Set("n", n);
    row.Set("s", "key " + std::to_string(n));
    table->Rows().Add(row);
    rows.push_back(row);
  }
  for (std::int64_t n = 0; n < kRows; n += 3) rows[n].Set("n", n + kRows);  // move every third key
  for (std::int64_t n = 0; n < 2 * kRows; ++n) {
    const bool taken = n < kRows ? n % 3 != 0 : (n - kRows) % 3 == 0;
    DataRow probe = table->NewRow();
    probe.Set("n", n);
    probe.Set("s", "probe " + std::to_string(n));
    bool refused = false;
    try {
      table->Rows().Add(probe);
    } catch (const ConstraintError&) {
      refused = true;
    }
    ASSERT_EQ(refused, taken) << n;
  }
  DataRow sameText = table->NewRow();
  sameText.Set("s", "key 4999");
  EXPECT_THROW(table->Rows().Add(sameText), ConstraintError);
}

TEST(RowsTest, ShapeIsFixedOnceRowsAreMade) {
  auto table = DataTable::Create("t");
  table->AddColumn({.ColumnName = "a"});
  EXPECT_THROW(table->AddColumn({.ColumnName = "a"}), ArgumentError);
  EXPECT_NO_THROW(table->AddColumn({.ColumnName = "A"}));
  EXPECT_THROW(table->AddUniqueConstraint({0, 0}), ArgumentError);
  EXPECT_THROW(table->AddUniqueConstraint({5}), ArgumentError);
  table->NewRow();
  EXPECT_THROW(table->AddColumn({.ColumnName = "b"}), ArgumentError);
  EXPECT_THROW(table->AddUniqueConstraint({0}), ArgumentError);
  EXPECT_EQ(table->ColumnCount(), 2u);
}

TEST(RowsTest, CloneShapeCopiesShapeButNoRows) {
  auto table = People();
  table->Rows().Add(Person(table, std::int64_t{1}, "a@x", "Ann"));
  auto clone = table->CloneShape();

  EXPECT_EQ(clone->TableName(), "people");
  ASSERT_EQ(clone->ColumnCount(), table->ColumnCount());
  for (std::size_t c = 0; c < table->ColumnCount(); ++c) {
    EXPECT_EQ(clone->Column(c).ColumnName, table->Column(c).ColumnName);
    EXPECT_EQ(clone->Column(c).Type, table->Column(c).Type);
    EXPECT_EQ(clone->Column(c).AllowDBNull, table->Column(c).AllowDBNull);
  }
  ASSERT_EQ(clone->UniqueConstraints().size(), 2u);
  EXPECT_TRUE(clone->UniqueConstraints()[0].IsPrimaryKey);
  EXPECT_EQ(clone->Rows().Count(), 0u);

  // Independent: a key taken in one is free in the other, and rows stay apart.
  clone->Rows().Add(Person(clone, std::int64_t{1}, "a@x", "Ann"));
  EXPECT_THROW(clone->Rows().Add(Person(clone, std::int64_t{1}, "z@x", "Zed")), ConstraintError);
  EXPECT_EQ(table->ColumnCount(), 4u);
  EXPECT_EQ(table->Rows().Count(), 1u);
  EXPECT_EQ(clone->Rows().Count(), 1u);
}

}  // namespace
}  // namespace Tessel::Data
