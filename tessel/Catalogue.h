// The names of this library's own objects in a table set, and the one rule
// for routine argument names, shared by every backend.
//
//   tessel_enum_tables(name TEXT PRIMARY KEY)     the enumeration tables
//   tessel_procedures(name TEXT PRIMARY KEY,      a SQLite table set's routines
//                     body TEXT NOT NULL)
//   GetMaxSolnIdCaseId                            the case and solution lookup
//   tessel_bulk_example                           BulkExample's temporary table
#pragma once

#include <string_view>

namespace Tessel::Catalogue {

inline constexpr const char* kEnumTables = "tessel_enum_tables";
inline constexpr const char* kProcedures = "tessel_procedures";
inline constexpr const char* kSolutionRoutine = "GetMaxSolnIdCaseId";
inline constexpr const char* kBulkExampleTable = "tessel_bulk_example";

// A routine argument's name as the routine knows it: callers may write a
// leading '@', ':' or '$' (as their own SQL dialect would), which is not part
// of the name.
constexpr std::string_view ArgumentName(std::string_view name) noexcept {
  if (!name.empty() && (name.front() == '@' || name.front() == ':' || name.front() == '$'))
    name.remove_prefix(1);
  return name;
}

}  // namespace Tessel::Catalogue
