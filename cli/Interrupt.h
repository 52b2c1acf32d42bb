// Ctrl-C during a command that writes. The first SIGINT is only noted: the
// work stops where it can still roll back (a load at its next progress
// report), so that "nothing was written" is a fact when it is said. A second
// SIGINT ends the process at once, as it would without this.
#pragma once

#include <stdexcept>

namespace Tessel::Cli {

// Installs the handler for SIGINT.
void NoteInterrupts();

// Whether SIGINT came since NoteInterrupts.
bool Interrupted() noexcept;

// Thrown where the work notices Interrupted(), to unwind it.
class InterruptedError : public std::runtime_error {
 public:
  InterruptedError() : std::runtime_error("interrupted") {}
};

}  // namespace Tessel::Cli
