// Routines on SQLite, which has no stored procedures of its own.
//
// Conventions:
//  - A table set's routines live in its catalogue table
//      CREATE TABLE tessel_procedures(name TEXT PRIMARY KEY, body TEXT NOT NULL);
//    one row per routine: its name and its SQL, one or more statements
//    separated by ';'. A routine is found by its name exactly, failing that
//    by the one name that matches without regard to case; no catalogue means
//    no routines.
//  - The statements run in order, all in one transaction (BEGIN IMMEDIATE):
//    either every statement takes effect or none does. A body cannot end that
//    transaction itself: BEGIN fails, and COMMIT, END or ROLLBACK in a body
//    fail the routine and undo it. (SAVEPOINT / RELEASE / ROLLBACK TO work.)
//  - Parameters are bound per statement. A named parameter :x, @x or $x takes
//    the argument whose name, without a leading '@', ':' or '$', is x (the
//    name exactly first, then the one name matching without regard to case).
//    A positional parameter ? or ?N takes the argument at that position in
//    the list (the first is ?1; a bare ? takes the position after the
//    previous parameter of its statement). A parameter without an argument
//    fails the routine; arguments nothing refers to are ignored. Directions
//    are not looked at: every argument is an input.
//  - Argument values: DBNull -> NULL, booleans -> 0/1, integers -> integer,
//    doubles -> real (but with DbType Date, DateTime or DateTime2 a double is
//    an OLE Automation date and goes in as ISO text "YYYY-MM-DD HH:MM:SS"),
//    text -> text, dates -> ISO text, bytes -> blob.
//  - The result is the last statement of the body that returns rows (a
//    SELECT, a PRAGMA that answers, or a statement with RETURNING), even when
//    it returned none. ExecuteStoredProcedure reports its first row as
//    "name=value;" pieces, and that row's first column as the integer result
//    when it is an integer; no such statement or no row: "" and 0.
//  - GetMaxSolnIdCaseId runs the routine of that name with the model directory
//    as the value of every parameter in its body, and returns all rows of its
//    result.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TesselWrapper/data/DbParameter.h"
#include "TesselWrapper/data/Value.h"

namespace Tessel::Sqlite {

struct Routine {
  std::string name;  // as the catalogue spells it
  std::string body;
};

// The routine that `name` picks in the schema's catalogue; nullopt when there
// is none or no catalogue. Throws DatabaseError when the catalogue cannot be read.
std::optional<Routine> FindRoutine(sqlite3* db, const std::string& schema, const std::string& name);

// Where the body's parameters take their values from: the argument list, or
// (when `every` is set) one value for all of them.
struct RoutineArguments {
  const std::vector<std::shared_ptr<Data::DbParameter>>* parameters = nullptr;
  const Data::Value* every = nullptr;
};

struct RoutineResult {
  bool ok = false;
  std::string message;     // on failure: the reason, naming the routine and the statement
  int errorCode = 0;       // on failure: SQLite's extended result code, when SQLite failed
  bool hasResult = false;  // a statement returning rows ran
  std::vector<std::string> columns;
  std::vector<std::vector<Data::Value>> rows;  // its first row, or all rows when asked
};

// Runs the routine's body in one transaction as the file comment says; on
// failure rolls back. Throws ArgumentError when an argument's value cannot be
// bound (an OLE Automation date out of range), after rolling back.
// `db` must be open and not inside a transaction.
RoutineResult RunRoutine(sqlite3* db, const Routine& routine, const RoutineArguments& arguments,
                         bool allRows);

}  // namespace Tessel::Sqlite
