#!/usr/bin/env bash
# Fetches the SQLite amalgamation (sqlite3.c, sqlite3.h) into
# third_party/sqlite/src for the builds that compile SQLite themselves
# (TESSEL_BUNDLED_SQLITE=ON: Windows, 32-bit Linux).
#
# The source is SQLite's own autoconf tarball (public domain), as the npm
# package sqlite3@6.0.1 carries it unmodified; the package is fetched with
# npm, pinned by version and checked against its sha256 before anything is
# taken out of it. Does nothing when the files are there already.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
package=sqlite3@6.0.1
package_sha256=ab8d044a93e05bd031d7ea75547c7fa60387cdc259d27f93c0e3e2832c4b1df9
inner=package/deps/sqlite-autoconf-3520000.tar.gz

if [ -f "$here/src/sqlite3.c" ] && [ -f "$here/src/sqlite3.h" ]; then exit 0; fi
command -v npm >/dev/null || { echo "fetch.sh: npm is needed (Debian: npm)" >&2; exit 1; }
download="$here/download"
rm -rf "$download" && mkdir -p "$download"
(cd "$download" && npm pack --silent "$package" >/dev/null)
tarball=$(ls "$download"/*.tgz)
echo "$package_sha256  $tarball" | sha256sum -c --quiet - || { echo "fetch.sh: $package does not match its sha256" >&2; exit 1; }
tar -xzf "$tarball" -C "$download" "$inner"
mkdir -p "$here/src.new"
tar --no-same-owner -xzf "$download/$inner" -C "$here/src.new" --strip-components=1 --wildcards '*/sqlite3.c' '*/sqlite3.h'
rm -rf "$here/src" && mv "$here/src.new" "$here/src"
rm -rf "$download"
echo "fetch.sh: SQLite $(grep -m1 '#define SQLITE_VERSION ' "$here/src/sqlite3.h" | awk '{print $3}') in $here/src" >&2
