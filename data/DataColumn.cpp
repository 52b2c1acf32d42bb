#include "TesselWrapper/data/DataColumn.h"

namespace Tessel::Data {

std::string_view DataTypeName(DataType type) noexcept {
  switch (type) {
    case DataType::Boolean:
      return "Boolean";
    case DataType::Int16:
      return "Int16";
    case DataType::Int32:
      return "Int32";
    case DataType::Int64:
      return "Int64";
    case DataType::Double:
      return "Double";
    case DataType::Decimal:
      return "Decimal";
    case DataType::String:
      return "String";
    case DataType::DateTime:
      return "DateTime";
    case DataType::Binary:
      return "Binary";
  }
  return "Unknown";
}

}  // namespace Tessel::Data
