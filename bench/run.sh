#!/usr/bin/env bash
# Runs the benchmarks of a built tree; never part of the tests.
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
shift || true
work=${QUILLEX_BENCH_DIR:-/var/tmp/quillex-bench}
mkdir -p "$work"
echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(uname -m), $(date -u +%F)"
"$build/bin/bench_engine" "$work" "$@"
"$build/bin/bench_open_picbase" "$work/picbase" "${QUILLEX_BENCH_DOCS:-100000}"
"$build/bin/bench_check" "$work" "$@"
"$build/bin/bench_multipage" "$work" "$@"
"$build/bin/bench_open" "$work" "${QUILLEX_BENCH_OPEN_DOCS:-1200000}"
"$build/bin/bench_reorganize" "$work" "$@"
"$build/bin/bench_integrity" "$work" --documents "${QUILLEX_BENCH_INTEGRITY_DOCS:-1200000}"
"$build/bin/bench_salvage" "$@"
