// Adding context to an error on its way out of an operation.
//
// Deep in a transfer the table model knows the column and the value at fault
// but not which record of the caller's queue it was working on; the bridge
// knows that. RethrowWithContext, called from inside a catch handler, puts
// `context` before the text of the Tessel::Error being handled and rethrows
// that same object (so callers can still tell a constraint from a cast
// failure, and a DatabaseError keeps its category). Errors that are not
// Tessel errors are rethrown unchanged.
#pragma once

#include <string>

#include "data/Quoted.h"  // Quoted, for naming values and names in messages

namespace Tessel {

// Must be called while an exception is being handled.
[[noreturn]] void RethrowWithContext(const std::string& context);

}  // namespace Tessel
