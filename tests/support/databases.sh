#!/usr/bin/env bash
# Private throwaway PostgreSQL and MariaDB servers for the tests, with the sample library loaded:
#   databases.sh start DIR CLI [SERVER]  initialise and start both (or SERVER: postgresql or
#                                mariadb) in DIR, load the sample written by CLI, and print their
#                                addresses, which DIR/addresses keeps, one a line
#   databases.sh stop DIR        stop them and delete DIR
# Data and logs live in DIR. The Unix sockets (no TCP) live in a private folder of their own
# under /tmp, since a socket's path has at most 107 bytes and DIR may be a deep build folder;
# DIR/sockets names that folder. No password, no system service.
# start leaves a watchdog that stops the servers once the process that ran it (ctest) is gone,
# so an interrupted run leaves nothing behind; stop ends the watchdog too. MSC_DB_WATCH=none
# leaves the servers to stop (scripts/database.sh).
set -euo pipefail
job=${1:?start or stop}
dir=$(realpath -m "${2:?directory}")
script=$(realpath "$0")
pg_bin=${MSC_PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}

# A process that is gone or only waits to be reaped.
alive() { ps -o stat= -p "$1" 2>/dev/null | grep -qv Z; }

stop() {
  [ -d "$dir" ] || return 0
  if [ -f "$dir/watchdog.pid" ] && [ "$(cat "$dir/watchdog.pid")" != "${BASHPID:-}" ]; then
    kill "$(cat "$dir/watchdog.pid")" 2>/dev/null || true
  fi
  for pidfile in "$dir/pg/data/postmaster.pid" "$dir/mariadb/mariadbd.pid"; do
    [ -f "$pidfile" ] || continue
    pid=$(head -n 1 "$pidfile")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do alive "$pid" || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  if [ -f "$dir/sockets" ]; then
    local sockets; sockets=$(cat "$dir/sockets")
    case $sockets in /tmp/msc-db.*) rm -rf "$sockets" ;; esac
  fi
  rm -rf "$dir"
}

fail() {
  echo "databases.sh: $*" >&2
  for log in "$dir/initdb.log" "$dir/pg/server.log" "$dir/mariadb/log"; do
    [ -f "$log" ] || continue
    grep -iE '\b(error|fatal)\b' "$log" | head -n 20 >&2  # The cause, which a long help text may follow.
    tail -n 20 "$log" >&2
  done
  stop
  exit 1
}

if [ "$job" = stop ]; then
  stop
  exit 0
fi
[ "$job" = start ] || { echo "usage: databases.sh start DIR CLI [postgresql|mariadb] | stop DIR" >&2; exit 2; }
cli=${3:?the mysearchcriteria executable}
servers=${4:-postgresql mariadb}
wants() { [[ " $servers " == *" $1 "* ]]; }
stop  # What an earlier, killed run left behind.
mkdir -p "$dir/pg" "$dir/mariadb"
# Not $TMPDIR, which may be as long as the build folder.
sockets=$(mktemp -d /tmp/msc-db.XXXXXX)
echo "$sockets" >"$dir/sockets"
mkdir "$sockets/pg"
wants postgresql && { [ -x "$pg_bin/initdb" ] || fail "no PostgreSQL server in $pg_bin (scripts/install-deps.sh installs it)"; }
wants mariadb && { command -v mariadb-install-db >/dev/null || fail "no mariadb-install-db (scripts/install-deps.sh installs it)"; }
mariadbd=$(command -v mariadbd || echo /usr/sbin/mariadbd)

# PostgreSQL refuses to run as root: as root, run it as nobody in a folder nobody owns.
as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  chown nobody: "$dir/pg" "$sockets" "$sockets/pg"
  as_owner=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi
start_postgresql() {
  "${as_owner[@]}" "$pg_bin/initdb" -D "$dir/pg/data" -U msc --auth=trust -E UTF8 --locale=C.UTF-8 \
    --no-sync >"$dir/initdb.log" 2>&1 || fail "initdb failed"
  "${as_owner[@]}" "$pg_bin/pg_ctl" -D "$dir/pg/data" -l "$dir/pg/server.log" -w -t 60 \
    -o "-c listen_addresses= -k $sockets/pg -c fsync=off -c full_page_writes=off" start </dev/null >/dev/null \
    || fail "PostgreSQL did not start"
}
wants postgresql && start_postgresql

as_root=()
[ "$(id -u)" -eq 0 ] && as_root=(--user=root)
# The bootstrap has been seen to fail once under load, with another test run starting its own
# servers: one more try on a clean folder before the run fails.
install_mariadb() {
  rm -rf "$dir/mariadb/data"
  mariadb-install-db --no-defaults --datadir="$dir/mariadb/data" --auth-root-authentication-method=normal \
    --skip-test-db "${as_root[@]}" >>"$dir/mariadb/log" 2>&1
}
start_mariadb() {
  install_mariadb || install_mariadb || fail "mariadb-install-db failed"
  "$mariadbd" --no-defaults --datadir="$dir/mariadb/data" --socket="$sockets/mariadb" --skip-networking \
    --pid-file="$dir/mariadb/mariadbd.pid" --log-error="$dir/mariadb/log" --innodb-flush-log-at-trx-commit=0 \
    "${as_root[@]}" </dev/null >/dev/null 2>&1 &
  for _ in $(seq 300); do
    [ -S "$sockets/mariadb" ] && mariadb --no-defaults --socket="$sockets/mariadb" -u root -e 'SELECT 1' \
      >/dev/null 2>&1 && break
    alive $! || fail "MariaDB did not start"
    sleep 0.1
  done
  [ -S "$sockets/mariadb" ] || fail "MariaDB did not open its socket"
}
wants mariadb && start_mariadb

# The watchdog: ends with the process that started the servers (ctest), or after an hour.
if [ "${MSC_DB_WATCH:-}" != none ]; then
  watched=$PPID
  setsid bash -c "for _ in \$(seq 3600); do kill -0 $watched 2>/dev/null || break; sleep 1; done; \
    exec '$script' stop '$dir'" </dev/null >/dev/null 2>&1 &
  echo $! >"$dir/watchdog.pid"
fi

: >"$dir/addresses"
if wants postgresql; then
  "$pg_bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$sockets/pg" -U msc -d postgres -c 'CREATE DATABASE library' \
    >/dev/null || fail "cannot create the PostgreSQL database"
  "$cli" sample --dialect postgresql | "$pg_bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$sockets/pg" -U msc -d library \
    >/dev/null || fail "cannot load the sample into PostgreSQL"
  echo "postgresql://msc@/library?host=$sockets/pg" | tee -a "$dir/addresses"
fi
if wants mariadb; then
  { echo 'CREATE DATABASE library CHARACTER SET utf8mb4; USE library;'; "$cli" sample --dialect mariadb; } |
    mariadb --no-defaults --socket="$sockets/mariadb" -u root || fail "cannot load the sample into MariaDB"
  echo "mariadb://root@localhost/library?socket=$sockets/mariadb" | tee -a "$dir/addresses"
fi
