#!/usr/bin/env bash
# Instructions per criteria of each operation over the corpus, counted by callgrind: repeatable
# on a shared machine, unlike times. Usage: [CORPUS=file.tsv] bench/callgrind.sh path/to/bench [operation...]
set -euo pipefail
bench=${1:?usage: bench/callgrind.sh path/to/bench [operation...]}
shift
operations=("$@")
((${#operations[@]})) || operations=(baseline parse convert memcpy clone dump host onecall unprepared standard sort floor convertfloor)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
baseline=
printf '%-10s %14s %12s\n' operation instructions x_baseline
for op in "${operations[@]}"; do
  valgrind --tool=callgrind --collect-atstart=no --toggle-collect='*CallgrindPass*' \
    --callgrind-out-file="$out/$op" "$bench" ${CORPUS:+--corpus="$CORPUS"} --callgrind="$op" >"$out/$op.txt" 2>"$out/$op.err"
  total=$(grep -o 'Collected : [0-9]*' "$out/$op.err" | grep -o '[0-9]*$')
  criteria=$(grep -o '= [0-9]* criteria' "$out/$op.txt" | grep -o '[0-9]*')
  per=$((total / criteria))
  [ "$op" = baseline ] && baseline=$per
  if [ -n "$baseline" ]; then
    printf '%-10s %14d %12s\n' "$op" "$per" "$(awk -v a="$per" -v b="$baseline" 'BEGIN{printf "%.2f", a/b}')"
  else
    printf '%-10s %14d %12s\n' "$op" "$per" -
  fi
done
