#!/usr/bin/env bash
# A throwaway PostgreSQL server for tests and CI.
#
#   postgres-server.sh start [DIR]   initdb a fresh cluster (in DIR, or in a new
#                                    temporary folder), start it on a free port
#                                    of 127.0.0.1 and on a socket in that folder,
#                                    with trust authentication, and create the
#                                    database tessel_test. Prints shell lines
#                                    exporting TESSEL_PG_URI and TESSEL_PG_DIR:
#                                      eval "$(bash .ci/postgres-server.sh start)"
#   postgres-server.sh env [DIR]     prints the same lines for a running server
#   postgres-server.sh stop [DIR]    stops the server and removes its folder
#   postgres-server.sh crash [DIR]   stops the server at once, as a crash would
#                                    (no shutdown checkpoint, clients cut off),
#                                    and keeps its folder
#   postgres-server.sh recover [DIR] starts a crashed or stopped server again on
#                                    its port, with its data (crash recovery)
#
# DIR defaults to $TESSEL_PG_DIR, then to the server this script started last
# (remembered in ${TMPDIR:-/tmp}/tessel-pg.last). Progress goes to stderr, so
# that stdout carries only the export lines.
#
# PostgreSQL refuses to run as root, so as root the server runs as the
# `postgres` user in a folder that user owns. When initdb or pg_ctl is missing
# the package `postgresql` is installed (one apt-get update first).
set -euo pipefail

PG_USER=postgres
DB_NAME=tessel_test
LAST_FILE="${TMPDIR:-/tmp}/tessel-pg.last"

log() { echo "postgres-server: $*" >&2; }
die() { log "$*"; exit 1; }

# Runs a command as the server's owner: directly when we are that user (or an
# unprivileged user running its own server), through runuser when root.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u "$PG_USER" -- "$@"
  else
    "$@"
  fi
}

# The folder holding initdb and pg_ctl: the newest PostgreSQL under
# /usr/lib/postgresql first (the PATH may hold only the client wrappers), then
# the PATH.
find_bindir() {
  local dir
  for dir in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -t/ -k5,5 -rn); do
    if [ -x "$dir/initdb" ] && [ -x "$dir/pg_ctl" ] && [ -x "$dir/postgres" ]; then
      echo "$dir"
      return 0
    fi
  done
  local initdb
  initdb="$(command -v initdb 2>/dev/null || true)"
  if [ -n "$initdb" ]; then
    initdb="$(readlink -f "$initdb")"
    dir="$(dirname "$initdb")"
    if [ -x "$dir/pg_ctl" ] && [ -x "$dir/postgres" ]; then
      echo "$dir"
      return 0
    fi
  fi
  return 1
}

ensure_server_installed() {
  if find_bindir >/dev/null; then return 0; fi
  [ "$(id -u)" -eq 0 ] || die "no PostgreSQL server binaries found, and not root to install them"
  log "PostgreSQL server binaries missing: installing the package postgresql"
  apt-get update >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y postgresql >&2
  find_bindir >/dev/null || die "PostgreSQL installed, but initdb/pg_ctl still not found"
}

ensure_owner_exists() {
  [ "$(id -u)" -eq 0 ] || return 0
  id -u "$PG_USER" >/dev/null 2>&1 && return 0
  log "creating the system user $PG_USER"
  useradd --system --user-group --home-dir /var/lib/postgresql --shell /bin/bash "$PG_USER"
}

