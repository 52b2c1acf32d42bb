#include "BackendContext.h"

namespace Tessel::EndToEnd {

std::string WithTypes(std::string sql, const std::vector<std::pair<std::string, std::string>>& types) {
  for (const auto& [placeholder, type] : types) {
    for (std::size_t at = sql.find(placeholder); at != std::string::npos;
         at = sql.find(placeholder, at + type.size())) {
      sql.replace(at, placeholder.size(), type);
    }
  }
  return sql;
}

}  // namespace Tessel::EndToEnd
