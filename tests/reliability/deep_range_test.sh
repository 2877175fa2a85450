#!/usr/bin/env bash
# The whole program near 2^61, where the engine's products need two words and
# the sieving primes above 2^25 strike a window: a width of 2*10^5 around
# 2250458030068275241, which divides 1073535929*2^41+1, over 32 k's near 2^30
# with every n from 30 to 60. Its factor lines must be exactly those an
# independent search finds (check_factors.py --complete).
#
#   deep_range_test.sh BINARY
set -euo pipefail

binary=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

known=2250458030068275241
pmin=$((known - 100000)) pmax=$((known + 100000))
{
  echo 32; echo 30; echo 60
  k=1073741823 count=0
  while ((count < 32)); do
    if ((k % 3 != 0)); then
      echo "k=$k"
      seq 30 60
      count=$((count + 1))
    fi
    k=$((k - 2 * 7919))
  done
} >"$work/Vek.dat"
printf 'pmax=%s\npmin=%s\n' "$pmax" "$pmin" >"$work/VekStatus.dat"

(cd "$work" && "$binary" </dev/null >console.txt)
grep -q "^$known | 1073535929\*2^41+1$" "$work/VekStatus.dat" || { echo "the known factor is missing"; exit 1; }
python3 "$here/check_factors.py" --sequences "$work/Vek.dat" --range "$pmin" "$pmax" --complete "$work/VekStatus.dat"
echo "$(grep -c '|' "$work/VekStatus.dat") factor lines, each found independently and none missing"
