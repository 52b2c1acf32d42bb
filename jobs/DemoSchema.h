// The demonstration's schema script, one per backend: the SQL differs (types,
// upserts, and real routines on PostgreSQL against catalogue rows on SQLite).
#pragma once

#include <string>

namespace Tessel::Jobs {

enum class DemoBackend { Sqlite, Postgres };

// The backend that `connection` reaches. Throws Tessel::ArgumentError for
// any other form (a registered scheme, say), whose SQL the demo cannot know.
DemoBackend DemoBackendFor(const std::string& connection);

const char* DemoBackendName(DemoBackend backend) noexcept;

// The whole idempotent set-up for the table set (empty: the default).
std::string DemoSchemaScript(DemoBackend backend, const std::string& tableSet);

}  // namespace Tessel::Jobs
