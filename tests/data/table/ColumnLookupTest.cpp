// Finding a column by name: exact spelling first, then the one column that
// matches without regard to case; none or several is an error.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/DataTable.h"

namespace Tessel::Data {
namespace {

std::shared_ptr<DataTable> MakeTable() {
  auto table = DataTable::Create("Orders");
  for (const char* name : {"Name", "name", "Qty", "Äpfel", "Σήμα"}) table->AddColumn({.ColumnName = name});
  return table;
}

struct LookupCase {
  const char* spelling;
  std::optional<std::size_t> column;  // nullopt: the lookup throws
  const char* messagePart;            // what the error says
};

TEST(ColumnLookupTest, PicksExactThenCaseInsensitiveMatch) {
  const std::vector<LookupCase> cases = {
      {"Name", 0, nullptr},
      {"name", 1, nullptr},  // two columns differing by case: each by its spelling
      {"Qty", 2, nullptr},
      {"qTY", 2, nullptr},
      {"äPFEL", 3, nullptr},  // case-insensitive beyond ASCII
      {"ΣΉΜΑ", 4, nullptr},
      {"NAME", std::nullopt, "matches several columns"},
      {"Price", std::nullopt, "does not belong to table 'Orders'"},
      {"", std::nullopt, "does not belong"},
  };
  auto table = MakeTable();
  DataRow row = table->NewRow();
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.spelling);
    if (c.column) {
      EXPECT_EQ(table->ColumnIndex(c.spelling), *c.column);
      // The row's setter finds the same column.
      row.Set(c.spelling, std::string_view(c.spelling));
      EXPECT_EQ(row.Get(*c.column), Value(c.spelling));
    } else {
      try {
        table->ColumnIndex(c.spelling);
        ADD_FAILURE() << "no error";
      } catch (const ArgumentError& e) {
        EXPECT_NE(std::string(e.what()).find(c.messagePart), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(std::string("'") + c.spelling + "'"), std::string::npos)
            << e.what();
      }
      EXPECT_THROW(row.Set(c.spelling, 1), ArgumentError);
      EXPECT_THROW(row.Get(c.spelling), ArgumentError);
    }
  }
}

TEST(ColumnLookupTest, FindColumnGivesNothingForMissingButThrowsForAmbiguous) {
  auto table = MakeTable();
  EXPECT_EQ(table->FindColumn("QTY"), 2u);
  EXPECT_EQ(table->FindColumn("Price"), std::nullopt);
  EXPECT_THROW(table->FindColumn("NAME"), ArgumentError);
}

// The lookup remembers the last columns found and the spellings it resolved;
// whatever order the names come in, each must still reach its own column.
TEST(ColumnLookupTest, RemembersNothingThatMisroutesLaterLookups) {
  auto table = MakeTable();
  const std::vector<std::pair<const char*, std::size_t>> sequence = {
      {"Name", 0}, {"name", 1},  {"Qty", 2},  {"NAme", std::size_t(-1)},
      {"qty", 2},  {"name", 1},  {"Name", 0}, {"QTY", 2},
      {"Qty", 2},  {"äpfel", 3}, {"name", 1}, {"qty", 2},
  };
  for (int round = 0; round < 3; ++round) {
    for (const auto& [spelling, column] : sequence) {
      SCOPED_TRACE(spelling);
      if (column == std::size_t(-1)) {
        EXPECT_THROW(table->ColumnIndex(spelling), ArgumentError);
      } else {
        EXPECT_EQ(table->ColumnIndex(spelling), column);
      }
    }
  }
}

TEST(ColumnLookupTest, AddingAColumnChangesWhatASpellingResolvesTo) {
  auto table = DataTable::Create("T");
  table->AddColumn({.ColumnName = "Code"});
  for (const char* spelling : {"code", "cOdE"}) EXPECT_EQ(table->ColumnIndex(spelling), 0u);  // by case
  table->AddColumn({.ColumnName = "code"});
  EXPECT_EQ(table->ColumnIndex("code"), 1u);                // now an exact name
  EXPECT_THROW(table->ColumnIndex("cOdE"), ArgumentError);  // now two by case, none exact
}

}  // namespace
}  // namespace Tessel::Data
