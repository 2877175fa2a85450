#!/usr/bin/env bash
# Failing disks: the status file on a small tmpfs that fills up for good, that
# fills up for a while, or that turns read-only in the middle of a run, and
# /dev/full as the status file of a new range. The program must say what it
# could not save, never write "Done" for a range whose results are not all in
# the file, leave what it did save whole and correct, and a later run on a
# healthy disk must end with the factors of one uninterrupted run.
#
#   disk_fault_test.sh BINARY
#
# The tmpfs cases need root to mount; without root, or when mounting fails,
# the script exits 77 (skipped) after the cases that need no mount.
set -euo pipefail

binary=$(realpath "$1")
here=$(dirname "$(realpath "$0")")

work=$(mktemp -d)
mounts=()
running=
cleanup() {
  if [ -n "$running" ]; then kill -9 "$running" 2> /dev/null || true; wait "$running" 2> /dev/null || true; fi
  for mnt in "${mounts[@]}"; do umount "$mnt" 2> /dev/null || umount -l "$mnt" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

mount_tmpfs() {  # DIR SIZE
  mkdir -p "$1"
  mount -t tmpfs -o size="$2" tmpfs "$1" 2> "$work/mount.err" || skip "cannot mount a tmpfs: $(cat "$work/mount.err")"
  mounts+=("$1")
}

fail=0
failed() { echo "FAIL ($case): $*"; fail=1; }

# Vek.dat stays on the normal disk; only the status file moves.
source "$here/workload.sh"
mkdir "$work/seq"
write_workload "$work/seq/Vek.dat"
new_status() { printf 'pmax=30000000\npmin=1000000\n' > "$1"; }

# Runs the program on status file $1 with the console in $2; further
# arguments are environment settings. Sets $rc.
export VEKSIEVE_CHECKPOINT_SECONDS=0
sieve() {
  local status=$1 console=$2
  shift 2
  rc=0
  (cd "$work/seq" && env "$@" "$binary" -o="$status" < /dev/null > "$console") || rc=$?
}
# The same in the background; sets $running.
sieve_in_background() {
  local status=$1 console=$2
  shift 2
  (cd "$work/seq" && exec env "$@" "$binary" -o="$status" < /dev/null > "$console") &
  running=$!
}
finish_background() {
  rc=0
  wait "$running" || rc=$?
  running=
}

# Fills the file system of directory $1 and then frees $2 bytes again.
fill_leaving() {
  dd if=/dev/zero of="$1/filler" bs=4096 2> /dev/null || true
  truncate -s -"$2" "$1/filler"
}

wait_for() {  # SECONDS COMMAND...: polls until the command succeeds
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.02
  done
}

factor_line='[0-9]+ \| [0-9]+\*2\^[0-9]+\+1'
well_formed() {
  if grep -n -v -E "^(pmax=[0-9]+|pmin=[0-9]+|$factor_line|Done)$" "$1"; then failed "malformed lines above in $1"; fi
  if [ -s "$1" ] && [ "$(tail -c 1 "$1" | od -An -c | tr -d ' ')" != '\n' ]; then failed "$1 ends in a torn line"; fi
}

# Every factor line of the files given names a prime of the range that
# divides a candidate of Vek.dat, checked independently of the program.
genuine() {
  python3 "$here/check_factors.py" --sequences "$work/seq/Vek.dat" --range 1000000 30000000 "$@" ||
    failed "factor lines above are not genuine factors"
}

factors() { grep -E "^$factor_line$" "$1" | sort || true; }
same_factor_lines() {
  factor_lines "$reference" > "$work/expected"
  factor_lines "$1" > "$work/found"
  if ! diff "$work/expected" "$work/found" > "$work/diff"; then
    failed "factor lines differ from the uninterrupted run (< only there, > only here):"; head -20 "$work/diff"
  fi
}

# After a give-up: the console names the file and the reason, lists the
# unsaved lines and says no "Done"; the file holds no "Done", every factor the
# console showed is either in the file or listed as unsaved (and not both),
# and the file's last checkpoint lies below every unsaved factor, so that the
# next start sieves their primes again.
gave_up_properly() {  # STATUS CONSOLE REASON
  local status=$1 console=$2 reason=$3
  [ "$rc" = 4 ] || failed "exit status $rc, expected 4"
  grep -q -F "The status file '$status' cannot be written: $reason" "$console" || failed "no message naming the file and '$reason'"
  grep -q -x -F "Giving up on the status file '$status'" "$console" || failed "no give-up message"
  local header="These lines could not be saved in the status file '$status':"
  grep -q -x -F "$header" "$console" || { failed "no list of unsaved lines"; return; }
  awk -v h="$header" 'found; $0 == h { found = 1 }' "$console" > "$work/unsaved"
  awk -v h="$header" '$0 == h { exit } { print }' "$console" | factors /dev/stdin > "$work/shown"
  factors "$work/unsaved" > "$work/unsaved_factors"
  factors "$status" > "$work/saved"
  [ -s "$work/unsaved" ] || failed "the unsaved list is empty"
  [ -s "$work/saved" ] || failed "nothing was saved before the failure"
  well_formed "$work/unsaved"
  genuine "$status" "$work/unsaved"
  ! grep -q -x Done "$console" || failed "the console says Done"
  ! grep -q -x Done "$status" || failed "the status file says Done"
  local both
  both=$(comm -12 "$work/saved" "$work/unsaved_factors")
  [ -z "$both" ] || failed "listed as unsaved but in the file: $both"
  local lost
  lost=$(sort "$work/saved" "$work/unsaved_factors" | comm -23 "$work/shown" -)
  [ -z "$lost" ] || failed "shown on the console, neither saved nor listed as unsaved: $lost"
  local checkpoint first_unsaved
  checkpoint=$(grep '^pmin=' "$status" | tail -n 1 | cut -d= -f2)
  first_unsaved=$(cut -d' ' -f1 "$work/unsaved_factors" | sort -n | head -n 1)
  if [ -n "$first_unsaved" ] && [ "$checkpoint" -ge "$first_unsaved" ]; then
    failed "last checkpoint pmin=$checkpoint is not below the unsaved factor of p=$first_unsaved"
  fi
  echo "  saved $(wc -l < "$work/saved") factor lines, $(wc -l < "$work/unsaved") unsaved line(s) listed, resumes from pmin=$checkpoint"
}

finished_properly() {  # STATUS CONSOLE
  [ "$rc" = 0 ] || failed "exit status $rc, expected 0"
  [ "$(tail -n 1 "$1")" = Done ] || failed "the status file does not end with Done"
  [ "$(grep -c -x Done "$1")" = 1 ] || failed "not exactly one Done in the status file"
  [ "$(tail -n 1 "$2")" = Done ] || failed "the console does not end with Done"
  well_formed "$1"
  genuine "$1"
}

elapsed() { echo "$((SECONDS - $1))s"; }

# /dev/full as the status file of a new range: refused before sieving.
# Reading it first must not hang on its endless contents. Needs no root.
case="/dev/full"
rc=0
(cd "$work/seq" && printf '1\n2\ny\n' | timeout 5 "$binary" -o=/dev/full > "$work/dev-full.txt") || rc=$?
[ "$rc" != 124 ] || failed "hangs"
[ "$rc" = 4 ] || failed "exit status $rc, expected 4"
grep -q -F "The file '/dev/full' cannot be written - No space left on device!" "$work/dev-full.txt" ||
  failed "no message naming the file and the reason"
! grep -q "Sieved" "$work/dev-full.txt" || failed "sieved although nothing could be saved"

# The rest needs a file system of its own.
skip() {
  [ "$fail" = 0 ] || exit 1
  echo "SKIPPED: $*"
  exit 77
}
[ "$(id -u)" = 0 ] || skip "mounting a small file system needs root"
command -v python3 > /dev/null || skip "python3 is needed to check the factors"

# The uninterrupted run, on a file system with room to spare.
case=reference
mount_tmpfs "$work/ample" 4m
reference=$work/ample/VekStatus.dat
new_status "$reference"
start=$SECONDS
sieve "$reference" "$work/reference.txt"
finished_properly "$reference" "$work/reference.txt"
echo "uninterrupted run: $(factors "$reference" | wc -l) factor lines, $(elapsed $start)"

# (a) The file system fills up and stays full: give up, then resume once
# there is room again. The space left ends inside a line, so the write that
# fills it is a short one and must be cut back.
case="stays full"
mount_tmpfs "$work/full" 64k
status=$work/full/VekStatus.dat
new_status "$status"
fill_leaving "$work/full" 8192
start=$SECONDS
sieve "$status" "$work/full.txt" VEKSIEVE_GIVE_UP_SECONDS=2
echo "$case: exit $rc after $(elapsed $start)"
gave_up_properly "$status" "$work/full.txt" "No space left on device"
well_formed "$status"
rm "$work/full/filler"
sieve "$status" "$work/full-resumed.txt"
finished_properly "$status" "$work/full-resumed.txt"
same_factor_lines "$status"

# (b) Space runs out for a while and comes back within the limit: the run
# waits, goes on and ends as if nothing had happened.
case="full for a while"
mount_tmpfs "$work/while" 64k
status=$work/while/VekStatus.dat
new_status "$status"
fill_leaving "$work/while" 8192
start=$SECONDS
sieve_in_background "$status" "$work/while.txt" VEKSIEVE_GIVE_UP_SECONDS=30
if wait_for 30 grep -q -F "The status file '$status' cannot be written: No space left on device" "$work/while.txt"; then
  sleep 2
  rm "$work/while/filler"
else
  failed "the file system never filled"
fi
finish_background
echo "$case: exit $rc after $(elapsed $start)"
finished_properly "$status" "$work/while.txt"
grep -q -x -F "The status file '$status' can be written again" "$work/while.txt" || failed "no message that the file can be written again"
! grep -q "Giving up" "$work/while.txt" || failed "gave up within the limit"
if ! diff <(factors "$reference") <(factors "$status") > "$work/diff"; then
  failed "factor lines differ from the uninterrupted run:"; head -20 "$work/diff"
fi

# (c) The file system turns read-only in the middle of the run; a new range
# cannot be started on it either. After it is writable again a rerun finishes.
case="read-only"
mount_tmpfs "$work/ro" 1m
status=$work/ro/VekStatus.dat
new_status "$status"
start=$SECONDS
sieve_in_background "$status" "$work/ro.txt" VEKSIEVE_GIVE_UP_SECONDS=2
many_saved() { [ "$(grep -c '|' "$status")" -ge 100 ]; }
# The program holds the file open only while it appends a line, when the
# remount is refused as busy; it is tried again at once.
remount_ro() { mount -o remount,ro "$work/ro" 2> /dev/null; }
wait_for 30 many_saved || failed "no factors saved"
wait_for 10 remount_ro || failed "cannot remount read-only"
finish_background
echo "$case: exit $rc after $(elapsed $start)"
gave_up_properly "$status" "$work/ro.txt" "Read-only file system"
well_formed "$status"
rc=0
(cd "$work/seq" && printf '1\n2\ny\n' | "$binary" -o="$work/ro/new.dat" > "$work/ro-new.txt") || rc=$?
[ "$rc" = 4 ] || failed "a new range on the read-only file system: exit status $rc, expected 4"
grep -q -F "The file '$work/ro/new.dat' cannot be created - Read-only file system!" "$work/ro-new.txt" ||
  failed "a new range on the read-only file system: no message naming the file and the reason"
mount -o remount,rw "$work/ro"
sieve "$status" "$work/ro-resumed.txt"
finished_properly "$status" "$work/ro-resumed.txt"
same_factor_lines "$status"

[ "$fail" = 0 ] && echo "disk fault test passed"
exit "$fail"
