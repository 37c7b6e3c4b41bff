#!/usr/bin/env bash
# Builds the benchmarks and reruns everything behind docs/PERFORMANCE.md: the timed runs with
# their ratios, instructions per criteria from callgrind, and the scaling plot.
# Usage: scripts/bench.sh [build-dir]   (needs valgrind and gnuplot-nox besides the build deps)
set -euo pipefail
missing=()
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Tools for this script only, not for a default build.
for package in valgrind gnuplot-nox; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  sudo_cmd=(); [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
build=${1:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMSC_BUILD_BENCHMARKS=ON -DMSC_REQUIRE_ALL=ON \
  -DMSC_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target bench
mkdir -p "$build/results"
status=0
"$build/bench/bench" --benchmark_repetitions=5 --benchmark_color=false \
  --scaling_csv="$build/results/scaling.csv" | tee "$build/results/bench.txt" || status=$?
bench/callgrind.sh "$build/bench/bench" | tee "$build/results/callgrind.txt"
bench/plot-scaling.sh "$build/results/scaling.csv" docs/scaling.png
exit "$status"
