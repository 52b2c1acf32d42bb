#!/usr/bin/env bash
# Sets up, builds in Release and runs the row-transfer benchmark, printing
# each road as rows per second and as a ratio to a baseline measured in the
# same run, with its target and whether it is met.
#
#   scripts/bench.sh [tessel_bench options]
#     --rows N            rows per road (default 1000000)
#     --repeat K          run every road K times, round-robin; the fastest counts
#     --backend B         sqlite, postgres or all (default all)
#     --only R,...        baseline, staging, queued, memory, insert
#
# PostgreSQL roads run against $TESSEL_PG_URI when it is set; otherwise this
# script starts a throwaway server of its own and stops it at the end (not
# with --backend sqlite).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

want_postgres=1
prev=""
for arg in "$@"; do
  if [ "$prev" = "--backend" ] && [ "$arg" = "sqlite" ]; then want_postgres=0; fi
  prev="$arg"
done

cmake --preset release -S "$root" >/dev/null
cmake --build "$root/build/release" --target tessel_bench

if [ "$want_postgres" -eq 1 ] && [ -z "${TESSEL_PG_URI:-}" ]; then
  eval "$("$root/.ci/postgres-server.sh" start)"
  trap '"$root/.ci/postgres-server.sh" stop "$TESSEL_PG_DIR" >/dev/null 2>&1 || true' EXIT
  export TESSEL_PG_URI
fi

echo "uptime before the run: $(uptime)"
"$root/build/release/bench/tessel_bench" "$@"
