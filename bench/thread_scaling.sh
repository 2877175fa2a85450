#!/usr/bin/env bash
# Whole-program wall time on the bench workloads, one thread against two,
# beside a baseline build, all in one run so the machine's load hits each
# alike. Prints the median of RUNS runs and the ratios.
#
#   bench/thread_scaling.sh BASELINE_BINARY NEW_BINARY WORKLOAD_DIR [PMIN] [WIDTH] [RUNS]
#
# WORKLOAD_DIR holds W1.vek.gz ... (gzip'd sequence files). The baseline is
# run without -t= (a build from before threads sieves on one core).
set -euo pipefail

baseline=$(realpath "$1")
new=$(realpath "$2")
workloads=$(realpath "$3")
pmin=${4:-1000000000000}
width=${5:-20000000}
runs=${6:-3}
pmax=$((pmin + width))

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Wall seconds of one run from a fresh status file.
one_run() {
  local dir=$1; shift
  printf 'pmax=%s\npmin=%s\n' "$pmax" "$pmin" > "$dir/VekStatus.dat"
  local start end
  start=$(date +%s.%N)
  (cd "$dir" && "$@" < /dev/null > /dev/null)
  end=$(date +%s.%N)
  tail -n 1 "$dir/VekStatus.dat" | grep -qx Done || { echo "run did not finish: $*" >&2; exit 1; }
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-4s %-22s %10s %10s %10s %9s %9s\n' file range baseline "-t=1" "-t=2" "t1/base" "t2 gain"
for gz in "$workloads"/W*.vek.gz; do
  name=$(basename "$gz" .vek.gz)
  dir=$work/$name
  mkdir -p "$dir"
  zcat "$gz" > "$dir/Vek.dat"
  : > "$work/base" ; : > "$work/one" ; : > "$work/two"
  for ((i = 0; i < runs; i++)); do
    one_run "$dir" "$baseline" >> "$work/base"
    one_run "$dir" "$new" -t=1 >> "$work/one"
    one_run "$dir" "$new" -t=2 >> "$work/two"
  done
  b=$(median < "$work/base"); o=$(median < "$work/one"); t=$(median < "$work/two")
  printf '%-4s %-22s %9ss %9ss %9ss %8.2fx %8.2fx\n' "$name" "($pmin, +$width]" "$b" "$o" "$t" \
    "$(awk -v b="$b" -v o="$o" 'BEGIN { print b / o }')" "$(awk -v o="$o" -v t="$t" 'BEGIN { print o / t }')"
done
