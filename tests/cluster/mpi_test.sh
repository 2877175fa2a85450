#!/usr/bin/env bash
# veksieve-mpi against one thread of veksieve: the same status file with 1, 2
# and 4 ranks; a rank with another Vek.dat is named and nothing is sieved; a
# rank killed mid-run ends the run with a checkpoint, and resuming (with
# veksieve, and veksieve-mpi resuming a file veksieve left) gives exactly the
# factor lines of one uninterrupted run.
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
# Open MPI refuses root without these; CI runs as root. mpirun kills the
# ranks a second after a signal; a loaded machine needs longer for rank 0
# at idle priority to write its checkpoint, as the README advises.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMPI_MCA_odls_base_sigkill_timeout=10
mpi() { mpirun --oversubscribe "$@"; }

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

make_run "$work/reference" 30000000
(cd "$work/reference" && "$single" -t=1 < /dev/null > /dev/null)
echo "one thread: $(factor_lines "$work/reference/VekStatus.dat" | wc -l) factor lines"

for ranks in 1 2 4; do
  make_run "$work/ranks$ranks" 30000000
  (cd "$work/ranks$ranks" && mpi -n "$ranks" "$cluster" -t=1 < /dev/null > console.txt 2>&1) ||
    { echo "FAIL: $ranks ranks exited with $?"; fail=1; }
  # No checkpoint falls due in so short a run: the whole file is the same.
  check cmp "$work/reference/VekStatus.dat" "$work/ranks$ranks/VekStatus.dat"
  check test "$(tail -n 1 "$work/ranks$ranks/console.txt" | tr -d '\r')" = Done
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
# Kill once results arrive, so the kill falls mid-run.
for ((i = 0; i < 600; i++)); do
  [ "$(factor_lines "$work/killed/VekStatus.dat" | wc -l)" -ge 50 ] && break
  sleep 0.05
done
killed=no
for child in $(pgrep -P "$(pgrep -P "$runner" -x mpirun || echo "$runner")" || true); do
  if tr '\0' '\n' < "/proc/$child/environ" 2> /dev/null | grep -qx OMPI_COMM_WORLD_RANK=1; then
    kill -KILL "$child" && killed=yes
  fi
done
wait "$runner" || true
tr '\r' '\n' < "$work/killed/console.txt" | grep -E '^Interrupted|rank 1' || true
check test "$killed" = yes
if tail -n 1 "$work/killed/VekStatus.dat" | grep -qx Done; then
  echo "FAIL: the run ended with Done although rank 1 was killed"; fail=1
fi
# The checkpoint at the frontier is written when rank 0 gets the time before
# mpirun's kill (on a loaded machine it may not); resuming from the one
# before loses nothing either, which is what is checked.
grep -q '^Interrupted before p=' "$work/killed/console.txt" || echo "note: no checkpoint at the frontier this time"
(cd "$work/killed" && "$single" -t=2 < /dev/null > /dev/null)
check cmp <(factor_lines "$work/full/VekStatus.dat") <(factor_lines "$work/killed/VekStatus.dat")
echo "killed at $(grep '^pmin=' "$work/killed/VekStatus.dat" | tail -n 1); resumed: $(factor_lines "$work/killed/VekStatus.dat" | wc -l) factor lines"

echo "== veksieve stopped by SIGTERM, resumed by veksieve-mpi"
make_run "$work/handed" 80000000
(cd "$work/handed" && exec "$single" -t=1 < /dev/null > /dev/null) &
runner=$!
for ((i = 0; i < 600; i++)); do
  [ "$(factor_lines "$work/handed/VekStatus.dat" | wc -l)" -ge 50 ] && break
  sleep 0.05
done
kill -TERM "$runner"
wait "$runner" || true
(cd "$work/handed" && mpi -n 2 "$cluster" -t=1 < /dev/null > /dev/null 2>&1)
check cmp <(factor_lines "$work/full/VekStatus.dat") <(factor_lines "$work/handed/VekStatus.dat")
check test "$(tail -n 1 "$work/handed/VekStatus.dat")" = Done

[ "$fail" = 0 ] && echo "mpi test passed"
exit "$fail"
