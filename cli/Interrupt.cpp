#include "Interrupt.h"

#include <csignal>

namespace Tessel::Cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) {
  interrupted = 1;
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace

void NoteInterrupts() { std::signal(SIGINT, OnInterrupt); }

bool Interrupted() noexcept { return interrupted != 0; }

}  // namespace Tessel::Cli
