#!/usr/bin/env bash
# Sets up, builds and runs every test. Usage: scripts/test.sh [asan]
#   (no argument)  the default build
#   asan           the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer
# PostgreSQL tests run against $TESSEL_PG_URI when it is set; otherwise this
# script starts a throwaway server of its own and stops it at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-default}
"$root/scripts/setup.sh"

if [ -z "${TESSEL_PG_URI:-}" ]; then
  eval "$("$root/.ci/postgres-server.sh" start)"
  trap '"$root/.ci/postgres-server.sh" stop >/dev/null 2>&1 || true' EXIT
fi
export TESSEL_PG_URI

cmake --preset "$preset" -S "$root" >/dev/null
cmake --build "$root/build/$preset"
cd "$root/build/$preset"
ctest --output-on-failure --timeout 900 -j2
