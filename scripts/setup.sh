#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test TesselWrapper.
# Checks first; runs `apt-get update` once, and only when something is missing.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libsqlite3-dev libpq-dev libgtest-dev libgmock-dev
          libbenchmark-dev libcli11-dev postgresql sqlite3 tmux
          unixodbc-dev odbc-postgresql libsqliteodbc)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
