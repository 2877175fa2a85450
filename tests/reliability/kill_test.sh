#!/usr/bin/env bash
# Kill test: a run that is killed with SIGKILL at random moments and resumed
# from its status file each time must end with the same factors as one
# uninterrupted run of the same range, with no torn or malformed line.
#
#   kill_test.sh BINARY KILLS [SEED] [PMAX] [THREADS]
#
# The workload is generated here: a few k's with every n of a window as a
# candidate, so that the range yields thousands of factors.
set -euo pipefail

binary=$(realpath "$1")
kills=${2:-5}
seed=${3:-$RANDOM}
pmax=${4:-30000000}
threads=${5:-1}
RANDOM=$seed
echo "kill test: $kills kills, seed $seed, range up to $pmax, $threads threads"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$(dirname "$(realpath "$0")")/workload.sh"

make_workload() {
  local dir=$1
  write_workload "$dir/Vek.dat"
  # A status file with a range and no "Done" makes every start resume it,
  # so no run reads the range prompt.
  printf 'pmax=%s\npmin=1000000\n' "$pmax" > "$dir/VekStatus.dat"
}

export VEKSIEVE_CHECKPOINT_SECONDS=0

mkdir "$work/reference" "$work/killed"
make_workload "$work/reference"
make_workload "$work/killed"

start=$(date +%s%N)
(cd "$work/reference" && "$binary" -t="$threads" < /dev/null > console.txt)
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
elapsed=$(awk -v ms="$elapsed_ms" 'BEGIN { printf "%.3f", ms / 1000 }')
echo "uninterrupted run: ${elapsed}s, $(grep -c '|' "$work/reference/VekStatus.dat") factor lines"

survived=0
for ((i = 0; i < kills; i++)); do
  # Kill at any moment of the first 2.5 seconds, start-up included: with a
  # checkpoint at most once a second, some runs die before their first one.
  delay=$(awk -v r=$((RANDOM % 2500)) 'BEGIN { printf "%.3f", r / 1000 }')
  (cd "$work/killed" && exec "$binary" -t="$threads" < /dev/null > /dev/null) &
  pid=$!
  sleep "$delay"
  if kill -9 "$pid" 2>/dev/null; then survived=$((survived + 1)); fi
  wait "$pid" 2>/dev/null || true
  if [ -f "$work/killed/VekStatus.dat" ] && tail -n 1 "$work/killed/VekStatus.dat" | grep -qx Done; then
    break  # the run finished before the kill came
  fi
done
if ! { [ -f "$work/killed/VekStatus.dat" ] && tail -n 1 "$work/killed/VekStatus.dat" | grep -qx Done; }; then
  (cd "$work/killed" && "$binary" -t="$threads" < /dev/null > /dev/null)
fi
echo "killed $survived times"

status=$work/killed/VekStatus.dat
fail=0
if grep -n -v -E '^(pmax=[0-9]+|pmin=[0-9]+|[0-9]+ \| [0-9]+\*2\^[0-9]+\+1|Done)$' "$status"; then
  echo "FAIL: malformed lines above"; fail=1
fi
[ "$(tail -n 1 "$status")" = Done ] || { echo "FAIL: status file does not end with Done"; fail=1; }
[ "$(grep -c -x Done "$status")" = 1 ] || { echo "FAIL: more than one Done"; fail=1; }

factor_lines "$work/reference/VekStatus.dat" > "$work/expected"
factor_lines "$status" > "$work/found"
if ! diff "$work/expected" "$work/found" > "$work/diff"; then
  echo "FAIL: factor lines differ (< only uninterrupted, > only killed):"; head -20 "$work/diff"; fail=1
fi
echo "compared $(wc -l < "$work/expected") factor lines"
[ "$fail" = 0 ] && echo "kill test passed"
exit "$fail"
