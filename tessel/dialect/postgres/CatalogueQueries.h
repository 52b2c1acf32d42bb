// The server's catalogue as this library reads it: plain SQL against
// pg_catalog, whichever driver sends it. Each query takes the schema or the
// relation as its first parameter ($1); the reader in the driver takes the
// columns in the order they are selected here.
#pragma once

#include <string>
#include <string_view>

namespace Tessel::Postgres {

// Tables, partitioned tables and foreign tables. The last column says
// whether rows written into the table go to other servers: a foreign table,
// or a partitioned table with a foreign table among its partitions.
inline constexpr const char* kTablesSql =
    "SELECT c.oid, c.relname, c.relkind = 'f' OR (c.relkind = 'p' AND EXISTS ("
    "SELECT 1 FROM pg_catalog.pg_partition_tree(c.oid) t "
    "JOIN pg_catalog.pg_class p ON p.oid = t.relid WHERE p.relkind = 'f')) "
    "FROM pg_catalog.pg_class c "
    "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
    "WHERE n.nspname = $1 AND c.relkind IN ('r', 'p', 'f')";

// A domain column is read and written as its base type. The last column
// says whether the server compares the column's text without regard to case:
// the citext type, or a nondeterministic (case-insensitive) collation.
inline constexpr const char* kColumnsSql =
    "SELECT a.attname, a.attnum, "
    "CASE WHEN t.typtype = 'd' THEN t.typbasetype ELSE a.atttypid END, "
    "pg_catalog.format_type(a.atttypid, a.atttypmod), a.attnotnull, a.attidentity <> '', "
    "a.attgenerated = 's', pg_catalog.pg_get_expr(d.adbin, d.adrelid), "
    "t.typname = 'citext' OR coalesce((SELECT NOT co.collisdeterministic FROM pg_catalog.pg_collation co "
    "WHERE co.oid = a.attcollation), false) "
    "FROM pg_catalog.pg_attribute a "
    "JOIN pg_catalog.pg_type t ON t.oid = a.atttypid "
    "LEFT JOIN pg_catalog.pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
    "WHERE a.attrelid = $1 AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum";

// Unique indexes back primary keys and unique constraints alike. Partial and
// expression indexes are left out: the table model cannot check them, and a
// rule stricter than the database's would refuse rows the database takes.
inline constexpr const char* kKeysSql =
    "SELECT i.indisprimary, i.indkey FROM pg_catalog.pg_index i "
    "WHERE i.indrelid = $1 AND i.indisunique AND i.indisvalid "
    "AND i.indpred IS NULL AND i.indexprs IS NULL "
    "ORDER BY i.indisprimary DESC, i.indexrelid";

// One row per argument of each routine (a routine without arguments gives
// one row with nulls). proargnames and proargmodes list every argument, OUT
// ones included, or are null when no argument has a name or a non-IN mode.
inline constexpr const char* kRoutinesSql =
    "SELECT p.oid, p.proname, p.prokind, a.name, a.mode "
    "FROM pg_catalog.pg_proc p "
    "JOIN pg_catalog.pg_namespace ns ON ns.oid = p.pronamespace "
    "LEFT JOIN LATERAL ("
    "  SELECT s.n, COALESCE(p.proargnames[s.n], '') AS name, "
    "         COALESCE(p.proargmodes[s.n], 'i') AS mode "
    "  FROM generate_series(1, COALESCE(pg_catalog.array_length(p.proallargtypes, 1), "
    "                                   p.pronargs)) AS s(n)) a ON true "
    "WHERE ns.nspname = $1 AND p.prokind IN ('f', 'p') "
    "ORDER BY p.oid, a.n";

// The session's search path for the table set `schema`: the schema quoted
// (a search path is a list of identifiers), then public, so that names the
// caller leaves unqualified are found as the server would find them.
std::string SearchPathFor(std::string_view schema);

}  // namespace Tessel::Postgres
