#include "tessel/BulkExample.h"

#include <cstdio>
#include <string_view>

#include "TesselWrapper/data/DateTime.h"

namespace Tessel {

void AddBulkExampleRows(Data::DataTable& table, std::int32_t iterations) {
  const Data::DateTime base(2000, 1, 1);
  char label[32];
  for (std::int32_t i = 0; i < iterations; ++i) {
    Data::DataRow row = table.NewRow();
    for (std::size_t c = 0; c < table.ColumnCount(); ++c) {
      const auto step = static_cast<std::int64_t>(c) + 1;  // the first column counts 0, 1, 2 ...
      switch (table.Column(c).Type) {
        case Data::DataType::Boolean:
          row.Set(c, i % 2 == 0);
          break;
        case Data::DataType::Int16:
          row.Set(c, std::int64_t{i % 32768});
          break;
        case Data::DataType::Int32:
          row.Set(c, std::int64_t{i});
          break;
        case Data::DataType::Int64:
          row.Set(c, std::int64_t{i} * step);
          break;
        case Data::DataType::Double:
        case Data::DataType::Decimal:
          row.Set(c, i * 0.5 + static_cast<double>(c));
          break;
        case Data::DataType::String: {
          const int n = std::snprintf(label, sizeof label, "row %d", static_cast<int>(i));
          row.Set(c, std::string_view(label, static_cast<std::size_t>(n)));
          break;
        }
        case Data::DataType::DateTime:
          row.Set(c, Data::DateTime(base.Ticks() + std::int64_t{i} * Data::DateTime::kTicksPerSecond));
          break;
        case Data::DataType::Binary:
          break;
      }
    }
    table.Rows().Add(row);
  }
}

}  // namespace Tessel
