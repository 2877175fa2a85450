#!/usr/bin/env bash
# veksieve-mpi against one thread of veksieve: the same status file with 1, 2
# and 4 ranks; a rank with another Vek.dat is named and nothing is sieved; a
# rank killed mid-run, and SIGTERM or SIGINT to mpirun, end the run with a
# checkpoint at the frontier within Open MPI's default kill timeout, and
# resuming (with veksieve, and veksieve-mpi resuming a file veksieve left)
# gives exactly the factor lines of one uninterrupted run.
#
#   mpi_test.sh VEKSIEVE VEKSIEVE_MPI
#
# Exits 77 when MPI or veksieve-mpi is not there.
set -euo pipefail

single=$(realpath "$1")
if ! command -v mpirun > /dev/null || [ ! -x "${2:-}" ]; then
  echo "skipped: veksieve-mpi and mpirun are needed (apt-get install libopenmpi-dev openmpi-bin, then rebuild)"
  exit 77
fi
cluster=$(realpath "$2")
# Open MPI refuses root without these; CI runs as root. mpirun's kill timeout
# is left at its default: a second from its signal to SIGTERM, one more to SIGKILL.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
unset OMPI_MCA_odls_base_sigkill_timeout
mpi() { mpirun --oversubscribe "$@"; }
# mpirun with SIGINT at its default action: a shell without job control
# starts background commands with it ignored.
mpi_in_background() {
  exec python3 -c 'import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); os.execvp(sys.argv[1], sys.argv[1:])' \
    mpirun --oversubscribe "$@"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$(realpath "$0")")/../reliability/workload.sh"

# A directory with the workload and a status file that resumes 1e6..$2.
make_run() {
  mkdir -p "$1"
  write_workload "$1/Vek.dat"
  printf 'pmax=%s\npmin=1000000\n' "$2" > "$1/VekStatus.dat"
}
fail=0
check() { if ! "$@"; then echo "FAIL: $*"; fail=1; fi; }
# Waits until status file $1 holds $2 factor lines, so that what follows falls mid-run.
wait_for_factor_lines() {
  for ((i = 0; i < 600; i++)); do
    [ "$(factor_lines "$1" | wc -l)" -ge "$2" ] && return
    sleep 0.05
  done
}
# The run in directory $1 was stopped mid-run: its console says where, and the
# status file ends with the checkpoint there, beyond the range's start.
# With a second argument the console may lack the line: mpirun, signalled
# itself, stops passing on the ranks' output, and what rank 0 prints after
# the checkpoint is sometimes lost on the way (one run in a few on a busy
# machine). The checkpoint must then still lie beyond the range's start; the
# resumed run's factor lines show that it lies at or before the frontier.
check_checkpoint() {
  local said last
  said=$(tr '\r' '\n' < "$1/console.txt" | sed -n 's/^Interrupted before p=\([0-9]*\):.*/\1/p')
  last=$(tail -n 1 "$1/VekStatus.dat")
  echo "console: Interrupted before p=${said:-(none)}; status file ends: $last"
  if [ -z "$said" ] && [ -n "${2:-}" ]; then
    check test "${last#pmin=}" -gt 1000000
    return
  fi
  check test -n "$said"
  check test "$last" = "pmin=$((${said:-0} - 1))"
  check test "${said:-0}" -gt 1000001
}

make_run "$work/reference" 30000000
(cd "$work/reference" && "$single" -t=1 < /dev/null > /dev/null)
echo "one thread: $(factor_lines "$work/reference/VekStatus.dat" | wc -l) factor lines"

for ranks in 1 2 4; do
  make_run "$work/ranks$ranks" 30000000
  (cd "$work/ranks$ranks" && mpi -n "$ranks" "$cluster" -t=1 < /dev/null > console.txt 2>&1) ||
    { echo "FAIL: $ranks ranks exited with $?"; fail=1; }
  # No checkpoint falls due in so short a run: the whole file is the same.
  check cmp "$work/reference/VekStatus.dat" "$work/ranks$ranks/VekStatus.dat"
  # Rank 0's console, passed on with fewer status lines, still shows every factor.
  check cmp <(factor_lines "$work/reference/VekStatus.dat") \
    <(tr '\r' '\n' < "$work/ranks$ranks/console.txt" | sed 's/\x1b\[K//g' | factor_lines /dev/stdin)
  check test "$(tail -n 1 "$work/ranks$ranks/console.txt" | tr -d '\r')" = Done
  # Open MPI hands rank 0 a pseudo-terminal; a log still gets plain lines.
  check test "$(tr -d -c '\r\033' < "$work/ranks$ranks/console.txt" | wc -c)" = 0
  echo "$ranks ranks: same status file"
done

echo "== a rank with another Vek.dat"
make_run "$work/zero" 30000000
make_run "$work/other" 30000000
# Another file, then one that no rank could read.
for change in 's/^k=5297$/k=5299/' '$a 10001'; do
  write_workload "$work/other/Vek.dat"
  sed -i "$change" "$work/other/Vek.dat"
  status=0
  mpi -n 1 --wdir "$work/zero" "$cluster" : -n 1 --wdir "$work/other" "$cluster" < /dev/null > "$work/other.txt" 2>&1 ||
    status=$?
  grep '^Rank' "$work/other.txt" || true
  check test "$status" = 2
  check grep -q -E "^Rank 1 \(on .*\) (reads another 'Vek.dat' than rank 0|cannot use its sequence file: The file)" \
    "$work/other.txt"
  check cmp "$work/zero/VekStatus.dat" <(printf 'pmax=30000000\npmin=1000000\n')
done

echo "== SIGKILL to rank 1 mid-run, resumed by veksieve"
make_run "$work/full" 80000000
(cd "$work/full" && "$single" -t=2 < /dev/null > /dev/null)
make_run "$work/killed" 80000000
(cd "$work/killed" && exec mpirun --oversubscribe -n 3 "$cluster" -t=1 < /dev/null > console.txt 2>&1) &
runner=$!
wait_for_factor_lines "$work/killed/VekStatus.dat" 50
killed=no
for child in $(pgrep -P "$(pgrep -P "$runner" -x mpirun || echo "$runner")" || true); do
  if tr '\0' '\n' < "/proc/$child/environ" 2> /dev/null | grep -qx OMPI_COMM_WORLD_RANK=1; then
    kill -KILL "$child" && killed=yes
  fi
done
wait "$runner" || true
check test "$killed" = yes
check_checkpoint "$work/killed"
(cd "$work/killed" && "$single" -t=2 < /dev/null > /dev/null)
check cmp <(factor_lines "$work/full/VekStatus.dat") <(factor_lines "$work/killed/VekStatus.dat")
echo "killed at $(grep '^pmin=' "$work/killed/VekStatus.dat" | tail -n 1); resumed: $(factor_lines "$work/killed/VekStatus.dat" | wc -l) factor lines"

echo "== veksieve stopped by SIGTERM, resumed by veksieve-mpi"
make_run "$work/handed" 80000000
(cd "$work/handed" && exec "$single" -t=1 < /dev/null > /dev/null) &
runner=$!
wait_for_factor_lines "$work/handed/VekStatus.dat" 50
kill -TERM "$runner"
wait "$runner" || true
(cd "$work/handed" && mpi -n 2 "$cluster" -t=1 < /dev/null > /dev/null 2>&1)
check cmp <(factor_lines "$work/full/VekStatus.dat") <(factor_lines "$work/handed/VekStatus.dat")
check test "$(tail -n 1 "$work/handed/VekStatus.dat")" = Done

echo "== SIGTERM and SIGINT to mpirun mid-run, resumed by veksieve"
# A range that 2 ranks take seconds over: it is still running when rank 0
# gets mpirun's SIGTERM, a second after mpirun got the signal. The signal
# comes after the first 50 of its about 1100 factor lines, so that even a
# run whose lines were held back by a slow chunk on a busy machine still
# has most of its range ahead.
make_run "$work/long" 300000000
(cd "$work/long" && "$single" -t=2 < /dev/null > /dev/null)
for sig in TERM INT; do
  make_run "$work/$sig" 300000000
  (cd "$work/$sig" && mpi_in_background -n 2 "$cluster" -t=1 < /dev/null > console.txt 2>&1) &
  runner=$!
  wait_for_factor_lines "$work/$sig/VekStatus.dat" 50
  kill -"$sig" "$runner"
  status=0
  wait "$runner" || status=$?
  echo "SIG$sig: mpirun exited with $status"
  check_checkpoint "$work/$sig" console-may-be-cut
  (cd "$work/$sig" && "$single" -t=2 < /dev/null > /dev/null)
  check cmp <(factor_lines "$work/long/VekStatus.dat") <(factor_lines "$work/$sig/VekStatus.dat")
done

[ "$fail" = 0 ] && echo "mpi test passed"
exit "$fail"
