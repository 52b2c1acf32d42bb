#!/usr/bin/env bash
# The CSV load against the databases' own import tools, on the same file in
# the same run: `tessel load` into SQLite against `sqlite3 .import`, and into
# PostgreSQL against `psql \copy`. Prints each tool's best time of REPEAT
# runs, tessel's speed as a ratio of each peer's (target >= 1.00), and the
# peak resident memory of every run (target for tessel: <= 64 MB).
#
#   bench/load.sh TESSEL ROWS REPEAT [sqlite|postgres|all]
#
# TESSEL is the tool to measure (build/release/cli/tessel); PostgreSQL runs
# against $TESSEL_PG_URI. Needs sqlite3, psql and GNU time (/usr/bin/time);
# scripts/bench.sh installs them.
set -euo pipefail
tessel=$1 rows=$2 repeat=$3 backend=${4:-all}
work=$(mktemp -d "${TMPDIR:-/tmp}/tessel-load-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The file: 8 columns of the kinds a load meets (a key, integers, reals, a
# date, texts), generated the same for every run.
csv="$work/rows.csv"
awk -v n="$rows" 'BEGIN {
  print "id,a,b,x,y,stamp,label,note"
  for (i = 0; i < n; ++i) {
    s = i % 86400
    printf "%d,%d,%d,%.3f,%.6f,2024-%02d-%02d %02d:%02d:%02d,label %d,\"note, number %d\"\n",
      i, i * 7, -i, i * 0.5, i / 3.0, 1 + i % 12, 1 + i % 28, int(s / 3600), int(s / 60) % 60, s % 60, i, i
  }
}' >"$csv"
size_mib=$(awk -v b="$(stat -c %s "$csv")" 'BEGIN { printf "%.1f", b / 1048576 }')
echo "load: $rows rows of 8 columns, $size_mib MiB of CSV; best of $repeat run(s) per tool"

# Runs a command, records its seconds and peak resident memory (KiB) in
# $seconds and $peak_kib; fails when the command fails.
measure() {
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$work/time" "$@" >"$work/out" 2>&1 || {
    cat "$work/out" >&2
    return 1
  }
  end=$(date +%s.%N)
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
  peak_kib=$(tail -n 1 "$work/time")
}

# best_of NAME RESET-COMMAND -- COMMAND...: the fastest of $repeat runs,
# each after RESET empties the table; sets best_seconds and best_peak_kib.
best_of() {
  local name=$1 reset=$2
  shift 3
  best_seconds="" best_peak_kib=0
  for ((r = 1; r <= repeat; ++r)); do
    eval "$reset"
    measure "$@"
    printf '  [round %d/%d] %-34s %8.3f s  peak %6.1f MiB\n' "$r" "$repeat" "$name" "$seconds" \
      "$(awk -v k="$peak_kib" 'BEGIN { print k / 1024 }')"
    if [ -z "$best_seconds" ] || awk -v a="$seconds" -v b="$best_seconds" 'BEGIN { exit !(a < b) }'; then
      best_seconds=$seconds
    fi
    if ((peak_kib > best_peak_kib)); then best_peak_kib=$peak_kib; fi
  done
}

# The ratio line: tessel's speed over the peer's (seconds of the peer over
# seconds of tessel), with the targets.
report() {  # BACKEND PEER PEER_SECONDS TESSEL_SECONDS PEER_PEAK TESSEL_PEAK
  awk -v be="$1" -v peer="$2" -v ps="$3" -v ts="$4" -v pp="$5" -v tp="$6" -v n="$rows" 'BEGIN {
    ratio = ps / ts
    printf "load %-10s tessel %8.0f rows/s, %-16s %8.0f rows/s: ratio %.2f (target >= 1.00, %s)\n",
      be, n / ts, peer, n / ps, ratio, (ratio >= 1.0 ? "met" : "NOT met")
    printf "load %-10s peak memory: tessel %.1f MiB (target <= 64 MB, %s), %s %.1f MiB\n",
      be, tp / 1024, (tp * 1024 <= 64e6 ? "met" : "NOT met"), peer, pp / 1024
  }'
}

columns_sqlite="id INTEGER PRIMARY KEY, a INTEGER, b INTEGER, x REAL, y REAL, stamp DATETIME, label TEXT, note TEXT"
columns_postgres="id int8 PRIMARY KEY, a int8, b int8, x float8, y float8, stamp timestamp, label text, note text"

count_sqlite() { sqlite3 "$1" "SELECT count(*) FROM t"; }
check_count() {  # TOOL COUNT
  if [ "$2" != "$rows" ]; then
    echo "load: $1 left $2 rows in the table, not $rows" >&2
    exit 1
  fi
}

if [ "$backend" = all ] || [ "$backend" = sqlite ]; then
  db="$work/load.db"
  reset_sqlite="rm -f '$db'; sqlite3 '$db' 'CREATE TABLE t ($columns_sqlite)'"
  best_of "sqlite3 .import --csv" "$reset_sqlite" -- sqlite3 "$db" ".import --csv --skip 1 $csv t"
  check_count "sqlite3 .import" "$(count_sqlite "$db")"
  peer_seconds=$best_seconds peer_peak=$best_peak_kib
  best_of "tessel load (SQLite)" "$reset_sqlite" -- "$tessel" load --db "sqlite:$db" --table t "$csv"
  check_count "tessel load" "$(count_sqlite "$db")"
  report SQLite "sqlite3 .import" "$peer_seconds" "$best_seconds" "$peer_peak" "$best_peak_kib"
fi

if [ "$backend" = all ] || [ "$backend" = postgres ]; then
  : "${TESSEL_PG_URI:?bench/load.sh needs TESSEL_PG_URI for PostgreSQL}"
  psql -q -X "$TESSEL_PG_URI" -c "SET client_min_messages = warning" -c "DROP TABLE IF EXISTS tessel_load_bench" -c "CREATE TABLE tessel_load_bench ($columns_postgres)"
  reset_postgres="psql -q -X '$TESSEL_PG_URI' -c 'TRUNCATE tessel_load_bench'"
  count_postgres() { psql -q -X -At "$TESSEL_PG_URI" -c "SELECT count(*) FROM tessel_load_bench"; }
  best_of "psql \\copy CSV HEADER" "$reset_postgres" -- \
    psql -q -X "$TESSEL_PG_URI" -c "\\copy tessel_load_bench FROM '$csv' CSV HEADER"
  check_count "psql \\copy" "$(count_postgres)"
  peer_seconds=$best_seconds peer_peak=$best_peak_kib
  best_of "tessel load (PostgreSQL)" "$reset_postgres" -- \
    "$tessel" load --db "$TESSEL_PG_URI" --table tessel_load_bench "$csv"
  check_count "tessel load" "$(count_postgres)"
  report PostgreSQL "psql \\copy" "$peer_seconds" "$best_seconds" "$peer_peak" "$best_peak_kib"
  psql -q -X "$TESSEL_PG_URI" -c "DROP TABLE tessel_load_bench"
fi
