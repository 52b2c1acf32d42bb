#include "bridge/ShapeRefresh.h"

#include <cstddef>
#include <exception>
#include <optional>
#include <vector>

namespace Tessel::Rows {
namespace {

using Data::DataRow;
using Data::DataTable;

// For each column of `from`, its column in `to`; nullopt when `to` has none
// of that name.
std::vector<std::optional<std::size_t>> MapColumns(const DataTable& from, const DataTable& to) {
  std::vector<std::optional<std::size_t>> map;
  map.reserve(from.ColumnCount());
  for (std::size_t c = 0; c < from.ColumnCount(); ++c)
    map.push_back(to.FindColumn(from.Column(c).ColumnName));
  return map;
}

// `from`'s values in a new detached row of `to`; nullopt when one of them
// has no column to go to.
std::optional<DataRow> CopyRow(const DataRow& from, DataTable& to,
                               const std::vector<std::optional<std::size_t>>& map) {
  DataRow row = to.NewRow();
  for (std::size_t c = 0; c < map.size(); ++c) {
    const Data::Value value = from.Get(c);
    if (map[c]) {
      row.Set(*map[c], value.View());
    } else if (!value.IsDBNull()) {
      return std::nullopt;  // the value would be lost
    }
  }
  return row;
}

}  // namespace

std::shared_ptr<DataTable> ReadShapeAgain(DbConnect& component, const std::string& name) {
  component.ForgetShape(name);
  return component.GetTable(name);
}

bool ReshapeCurrentTable(DbConnect& component, std::string_view column) {
  const std::shared_ptr<DataTable> current = component.DataTableCur();
  if (!current) return false;
  try {
    std::shared_ptr<DataTable> fresh = ReadShapeAgain(component, current->TableName());
    if (!fresh || (!column.empty() && !fresh->FindColumn(column))) return false;
    const std::vector<std::optional<std::size_t>> map = MapColumns(*current, *fresh);
    for (const DataRow& row : current->Rows()) {
      std::optional<DataRow> copy = CopyRow(row, *fresh, map);
      if (!copy) return false;
      fresh->Rows().Add(*copy);
    }
    std::optional<DataRow> open;
    if (const std::optional<DataRow>& was = component.DataRowCur()) {
      open = CopyRow(*was, *fresh, map);
      if (!open) return false;
    }
    component.SetDataTableCur(std::move(fresh));
    component.SetDataRowCur(std::move(open));
    return true;
  } catch (const std::exception&) {
    return false;  // the table held is still the caller's, as it was
  }
}

}  // namespace Tessel::Rows
