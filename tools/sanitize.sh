#!/usr/bin/env bash
# sanitize.sh — the core tests under AddressSanitizer and
# UndefinedBehaviorSanitizer.
#
# Configures a build folder of its own (default: build-sanitize), with
# -fsanitize=address,undefined and -fno-sanitize-recover=undefined, so that
# the first undefined operation (a signed overflow, a misaligned read) halts
# the test that made it instead of passing by luck; builds quillex-tests and
# quillex-cli there and runs the core tests. The CLI the tests start is the
# sanitized one too.
#
# A full build takes long (the whole core twice over, on two cores some
# 20-30 minutes); later runs rebuild only what changed.
#
# Usage: tools/sanitize.sh [-t] [-b BUILD_DIR] [-j JOBS] [-f GTEST_FILTER]
#   -t               ThreadSanitizer instead (default folder: build-tsan), for
#                    the code that runs on threads of its own, e.g.
#                    -t -f 'Compactor.*'
#   -b BUILD_DIR     build folder (default: build-sanitize)
#   -j JOBS          parallel build jobs (default: 2)
#   -f GTEST_FILTER  narrow the tests (default: all core tests)
#
# Exit code: that of the test binary (0 when every test passed), or 2 when
# the build failed.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
build=""
jobs=2
filter="*"
thread=0
while getopts "tb:j:f:h" opt; do
    case "$opt" in
    t) thread=1 ;;
    b) build="$OPTARG" ;;
    j) jobs="$OPTARG" ;;
    f) filter="$OPTARG" ;;
    *) sed -n '2,25p' "$0"; exit 2 ;;
    esac
done

flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
linkflags="-fsanitize=address,undefined"
if [ "$thread" = 1 ]; then
    flags="-fsanitize=thread -fno-omit-frame-pointer"
    linkflags="-fsanitize=thread"
    [ -n "$build" ] || build="$here/build-tsan"
fi
[ -n "$build" ] || build="$here/build-sanitize"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$linkflags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$linkflags" || exit 2
cmake --build "$build" -j"$jobs" --target quillex-tests quillex-cli || exit 2

tests="$(find "$build" -name quillex-tests -type f -perm -u+x | head -n1)"
[ -n "$tests" ] || { echo "sanitize.sh: quillex-tests not found in $build" >&2; exit 2; }

# Leaks of the Qt and engine libraries at exit are not ours to judge here;
# every other finding stops the run.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=0:halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1}"
export QT_QPA_PLATFORM=offscreen
cd "$build"
exec "$tests" --gtest_filter="$filter"
