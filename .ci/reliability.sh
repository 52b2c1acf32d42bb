#!/usr/bin/env bash
# Reliability checks beyond the test suite, in stages:
#
#   1. fuzz build      the `fuzz` preset (clang, libFuzzer, ASan, UBSan)
#   2. regressions     every saved input of fuzz/regressions/<harness>/ once
#   3. fuzzing         every harness for TESSEL_FUZZ_SECONDS (default 60) on
#                      one core, from its seed corpus (fuzz/corpus/<harness>/),
#                      two harnesses at a time on a 2-core machine
#   4. tsan            the `tsan` preset, and under it the contention test
#                      and the end-to-end suite's long queues and loads
#   5. memcheck        valgrind over the end-to-end suite on SQLite (default
#                      build)
#
# Any finding (a crash or oracle violation, a saved input that fails again, a
# data race, a memcheck error in our code) fails the script; a fuzzing finding
# is printed with the command that reproduces it. Executions per harness and
# each stage's time are printed. PostgreSQL parts use TESSEL_PG_URI, or a
# throwaway server this script starts and stops.
#
#   .ci/reliability.sh                     everything
#   TESSEL_FUZZ_SECONDS=10 .ci/reliability.sh
#   .ci/reliability.sh fuzz tsan           only some stages (build, regressions
#                                          and fuzzing are "fuzz")
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

fuzz_seconds=${TESSEL_FUZZ_SECONDS:-60}
stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(fuzz tsan memcheck)
wants() { local s; for s in "${stages[@]}"; do [ "$s" = "$1" ] && return 0; done; return 1; }

failures=()
timings=()
script_start=$(date +%s)
fail() { failures+=("$1"); echo "FINDING: $1" >&2; }
now() { date +%s.%N; }
stage_done() {  # name start
  local took
  took=$(awk -v a="$2" -v b="$(now)" 'BEGIN { printf "%.0f", b - a }')
  timings+=("$(printf '%-28s %5s s' "$1" "$took")")
  echo "== $1: ${took} s"
}

# What the stages need and a fresh machine may lack (Debian packages).
need=()
command -v clang++ >/dev/null || need+=(clang)
dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed" ||
  need+=(libclang-rt-14-dev)
command -v valgrind >/dev/null || need+=(valgrind)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  echo "reliability: installing ${need[*]}"
  $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tessel-reliability.XXXXXX")
