// A table whose shape moved in the database after the component read it (a
// column added, or dropped and added back): both roads read the shape again
// once, when the caller names a column the shape they hold lacks, and the
// staging road also after a write that found the shape changed, instead of
// refusing until a new LoadObject.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/data/DataTable.h"

namespace Tessel::Rows {

// The table `name` as the database has it now, past what the component
// remembers (DbConnect::ForgetShape); nullptr when there is none. Errors of
// the database pass through.
std::shared_ptr<Data::DataTable> ReadShapeAgain(DbConnect& component, const std::string& name);

// Moves the component's current table, its rows and the open row, onto the
// shape the database has now, when that shape has `column` (empty: any
// shape). Each value goes to the column of the same name; a value held for a
// column the new shape lacks, a row the new shape refuses or any error
// leaves everything as it was. True when the current table was replaced.
bool ReshapeCurrentTable(DbConnect& component, std::string_view column = {});

}  // namespace Tessel::Rows
