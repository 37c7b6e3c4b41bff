#!/usr/bin/env bash
# Quick start: installs what is missing, builds the library and the command-line host, and runs a
# search on the embedded sample media library.
#   scripts/demo.sh [CRITERIA]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DMSC_BUILD_TOOLS=ON >/dev/null
cmake --build build -j2
criteria=${1:-'upnp:class derivedfrom "object.item.audioItem" and @refID exists false and dc:title contains "love"'}
echo "\$ build/tools/mysearchcriteria search --show 'title, artist, album, date' '$criteria'"
build/tools/mysearchcriteria search --show 'title, artist, album, date' "$criteria"
