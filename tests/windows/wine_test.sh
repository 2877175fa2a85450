#!/usr/bin/env bash
# The Windows program under wine against the Linux program: the bundled
# example gives the same factor lines, and --remove-factored the same file; a status file started on either system
# and interrupted with Ctrl-C resumes on the other; a run killed outright
# resumes from its last checkpoint. Windows writes its lines with CR LF.
#
#   wine_test.sh LINUX_BINARY WINDOWS_EXE EXAMPLES_DIR
#
# wine runs with the caller's WINEPREFIX (a fresh one is set up on first use).
set -euo pipefail

linux=$(realpath "$1")
windows=$(realpath "$2")
examples=$(realpath "$3")
export WINEDEBUG=${WINEDEBUG:--all}

work=$(mktemp -d)
[ -n "${KEEP_WORK:-}" ] || trap 'rm -rf "$work"' EXIT; echo "work: $work"
source "$(dirname "$(realpath "$0")")/../reliability/workload.sh"

fail=0
failed() { echo "FAIL: $*"; fail=1; }

# Runs a build in directory $2 with stdin from /dev/null, console to console.txt.
run() {
  local build=$1 dir=$2
  if [ "$build" = windows ]; then
    (cd "$dir" && wine "$windows" < /dev/null > console.txt 2> wine.txt)
  else
    (cd "$dir" && "$linux" < /dev/null > console.txt)
  fi
}

# The number of lines of file $2 that match $1 (0 while it is missing).
count() { grep -c -- "$1" "$2" 2> /dev/null || { [ -f "$2" ] || echo 0; }; }

# Runs a command with SIGINT at its default action: a shell without job
# control may start background commands with it ignored, as nohup does, and
# veksieve keeps an ignored SIGINT ignored.
with_sigint() {
  exec python3 -c 'import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); os.execvp(sys.argv[1], sys.argv[1:])' "$@"
}

# Starts a build in the background, waits for its first status line and sends
# it Ctrl-C (SIGINT; wine hands it to the program as a console Ctrl-C event).
# Sets `status` to the exit status and says how long the stop took.
interrupt() {
  local build=$1 dir=$2 pid start
  if [ "$build" = windows ]; then
    (cd "$dir" && with_sigint wine "$windows" < /dev/null > console.txt 2> wine.txt) &
  else
    (cd "$dir" && with_sigint "$linux" < /dev/null > console.txt) &
  fi
  pid=$!
  for _ in $(seq 600); do
    [ "$(count 'Sieved up to' "$dir/console.txt")" -ge 1 ] && break
    sleep 0.1
  done
  start=$(date +%s%N)
  kill -INT "$pid"
  status=0
  wait "$pid" || status=$?
  echo "$build took $((($(date +%s%N) - start) / 1000000)) ms to stop after Ctrl-C"
}

# Lines of file $1 with their CR removed.
unix_text() { tr -d '\r' < "$1"; }

# Every line of $1 after the first $2 ends in CR LF.
crlf_after() { tail -n +"$(($2 + 1))" "$1" | grep -v -q $'\r$' && return 1 || return 0; }

echo "== the bundled example on both systems"
for build in linux windows; do
  mkdir "$work/example-$build"
  cp "$examples/Vek.dat" "$examples/start-status.dat" "$work/example-$build/"
  cp "$examples/start-status.dat" "$work/example-$build/VekStatus.dat"
  run "$build" "$work/example-$build"
done
console_factors() { unix_text "$1" | grep '|' || true; }
[ "$(console_factors "$work/example-linux/console.txt" | wc -l)" -gt 10 ] || failed "the example gave too few factors"
diff <(console_factors "$work/example-linux/console.txt") <(console_factors "$work/example-windows/console.txt") ||
  failed "the example's factor lines differ on the console"
diff <(unix_text "$work/example-linux/VekStatus.dat") <(unix_text "$work/example-windows/VekStatus.dat") ||
  failed "the example's status files differ"
grep -q $'\r' "$work/example-linux/VekStatus.dat" && failed "the Linux build wrote a CR"
crlf_after "$work/example-windows/VekStatus.dat" 2 || failed "the Windows build appended a line without CR LF"

echo "== --remove-factored on both systems, twice (the second replaces the backup)"
for build in linux windows; do
  for _ in 1 2; do
    if [ "$build" = windows ]; then
      (cd "$work/example-$build" && wine "$windows" --remove-factored > removed.txt 2>> wine.txt)
    else
      (cd "$work/example-$build" && "$linux" --remove-factored > removed.txt)
    fi
  done
  [ -f "$work/example-$build/Vek.dat.bak" ] || failed "$build kept no backup"
