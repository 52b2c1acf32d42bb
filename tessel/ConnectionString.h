// Classifying and parsing connection strings (the forms are listed in
// TesselWrapper/component/DbConnectFactory.h).
#pragma once

#include <string>

namespace Tessel {

enum class ConnectionKind { Sqlite, Postgres, Unknown };

// Sqlite for "", "sqlite:..."; Postgres for postgresql:// and postgres://
// URIs and libpq "key=value" strings; Unknown otherwise.
ConnectionKind ClassifyConnectionString(const std::string& connect);

struct SqliteTarget {
  std::string path;     // a file path, or ":memory:"
  int busyTimeoutMs = 5000;
};

// Parses "", "sqlite:PATH", "sqlite::memory:", each with an optional
// "?busy_timeout=MS". Throws ArgumentError naming the text when it is not
// one of these forms or the time-out is not a non-negative integer.
SqliteTarget ParseSqliteConnectionString(const std::string& connect);

}  // namespace Tessel
