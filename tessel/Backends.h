// The built-in backends, as the factory's registry holds them: each with the
// test for the connection strings it takes and its factory function. A
// factory function takes the connection string as given and the table set
// (empty means the backend's default) and opens nothing until first use.
//
// Adding a backend is adding its folder and one line to BuiltinBackends().
#pragma once

#include <memory>
#include <span>
#include <string>

#include "TesselWrapper/component/DbConnect.h"

namespace Tessel {

// The embedded default when a connection string is empty.
inline constexpr const char* kDefaultConnection = "sqlite:tessel.db";

struct BuiltinBackend {
  const char* name;   // "sqlite", "odbc", "postgres"
  const char* forms;  // the connection strings it takes, for messages
  bool (*accepts)(const std::string& connect) noexcept;
  std::shared_ptr<DbConnect> (*create)(const std::string& connect, const std::string& tableSet);
};

// In the order in which they are asked; the first that accepts a string
// makes its component.
std::span<const BuiltinBackend> BuiltinBackends();

namespace Sqlite {
bool IsSqliteConnectionString(const std::string& connect) noexcept;
std::shared_ptr<DbConnect> CreateSqliteConnect(const std::string& connect, const std::string& tableSet);
}  // namespace Sqlite
namespace Odbc {
bool IsOdbcConnectionString(const std::string& connect) noexcept;
std::shared_ptr<DbConnect> CreateOdbcConnect(const std::string& connect, const std::string& tableSet);
}  // namespace Odbc
namespace Postgres {
bool IsPostgresConnectionString(const std::string& connect) noexcept;
std::shared_ptr<DbConnect> CreatePostgresConnect(const std::string& connect, const std::string& tableSet);
}  // namespace Postgres

}  // namespace Tessel
