// Finding and calling the routines (functions and procedures) of a schema.
//
// A routine is found in pg_proc by name: exactly first, then the one name
// that matches without regard to case (unquoted names fold to lower case, so
// a caller's "AddCase" finds "addcase"). A procedure runs as
// `CALL "schema"."name"(...)`, a function as `SELECT * FROM "schema"."name"(...)`.
//
// Arguments go as text parameters with an explicit cast to the server type
// that matches each parameter's DbType ($1::int4, $2::float8, $3::numeric,
// $4::timestamp, ...), so that the server can choose among overloads. A
// double with DbType Date, DateTime, DateTime2, DateTimeOffset or Time is an
// OLE Automation date and goes as the date it stands for. Parameters with
// names are passed in named notation (`"argname" => $1::int4`; a leading '@',
// ':' or '$' is not part of the name, and the routine's own spelling of the
// name is looked up as routine names are); parameters without names are
// passed in order. ReturnValue parameters are never passed. Output
// parameters are passed as NULL to a procedure (CALL wants a placeholder for
// each OUT argument, and one is added for OUT arguments the caller leaves out
// when that is unambiguous) and left out for a function.
//
// The call is one statement, which the server runs as one transaction: when
// it fails, nothing it did stays. (An explicit transaction block would stop
// procedures from committing their own work.)
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/data/DbParameter.h"
#include "tessel/RoutineOutput.h"
#include "tessel/postgres/Session.h"

namespace Tessel::Postgres {

struct RoutineArgument {
  std::string name;  // empty when unnamed
  char mode = 'i';   // i in, o out, b inout, v variadic, t table column
};

struct RoutineOverload {
  bool isProcedure = false;
  std::vector<RoutineArgument> arguments;
};

struct Routine {
  std::string schema;
  std::string name;  // as the server spells it
  std::vector<RoutineOverload> overloads;
};

// The routine `name` of `schema`, or nullopt. Throws QueryError when the
// catalogue cannot be read.
std::optional<Routine> FindRoutine(Session& session, const std::string& schema, std::string_view name);

// Calls the routine; gives the server's result (rows, or none for a CALL
// without OUT arguments). Throws QueryError when the call fails, and
// ArgumentError for a date number that is no OLE Automation date.
ResultHandle CallRoutine(Session& session, const Routine& routine,
                         const std::vector<std::shared_ptr<Data::DbParameter>>& parameters);

// The first row of a result as names and values (no row, or a function that
// returns void, gives an empty row).
RoutineRow FirstRow(const PGresult* result);

// Every row of a result as a DataTable named `tableName`: one column per
// result column, typed as ResultDataTypeOf says.
std::shared_ptr<Data::DataTable> ResultTable(const PGresult* result, std::string tableName);

}  // namespace Tessel::Postgres
