// Cells as writers read them, and text cells rewritten in place, shared with
// a default, copied from a neighbour or too long for the short form.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TesselWrapper/data/DataTable.h"

namespace Tessel::Data {
namespace {

TEST(CellStorageTest, TypedReadsGiveWhatWasWritten) {
  auto table = DataTable::Create("t");
  table->AddColumn({.ColumnName = "b", .Type = DataType::Boolean});
  table->AddColumn({.ColumnName = "i", .Type = DataType::Int16});
  table->AddColumn({.ColumnName = "d", .Type = DataType::Double});
  table->AddColumn({.ColumnName = "m", .Type = DataType::Decimal});
  table->AddColumn({.ColumnName = "s", .Type = DataType::String});
  table->AddColumn({.ColumnName = "t", .Type = DataType::DateTime});
  table->AddColumn({.ColumnName = "x", .Type = DataType::Binary});
  const std::uint8_t bytes[] = {0, 1, 254};
  const DateTime when(1999, 12, 31, 23, 59, 59, 999);

  DataRow full = table->NewRow();
  full.Set("b", true);
  full.Set("i", -3);
  full.Set("d", -0.5);
  full.Set("m", "003.10");
  full.Set("s", "naïve");
  full.Set("t", when);
  full.Set("x", std::span<const std::uint8_t>(bytes));
  table->Rows().Add(table->NewRow());  // all DBNull
  table->Rows().Add(full);

  const RecordId empty = table->Rows().Records()[0];
  const RecordId r = table->Rows().Records()[1];
  for (std::size_t c = 0; c < table->ColumnCount(); ++c) {
    EXPECT_TRUE(table->IsNull(empty, c));
    EXPECT_FALSE(table->IsNull(r, c));
  }
  EXPECT_EQ(table->GetInt64(r, 0), 1);
  EXPECT_EQ(table->GetInt64(r, 1), -3);
  EXPECT_EQ(table->GetDouble(r, 2), -0.5);
  EXPECT_EQ(table->GetText(r, 3), "3.10");
  EXPECT_EQ(table->GetText(r, 4), "naïve");
  EXPECT_EQ(table->GetDateTime(r, 5), when);
  const auto got = table->GetBytes(r, 6);
  EXPECT_EQ(std::vector<std::uint8_t>(got.begin(), got.end()), std::vector<std::uint8_t>(bytes, bytes + 3));
  EXPECT_EQ(table->GetText(empty, 4), "");
  EXPECT_TRUE(table->GetBytes(empty, 6).empty());
}

// Each step rewrites one cell; every cell must read back as last written,
// whatever became of the bytes around it.
TEST(CellStorageTest, TextCellsSurviveRewrites) {
  auto table = DataTable::Create("t");
  table->AddColumn({.ColumnName = "s", .DefaultValue = "shared default"});
  std::vector<DataRow> rows;
  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i) {
    rows.push_back(table->NewRow());
    expected.push_back("shared default");
  }
  struct Step {
    int row;
    std::string text;  // "<copy N>": the current text of row N, viewed in place
  };
  const std::vector<Step> steps = {
      {0, "short"},  // leaves the shared default alone
      {1, "a longer text one"},
      {1, "shorter"},                      // in place
      {1, "now longer than ever before"},  // ends the arena: regrown there
      {0, "<copy 1>"},                     // a view into the same column's bytes
      {1, std::string(200'000, 'q')},
      {0, "<copy 1>"},  // the arena moves while the copy is made
      {2, "<copy 2>"},  // a cell onto itself
      {1, "<copy 0>"},
      {2, ""},
      {0, "xyz"},
  };
  for (const Step& step : steps) {
    if (step.text.rfind("<copy ", 0) == 0) {
      const int from = step.text[6] - '0';
      rows[step.row].Set("s", table->GetText(rows[from].Record(), 0));
      expected[step.row] = expected[from];
    } else {
      rows[step.row].Set("s", std::string_view(step.text));
      expected[step.row] = step.text;
    }
    for (std::size_t i = 0; i < rows.size(); ++i)
      ASSERT_EQ(table->GetText(rows[i].Record(), 0), expected[i]) << i;
  }
  EXPECT_EQ(table->NewRow().Get("s"), Value("shared default"));
}

TEST(CellStorageTest, LongTextRoundTrips) {
  auto table = DataTable::Create("t");
  table->AddColumn({.ColumnName = "memo"});
  std::string big(16 * 1024 * 1024 + 3, 'x');  // beyond the 24-bit length of the short form
  big.back() = 'z';
  DataRow row = table->NewRow();
  row.Set("memo", std::string_view(big));
  DataRow next = table->NewRow();
  next.Set("memo", "after");
  EXPECT_EQ(table->GetText(row.Record(), 0), big);
  EXPECT_EQ(table->GetText(next.Record(), 0), "after");
  row.Set("memo", "small again");
  EXPECT_EQ(table->GetText(row.Record(), 0), "small again");
}

}  // namespace
}  // namespace Tessel::Data
