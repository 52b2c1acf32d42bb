// Checks what GetTable answers for a list of names: the table whose first
// column is the one expected, named as the caller spelled it, or none.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "TesselWrapper/component/DbConnect.h"

namespace Tessel::Testing {

struct LookupCase {
  std::string requested;
  std::optional<std::string> firstColumn;  // nullopt: no table
};

inline void ExpectLookups(DbConnect& component, const std::vector<LookupCase>& cases) {
  for (const LookupCase& c : cases) {
    SCOPED_TRACE("GetTable(\"" + c.requested + "\")");
    auto table = component.GetTable(c.requested);
    if (!c.firstColumn) {
      EXPECT_EQ(table, nullptr);
      continue;
    }
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->TableName(), c.requested);  // the caller's spelling, not the database's
    EXPECT_EQ(table->Column(0).ColumnName, *c.firstColumn);
  }
}

}  // namespace Tessel::Testing
