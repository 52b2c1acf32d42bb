#include "jobs/DemoSchema.h"

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "data/Quoted.h"

namespace Tessel::Jobs {
namespace {

std::string QuoteLiteral(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += (c == '\'') ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

// Every "{S}" in `text` becomes the schema prefix (empty or "schema.").
std::string WithSchema(std::string text, const std::string& prefix) {
  for (std::size_t at = text.find("{S}"); at != std::string::npos; at = text.find("{S}", at + prefix.size()))
    text.replace(at, 3, prefix);
  return text;
}

// SQLite has no routines of its own: each is a row of tessel_procedures whose
// body runs with the arguments bound by name.
const char* const kSqliteTables = R"sql(
CREATE TABLE IF NOT EXISTS {S}tessel_enum_tables(name TEXT PRIMARY KEY);
CREATE TABLE IF NOT EXISTS {S}tessel_procedures(name TEXT PRIMARY KEY, body TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS {S}case_status(
  Status INTEGER PRIMARY KEY,
  Label TEXT NOT NULL);
INSERT OR IGNORE INTO {S}case_status(Status, Label) VALUES (0, 'open'), (1, 'solved');
INSERT OR IGNORE INTO {S}tessel_enum_tables(name) VALUES ('case_status');
CREATE TABLE IF NOT EXISTS {S}cases(
  Caseid INTEGER PRIMARY KEY,
  ModelDir TEXT NOT NULL,
  Name TEXT NOT NULL,
  Status INTEGER NOT NULL DEFAULT 0 REFERENCES case_status(Status),
  Created DATETIME);
CREATE INDEX IF NOT EXISTS {S}cases_by_model_dir ON cases(ModelDir);
CREATE TABLE IF NOT EXISTS {S}solutions(
  SolutionId INTEGER PRIMARY KEY,
  Caseid INTEGER NOT NULL REFERENCES cases(Caseid),
  Objective REAL,
  Solved DATETIME);
CREATE INDEX IF NOT EXISTS {S}solutions_by_case ON solutions(Caseid);
CREATE TABLE IF NOT EXISTS {S}results(
  SolutionId INTEGER NOT NULL REFERENCES solutions(SolutionId),
  Name TEXT NOT NULL,
  Value REAL,
  PRIMARY KEY (SolutionId, Name));
)sql";

const char* const kSqliteAddCase =
    "INSERT INTO {S}cases(Caseid, ModelDir, Name) VALUES (:caseid, :modeldir, :name);\n"
    "SELECT changes() AS inserted";

const char* const kSqliteCaseSummary =
    "SELECT (SELECT COUNT(*) FROM {S}cases c WHERE c.ModelDir = :modeldir) AS Cases,\n"
    "       (SELECT COUNT(*) FROM {S}solutions s JOIN {S}cases c ON c.Caseid = s.Caseid\n"
    "         WHERE c.ModelDir = :modeldir) AS Solutions,\n"
    "       (SELECT COUNT(*) FROM {S}results r JOIN {S}solutions s ON s.SolutionId = r.SolutionId\n"
    "         JOIN {S}cases c ON c.Caseid = s.Caseid WHERE c.ModelDir = :modeldir) AS Results,\n"
    "       (SELECT COALESCE(MAX(Caseid), 0) + 1 FROM {S}cases) AS NextCaseid,\n"
    "       (SELECT COALESCE(MAX(SolutionId), 0) + 1 FROM {S}solutions) AS NextSolutionId";

const char* const kSqliteGetMaxSolnIdCaseId =
    "SELECT c.Caseid AS Caseid, MAX(s.SolutionId) AS SolutionId\n"
    "  FROM {S}cases c JOIN {S}solutions s ON s.Caseid = c.Caseid\n"
    " WHERE c.ModelDir = :modelDir\n"
    " GROUP BY c.Caseid ORDER BY c.Caseid";

std::string SqliteScript(const std::string& tableSet) {
  const std::string prefix = tableSet.empty() ? std::string() : QuoteIdentifier(tableSet) + ".";
  std::string script = WithSchema(kSqliteTables, prefix);
  script += WithSchema("INSERT OR REPLACE INTO {S}tessel_procedures(name, body) VALUES\n", prefix);
  script += "  ('AddCase', " + QuoteLiteral(WithSchema(kSqliteAddCase, prefix)) + "),\n";
  script += "  ('CaseSummary', " + QuoteLiteral(WithSchema(kSqliteCaseSummary, prefix)) + "),\n";
  script +=
      "  ('GetMaxSolnIdCaseId', " + QuoteLiteral(WithSchema(kSqliteGetMaxSolnIdCaseId, prefix)) + ");\n";
  return script;
}

// PostgreSQL: unquoted names fold to lower case, and the routines are a real
// procedure and real functions of the table set's schema.
const char* const kPostgresScript = R"sql(
CREATE TABLE IF NOT EXISTS {S}tessel_enum_tables(name text PRIMARY KEY);
CREATE TABLE IF NOT EXISTS {S}case_status(
  status integer PRIMARY KEY,
  label text NOT NULL);
INSERT INTO {S}case_status(status, label) VALUES (0, 'open'), (1, 'solved') ON CONFLICT DO NOTHING;
INSERT INTO {S}tessel_enum_tables(name) VALUES ('case_status') ON CONFLICT DO NOTHING;
CREATE TABLE IF NOT EXISTS {S}cases(
  caseid integer PRIMARY KEY,
  modeldir text NOT NULL,
  name text NOT NULL,
  status integer NOT NULL DEFAULT 0 REFERENCES {S}case_status(status),
  created timestamp);
CREATE INDEX IF NOT EXISTS cases_by_model_dir ON {S}cases(modeldir);
CREATE TABLE IF NOT EXISTS {S}solutions(
  solutionid integer PRIMARY KEY,
  caseid integer NOT NULL REFERENCES {S}cases(caseid),
  objective double precision,
  solved timestamp);
CREATE INDEX IF NOT EXISTS solutions_by_case ON {S}solutions(caseid);
CREATE TABLE IF NOT EXISTS {S}results(
  solutionid integer NOT NULL REFERENCES {S}solutions(solutionid),
  name text NOT NULL,
  value double precision,
  PRIMARY KEY (solutionid, name));
CREATE OR REPLACE PROCEDURE {S}addcase(caseid integer, modeldir text, name text,
                                       INOUT inserted integer DEFAULT 0)
LANGUAGE plpgsql AS $body$
BEGIN
  INSERT INTO {S}cases(caseid, modeldir, name)
  VALUES (addcase.caseid, addcase.modeldir, addcase.name);
  GET DIAGNOSTICS inserted = ROW_COUNT;
END
$body$;
CREATE OR REPLACE FUNCTION {S}casesummary(modeldir text)
RETURNS TABLE(cases integer, solutions integer, results integer,
              nextcaseid integer, nextsolutionid integer)
LANGUAGE sql STABLE AS $body$
  SELECT (SELECT count(*) FROM {S}cases c WHERE c.modeldir = $1)::integer,
         (SELECT count(*) FROM {S}solutions s JOIN {S}cases c ON c.caseid = s.caseid
           WHERE c.modeldir = $1)::integer,
         (SELECT count(*) FROM {S}results r JOIN {S}solutions s ON s.solutionid = r.solutionid
           JOIN {S}cases c ON c.caseid = s.caseid WHERE c.modeldir = $1)::integer,
         (SELECT coalesce(max(c.caseid), 0) + 1 FROM {S}cases c)::integer,
         (SELECT coalesce(max(s.solutionid), 0) + 1 FROM {S}solutions s)::integer
$body$;
CREATE OR REPLACE FUNCTION {S}getmaxsolnidcaseid(modeldir text)
RETURNS TABLE(caseid integer, solutionid integer)
LANGUAGE sql STABLE AS $body$
  SELECT c.caseid, max(s.solutionid)::integer
    FROM {S}cases c JOIN {S}solutions s ON s.caseid = c.caseid
   WHERE c.modeldir = $1
   GROUP BY c.caseid ORDER BY c.caseid
$body$;
)sql";

std::string PostgresScript(const std::string& tableSet) {
  if (tableSet.empty()) return WithSchema(kPostgresScript, "");
  const std::string schema = QuoteIdentifier(tableSet);
  return "CREATE SCHEMA IF NOT EXISTS " + schema + ";\n" + WithSchema(kPostgresScript, schema + ".");
}

}  // namespace

DemoBackend DemoBackendFor(const std::string& connection) {
  const std::string backend = DbConnectFactory::BackendName(connection);
  if (backend == "sqlite") return DemoBackend::Sqlite;
  if (backend == "postgres") return DemoBackend::Postgres;
  throw ArgumentError("the demo knows SQLite and PostgreSQL databases only, not " +
                      Quoted(DbConnectFactory::MaskPasswords(connection)));
}

const char* DemoBackendName(DemoBackend backend) noexcept {
  return backend == DemoBackend::Sqlite ? "SQLite" : "PostgreSQL";
}

std::string DemoSchemaScript(DemoBackend backend, const std::string& tableSet) {
  return backend == DemoBackend::Sqlite ? SqliteScript(tableSet) : PostgresScript(tableSet);
}

}  // namespace Tessel::Jobs
