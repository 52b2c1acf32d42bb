#!/usr/bin/env bash
# Sets up, builds in Release and runs the row-transfer benchmark, printing
# each road as rows per second and as a ratio to a baseline measured in the
# same run, with its target and whether it is met.
#
#   scripts/bench.sh [tessel_bench options]
#     --rows N            rows per road (default 1000000)
#     --repeat K          run every road K times, round-robin; the fastest counts
#     --backend B         sqlite, postgres or all (default all)
#     --only R,...        baseline, staging, queued, memory, insert, load
#     --load-rows N       rows of the CSV file of the load comparison
#                         (default 1000000); --load-rows 0 leaves it out
#
# The load comparison (bench/load.sh) times `tessel load` against
# `sqlite3 .import` and `psql \copy` on one generated CSV file and reports
# each tool's peak resident memory.
#
# PostgreSQL roads run against $TESSEL_PG_URI when it is set; otherwise this
# script starts a throwaway server of its own and stops it at the end (not
# with --backend sqlite).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

backend=all
load_rows=1000000
repeat=1
run_roads=1 run_load=1
bench_args=()  # what tessel_bench gets: all but the load's own options
while [ $# -gt 0 ]; do
  case "$1" in
    --load-rows) load_rows=$2; shift 2; continue ;;
    --backend) backend=$2 ;;
    --repeat) repeat=$2 ;;
    --only)
      # "load" is this script's; the roads go to tessel_bench.
      [[ ",$2," == *,load,* ]] || run_load=0
      roads=$(echo ",$2," | sed 's/,load,/,/g; s/^,*//; s/,*$//')
      if [ -z "$roads" ]; then run_roads=0; else bench_args+=(--only "$roads"); fi
      shift 2
      continue
      ;;
  esac
  bench_args+=("$1")
  if [ $# -gt 1 ] && [[ "$1" == --backend || "$1" == --repeat || "$1" == --rows || "$1" == --seed || "$1" == --tmpdir ]]; then
    bench_args+=("$2")
    shift
  fi
  shift
done
want_postgres=1
[ "$backend" = sqlite ] && want_postgres=0
[ "$load_rows" = 0 ] && run_load=0

# The load comparison's peers and its memory gauge.
if [ "$run_load" = 1 ]; then
  missing=()
  command -v /usr/bin/time >/dev/null || missing+=(time)
  command -v sqlite3 >/dev/null || missing+=(sqlite3)
  command -v psql >/dev/null || missing+=(postgresql-client)
  if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
fi

cmake --preset release -S "$root" >/dev/null
cmake --build "$root/build/release" --target tessel_bench tessel_cli

if [ "$want_postgres" -eq 1 ] && [ -z "${TESSEL_PG_URI:-}" ]; then
  eval "$("$root/.ci/postgres-server.sh" start)"
  trap '"$root/.ci/postgres-server.sh" stop "$TESSEL_PG_DIR" >/dev/null 2>&1 || true' EXIT
  export TESSEL_PG_URI
fi

echo "uptime before the run: $(uptime)"
if [ "$run_roads" = 1 ]; then
  "$root/build/release/bench/tessel_bench" "${bench_args[@]}"
fi
if [ "$run_load" = 1 ]; then
  "$root/bench/load.sh" "$root/build/release/cli/tessel" "$load_rows" "$repeat" "$backend"
fi
