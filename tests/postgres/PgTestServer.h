// Test support for anything that needs a PostgreSQL server: the throwaway
// server that .ci/postgres-server.sh starts, reached through TESSEL_PG_URI.
//
//   eval "$(bash .ci/postgres-server.sh start)"   # exports TESSEL_PG_URI
//   ... run the tests ...
//   bash .ci/postgres-server.sh stop
//
// Without TESSEL_PG_URI a PostgreSQL test skips, except when the environment
// variable CI is "true": there it fails, so that CI never passes by skipping.
//
// Every test works in a schema of its own (PgSchema: a fresh, uniquely named
// schema, dropped with everything in it at the end), which it passes to the
// component as the table set, so tests never see each other's tables and may
// run in parallel processes against one server.
//
// Reuse: derive a fixture from PgTest (it skips or fails in SetUp as above
// and gives schema() and NewComponent()), or use PgSchema and RawPg directly.
#pragma once

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TesselWrapper/component/DbConnect.h"

namespace Tessel::Testing {

// TESSEL_PG_URI, or nullopt when it is unset or empty.
std::optional<std::string> PgUri();

// True when the environment variable CI is "true".
bool RunningUnderCi();

// A plain libpq connection of the test's own, as another program would have:
// to set tables up, to look at what the component left, and to hold locks.
class RawPg {
 public:
  // Connects to `uri`; a failure is reported as a test failure. With a
  // non-empty `searchPath`, unqualified names resolve in that schema.
  explicit RawPg(const std::string& uri, const std::string& searchPath = {});
  ~RawPg();
  RawPg(const RawPg&) = delete;
  RawPg& operator=(const RawPg&) = delete;

  PGconn* get() const { return conn_; }
  bool ok() const;

  // Runs SQL (several statements allowed); a failure is a test failure.
  void Exec(const std::string& sql);
  // Runs SQL and gives the server's error message, empty when it succeeded.
  std::string TryExec(const std::string& sql);
  // Every row of a query: values in the server's text form ("NULL" for a
  // null) joined with '|', rows joined with '\n'.
  std::string Query(const std::string& sql);
  // The server process of this connection (for pg_terminate_backend).
  int BackendPid() const;

 private:
  PGconn* conn_ = nullptr;
};

// A fresh schema "tessel_test_<pid>_<n>" that lives as long as the object.
class PgSchema {
 public:
  explicit PgSchema(const std::string& uri);
  ~PgSchema();  // DROP SCHEMA ... CASCADE
  PgSchema(const PgSchema&) = delete;
  PgSchema& operator=(const PgSchema&) = delete;

  const std::string& name() const { return name_; }
  const std::string& uri() const { return uri_; }
  // The schema owner's connection, with the schema as its search path.
  RawPg& raw() { return *raw_; }

 private:
  std::string uri_;
  std::string name_;
  std::unique_ptr<RawPg> raw_;
};

// `uri` with `key=value` added as a query parameter (e.g. to set options).
std::string WithUriParameter(const std::string& uri, const std::string& key, const std::string& value);

// The fixture: a fresh schema per test and components bound to it.
class PgTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  PgSchema& schema() { return *schema_; }
  RawPg& raw() { return schema_->raw(); }
  // A component for the schema, made by the factory from `uri` (default: the
  // server's URI).
  std::shared_ptr<DbConnect> NewComponent(const std::string& uri = {});

 private:
  std::unique_ptr<PgSchema> schema_;
};

}  // namespace Tessel::Testing
