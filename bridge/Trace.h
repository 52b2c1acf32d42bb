// A debug trace for diagnostics that must never change an operation's
// outcome: rows a table refused on the queued road, the row-count check after
// a queued transfer, and a table flushed under the empty name twice in a row.
//
// Off by default. It is on while the environment variable TESSEL_TRACE is set
// to anything but the empty text or "0"; each line then goes to stderr,
// prefixed with "tessel: ". Tracing never throws and never aborts.
//
// Thread-safe: the variable is read on each query and every line is written
// with one call.
#pragma once

#include <string_view>

namespace Tessel::Trace {

// True while TESSEL_TRACE asks for the trace. Paths that would have to build
// a line at some cost ask this first.
bool Enabled() noexcept;

// Writes one line when the trace is on; does nothing otherwise.
void Line(std::string_view text) noexcept;

}  // namespace Tessel::Trace
