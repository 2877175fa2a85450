#!/usr/bin/env bash
# Whole-program speed, one thread: a baseline commit (default 85d7328, the
# main the walk kernels started from), built from a git worktree, against the
# current tree, side by side in one run. Each run sieves a short range of a
# benchmark workload from a prepared status file; the figure is the median
# CPU time (user + system) of RUNS runs, which a shared machine disturbs less
# than wall time. W3 is also run at -a=0.1. Then the whole-program check: the
# current tree on W2 over (10^9, 1.1*10^9] must give exactly the factor lines
# of bench/reference/W2_1e9_factors.txt.gz (made once by the baseline).
#
#   bench/whole_program.sh [--no-check]
#   environment: BASE (commit), RUNS (3), WORKLOADS (/work/shared/bench),
#                SPAN12, SPAN12_W3, SPAN14, SPAN14_W3, SPAN_DEEP, SPAN_DEEP_W2
#                (range lengths), DEEP (powers of 2 to run at, "55 61"; "" for none)
set -euo pipefail

repo=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
base=${BASE:-85d7328}
runs=${RUNS:-3}
workloads=${WORKLOADS:-/work/shared/bench}
check=1
[[ ${1:-} == --no-check ]] && check=0

work=$(mktemp -d /tmp/veksieve-whole.XXXXXX)
cleanup() {
  git -C "$repo" worktree remove --force "$work/base-src" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

build() {  # source dir, build dir
  nice -n 10 cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DVEKSIEVE_TESTS=OFF >/dev/null
  nice -n 10 cmake --build "$2" -j2 --target veksieve >/dev/null
}

echo "building $base and the current tree ..."
git -C "$repo" worktree add --detach "$work/base-src" "$base" >/dev/null 2>&1
build "$work/base-src" "$work/base"
build "$repo" "$work/new"

# CPU seconds of one run: binary, workload, pmin, pmax, options...
run_once() {
  local bin=$1 workload=$2 pmin=$3 pmax=$4
  shift 4
  local dir="$work/run"
  rm -rf "$dir" && mkdir -p "$dir"
  zcat "$workloads/$workload.vek.gz" >"$dir/Vek.dat"
  printf 'pmax=%s\npmin=%s\n' "$pmax" "$pmin" >"$dir/VekStatus.dat"
  (cd "$dir" && /usr/bin/time -f '%U %S' -o "$dir/time" "$bin" "$@" </dev/null >/dev/null)
  awk '{printf "%.2f\n", $1 + $2}' "$dir/time"
}

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

printf '%-4s %-8s %-7s %10s %10s %7s\n' file near options "base s" "new s" ratio
compare() {  # workload, label, pmin, span, options...
  local workload=$1 label=$2 pmin=$3 span=$4
  shift 4
  local pmax=$((pmin + span)) b=() n=()
  for ((i = 0; i < runs; ++i)); do
    b+=("$(run_once "$work/base/veksieve" "$workload" "$pmin" "$pmax" "$@")")
    n+=("$(run_once "$work/new/veksieve" "$workload" "$pmin" "$pmax" "$@")")
  done
  local mb mn
  mb=$(printf '%s\n' "${b[@]}" | median)
  mn=$(printf '%s\n' "${n[@]}" | median)
  printf '%-4s %-8s %-7s %10s %10s %7s\n' "$workload" "$label" "${*:-default}" "$mb" "$mn" \
    "$(awk -v b="$mb" -v n="$mn" 'BEGIN {printf "%.2f", (n > 0) ? b / n : 0}')"
}

for height in 12 14; do
  pmin=$((10 ** height))
  span_var="SPAN$height" span_w3_var="SPAN${height}_W3"
  # Long enough that the start-up (reading the file, choosing the stride, a
  # tenth of a second) weighs little, as in a real run of days.
  span=${!span_var:-20000000}
  span_w3=${!span_w3_var:-8000000}
  compare W1 "10^$height" "$pmin" "$span"
  compare W2 "10^$height" "$pmin" "$span"
  compare W3 "10^$height" "$pmin" "$span_w3"
  compare W3 "10^$height" "$pmin" "$span_w3" -a=0.1
done

# Deep primes, where the products need more than 52 bits and the large
# sieving primes strike a window: the same widths at 2^55 and 2^61.
for height in ${DEEP:-55 61}; do
  pmin=$((1 << height))
  compare W1 "2^$height" "$pmin" "${SPAN_DEEP:-20000000}"
  compare W2 "2^$height" "$pmin" "${SPAN_DEEP_W2:-40000000}"
  compare W3 "2^$height" "$pmin" "${SPAN_DEEP:-20000000}"
done

if ((check)); then
  echo "whole-program check: W2 over (10^9, 1.1*10^9] ..."
  dir="$work/check"
  mkdir -p "$dir"
  zcat "$workloads/W2.vek.gz" >"$dir/Vek.dat"
  printf 'pmax=1100000000\npmin=1000000000\n' >"$dir/VekStatus.dat"
  (cd "$dir" && "$work/new/veksieve" </dev/null >/dev/null)
  # Lines of one prime may come in another order; the set must be the same.
  if diff <(grep '|' "$dir/VekStatus.dat" | sort) \
          <(zcat "$repo/bench/reference/W2_1e9_factors.txt.gz" | sort) >/dev/null; then
    echo "same $(grep -c '|' "$dir/VekStatus.dat") factor lines as the reference"
  else
    echo "FACTOR LINES DIFFER from bench/reference/W2_1e9_factors.txt.gz" >&2
    exit 1
  fi
fi
