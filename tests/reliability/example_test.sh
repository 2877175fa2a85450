#!/usr/bin/env bash
# The whole program on the bundled example, as the README's set-up command runs
# it: exit 0, nothing on stderr (where the sanitizers report), "Done" at the end
# of the console and of the status file, and the same factor lines in both,
# each a genuine factor of a candidate of the example's Vek.dat.
#
#   example_test.sh BINARY EXAMPLES_DIR [--valgrind]
#
# With --valgrind the program runs under valgrind's memcheck on a shorter range
# (valgrind runs it about ten times slower); exits 77 (skipped) without valgrind.
set -euo pipefail

binary=$(realpath "$1")
examples=$(realpath "$2")
mode=${3:-}
here=$(dirname "$(realpath "$0")")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$examples/." "$work/"
cp "$work/start-status.dat" "$work/VekStatus.dat"

run=("$binary")
if [ "$mode" = --valgrind ]; then
  command -v valgrind > /dev/null || { echo "SKIPPED: valgrind is not installed"; exit 77; }
  # valgrind computes the x87 extended type, which the stride's root uses, in
  # double precision only, and runs far slower. A native run of the same
  # range below shows that nothing changed.
  sed -i 's/^pmax=.*/pmax=10000000/' "$work/VekStatus.dat"
  mkdir "$work/native"
  cp "$work/Vek.dat" "$work/VekStatus.dat" "$work/native/"
  run=(valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect
       --log-file="$work/valgrind.txt" "$binary")
fi
pmin=$(grep '^pmin=' "$work/VekStatus.dat" | tail -n 1 | cut -d= -f2)
pmax=$(grep '^pmax=' "$work/VekStatus.dat" | tail -n 1 | cut -d= -f2)
echo "sieving the example from $pmin to $pmax ${mode:+under valgrind}"

fail=0
failed() { echo "FAIL: $*"; fail=1; }

rc=0
start=$SECONDS
(cd "$work" && "${run[@]}" < /dev/null > console.txt 2> stderr.txt) || rc=$?
echo "exit $rc after $((SECONDS - start))s"
[ "$rc" = 0 ] || failed "exit status $rc"
if [ -s "$work/stderr.txt" ]; then failed "output on stderr:"; head -50 "$work/stderr.txt"; fi
if [ "$mode" = --valgrind ]; then
  grep -q "ERROR SUMMARY: 0 errors" "$work/valgrind.txt" || { failed "valgrind reports errors:"; cat "$work/valgrind.txt"; }
  grep -E "ERROR SUMMARY|in use at exit" "$work/valgrind.txt" || true
fi

console=$work/console.txt
status=$work/VekStatus.dat
factor_line='[0-9]+ \| [0-9]+\*2\^[0-9]+\+1'
if grep -n -v -E "^(Read 'Vek.dat': [0-9]+ k's? with [0-9]+ candidates?, n from [0-9]+ to [0-9]+; sieving with [0-9]+ threads?|This run found [0-9]+ factors? in [0-9:d ]+; rate [0-9]+ p/sec on average|Resuming '[^']*': the range from p=[0-9]+ to [0-9]+, sieved up to p=[0-9]+ \([0-9.]+%\), [0-9]+ factor lines? saved|Sieved up to [0-9]+( \([0-9.]+ (million|billion|trillion)\))?(; rate [0-9]+ p/sec)?|$factor_line|Done)$" "$console"; then
  failed "unexpected console lines above"
fi
if grep -n -v -E "^(pmax=[0-9]+|pmin=[0-9]+|$factor_line|Done)$" "$status"; then failed "malformed status lines above"; fi
[ "$(tail -n 1 "$console")" = Done ] || failed "the console does not end with Done"
[ "$(tail -n 1 "$status")" = Done ] || failed "the status file does not end with Done"
[ "$(grep -c -x Done "$status")" = 1 ] || failed "not exactly one Done in the status file"

grep -E "^$factor_line$" "$console" > "$work/shown" || true
grep -E "^$factor_line$" "$status" > "$work/saved" || true
[ -s "$work/shown" ] || failed "no factors found"
diff "$work/shown" "$work/saved" || failed "the console and the status file differ in their factor lines"
repeated=$(cut -d' ' -f3 "$work/saved" | sort | uniq -d)
[ -z "$repeated" ] || failed "candidates struck twice in one run: $repeated"
python3 "$here/check_factors.py" --sequences "$work/Vek.dat" --range "$pmin" "$pmax" "$work/saved" ||
  failed "factor lines above are not genuine factors"
if [ "$mode" = --valgrind ]; then
  (cd "$work/native" && "$binary" < /dev/null > /dev/null) || failed "the native run failed"
  grep -E "^$factor_line$" "$work/native/VekStatus.dat" | diff - "$work/saved" ||
    failed "the factor lines differ from a native run of the same range"
fi
echo "$(wc -l < "$work/saved") factor lines checked"

[ "$fail" = 0 ] && echo "example test passed"
exit "$fail"
