#!/usr/bin/env bash
# Sets up, builds and runs the main job: `tessel demo` on the embedded SQLite
# default (tessel.db in the working directory).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake --preset default -S "$root" >/dev/null
cmake --build "$root/build/default" --target tessel_cli
"$root/build/default/cli/tessel" demo "$@"
