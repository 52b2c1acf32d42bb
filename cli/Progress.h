// The load's progress report: a line redrawn in place on a terminal, or
// plain lines every few seconds to anything else.
#pragma once

#include <string>

#include "TesselWrapper/jobs/CsvLoad.h"

namespace Tessel::Cli {

// The progress line for a terminal `columns` wide. It is always narrower
// than the terminal: a line that reached the last column would wrap, and
// the carriage return that starts the next drawing would then go back to the
// start of the wrapped part only, leaving the first part behind. What does
// not fit is left out, the bar first, then the rate and the time left, and
// what still does not fit is cut.
std::string ProgressLine(const Jobs::CsvLoadProgress& progress, int columns);

// The same facts as one line of its own, for a log.
std::string ProgressLogLine(const Jobs::CsvLoadProgress& progress);

// Draws the progress on standard error: in place when it is a terminal
// (measured again at every drawing, so that a narrowed window is
// followed), as log lines otherwise. The line in place is cleared when the
// bar goes.
class ProgressReport {
 public:
  explicit ProgressReport(bool terminal) : terminal_(terminal) {}
  ProgressReport(const ProgressReport&) = delete;
  ProgressReport& operator=(const ProgressReport&) = delete;
  ~ProgressReport();

  void Draw(const Jobs::CsvLoadProgress& progress);

 private:
  bool terminal_;
  bool drawn_ = false;
};

// The width of the terminal on standard error, or 80 when it cannot be told.
int TerminalColumns();

}  // namespace Tessel::Cli
