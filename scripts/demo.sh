#!/usr/bin/env bash
# Quick start: installs what is missing for the library and the command-line host, builds those
# two (nothing else: no tests) in build-demo/, and runs a search on the embedded sample media
# library:
#   scripts/demo.sh [search options] [CRITERIA]
# The options go to the host's search job (mysearchcriteria --help); without a CRITERIA the demo
# searches for one that Windows Media Player sends.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo
build=build-demo
log=$build/demo-build.log
mkdir -p "$build"
: >"$log"
# Quiet while the steps succeed; a failing step shows everything the build said.
step() {
    if ! "$@" >>"$log" 2>&1; then
        cat "$log" >&2
        echo "scripts/demo.sh: failed: $* (the output above is kept in $log)" >&2
        exit 1
    fi
}
echo "Building the library and the command-line host in $build/ ..."
step cmake -S . -B "$build" -G Ninja -DMSC_BUILD_TESTS=OFF -DMSC_BUILD_TOOLS=ON -DMSC_REQUIRE_ALL=ON
step cmake --build "$build" -j2 --target mysearchcriteria_cli
# The options given come after the demo's own, so that they win. Without a CRITERIA argument the
# host reads the criteria from standard input, which holds the demo's; with one it reads none.
search=("$build/tools/mysearchcriteria" search --show 'title, artist, album, date' "$@")
criteria='upnp:class derivedfrom "object.item.audioItem" and @refID exists false and dc:title contains "love"'
# Words as a shell reads them back: quoted only where they need it.
shown() {
    local word words=()
    for word; do [[ $word =~ ^[A-Za-z0-9_./:=,+-]+$ ]] && words+=("$word") || words+=("${word@Q}"); done
    echo "${words[*]}"
}
echo "\$ echo $(shown "$criteria") | $(shown "${search[@]}")"
echo "$criteria" | "${search[@]}"
