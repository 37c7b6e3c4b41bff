#!/usr/bin/env bash
# The media server through a control point that nobody here wrote: starts `mysearchcriteria serve`
# on 127.0.0.1 under strace, builds the Go control point offline against Debian's goupnp, runs it,
# stops the server with SIGTERM, and checks that the server stopped cleanly, sent nothing to any
# address outside 127.0.0.0/8 (so no SSDP at all) and kept its memory bounded.
#   serve.sh CLI SOURCE-DIR WORK-DIR MAX-MIB [serve options...]
# MAX-MIB is the peak resident memory allowed: 32 workers with a copy of the sample each, and the
# hostile requests' bodies, more under a sanitizer.
set -euo pipefail
cli=$1 source=$2 work=$3 max_kib=$(($4 * 1024))
shift 4

rm -rf "$work"
mkdir -p "$work"
fail() { echo "serve.sh: $*" >&2; cat "$work/stderr" >&2 2>/dev/null || true; exit 1; }

(cd "$source/tests/controlpoint" &&
  GO111MODULE=off GOPATH=/usr/share/gocode GOCACHE="$work/gocache" GOFLAGS= go build -o "$work/controlpoint" .) ||
  fail "cannot build the control point"

# LeakSanitizer cannot run under ptrace, so a sanitizer build checks leaks elsewhere only.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
  strace -f -qq -e trace=sendto,sendmsg,connect -o "$work/strace.log" "$cli" serve "$@" >"$work/url" 2>"$work/stderr" &
tracer=$!
for _ in $(seq 200); do
  [ -s "$work/url" ] && break
  kill -0 "$tracer" 2>/dev/null || fail "the server did not start"
  sleep 0.1
done
url=$(head -n 1 "$work/url")
server=$(pgrep -P "$tracer" -n) || fail "no server process"
case $url in http://127.0.0.1:*) ;; *) kill "$server"; fail "not a loopback description URL: $url" ;; esac

status=0
"$work/controlpoint" "$url" "$cli" "$source/tests/cases" "$source/tests/cases/serve-searches.tsv" \
  "$source/tests/cases/host-searches.tsv" \
  "$source/tests/corpus/client-criteria.tsv" "$source/tests/corpus/client-criteria-more.tsv" \
  "$source/bench/client-criteria.tsv" || status=1

peak=$(awk '/^VmHWM/ {print $2}' "/proc/$server/status")
kill -TERM "$server"
wait "$tracer" || fail "the server did not stop cleanly on SIGTERM (status $?)"
[ "$peak" -le "$max_kib" ] || { echo "serve.sh: peak memory ${peak} KiB, more than ${max_kib} KiB" >&2; status=1; }
# Every address the server sent to or connected to; the netlink ones have none.
outside=$(grep -oE 'inet_addr\("[0-9.]+"\)|inet_pton\(AF_INET6, "[^"]*"' "$work/strace.log" | grep -v 'inet_addr("127\.' |
  sort -u || true)
[ -z "$outside" ] || { echo "serve.sh: traffic outside 127.0.0.0/8: $outside" >&2; status=1; }

# The same server with --strict refuses what the default one repairs or skips.
"$cli" serve --strict >"$work/strict-url" 2>>"$work/stderr" &
strict=$!
for _ in $(seq 200); do [ -s "$work/strict-url" ] && break; sleep 0.1; done
"$work/controlpoint" -strict "$(head -n 1 "$work/strict-url")" "$source/tests/cases" || status=1
kill -TERM "$strict"
wait "$strict" || { echo "serve.sh: the --strict server did not stop cleanly" >&2; status=1; }
exit $status
