#!/usr/bin/env bash
# Whole-program rates far up the range, one thread, default options: W1 and
# W3 over a short range at 10^15, 10^17 and 2^61, each run once under perf.
# Prints the CPU seconds, the rate in p per second and in primes per second
# (primes counted by primesieve), and the share of the samples that fell in
# the prime source (every function of the primes library, start-up included).
#
#   bench/height_rates.sh [build dir]
#   environment: WORKLOADS (/work/shared/bench), SPAN15, SPAN17, SPAN61
set -euo pipefail

repo=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
build=$(realpath "${1:-$repo/build}")
workloads=${WORKLOADS:-/work/shared/bench}
bin=$build/veksieve
[[ -x $bin ]] || { echo "no $bin: build the veksieve target first" >&2; exit 1; }

work=$(mktemp -d /tmp/veksieve-heights.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The prime source's functions, by name, from the primes library's objects.
find "$build/primes" -name '*.o' -exec nm -C --defined-only {} + 2>/dev/null |
  awk '$2 ~ /^[TtWw]$/ {$1 = ""; $2 = ""; sub(/^ +/, ""); print}' | sed 's/(.*//' | sort -u >"$work/source_symbols"
[[ -s $work/source_symbols ]] || { echo "no objects of the primes library under $build/primes" >&2; exit 1; }

printf '%-4s %-6s %14s %10s %9s %12s %12s %8s\n' file height range primes "cpu s" "p/s" "primes/s" source%
measure() {  # workload, label, pmin, span
  local workload=$1 label=$2 pmin=$3 span=$4 dir="$work/$1-$2"
  local pmax=$((pmin + span))
  mkdir -p "$dir"
  zcat "$workloads/$workload.vek.gz" >"$dir/Vek.dat"
  printf 'pmax=%s\npmin=%s\n' "$pmax" "$pmin" >"$dir/VekStatus.dat"
  (cd "$dir" && /usr/bin/time -f '%U %S' -o time \
    perf record -q -F 499 -o perf.data "$bin" -t=1 </dev/null >/dev/null 2>&1)
  local cpu primes share
  cpu=$(awk '{printf "%.1f", $1 + $2}' "$dir/time")
  primes=$(primesieve "$((pmin + 1))" "$pmax" --count --quiet)
  share=$(perf report -i "$dir/perf.data" --no-children --sort sym --stdio 2>/dev/null |
    awk -v list="$work/source_symbols" '
      BEGIN { while ((getline s < list) > 0) source[s] = 1 }
      /^ +[0-9.]+%/ {
        pct = $1; sub(/%/, "", pct)
        name = $0; sub(/^.*\] /, "", name); sub(/\(.*/, "", name); sub(/ +$/, "", name)
        if (name in source) sum += pct
      }
      END { printf "%.1f", sum }')
  printf '%-4s %-6s %14s %10s %9s %12.3g %12.0f %8s\n' "$workload" "$label" "$span" "$primes" "$cpu" \
    "$(awk -v s="$span" -v c="$cpu" 'BEGIN {print s / c}')" \
    "$(awk -v n="$primes" -v c="$cpu" 'BEGIN {print n / c}')" "$share"
}

for workload in W1 W3; do
  measure "$workload" 10^15 1000000000000000 "${SPAN15:-100000000}"
  measure "$workload" 10^17 100000000000000000 "${SPAN17:-50000000}"
  measure "$workload" 2^61 2305843009213693952 "${SPAN61:-50000000}"
done
