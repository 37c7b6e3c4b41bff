#!/usr/bin/env bash
# Quick start: installs what is missing, builds the library and the command-line host (nothing
# else: no tests) in build-demo/, and runs a search on the embedded sample media library.
#   scripts/demo.sh [CRITERIA]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
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
step cmake -S . -B "$build" -G Ninja -DMSC_BUILD_TESTS=OFF -DMSC_BUILD_TOOLS=ON
step cmake --build "$build" -j2 --target mysearchcriteria_cli
criteria=${1:-'upnp:class derivedfrom "object.item.audioItem" and @refID exists false and dc:title contains "love"'}
echo "\$ $build/tools/mysearchcriteria search --show 'title, artist, album, date' '$criteria'"
"$build"/tools/mysearchcriteria search --show 'title, artist, album, date' "$criteria"
