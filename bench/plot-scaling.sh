#!/usr/bin/env bash
# Plots the scaling series that `bench --scaling_csv=FILE` wrote: ns per input byte against input
# size, one line per shape. Usage: bench/plot-scaling.sh scaling.csv docs/scaling.png
set -euo pipefail
csv=${1:?usage: bench/plot-scaling.sh scaling.csv out.png}
png=${2:?usage: bench/plot-scaling.sh scaling.csv out.png}
command -v gnuplot >/dev/null || { echo "gnuplot is missing: apt-get install gnuplot-nox" >&2; exit 1; }
mkdir -p "$(dirname "$png")"
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
# One data file per series, sorted by size, and the plot command that names them.
series=$(tail -n +2 "$csv" | cut -d, -f1 | sort -u)
plots=()
# Library series solid, the baseline on the same inputs dashed, the depth series dotted.
for s in $series; do
  file="$data/${s//\//_}.dat"
  grep "^$s," "$csv" | cut -d, -f2,3 | tr , ' ' | sort -g >"$file"
  case "$s" in
    ScaleBaseline/*) style="dt 2 lw 1"; title="${s#*/} (baseline)" ;;
    Depth/*) style="dt 3 lw 2"; title="depth: ${s#*/}" ;;
    *) style="lw 2"; title="${s#*/}" ;;
  esac
  plots+=("'$file' using 1:2 with linespoints $style title '$title'")
done
gnuplot <<GNUPLOT
set terminal pngcairo size 1000,600 noenhanced
set output '$png'
set title 'Parse + convert + free: CPU ns per input byte'
set logscale x 2
set xtics ("16 B" 16, "100 B" 100, "1 KiB" 1024, "10 KiB" 10240, "100 KiB" 102400, "1 MiB" 1048576)
set xlabel 'input bytes (depth series: one nesting up to the bound)'
set ylabel 'ns per byte'
set yrange [0:*]
set grid
set key outside right
plot $(IFS=,; echo "${plots[*]}")
GNUPLOT
echo "wrote $png"
