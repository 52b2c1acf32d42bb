// The built-in backends, as the factory reaches them. Each takes the
// connection string as given and the table set (empty means the backend's
// default) and opens nothing until first use.
#pragma once

#include <memory>
#include <string>

#include "TesselWrapper/component/DbConnect.h"

namespace Tessel {

// The embedded default when a connection string is empty.
inline constexpr const char* kDefaultConnection = "sqlite:tessel.db";

namespace Sqlite {
std::shared_ptr<DbConnect> CreateSqliteConnect(const std::string& connect,
                                               const std::string& tableSet);
}
namespace Postgres {
std::shared_ptr<DbConnect> CreatePostgresConnect(const std::string& connect,
                                                 const std::string& tableSet);
}

}  // namespace Tessel
