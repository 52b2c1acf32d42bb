#include "PgTestServer.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>

#include "TesselWrapper/component/DbConnectFactory.h"
#include "tessel/NameLookup.h"

namespace Tessel::Testing {

std::optional<std::string> PgUri() {
  const char* uri = std::getenv("TESSEL_PG_URI");
  if (uri == nullptr || *uri == '\0') return std::nullopt;
  return std::string(uri);
}

bool RunningUnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

RawPg::RawPg(const std::string& uri, const std::string& searchPath) {
  conn_ = PQconnectdb(uri.c_str());
  if (PQstatus(conn_) != CONNECTION_OK) {
    ADD_FAILURE() << "cannot connect to " << uri << ": " << PQerrorMessage(conn_);
    return;
  }
  PQclear(PQexec(conn_, "SET client_min_messages = warning"));
  if (!searchPath.empty()) Exec("SET search_path TO " + QuoteIdentifier(searchPath));
}

RawPg::~RawPg() { PQfinish(conn_); }

bool RawPg::ok() const { return PQstatus(conn_) == CONNECTION_OK; }

std::string RawPg::TryExec(const std::string& sql) {
  PGresult* result = PQexec(conn_, sql.c_str());
  const ExecStatusType status = PQresultStatus(result);
  std::string error;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    error = PQresultErrorMessage(result);
    if (error.empty()) error = PQerrorMessage(conn_);
  }
  PQclear(result);
  return error;
}

void RawPg::Exec(const std::string& sql) {
  const std::string error = TryExec(sql);
  if (!error.empty()) ADD_FAILURE() << sql << "\n" << error;
}

std::string RawPg::Query(const std::string& sql) {
  PGresult* result = PQexec(conn_, sql.c_str());
  std::string out;
  if (PQresultStatus(result) != PGRES_TUPLES_OK) {
    ADD_FAILURE() << sql << "\n" << PQresultErrorMessage(result);
  } else {
    for (int r = 0; r < PQntuples(result); ++r) {
      if (r > 0) out += '\n';
      for (int c = 0; c < PQnfields(result); ++c) {
        if (c > 0) out += '|';
        out += PQgetisnull(result, r, c) ? "NULL" : PQgetvalue(result, r, c);
      }
    }
  }
  PQclear(result);
  return out;
}

int RawPg::BackendPid() const { return PQbackendPID(conn_); }

PgSchema::PgSchema(const std::string& uri) : uri_(uri) {
  static std::atomic<int> counter{0};
  name_ = "tessel_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  {
    RawPg admin(uri);
    admin.Exec("DROP SCHEMA IF EXISTS " + QuoteIdentifier(name_) + " CASCADE; CREATE SCHEMA " +
               QuoteIdentifier(name_));
  }
  raw_ = std::make_unique<RawPg>(uri, name_);
}

PgSchema::~PgSchema() {
  raw_.reset();
  RawPg admin(uri_);
  if (admin.ok()) admin.Exec("DROP SCHEMA IF EXISTS " + QuoteIdentifier(name_) + " CASCADE");
}

std::string WithUriParameter(const std::string& uri, const std::string& key, const std::string& value) {
  std::string encoded;
  for (char c : value) {
    const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
    if (plain) {
      encoded.push_back(c);
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      encoded += '%';
      encoded += kHex[static_cast<unsigned char>(c) >> 4];
      encoded += kHex[static_cast<unsigned char>(c) & 15];
    }
  }
  return uri + (uri.find('?') == std::string::npos ? "?" : "&") + key + "=" + encoded;
}

void PgTest::SetUp() {
  const std::optional<std::string> uri = PgUri();
  if (!uri) {
    if (RunningUnderCi())
      FAIL() << "TESSEL_PG_URI is not set under CI: start the server with .ci/postgres-server.sh";
    GTEST_SKIP() << "TESSEL_PG_URI is not set (start a server with .ci/postgres-server.sh start)";
  }
  schema_ = std::make_unique<PgSchema>(*uri);
  if (!schema_->raw().ok()) FAIL() << "cannot reach the PostgreSQL server at " << *uri;
}

void PgTest::TearDown() { schema_.reset(); }

std::shared_ptr<DbConnect> PgTest::NewComponent(const std::string& uri) {
  return DbConnectFactory::CreateDbConnect(uri.empty() ? schema_->uri() : uri, schema_->name());
}

}  // namespace Tessel::Testing
