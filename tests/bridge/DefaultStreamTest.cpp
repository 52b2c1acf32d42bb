// The bulk stream of a component that has none of its own (DbConnect's
// default): the batches are gathered and written by one BulkToTable at the
// commit, and a batch is checked against the stream's columns as every
// stream checks it.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "support/ScriptedConnect.h"

namespace Tessel::Testing {
namespace {

using Data::DataColumn;
using Data::DataTable;
using Data::DataType;

std::vector<DataColumn> ItemColumns() {
  return {{.ColumnName = "id", .Type = DataType::Int32}, {.ColumnName = "label", .Type = DataType::String}};
}

// A batch of the item columns with ids first .. first + count - 1.
std::shared_ptr<DataTable> Items(std::int32_t first, std::int32_t count) {
  std::shared_ptr<DataTable> batch = MakeTable("items", ItemColumns());
  for (std::int32_t id = first; id < first + count; ++id) {
    Data::DataRow row = batch->NewRow();
    row.Set(0, Data::ValueView(id));
    row.Set(1, ("item " + std::to_string(id)).c_str());
    batch->Rows().Add(row);
  }
  return batch;
}

TEST(DefaultBulkStream, WritesEveryBatchWithOneBulkToTableAtTheCommit) {
  ScriptedConnect component("script:x", "");
  const std::unique_ptr<BulkStream> stream = component.OpenBulkStream(*MakeTable("items", ItemColumns()));
  ASSERT_TRUE(stream->Append(*Items(1, 2)));
  ASSERT_TRUE(stream->Append(*Items(3, 1)));
  EXPECT_TRUE(component.BulkCalls().empty()) << "written before the commit";
  ASSERT_TRUE(stream->Commit());
  ASSERT_EQ(component.BulkCalls().size(), 1u);
  const ScriptedConnect::BulkCall& call = component.BulkCalls()[0];
  EXPECT_EQ(call.tableName, "items");
  ASSERT_EQ(call.rows.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(call.rows[i][0].ToString(), std::to_string(i + 1));
    EXPECT_EQ(call.rows[i][1].ToString(), "item " + std::to_string(i + 1));
  }
  EXPECT_EQ(stream->Rows(), 3u);
  EXPECT_THROW(stream->Append(*Items(4, 1)), ArgumentError) << "appended after the commit";
}

TEST(DefaultBulkStream, RefusesABatchOfOtherColumns) {
  const std::vector<std::vector<DataColumn>> others = {
      {{.ColumnName = "id", .Type = DataType::Int32}},
      {{.ColumnName = "id", .Type = DataType::Int32}, {.ColumnName = "name", .Type = DataType::String}},
      {{.ColumnName = "id", .Type = DataType::String}, {.ColumnName = "label", .Type = DataType::String}},
      {{.ColumnName = "label", .Type = DataType::String}, {.ColumnName = "id", .Type = DataType::Int32}},
  };
  for (const std::vector<DataColumn>& columns : others) {
    ScriptedConnect component("script:x", "");
    const std::unique_ptr<BulkStream> stream = component.OpenBulkStream(*MakeTable("items", ItemColumns()));
    EXPECT_THROW(stream->Append(*MakeTable("items", columns)), ArgumentError)
        << columns.size() << " columns, the first " << columns[0].ColumnName;
  }
}

TEST(DefaultBulkStream, AWriteThatFailsFailsTheCommitWithItsKind) {
  ScriptedConnect component("script:x", "");
  component.QueueBulkOutcome(
      {.result = false, .message = std::string("database is locked; ") + kRerunTransaction + "."});
  const std::unique_ptr<BulkStream> stream = component.OpenBulkStream(*MakeTable("items", ItemColumns()));
  ASSERT_TRUE(stream->Append(*Items(1, 2)));
  EXPECT_FALSE(stream->Commit());
  EXPECT_EQ(stream->Category(), ErrorCategory::Rerun);
  EXPECT_FALSE(stream->Append(*Items(3, 1))) << "a failed stream stays failed";
  EXPECT_FALSE(stream->Commit());
  EXPECT_EQ(component.BulkCalls().size(), 1u);
}

}  // namespace
}  // namespace Tessel::Testing
