#!/usr/bin/env bash
# Plots the scaling series that `bench --scaling_csv=FILE` wrote: ns per input byte against input
# size, one line per shape. Usage: bench/plot-scaling.sh scaling.csv docs/scaling.png
set -euo pipefail
csv=${1:?usage: bench/plot-scaling.sh scaling.csv out.png}
png=${2:?usage: bench/plot-scaling.sh scaling.csv out.png}
command -v gnuplot >/dev/null || { echo "gnuplot is missing: apt-get install gnuplot-nox" >&2; exit 1; }
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
# One data file per series, sorted by size, and the plot command that names them.
series=$(tail -n +2 "$csv" | cut -d, -f1 | sort -u)
plots=()
for s in $series; do
  file="$data/${s//\//_}.dat"
  grep "^$s," "$csv" | cut -d, -f2,3 | tr , ' ' | sort -n >"$file"
  plots+=("'$file' using 1:2 with linespoints title '${s#*/}'")
done
gnuplot <<GNUPLOT
set terminal pngcairo size 900,560 noenhanced
set output '$png'
set title 'Parse + convert + free: CPU ns per input byte'
set logscale x 2
set xlabel 'input bytes'
set ylabel 'ns per byte'
set yrange [0:*]
set grid
set key outside right
plot $(IFS=,; echo "${plots[*]}")
GNUPLOT
echo "wrote $png"
