// Small helpers for tests that drive a data-access component directly.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/data/Value.h"

namespace Tessel::Testing {

// The component's message; "<absent>" tells a missing one from an empty one.
inline std::string Message(const DbConnect& component) { return component.Message().value_or("<absent>"); }

// Adds one row: the named columns set to the values, the rest at their defaults.
inline void AddRow(Data::DataTable& table,
                   std::initializer_list<std::pair<const char*, Data::ValueView>> cells) {
  Data::DataRow row = table.NewRow();
  for (const auto& [column, value] : cells) row.Set(column, value);
  table.Rows().Add(row);
}

}  // namespace Tessel::Testing
