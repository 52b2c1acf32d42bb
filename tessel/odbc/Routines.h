// Finding and calling routines through ODBC.
//
// Two kinds of routine, looked for in this order:
//  - The database's own procedures and functions, where the driver has them
//    (SQL_PROCEDURES "Y"): found with SQLProcedures in the session's schema
//    (the name exactly first, then the one that matches without regard to
//    case), their parameters read with SQLProcedureColumns, and called as
//    `{CALL "schema"."name"(?, ...)}` with one marker per input parameter.
//    Arguments with names go to the parameter of that name (a leading '@',
//    ':' or '$' is not part of the name), arguments without names in order;
//    a parameter the caller leaves out is left to its default when no later
//    one is given, and is NULL otherwise. On PostgreSQL, whose driver sends
//    the escape as a function call, a routine that turns out to be a
//    procedure (42809) is called again with CALL, OUT parameters as NULL.
//    The call runs in auto-commit: one statement, which the database runs as
//    a transaction of its own.
//  - The rows of the table set's catalogue table tessel_procedures (name,
//    body), as on the SQLite backend, for databases without procedures: the
//    body's statements run in order in one transaction, their parameters
//    bound per statement (":x", "@x", "$x" by name, "?" and "?N" by
//    position), and any failure rolls all of them back.
//
// Argument values bind by their DbType: integers SQL_C_SBIGINT as
// SQL_INTEGER/SQL_SMALLINT/SQL_BIGINT, doubles SQL_C_DOUBLE (a double with a
// date DbType is an OLE Automation date and goes as a timestamp; Decimal and
// Currency go as the number's text, SQL_NUMERIC), text as UTF-16, bytes as
// binary, dates as timestamps (as ISO text on SQLite).
//
// The result is the first row (or every row, when asked) of the last result
// set the routine returns; a routine that returns none gives no row.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TesselWrapper/data/DbParameter.h"
#include "TesselWrapper/data/Value.h"
#include "tessel/odbc/Errors.h"
#include "tessel/odbc/Session.h"

namespace Tessel::Odbc {

struct RoutineParameter {
  std::string name;
  SQLSMALLINT columnType = SQL_PARAM_INPUT;  // COLUMN_TYPE of SQLProcedureColumns
};

struct Routine {
  enum class Kind { Procedure, Catalogue };
  Kind kind = Kind::Procedure;
  std::string name;                                      // as the database spells it
  std::vector<std::vector<RoutineParameter>> overloads;  // Procedure: the parameters of each
  std::string body;                                      // Catalogue: the statements
};

// The routine `name` picks, or nullopt. Throws QueryError when a catalogue
// cannot be read.
std::optional<Routine> FindRoutine(Session& session, std::string_view name);

// Where the routine's parameters take their values from: the argument list,
// or (when `every` is set) one value for all of them.
struct RoutineArguments {
  const std::vector<std::shared_ptr<Data::DbParameter>>* parameters = nullptr;
  const Data::Value* every = nullptr;
};

struct RoutineResult {
  std::optional<Failure> failure;  // what went wrong, nothing of it left behind
  std::vector<std::string> columns;
  std::vector<std::vector<Data::Value>> rows;  // the first row, or all rows when asked
};

// Runs the routine as the file comment says. Throws ArgumentError for a date
// number that is no OLE Automation date.
RoutineResult RunRoutine(Session& session, const Routine& routine, const RoutineArguments& arguments,
                         bool allRows);

// `sql` cut into statements at each ';' outside quotes ('...', "...",
// `...`), comments (-- and /* */) and, on PostgreSQL, dollar quotes
// ($tag$...$tag$); empty statements are dropped.
std::vector<std::string_view> SplitStatements(std::string_view sql, Dbms dbms);

// One statement with its parameters (":x", "@x", "$x", "?N", "?") turned
// into plain markers, and what each marker stands for: for ":x", "@x" and
// "$x" the name x (position 0), for "?N" position N, for "?" the position
// after the previous marker's (empty name).
struct MarkedStatement {
  std::string sql;
  std::vector<std::string> names;
  std::vector<int> positions;
};
MarkedStatement MarkParameters(std::string_view statement, Dbms dbms);

}  // namespace Tessel::Odbc