pg_started=""
cleanup() {
  if [ -n "$pg_started" ]; then "$root/.ci/postgres-server.sh" stop "$pg_started" >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The tests that need PostgreSQL get a server: the caller's, or one of ours.
ensure_postgres() {
  [ -n "${TESSEL_PG_URI:-}" ] && return 0
  pg_started="$work/pg"
  eval "$("$root/.ci/postgres-server.sh" start "$pg_started")" || { fail "could not start a PostgreSQL server"; return 1; }
  export TESSEL_PG_URI
}

harnesses() {
  local exe
  for exe in build/fuzz/fuzz/fuzz_*; do [ -x "$exe" ] && basename "$exe" | sed 's/^fuzz_//'; done
}

# Runs one harness for fuzz_seconds from a copy of its seed corpus (the saved
# seeds stay as they are); writes a one-line summary to $work/<harness>.summary.
fuzz_one() {
  local h=$1 dir="$work/fuzz-$1"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  local seeds="fuzz/corpus/$h"
  [ -d "$seeds" ] || seeds=""
  local start end rc
  start=$(now)
  # -close_fd_mask=1: the harnesses' own output is not needed; libFuzzer's
  # report goes to stderr.
  "build/fuzz/fuzz/fuzz_$h" "$dir/corpus" $seeds -max_total_time="$fuzz_seconds" -timeout=20 \
    -rss_limit_mb=3072 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" -close_fd_mask=1 \
    >"$dir/log" 2>&1
  rc=$?
  end=$(now)
  local runs
  runs=$(grep -a 'stat::number_of_executed_units' "$dir/log" | awk '{print $2}' | tail -1)
  [ -z "$runs" ] && runs=$(grep -a -o '^#[0-9]*' "$dir/log" | tail -1 | tr -d '#')
  [ -z "$runs" ] && runs=0
  awk -v h="$h" -v r="$runs" -v a="$start" -v b="$end" -v rc="$rc" \
    'BEGIN { t = b - a; printf "%-20s %10d inputs in %5.1f s = %8.0f inputs/s%s\n", h, r, t, r / t, (rc ? "  FINDING" : "") }' \
    >"$work/$h.summary"
  return $rc
}

report_fuzz_finding() {
  local h=$1 dir="$work/fuzz-$1" artifact
  echo "---- $h: libFuzzer report (last lines) ----" >&2
  grep -a -v '^#[0-9]\|NEW_FUNC\|^	NEW' "$dir/log" | tail -n 40 >&2
  for artifact in "$dir"/artifacts/*; do
    [ -f "$artifact" ] || continue
    local keep="$root/build/fuzz/findings/$h"
    mkdir -p "$keep"
    cp "$artifact" "$keep/"
    echo "reproducer: build/fuzz/fuzz/fuzz_$h build/fuzz/findings/$h/$(basename "$artifact")" >&2
    echo "  (base64: $(base64 -w0 "$artifact" | head -c 600))" >&2
    echo "  once fixed, keep it: cp build/fuzz/findings/$h/$(basename "$artifact") fuzz/regressions/$h/" >&2
  done
  fail "fuzzing $h"
}

if wants fuzz; then
  t=$(now)
  if ! command -v clang++ >/dev/null; then
    fail "clang++ is missing (apt-get install clang libclang-rt-14-dev)"
  elif cmake --preset fuzz >"$work/fuzz-configure.log" 2>&1 && cmake --build build/fuzz >"$work/fuzz-build.log" 2>&1; then
    stage_done "fuzz build" "$t"

    t=$(now)
    for h in $(harnesses); do
      inputs=()
      for f in "fuzz/regressions/$h"/*; do
        [ -f "$f" ] && [ "$(basename "$f")" != README ] && inputs+=("$f")
      done
      [ ${#inputs[@]} -eq 0 ] && continue
      if "build/fuzz/fuzz/fuzz_$h" "${inputs[@]}" >"$work/regress-$h.log" 2>&1; then
        echo "regressions $h: ${#inputs[@]} saved inputs pass"
      else
        grep -a -A12 'oracle violated\|ERROR:' "$work/regress-$h.log" | head -n 40 >&2
        echo "reproduce: for f in ${inputs[*]}; do build/fuzz/fuzz/fuzz_$h \$f; done" >&2
        fail "a saved input of fuzz/regressions/$h fails again"
      fi
    done
    stage_done "regression replay" "$t"

    t=$(now)
    all=($(harnesses))
    parallel=$(( $(nproc) > 1 ? 2 : 1 ))
    echo "fuzzing ${#all[@]} harnesses, ${fuzz_seconds} s each, $parallel at a time"
    for ((i = 0; i < ${#all[@]}; i += parallel)); do
      pids=()
      for ((j = i; j < i + parallel && j < ${#all[@]}; ++j)); do
        fuzz_one "${all[j]}" &
        pids+=("$!:${all[j]}")
      done
      for entry in "${pids[@]}"; do
        wait "${entry%%:*}" || report_fuzz_finding "${entry#*:}"
      done
    done
    echo "executions per harness:"
    cat "$work"/*.summary
    stage_done "fuzzing" "$t"
  else
    tail -n 30 "$work/fuzz-build.log" "$work/fuzz-configure.log" 2>/dev/null >&2
    fail "the fuzz preset does not build"
  fi
fi

if wants tsan; then
  t=$(now)
  ensure_postgres
  if cmake --preset tsan >"$work/tsan-configure.log" 2>&1 &&
     cmake --build build/tsan --target tessel_contention_tests tessel_e2e_tests >"$work/tsan-build.log" 2>&1; then
    # halt_on_error: the first race fails the run, with both stacks. In the
    # end-to-end suite's long queues and many-batch CSV loads, one thread
    # converts rows while another writes them.
    if TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" CI=true \
         build/tsan/tests/faults/tessel_contention_tests >"$work/tsan.log" 2>&1 &&
       TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" CI=true \
         build/tsan/tests/e2e/tessel_e2e_tests --gtest_filter='*LargeQueue*:*LargeLoad*' >>"$work/tsan.log" 2>&1; then
      grep -a 'road:\|OK \]' "$work/tsan.log"
      echo "tsan: no data race"
    else
      grep -a -A40 'WARNING: ThreadSanitizer\|FAILED\|Failure' "$work/tsan.log" | head -n 80 >&2
      fail "the contention test under ThreadSanitizer"
    fi
  else
    tail -n 30 "$work/tsan-build.log" >&2
    fail "the tsan preset does not build"
  fi
  stage_done "tsan: contention, long queues, loads" "$t"
fi

if wants memcheck; then
  t=$(now)
  # No suppressions: on Debian 12 (glibc 2.36, SQLite 3.40, libpq 15) the
  # suite runs without a single memcheck error, third-party code included.
  # Should a system library ever need one, it goes into a suppression file
  # here with the reason, never a frame of this project.
  if ! command -v valgrind >/dev/null; then
    fail "valgrind is missing (apt-get install valgrind)"
  elif cmake --preset default >"$work/default-configure.log" 2>&1 &&
       cmake --build build/default --target tessel_e2e_tests >"$work/default-build.log" 2>&1; then
    valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
      --show-leak-kinds=definite,indirect --track-origins=yes --num-callers=30 \
      build/default/tests/e2e/tessel_e2e_tests --gtest_filter='*Sqlite*' >"$work/memcheck.log" 2>&1
    rc=$?
    grep -a 'ERROR SUMMARY\|PASSED\|tests ran\|definitely lost\|indirectly lost' "$work/memcheck.log"
    if [ $rc -eq 99 ]; then
      grep -a -B2 -A30 'Invalid\|uninitialised\|Conditional jump\|blocks are definitely\|blocks are indirectly' \
        "$work/memcheck.log" | head -n 120 >&2
      fail "valgrind memcheck found errors in the end-to-end suite on SQLite"
    elif [ $rc -ne 0 ]; then
      grep -a '^\[  FAILED' "$work/memcheck.log" >&2
      fail "end-to-end tests on SQLite failed under valgrind (no memcheck error)"
    fi
  else
    tail -n 30 "$work/default-build.log" >&2
    fail "the default preset does not build tessel_e2e_tests"
  fi
  stage_done "memcheck e2e (SQLite)" "$t"
fi

echo
echo "stage times:"
printf '  %s\n' "${timings[@]}"
echo "  total                        $(( $(date +%s) - script_start )) s"
if [ ${#failures[@]} -ne 0 ]; then
  echo "reliability: ${#failures[@]} finding(s):" >&2
  printf '  - %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "reliability: no findings"
