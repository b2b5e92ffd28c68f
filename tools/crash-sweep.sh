#!/usr/bin/env bash
# crash-sweep.sh — the large crash sweep of the repairing commands.
#
# The crash tests in the test binary (tests/core/test_crash.cpp, suite
# Commands/CrashTest) run each repairing command (open, check --normal,
# check --thorough, repair-multipage, compact, reorganize) on a sample
# archive and then, for the points k the command passes, on a fresh copy of
# the archive:
#   kill    the command dies by SIGKILL at its k-th point,
#   enospc  its k-th point fails as with a full disk,
#   eio     its k-th point fails with an I/O error,
#   cut     (with strace) it dies inside its k-th commit, after the database
#           and the journal were synced and before the journal is deleted;
# after which the archive is opened again ("quillex-cli open --no") and
#   - every document that led to data still leads to the same bytes (or to
#     those the finished command gives it),
#   - every data row of a listed sub database is still in a listed one,
#   - every row's PARENT is its old value or the one the finished command sets,
#   - an error is named in the system's words (stderr or the log),
# and the command, run again, ends in the same state as an uninterrupted run.
# The points are learnt from the command's own trace, never listed here.
#
# The test command tries a sample of each case's points (the first hit of
# every point name and six more spread over the run); this script tries
# every point (or about -p POINTS per case), by default on large samples
# (2,000 documents; -n 1 keeps the test's own sizes) and includes the cases
# that are skipped for a known fault. Expect it to take long: every point
# costs three runs of the command on a fresh copy. On two cores, -p 20 takes
# about ten minutes; every point of repair-multipage alone (some 600 per
# fault) about two hours.
#
# With -P it runs the power-loss driver instead (tests/core/test_power_loss.cpp,
# suite Commands/PowerLossTest): each repairing command (renumbering open,
# check --normal, check --thorough, compact, reorganize, remove) is cut at
# every one of its cut points (every named point and every engine sync),
# the disk put back to what was synced then (every other cut also tears the
# last unsynced write), the archive opened again, and no document may be
# lost. Samples keep the driver's own sizes unless -n is given.
#
# Usage: tools/crash-sweep.sh [-b BUILD_DIR] [-n DOCUMENTS] [-a] [-f FILTER] [-s] [-p POINTS] [-P]
#   -b BUILD_DIR  build folder holding bin/quillex-tests (default: build)
#   -n DOCUMENTS  documents per sample archive (default 2000)
#   -a            every fault in every command's sample (default: each
#                 command's own faults; check --normal always has all)
#   -f FILTER     narrow the cases, e.g. 'Open_*' or '*_kill' (default: all)
#   -s            skip the cases marked as a known fault, as the tests do
#   -p POINTS     try at most about POINTS points per case, spread evenly,
#                 the first and the last always (default: every point);
#                 repair-multipage on 2,000 documents passes some 600
#                 points, each costing three runs of the command
#   -P            the power-loss sweep: every cut point of every command
#
# Exit code: 0 when every case passed, 1 otherwise. The summary at the end
# lists the kill and error points tried, the documents lost, and each failing
# case with its first findings (command, k, point name, what differed).
set -u

build=build
documents=2000
filter='*'
known=1
all=0
points=0
power=0
documentsGiven=0
while getopts "b:n:f:p:sahP" opt; do
  case $opt in
    b) build=$OPTARG ;;
    n) documents=$OPTARG; documentsGiven=1 ;;
    f) filter=$OPTARG ;;
    s) known=0 ;;
    a) all=1 ;;
    p) points=$OPTARG ;;
    P) power=1 ;;
    h) sed -n '2,/^set -u/p' "$0" | sed -e 's/^# \{0,1\}//' -e '/^set -u/d'; exit 0 ;;
    *) exit 16 ;;
  esac
done

tests="$build/bin/quillex-tests"
if [ ! -x "$tests" ]; then
  echo "crash-sweep: $tests not found; build first (see README)" >&2
  exit 16
fi

log=$(mktemp -t crash-sweep-XXXXXX.log)
if [ "$power" = 1 ]; then
  echo "crash-sweep: power-loss sweep, every cut point, cases 'Commands/PowerLossTest.*/$filter'; output in $log"
  start=$(date +%s)
  settings=(QUILLEX_POWERLOSS_ALL=1)
  [ "$documentsGiven" = 1 ] && settings+=(QUILLEX_CRASH_DOCUMENTS="$documents")
  env "${settings[@]}" "$tests" --gtest_filter="Commands/PowerLossTest.*/$filter" >"$log" 2>&1
  status=$?
  echo
  echo "=== summary ($(( $(date +%s) - start )) s) ==="
  grep -E '^power-loss test:' "$log" || echo "(the driver printed no totals)"
  grep -E '^\[ +(OK|FAILED) +\] Commands/.*ms\)$' "$log" | sed -e 's/, where GetParam.*//'
  if [ $status -ne 0 ]; then
    echo
    echo "=== findings (k, point) ==="
    grep -E 'k=[0-9]+ of|^  - |power was to fail|did not open|sends the user' "$log" | head -80
    echo "crash-sweep: FAILED (whole output: $log)"
    exit 1
  fi
  echo "crash-sweep: passed"
  exit 0
fi
echo "crash-sweep: $documents documents per sample, at most $points points per case (0: all), cases 'Commands/CrashTest.*/$filter'; output in $log"
start=$(date +%s)
settings=(QUILLEX_CRASH_DOCUMENTS="$documents" QUILLEX_CRASH_MAX_POINTS="$points")
[ "$known" = 1 ] && settings+=(QUILLEX_CRASH_KNOWN_FAULTS=1)
[ "$all" = 1 ] && settings+=(QUILLEX_CRASH_ALL_FAULTS=1)
env "${settings[@]}" "$tests" --gtest_filter="Commands/CrashTest.*/$filter" >"$log" 2>&1
status=$?
seconds=$(( $(date +%s) - start ))

echo
echo "=== summary ($seconds s) ==="
grep -E '^crash test:' "$log" || echo "(the driver printed no totals)"
# The lines that end in a duration are the cases as they ran.
grep -E '^\[ +(OK|FAILED|SKIPPED) +\] Commands/.*ms\)$' "$log" |
  sed -e 's/NothingIsLostAndTheCommandFinishesAfterwards\///' -e 's/, where GetParam.*//' -e 's/ ([0-9]* ms)$//'
if [ $status -ne 0 ]; then
  echo
  echo "=== findings: case: k, point, fault: first finding ==="
  # Each failure is followed by its findings ("  - ...") and the scoped
  # trace that names k, the point and the fault.
  awk '
    function flush() { if (inside && (finding != "" || k != "")) print name ": " k ": " finding; inside = 0 }
    /^\[ RUN/       { name = $NF; sub(/.*\//, "", name) }
    /: Failure$/    { flush(); inside = 1; finding = ""; k = ""; next }
    /^\[/           { flush() }
    inside && /: k=[0-9]+ of/ { k = $0; sub(/.*: k=/, "k=", k); next }
    inside && finding == "" && (/^  - / || /^(neither|the command|the archive|after the recovery the)/) {
      finding = $0; sub(/^ *-? */, "", finding)
    }
    END { flush() }' "$log" | head -80
  echo
  echo "crash-sweep: FAILED (whole output: $log)"
  exit 1
fi
echo "crash-sweep: passed"
exit 0
