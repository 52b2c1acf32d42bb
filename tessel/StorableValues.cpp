#include "tessel/StorableValues.h"

#include <cmath>
#include <string>
#include <vector>

#include "data/Quoted.h"
#include "data/TableImpl.h"

namespace Tessel {
namespace {

using Data::DataType;

// 1234567 as "1,234,567": lengths near a limit of a billion are read more
// easily with their thousands marked.
std::string Grouped(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<std::size_t>(at), 1, ',');
  return digits;
}

WriteFailure Refusal(const Data::DataTable& table, std::size_t column, std::uint64_t position,
                     const std::string& what) {
  return WriteFailure{
      ErrorCategory::Refused,
      RowAtPosition(position) + ", column " + Quoted(table.Column(column).ColumnName) + ": " + what,
      position};
}

}  // namespace

std::optional<WriteFailure> RefuseUnstorable(const Data::DataTable& table,
                                             std::span<const Data::RecordId> records, std::uint64_t first,
                                             const ValueLimits& limits) {
  const std::vector<Data::detail::ColumnStore>& stores = Data::detail::TableAccess::Stores(table);
  // The first refused cell of each column, compared by row so that the
  // message names the earliest row, whichever column holds it.
  std::optional<WriteFailure> earliest;
  for (std::size_t c = 0; c < table.ColumnCount(); ++c) {
    const DataType type = table.Column(c).Type;
    const bool checkNaN = type == DataType::Double && !limits.nanReadsBackAs.empty();
    const bool checkLength =
        Data::detail::HoldsBytes(type) && limits.maxValueBytes != std::numeric_limits<std::uint64_t>::max();
    if (!checkNaN && !checkLength) continue;
    const Data::detail::ColumnStore::View cells = stores[c].Cells();
    const std::size_t end = earliest ? static_cast<std::size_t>(*earliest->row - first) : records.size();
    for (std::size_t k = 0; k < end; ++k) {
      const Data::RecordId record = records[k];
      // The value is looked at first: a null cell never fails it, and the
      // null test is made only for a cell that does.
      if (checkNaN) {
        if (!std::isnan(cells.Real(record)) || cells.IsNull(record)) continue;
        earliest =
            Refusal(table, c, first + k,
                    "NaN, a value " + std::string(limits.database) + " cannot store (it would read back as " +
                        std::string(limits.nanReadsBackAs) + ")");
        break;
      }
      const std::uint64_t length = cells.Bytes(record).size();
      if (length <= limits.maxValueBytes || cells.IsNull(record)) continue;
      earliest = Refusal(table, c, first + k,
                         "a value of " + Grouped(length) + " bytes, longer than the " +
                             Grouped(limits.maxValueBytes) + " bytes " + std::string(limits.database) +
                             " keeps in one value");
      break;
    }
  }
  return earliest;
}

}  // namespace Tessel
