#!/usr/bin/env bash
# Runs a Windows x86_64 program under Wine the way the tests need it, and is
# the CTest emulator of the win64 build (cmake/toolchains/mingw-w64-*.cmake).
#
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
#
#  - headless and quiet (no DISPLAY, WINEDEBUG=-all);
#  - in a Wine prefix of the project's own, ${TESSEL_WINEPREFIX:-$TMPDIR/tessel-wine64},
#    made at first use (wineboot, about 15 s) and kept;
#  - the wine server stays up between programs (wineserver -p), so that a
#    test program starts in about a second instead of twenty;
#  - WINEPATH holds the MinGW runtime DLLs (libstdc++, libgcc_s, winpthread)
#    and the program's build tree (where the library's DLL is);
#  - ODBC: Wine's odbc32 hands the calls to the build machine's unixODBC,
#    which reads ODBCSYSINI and ODBCINI from this (Unix) environment: unless
#    they are set, they point at the build tree's odbc/ folder, as the native
#    tests do.
# The program's exit status is the script's.
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: wine-run.sh PROGRAM.exe [ARGS...]" >&2
  exit 2
fi
program=$1
shift

wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
if [ ! -x "$wine" ]; then
  echo "wine-run.sh: Wine is not installed (Debian: wine64)" >&2
  exit 1
fi

export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"  # no Mono or Gecko prompts
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="${TESSEL_WINEPREFIX:-${TMPDIR:-/tmp}/tessel-wine64}"
export WINEARCH=win64

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Two first runs at once must not both make the prefix.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
    "$wineserver" -w || true
  fi
  flock -u 9
fi
# A persistent server; a second one for the same prefix exits at once.
"$wineserver" -p >/dev/null 2>&1 || true

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
path=""
add_path() { [ -d "$1" ] && path="${path:+$path;}$(windows_path "$(cd "$1" && pwd)")"; return 0; }
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  found=$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll" 2>/dev/null || true)
  [ -f "$found" ] && add_path "$(dirname "$found")"
done
# The build tree: the nearest folder above the program with a CMakeCache.txt.
dir=$(cd "$(dirname "$program")" && pwd)
root=""
while [ "$dir" != "/" ]; do
  if [ -f "$dir/CMakeCache.txt" ]; then root=$dir; break; fi
  dir=$(dirname "$dir")
done
if [ -n "$root" ]; then
  add_path "$root"
  if [ -z "${ODBCSYSINI:-}" ] && [ -f "$root/odbc/odbcinst.ini" ]; then
    export ODBCSYSINI="$root/odbc" ODBCINI="$root/odbc/odbc.ini"
  fi
fi
export WINEPATH="${path}${WINEPATH:+;$WINEPATH}"

exec "$wine" "$program" "$@"
