#!/usr/bin/env bash
# The media server under load (a benchmark, never a test): Search requests per second and their
# p50/p99 latency over loopback with 1, 8 and 32 concurrent clients, on the sample library and on
# a generated library of about 100,000 objects in SQLite and in PostgreSQL (a private server that
# tests/support/databases.sh starts in the build folder), with the share of the workers' time
# spent in the library's calls, which the server prints when it stops.
#   bench/serve-bench.sh [build-dir] [seconds per run]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build}")
seconds=${2:-10}
cli=$build/tools/mysearchcriteria
work=$build/serve-bench
mkdir -p "$work"
[ -x "$cli" ] || { echo "serve-bench.sh: no $cli; build the mysearchcriteria_cli target first" >&2; exit 1; }

(cd bench/serveload && GO111MODULE=off GOPATH=/usr/share/gocode GOCACHE="$work/gocache" GOFLAGS= \
  go build -o "$work/serveload" .)

# The sample's 153 tracks, 654 times over, with fresh ids, titles and URLs: 100,062 more objects.
# The same statement for both databases, after the copies' numbers.
copies="WITH RECURSIVE copy(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM copy WHERE k < 654)"
generate=$(cat <<'SQL'
INSERT INTO objects (object_id, num_id, parent_id, class, title, creator, date, artist, album, genre, res, track,
                     album_artist, composer, duration, play_count, last_played, last_updated)
SELECT 'A0$128$129$' || ((1000000 + k * 1000 + t.num_id % 1000) * 65536 + 129), 1000000 + k * 1000 + t.num_id % 1000,
       'A0$128$129', t.class, t.title || ' (take ' || k || ')', t.creator, t.date, t.artist, t.album, t.genre,
       'http://192.168.1.20:8200/MediaItems/' || (1000000 + k * 1000 + t.num_id % 1000) || '.mp3', t.track,
       t.album_artist, t.composer, t.duration, t.play_count, t.last_played, t.last_updated
FROM copy, objects AS t WHERE t.parent_id = 'A0$128$129';
SQL
)
library=$work/library-100k.db
# Made again when the tool, and with it the sample's columns, is newer.
if [ ! "$library" -nt "$cli" ]; then
  rm -f "$library" "$library.tmp"
  "$cli" sample | sqlite3 "$library.tmp"
  echo "$copies $generate" | sqlite3 "$library.tmp"
  mv "$library.tmp" "$library"
fi

run() {
  local name=$1
  shift
  "$cli" serve "$@" >"$work/url" 2>"$work/stderr" &
  local server=$!
  for _ in $(seq 100); do [ -s "$work/url" ] && break; sleep 0.1; done
  echo "== $name"
  "$work/serveload" -url "$(head -n 1 "$work/url")" -criteria bench/client-criteria.tsv -seconds "$seconds"
  kill -TERM "$server"
  wait "$server"
  grep 'requests in' "$work/stderr" | sed 's/^mysearchcriteria: serve: /   /'
}
run "the sample library (824 objects, in memory)"
run "a generated library of $(sqlite3 "$library" 'SELECT COUNT(*) FROM objects') objects (SQLite file)" --db "$library"

# PostgreSQL: the sample and the same copies on a private server.
databases=$work/databases
# Stopped by this script, not by the watchdog, which would follow the command substitution.
trap 'bash tests/support/databases.sh stop "$databases"' EXIT
postgresql=$(MSC_DB_WATCH=none bash tests/support/databases.sh start "$databases" "$cli" postgresql | head -n 1)
psql=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)/psql
echo "$copies $generate; ANALYZE objects;" | "$psql" -X -q -v ON_ERROR_STOP=1 "$postgresql"
count=$("$psql" -X -A -t "$postgresql" -c 'SELECT COUNT(*) FROM objects')
run "a generated library of $count objects (PostgreSQL, Unix socket)" --db "$postgresql"
