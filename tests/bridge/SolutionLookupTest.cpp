// GetMaxSolnIdCaseId: the component's table packed as "Caseid:SolutionId;".
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "bridge/BridgeFixture.h"

namespace Tessel::Testing {
namespace {

using Data::DataType;
using Data::Value;

// A table with the given columns (Int32) and rows (values in column order).
std::shared_ptr<Data::DataTable> Table(const std::vector<const char*>& columns,
                                       const std::vector<std::vector<Value>>& rows) {
  auto table = Data::DataTable::Create("solutions");
  for (const char* column : columns) {
    table->AddColumn({.ColumnName = column, .Type = DataType::Int32});
  }
  for (const auto& values : rows) {
    Data::DataRow row = table->NewRow();
    for (std::size_t c = 0; c < values.size(); ++c) row.Set(c, values[c]);
    table->Rows().Add(row);
  }
  return table;
}

class SolutionLookupTest : public BridgeTest {};

TEST_F(SolutionLookupTest, PacksEachRowCaseFirstInRowOrder) {
  const Value null = Data::DBNull;
  const struct {
    const char* label;
    std::shared_ptr<Data::DataTable> table;
    const char* expected;
  } cases[] = {
      {"no table", nullptr, ""},
      {"no rows", Table({"SolutionId", "Caseid"}, {}), ""},
      {"one row", Table({"SolutionId", "Caseid"}, {{12, 3}}), "3:12;"},
      {"row order kept", Table({"SolutionId", "Caseid"}, {{15, 4}, {12, 3}}), "4:15;3:12;"},
      {"null solution", Table({"SolutionId", "Caseid"}, {{null, 3}}), "3:;"},
      {"null case", Table({"Caseid", "SolutionId"}, {{null, 12}}), ":12;"},
      {"negative", Table({"SolutionId", "Caseid"}, {{-12, -3}}), "-3:-12;"},
      {"CaseId spelled with a capital I", Table({"SolutionId", "CaseId"}, {{12, 3}}), "3:12;"},
      {"other columns ignored", Table({"x", "Caseid", "SolutionId"}, {{1, 3, 12}}), "3:12;"},
      {"missing column, no rows", Table({"Caseid"}, {}), ""},
  };
  for (const auto& c : cases) {
    component->ScriptSolutionTable(c.table);
    EXPECT_EQ(bridge.GetMaxSolnIdCaseId("models/a"), c.expected) << c.label;
  }
  EXPECT_EQ(component->SolutionRequests().back(), "models/a");
}

TEST_F(SolutionLookupTest, AMissingColumnRaisesOnlyWhenARowIsRead) {
  component->ScriptSolutionTable(Table({"Caseid"}, {{3}}));
  EXPECT_THROW(bridge.GetMaxSolnIdCaseId("models/a"), ArgumentError);
  component->ScriptSolutionTable(Table({"SolutionId"}, {{12}}));
  EXPECT_THROW(bridge.GetMaxSolnIdCaseId("models/a"), ArgumentError);
}

TEST_F(SolutionLookupTest, ComponentErrorsPassThrough) {
  component->FailNext(Op::GetMaxSolnIdCaseId, DatabaseError("no routine", 1));
  EXPECT_THROW(bridge.GetMaxSolnIdCaseId(""), DatabaseError);
}

}  // namespace
}  // namespace Tessel::Testing