done
diff <(unix_text "$work/example-linux/Vek.dat") <(unix_text "$work/example-windows/Vek.dat") ||
  failed "--remove-factored wrote different files"
cmp -s "$work/example-linux/Vek.dat" "$examples/Vek.dat" && failed "--remove-factored removed nothing"

# The range of the workload in one uninterrupted Linux run: the reference.
pmax=150000000
make_workload() {
  mkdir "$1"
  write_workload "$1/Vek.dat"
  printf 'pmax=%s\npmin=1000000\n' "$pmax" > "$1/VekStatus.dat"
}
make_workload "$work/reference"
run linux "$work/reference"
factor_lines "$work/reference/VekStatus.dat" > "$work/expected"
echo "reference: $(wc -l < "$work/expected") factor lines up to $pmax"

# Checks the finished status file $1 against the reference: well-formed
# lines, one Done at the end, the same factor lines in the same order.
check_finished() {
  local file=$1 what=$2
  unix_text "$file" > "$work/unix"
  if grep -n -v -E '^(pmax=[0-9]+|pmin=[0-9]+|[0-9]+ \| [0-9]+\*2\^[0-9]+\+1|Done)$' "$work/unix"; then
    failed "$what: malformed lines above"
  fi
  [ "$(tail -n 1 "$work/unix")" = Done ] && [ "$(grep -c -x Done "$work/unix")" = 1 ] ||
    failed "$what: does not end in one Done"
  factor_lines "$work/unix" | diff "$work/expected" - > /dev/null || failed "$what: the factor lines differ"
}

for pair in "windows linux" "linux windows"; do
  set -- $pair
  echo "== interrupted with Ctrl-C on $1, resumed on $2"
  dir=$work/$1-then-$2
  make_workload "$dir"
  interrupt "$1" "$dir"
  [ "$status" = 130 ] || failed "$1: exit status $status after Ctrl-C, not 130"
  grep -q 'Interrupted before p=' "$dir/console.txt" || failed "$1: no interruption message"
  unix_text "$dir/VekStatus.dat" | tail -n 1 | grep -q -x 'pmin=[0-9]*' || failed "$1: the last line is no checkpoint"
  lines=$(wc -l < "$dir/VekStatus.dat")
  checkpoint=$(unix_text "$dir/VekStatus.dat" | tail -n 1 | cut -d= -f2)
  echo "$1 stopped at pmin=$checkpoint, $((lines - 2)) lines appended"
  run "$2" "$dir"
  first=$(unix_text "$dir/console.txt" | awk '/\|/ && !seen { print $1; seen = 1 }')
  [ "$first" -gt "$checkpoint" ] || failed "$2 did not resume at the checkpoint: its first factor is $first"
  check_finished "$dir/VekStatus.dat" "$1 then $2"
  # Each system appends with its own line end.
  head -n "$lines" "$dir/VekStatus.dat" | tail -n +3 > "$work/first"
  tail -n +"$((lines + 1))" "$dir/VekStatus.dat" > "$work/second"
  windows_part=$work/first linux_part=$work/second
  [ "$1" = linux ] && windows_part=$work/second linux_part=$work/first
  crlf_after "$windows_part" 0 || failed "the Windows build appended a line without CR LF"
  grep -q $'\r' "$linux_part" && failed "the Linux build appended a CR"
done

echo "== killed outright under wine, resumed from the last checkpoint"
# A checkpoint follows a progress report only a second or more after the last
# line written, and this workload finds factors often: the run is killed at
# its first checkpoint past the start, or two seconds after its first progress
# report if none has come by then. Either way the resumed run must end with
# the reference's lines.
dir=$work/killed
make_workload "$dir"
(cd "$dir" && VEKSIEVE_CHECKPOINT_SECONDS=0 exec wine "$windows" < /dev/null > console.txt 2> wine.txt) &
pid=$!
since_report=0
for _ in $(seq 600); do
  [ "$(count '^pmin=' "$dir/VekStatus.dat")" -ge 2 ] && break
  if [ "$(count 'Sieved up to' "$dir/console.txt")" -ge 1 ]; then
    since_report=$((since_report + 1))
    [ "$since_report" -ge 20 ] && break
  fi
  sleep 0.1
done
kill -KILL "$pid" 2> /dev/null || true
wait "$pid" 2> /dev/null || true
unix_text "$dir/VekStatus.dat" | tail -n 1 | grep -q -x Done && failed "the run ended before it was killed"
echo "killed after $(count '|' "$dir/VekStatus.dat") factor lines at $(grep '^pmin=' "$dir/VekStatus.dat" | tail -n 1)"
run windows "$dir"
check_finished "$dir/VekStatus.dat" "killed and resumed"

[ "$fail" = 0 ] && echo "wine test passed"
exit "$fail"
