#!/usr/bin/env bash
# The platforms beyond the native 64-bit Linux build, each stage timed:
#
#   setup     the packages these stages need (checked with dpkg-query;
#             `apt-get update` once, and only when something is missing) and
#             the SQLite amalgamation (third_party/sqlite/fetch.sh)
#   server    a throwaway PostgreSQL server, unless TESSEL_PG_URI is set
#   odbc      native build (build/odbc): the ODBC backend's tests and the
#             end-to-end suite on every backend, ODBC->SQLite and
#             ODBC->PostgreSQL included, and the ODBC benchmark line
#   linux32   i686 build (gcc -m32, bundled SQLite), the whole
#             suite under qemu-i386
#   win64     MinGW-w64 x86_64 build, the suite under Wine (SQLite files, and
#             ODBC to the throwaway server), the DLL's export table
#   win32     MinGW-w64 i686 build of the DLL and the tool, export table
#             checked; not run (this machine runs no 32-bit Windows code)
#
#   .ci/platforms.sh [STAGE ...]     (default: all of them, in that order)
#
# Environment: BENCH_ROWS (default 200000) for the benchmark line; JOBS for
# the builds (default: the number of cores). Exits non-zero when a stage
# fails; the stages after it still run, and the summary says which failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${JOBS:-$(nproc)}
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(setup server odbc linux32 win64 win32)

SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
summary=()
failed=0

stage_setup() {
  local packages=(cmake ninja-build g++ pkg-config libsqlite3-dev libpq-dev libgtest-dev libgmock-dev googletest
                  libcli11-dev postgresql sqlite3 file
                  unixodbc unixodbc-dev odbc-postgresql libsqliteodbc
                  gcc-multilib g++-multilib qemu-user
                  g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine64)
  command -v npm >/dev/null || packages+=(npm)
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "platforms: installing ${missing[*]}"
    $SUDO apt-get update -qq || return 1
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
      return 1
  fi
  third_party/sqlite/fetch.sh
}

stage_server() {
  if [ -n "${TESSEL_PG_URI:-}" ]; then
    echo "platforms: using TESSEL_PG_URI=$TESSEL_PG_URI"
    return 0
  fi
  eval "$(.ci/postgres-server.sh start)" || return 1
  export TESSEL_PG_URI
  started_server=1
}

# ctest, with every test that needs a driver or the server required to run.
run_ctest() {
  TESSEL_REQUIRE_ODBC=1 ctest "$@"
}

stage_odbc() {
  cmake -S . -B build/odbc -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || return 1
  cmake --build build/odbc -j "$jobs" --target tessel_odbc_tests tessel_e2e_tests tessel_bench_odbc TesselWrapper ||
    return 1
  (cd build/odbc && run_ctest -j "$jobs" --output-on-failure -R 'Odbc|EndToEnd') || return 1
  ODBCSYSINI="$root/build/odbc/odbc" ODBCINI="$root/build/odbc/odbc/odbc.ini" \
    build/odbc/bench/tessel_bench_odbc --rows "${BENCH_ROWS:-200000}"
}

stage_linux32() {
  cmake --preset linux32 >/dev/null || return 1
  cmake --build --preset linux32 -j "$jobs" || return 1
  # No 32-bit ODBC driver manager or libpq on this machine: those backends
  # are not in this build (README, "32-bit").
  ctest --preset linux32 -j "$jobs"
}

# The reference is a 64-bit Linux build with the ODBC backend: the odbc
# stage's, or else the default preset's (CI runs that one before).
stage_win64() {
  local reference="$root/build/odbc/libTesselWrapper.so"
  [ -f "$reference" ] || reference="$root/build/default/libTesselWrapper.so"
  cmake --preset win64 -DTESSEL_REFERENCE_LIBRARY="$reference" >/dev/null || return 1
  cmake --build --preset win64 -j "$jobs" || return 1
  # One Wine server for the whole run (a cold start costs ~15 s per program).
  scripts/wine-run.sh cmd /c exit 0 >/dev/null 2>&1 || true
  run_ctest --preset win64 -j "$jobs"
}

# The reference is the 32-bit Linux build of the linux32 stage.
stage_win32() {
  cmake --preset win32 -DTESSEL_REFERENCE_LIBRARY="$root/build/linux32/libTesselWrapper.so" >/dev/null || return 1
  cmake --build --preset win32 -j "$jobs" || return 1  # the tests too: built, not run
  # The export check alone, called as its test (dll_exports) calls it: ctest
  # would list every test program first, by running it, and a machine that
  # runs no 32-bit code cannot.
  bash tests/platform/check_exports.sh build/win32/libTesselWrapper.dll "$root/build/linux32/libTesselWrapper.so"
}

started_server=0
cleanup() {
  if [ "$started_server" = 1 ]; then .ci/postgres-server.sh stop >/dev/null 2>&1 || true; fi
  if command -v wineserver >/dev/null; then
    WINEPREFIX="${TESSEL_WINEPREFIX:-${TMPDIR:-/tmp}/tessel-wine64}" wineserver -k >/dev/null 2>&1 || true
  fi
}
trap cleanup EXIT

total_start=$(date +%s)
for stage in "${stages[@]}"; do
  if ! declare -F "stage_$stage" >/dev/null; then
    echo "platforms: unknown stage '$stage'" >&2
    exit 2
  fi
  echo "=== platforms: $stage"
  start=$(date +%s)
  if "stage_$stage"; then result=passed; else result=FAILED; failed=1; fi
  seconds=$(($(date +%s) - start))
  echo "=== platforms: $stage $result in ${seconds} s"
  summary+=("$(printf '%-8s %-7s %5d s' "$stage" "$result" "$seconds")")
done

echo
echo "platforms: stage    result   time"
for line in "${summary[@]}"; do echo "platforms: $line"; done
echo "platforms: total            $(($(date +%s) - total_start)) s"
exit "$failed"
