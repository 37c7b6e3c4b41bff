#!/usr/bin/env bash
# Builds the library and runs the whole test suite: scripts/test.sh [build-dir] [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${1:-build}
shift || true
cmake -S . -B "$build" -G Ninja -DMSC_BUILD_TESTS=ON "$@"
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