port_is_free() {
  ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

resolve_dir() {
  local dir="${1:-${TESSEL_PG_DIR:-}}"
  if [ -z "$dir" ] && [ -f "$LAST_FILE" ]; then dir="$(cat "$LAST_FILE")"; fi
  [ -n "$dir" ] || die "no server folder given, and no server started by this script is known"
  echo "$dir"
}

print_env() {
  local dir="$1"
  [ -f "$dir/port" ] || die "$dir holds no server started by this script"
  local port
  port="$(cat "$dir/port")"
  echo "export TESSEL_PG_URI='postgresql://$PG_USER@127.0.0.1:$port/$DB_NAME'"
  echo "export TESSEL_PG_DIR='$dir'"
}

# Starts the cluster in DIR/data on PORT and waits until it accepts
# connections.
start_server() {
  local bindir="$1" dir="$2" port="$3"
  as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off \
        -c synchronous_commit=off -c full_page_writes=off -c max_connections=50" \
    start >&2
}

cmd_start() {
  ensure_server_installed
  ensure_owner_exists
  local bindir
  bindir="$(find_bindir)"

  local dir="${1:-}"
  if [ -z "$dir" ]; then
    dir="$(mktemp -d "${TMPDIR:-/tmp}/tessel-pg.XXXXXX")"
  else
    mkdir -p "$dir"
    [ -z "$(ls -A "$dir")" ] || die "$dir is not empty"
  fi
  dir="$(cd "$dir" && pwd)"
  chmod 0755 "$dir"
  if [ "$(id -u)" -eq 0 ]; then chown "$PG_USER:" "$dir"; fi

  # The owner may not be able to enter the caller's working directory.
  cd "$dir"
  log "initdb in $dir/data ($bindir)"
  as_owner "$bindir/initdb" -D "$dir/data" -U "$PG_USER" -A trust -E UTF8 --no-locale \
    --no-sync >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; die "initdb failed"; }

  # A free port, chosen at random and checked; another process may still take
  # it first, so a failed start tries the next candidate.
  local attempt port started=0
  for attempt in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 40000))
    port_is_free "$port" || continue
    if start_server "$bindir" "$dir" "$port"; then
      started=1
      break
    fi
    log "start on port $port failed (attempt $attempt)"
    tail -n 5 "$dir/server.log" >&2 || true
  done
  [ "$started" -eq 1 ] || die "could not start the server; see $dir/server.log"
  echo "$port" >"$dir/port"

  as_owner "$bindir/createdb" -h "$dir" -p "$port" -U "$PG_USER" "$DB_NAME" >&2 ||
    die "could not create the database $DB_NAME"
  echo "$dir" >"$LAST_FILE"
  log "running on 127.0.0.1:$port (socket in $dir), database $DB_NAME"
  print_env "$dir"
}

cmd_stop() {
  local dir
  dir="$(resolve_dir "${1:-}")"
  if [ ! -d "$dir/data" ]; then
    log "no cluster in $dir"
    rm -rf "$dir"
    return 0
  fi
  local bindir
  bindir="$(find_bindir)" || die "pg_ctl not found"
  cd "$dir"
  as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w -t 60 stop >&2 || true
  cd /
  rm -rf "$dir"
  if [ -f "$LAST_FILE" ] && [ "$(cat "$LAST_FILE")" = "$dir" ]; then rm -f "$LAST_FILE"; fi
  log "stopped and removed $dir"
}

cmd_crash() {
  local dir bindir
  dir="$(resolve_dir "${1:-}")"
  [ -f "$dir/port" ] || die "$dir holds no server started by this script"
  bindir="$(find_bindir)" || die "pg_ctl not found"
  cd "$dir"
  as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w -t 60 stop >&2
  log "crashed the server in $dir on purpose"
}

cmd_recover() {
  local dir bindir
  dir="$(resolve_dir "${1:-}")"
  [ -f "$dir/port" ] || die "$dir holds no server started by this script"
  bindir="$(find_bindir)" || die "pg_ctl not found"
  cd "$dir"
  start_server "$bindir" "$dir" "$(cat "$dir/port")" ||
    { tail -n 5 "$dir/server.log" >&2 || true; die "could not start the server in $dir again"; }
  log "running again on 127.0.0.1:$(cat "$dir/port")"
}

case "${1:-}" in
  start) shift; cmd_start "${1:-}" ;;
  stop) shift; cmd_stop "${1:-}" ;;
  env) shift; print_env "$(resolve_dir "${1:-}")" ;;
  crash) shift; cmd_crash "${1:-}" ;;
  recover) shift; cmd_recover "${1:-}" ;;
  *) echo "usage: $0 start [DIR] | env [DIR] | stop [DIR] | crash [DIR] | recover [DIR]" >&2; exit 2 ;;
esac
