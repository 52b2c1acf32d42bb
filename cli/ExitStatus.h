// The tool's exit statuses, and the choice between them for a failure: a
// caller (a script, a scheduler) learns from the status alone whether running
// the same command again may help.
#pragma once

#include <exception>

namespace Tessel::Cli {

inline constexpr int kExitSucceeded = 0;
inline constexpr int kExitFailed = 1;  // lasting: rerunning the same command cannot help
inline constexpr int kExitWrongCommandLine = 2;
inline constexpr int kExitRerun = 75;         // the cause may pass: run the same command again
inline constexpr int kExitInterrupted = 130;  // Ctrl-C, with nothing written

// What every command's help says of statuses 75 and 130.
inline constexpr const char* kExitRerunText =
    "75 when it failed for a cause that may pass (a busy or locked database, a lost or refused "
    "connection, a table changed meanwhile): running the same command again may succeed";

// kExitRerun for a failure whose category asks for a rerun or a schema
// change (Tessel::DatabaseError::Category(), or the retry text a returned
// failure's message carries), kExitFailed for anything else.
int ExitStatusOf(const std::exception& failure) noexcept;

}  // namespace Tessel::Cli
