#!/usr/bin/env bash
# The include direction of the library's layers, checked: a layer includes
# the public headers, its own folder, and only what a lower layer declares
# for the layers above it. Exits non-zero, naming each breach.
#
#   include/TesselWrapper/   the public headers: only each other
#   data/                    the table model and text: public headers, data/
#   tessel/                  the component's shared files: + tessel/
#   tessel/dialect/<db>/     the rules of one database: public headers, data/,
#                            the shared tessel/*.h and its own folder (no
#                            driver, no other database, no driver's API)
#   tessel/<driver>/         sqlite, postgres, odbc: public headers, data/,
#                            the shared tessel/*.h, tessel/dialect/ and its
#                            own folder, never another driver's
#   bridge/ rows/            the bridge object: public headers, bridge/, and
#   procedures/ component/   the helpers data/ declares for the whole
#                            library (NumberText.h, Quoted.h, Utf8.h,
#                            TableLoad.h)
#   jobs/                    the jobs the tool runs: public headers, jobs/,
#                            and the same data/ helpers
#   cli/                     the tool: public headers and its own headers (it links
#                            the shared library, whose internals are hidden)
set -euo pipefail
cd "$(dirname "$0")/.."

shared='data/(NumberText|Quoted|Utf8|TableLoad)\.h'
status=0
check() {  # FOLDERS... -- ALLOWED-REGEX
  local folders=() allowed
  while [ "$1" != "--" ]; do folders+=("$1"); shift; done
  allowed=$2
  local breaches
  breaches=$(grep -rnE '^#include "' "${folders[@]}" --include='*.h' --include='*.cpp' \
               | grep -vE "#include \"($allowed)" || true)
  if [ -n "$breaches" ]; then
    echo "layers: ${folders[*]} may include only \"($allowed)...\":" >&2
    echo "$breaches" >&2
    status=1
  fi
}

check include/TesselWrapper -- 'TesselWrapper/'
check data -- 'TesselWrapper/|data/'
check tessel -- 'TesselWrapper/|data/|tessel/'
top='TesselWrapper/|data/|tessel/[^/"]+"'
for db in tessel/dialect/*/; do
  db=${db%/}
  check "$db" -- "$top|$db/"
  # A rule takes plain values (codes, texts); the driver extracts them.
  api=$(grep -rnE '^#include <(sqlite3|libpq-fe|libpq/[^>]*|postgres_ext|sql|sqlext|sqltypes|sqlucode)\.h>' "$db" || true)
  if [ -n "$api" ]; then
    echo "layers: $db may not include a driver's API:" >&2
    echo "$api" >&2
    status=1
  fi
done
for driver in tessel/sqlite tessel/postgres tessel/odbc; do
  check "$driver" -- "$top|tessel/dialect/|$driver/"
done
check bridge rows procedures component -- "TesselWrapper/|bridge/|$shared"
check jobs -- "TesselWrapper/|jobs/|$shared"
check cli -- 'TesselWrapper/|cli/|[^/"]+"'
[ "$status" -eq 0 ] && echo "layers: every include goes the right way"
exit "$status"
