#!/usr/bin/env bash
# The stride model against a sweep of alpha, and the whole program against a
# reference build, side by side in one run:
#   1. engine_bench on each workload near 10^12 and 10^14 at fixed alphas and
#      at the modelled one (this build's sequence table), thread CPU time;
#   2. the whole program, default options, this build against the reference,
#      interleaved, medians of $RUNS, CPU seconds;
#   3. the factor lines of both programs on W3 over (10^9, 10^9 + 2*10^7]
#      (the same set, each line once; also prints the time of each).
#
#   bench/stride_sweep.sh BUILD REFERENCE_BUILD [W1.vek.gz W2.vek.gz W3.vek.gz]
#   SWEEP_ALPHAS="0.05 0.1 ..." SWEEP_WIDTH=5e5 PROGRAM_WIDTH=2e6 RUNS=3 SKIP=1,3
# BUILD holds veksieve and bench/engine_bench, REFERENCE_BUILD veksieve.
set -euo pipefail

build=$(realpath "$1")
reference=$(realpath "$2")
shift 2
workloads=("$@")
[ ${#workloads[@]} -gt 0 ] || workloads=(/work/shared/bench/W1.vek.gz /work/shared/bench/W2.vek.gz /work/shared/bench/W3.vek.gz)
alphas=${SWEEP_ALPHAS:-"0.05 0.1 0.2 0.5 1 2.5 5 10"}
sweep_width=${SWEEP_WIDTH:-5e5}
program_width=${PROGRAM_WIDTH:-2000000}
runs=${RUNS:-3}
skip=",${SKIP:-},"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

per_prime() {  # engine_bench output -> "us/prime at 10^12  us/prime at 10^14"
  grep -o '[0-9.]* us/prime' | awk '{ printf "%9.2f", $1 } END { print "" }'
}

if [[ $skip != *,1,* ]]; then
  echo "== 1. engine, us per prime near 10^12 and 10^14 (width $sweep_width, median of $runs)"
  for w in "${workloads[@]}"; do
    name=$(basename "$w" .vek.gz)
    model=$(VEKSIEVE_BENCH_WIDTH=1 VEKSIEVE_BENCH_RUNS=1 "$build/bench/engine_bench" "$w" | sed -n 's/.*alpha \([0-9.e+-]*\),.*/\1/p')
    echo "$name: modelled alpha $model"
    for a in $alphas model nosplit nosplit-2.5; do
      case $a in
        model) env_alpha=(); label="model $model" ;;
        nosplit) env_alpha=(VEKSIEVE_NO_SPLIT=1); label="model, no splits" ;;
        nosplit-2.5) env_alpha=(VEKSIEVE_NO_SPLIT=1 VEKSIEVE_ALPHA=2.5); label="2.5, no splits (today)" ;;
        *) env_alpha=(VEKSIEVE_ALPHA="$a"); label="alpha $a" ;;
      esac
      printf '  %-22s' "$label"
      env "${env_alpha[@]}" VEKSIEVE_BENCH_WIDTH="$sweep_width" VEKSIEVE_BENCH_RUNS="$runs" \
        "$build/bench/engine_bench" "$w" | per_prime
    done
  done
fi

run_program() {  # binary dir pmin pmax -> CPU seconds (user + system), steadier than wall time when shared
  local dir=$2 TIMEFORMAT='%U %S'
  printf 'pmax=%s\npmin=%s\n' "$4" "$3" > "$dir/VekStatus.dat"
  { time (cd "$dir" && "$1" < /dev/null > out.txt 2>&1); } 2> "$dir/time.txt"
  tail -1 "$dir/time.txt" | awk '{ print $1 + $2 }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

if [[ $skip != *,2,* ]]; then
  echo "== 2. whole program, default options, seconds (median of $runs), p in (P, P + $program_width]"
  for w in "${workloads[@]}"; do
    name=$(basename "$w" .vek.gz)
    mkdir -p "$work/new" "$work/ref"
    zcat -f "$w" > "$work/new/Vek.dat"
    cp "$work/new/Vek.dat" "$work/ref/Vek.dat"
    for low in 1000000000000 100000000000000; do
      high=$((low + program_width))
      : > "$work/t_new"; : > "$work/t_ref"
      for ((r = 0; r < runs; r++)); do
        run_program "$reference/veksieve" "$work/ref" "$low" "$high" >> "$work/t_ref"
        run_program "$build/veksieve" "$work/new" "$low" "$high" >> "$work/t_new"
      done
      t_ref=$(median < "$work/t_ref"); t_new=$(median < "$work/t_new")
      printf '  %s P=%-16s reference %8.2f s   this build %8.2f s   speed-up %5.2f\n' "$name" "$low" "$t_ref" "$t_new" \
        "$(echo "$t_ref / $t_new" | bc -l)"
    done
  done
fi

if [[ $skip != *,3,* ]]; then
  w3=""
  for w in "${workloads[@]}"; do [[ $(basename "$w") == W3* ]] && w3=$w; done
  if [ -n "$w3" ]; then
    echo "== 3. factor lines on W3, p in (10^9, 10^9 + 2*10^7]"
    mkdir -p "$work/new" "$work/ref"
    zcat -f "$w3" > "$work/new/Vek.dat"
    cp "$work/new/Vek.dat" "$work/ref/Vek.dat"
    t_ref=$(run_program "$reference/veksieve" "$work/ref" 1000000000 1020000000)
    t_new=$(run_program "$build/veksieve" "$work/new" 1000000000 1020000000)
    lines() { grep -E '^[0-9]+ \| ' "$1/VekStatus.dat" | sort -u; }
    lines "$work/ref" > "$work/lines_ref"
    lines "$work/new" > "$work/lines_new"
    printf '  reference %d lines in %.1f s, this build %d lines in %.1f s\n' "$(wc -l < "$work/lines_ref")" "$t_ref" \
      "$(wc -l < "$work/lines_new")" "$t_new"
    if cmp -s "$work/lines_ref" "$work/lines_new"; then
      echo "  factor lines: the same"
    else
      echo "  factor lines: DIFFERENT"
      diff "$work/lines_ref" "$work/lines_new" | head -20
      exit 1
    fi
  fi
fi
