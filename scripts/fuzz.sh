#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each of them in turn.
#   scripts/fuzz.sh [seconds per target] [target...]
# Default: 60 s for every target. For a long run give hours, e.g. scripts/fuzz.sh 14400, and
# FUZZ_JOBS=2 to run two fuzzing processes per target. The corpus each target grows is kept in
# build-fuzz/corpus/<target>/ between runs; a finding is written to build-fuzz/findings/<target>/
# and makes the script fail. Reproduce one with: build-fuzz/fuzz/<target> <file>
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(SearchCriteriaFuzzer ParseEntryFuzzer TreeWalkFuzzer OneCallFuzzer SortFuzzer)
jobs=${FUZZ_JOBS:-1}
build=${FUZZ_BUILD_DIR:-build-fuzz}

scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DMSC_BUILD_TESTS=OFF -DMSC_BUILD_FUZZERS=ON -DMSC_REQUIRE_ALL=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

# The seed corpus holds plain criteria (fuzz/corpus) and sort texts (fuzz/sort-corpus); each target
# reads its configuration bytes first, so the seeds are given a few typical configurations (no
# trimming, a table prefix, a short buffer, prepared options).
seed_corpus() {
  local target=$1 dir=$2 file header texts=fuzz/corpus
  [ "$target" = SortFuzzer ] && texts=fuzz/sort-corpus
  mkdir -p "$dir"
  case $target in
    SearchCriteriaFuzzer) headers=('\x00\x00\x01\xff\x0f\x00\x01' '\x00\x09\x04\x0b\x00\x2c\x00') ;;
    ParseEntryFuzzer) headers=('\x00\x00' '\x02\x01') ;;
    OneCallFuzzer) headers=('\x00\x05\x00\xff' '\x26\x14\x06\x20' '\x40\x05\x00\xff' '\x06\x05\x40\xff') ;;
    SortFuzzer) headers=('\x00\xff' '\x35\x20') ;;
    *) return 0 ;;
  esac
  for file in "$texts"/*; do
    for header in "${headers[@]}"; do
      { printf "$header"; cat "$file"; } > "$dir/seed-$(basename "$file" .txt)-${#header}-$(printf "$header" | od -An -tx1 | tr -d ' \n')"
    done
  done
}

status=0
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  seeds=$build/seeds/$target
  findings=$build/findings/$target
  mkdir -p "$corpus" "$findings"
  seed_corpus "$target" "$seeds"
  echo "== $target: ${seconds}s"
  # -close_fd_mask=3 keeps the parser's diagnostics off the console; libFuzzer and the sanitizers
  # still report on a duplicate of standard error.
  args=(-dict=fuzz/SearchCriteria.dict -max_total_time="$seconds" -close_fd_mask=3
        -artifact_prefix="$findings/" -print_final_stats=1 -rss_limit_mb=2048 -timeout=20)
  if ((jobs > 1)); then args+=(-jobs="$jobs" -workers="$jobs"); fi
  if ! "$build/fuzz/$target" "${args[@]}" "$corpus" "$seeds" 2>&1 | tail -n 40; then
    status=1
  fi
  if [ -n "$(ls -A "$findings")" ]; then
    echo "$target found: $(ls "$findings")"
    status=1
  fi
done
exit $status
