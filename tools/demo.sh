#!/usr/bin/env bash
# The main job on a freshly built tree: write a sample archive with every
# kind of damage the generator knows, then run the normal check on it.
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
work=$(mktemp -d "${TMPDIR:-/tmp}/quillex-demo.XXXXXX")
"$build/bin/quillex-cli" sample "$work" --documents 500 --faults all
echo
status=0
"$build/bin/quillex-cli" check --normal "$work/Archief.dat" --report "$work/report.txt" --json "$work/findings.json" || status=$?
echo
echo "exit code $status (0 nothing found, 1 all repaired, 4 damage remains)"
echo "archive, log (Archief.log), report and JSON are in $work"
echo "open it in the window: $build/bin/quillex '$work/Archief.dat'"
# Damage that the check cannot repair is expected here: that is the demo.
[ "$status" -eq 0 ] || [ "$status" -eq 1 ] || [ "$status" -eq 4 ]
