#include "tessel/dialect/postgres/CatalogueQueries.h"

#include "data/Quoted.h"

namespace Tessel::Postgres {

std::string SearchPathFor(std::string_view schema) {
  return QuoteIdentifier(schema) + (schema == "public" ? "" : ", public");
}

}  // namespace Tessel::Postgres
