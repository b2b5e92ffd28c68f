#!/usr/bin/env bash
# salvage-sweep.sh — the large sweep of the salvage oracle.
#
# The oracle in the test binary (tests/core/test_salvage.cpp, suite
# Seeds/SalvageOracle) writes a sample archive, records every document's
# bytes, overwrites 1..MAX_PAGES random pages of its fullest sub database
# with random bytes (the cipher's page check then rejects them), runs
# "quillex-cli salvage" and checks that
#   - every document whose row still read from the damaged file is back,
#     byte for byte and reachable from its record,
#   - nothing comes back as other bytes,
#   - the documents reported lost are exactly those that were hit,
#   - the damaged file is kept aside unchanged,
#   - the thorough check then finds nothing but the lost documents,
#   - a second salvage finds nothing to do,
# and prints the share of the documents that came back over all seeds.
#
# The test command runs 6 seeds on 36 documents in 2 sub databases; this
# script runs many more seeds on larger archives. It is no part of the test
# command.
#
# Usage: tools/salvage-sweep.sh [-b BUILD_DIR] [-s SEEDS] [-n DOCUMENTS] [-d SUBS] [-p MAX_PAGES]
#   -b BUILD_DIR  build folder holding bin/quillex-tests (default: build)
#   -s SEEDS      seeds 1..SEEDS (default 60)
#   -n DOCUMENTS  documents per sample archive (default 600)
#   -d SUBS       sub databases per sample (default 3)
#   -p MAX_PAGES  at most this many damaged pages per seed (default 5)
set -euo pipefail

build=build seeds=60 documents=600 subs=3 pages=5
while getopts "b:s:n:d:p:h" opt; do
    case $opt in
    b) build=$OPTARG ;;
    s) seeds=$OPTARG ;;
    n) documents=$OPTARG ;;
    d) subs=$OPTARG ;;
    p) pages=$OPTARG ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 16 ;;
    esac
done

binary=$build/bin/quillex-tests
[[ -x $binary ]] || { echo "salvage-sweep: $binary not found (build the target quillex-tests)" >&2; exit 8; }

start=$(date +%s)
set +e
QUILLEX_SALVAGE_SEEDS=$seeds QUILLEX_SALVAGE_DOCUMENTS=$documents QUILLEX_SALVAGE_SUBS=$subs \
QUILLEX_SALVAGE_MAX_PAGES=$pages QT_QPA_PLATFORM=offscreen \
    "$binary" --gtest_filter='Seeds/SalvageOracle.*' --gtest_brief=1 2>&1 | tee /dev/stderr |
    grep -E '^salvage oracle:|PASSED|FAILED' > "${TMPDIR:-/tmp}/salvage-sweep.$$"
status=${PIPESTATUS[0]}
set -e
elapsed=$(( $(date +%s) - start ))
echo
echo "salvage sweep: $seeds seeds, $documents documents in $subs sub databases, 1..$pages damaged pages each, ${elapsed} s"
cat "${TMPDIR:-/tmp}/salvage-sweep.$$"
rm -f "${TMPDIR:-/tmp}/salvage-sweep.$$"
exit "$status"
