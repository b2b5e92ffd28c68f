#!/usr/bin/env bash
# Sets up a Debian 12 machine for Quillex and builds it; safe to run again.
#   tools/setup.sh            install packages, configure, build
#   tools/setup.sh demo       ... then run the main job on a sample archive
#   tools/setup.sh test       ... then run the tests
#   tools/setup.sh bench      ... then run the benchmarks (never part of the tests)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLEX_BUILD_DIR:-$here/build}
action=${1:-build}

packages=(cmake g++ make pkg-config libsqlcipher-dev sqlcipher qt6-base-dev libtiff-dev
  qt6-image-formats-plugins libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth
  imagemagick libtiff-tools e2fsprogs util-linux sqlite3 strace
  qt6-translations-l10n poppler-utils)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get install -y --no-install-recommends "${missing[@]}" ||
    { $sudo apt-get update && $sudo apt-get install -y --no-install-recommends "${missing[@]}"; }
fi

# The test command leaves the benchmarks out: they are never part of the
# tests, and building them costs the test command about a minute.
bench=ON; [ "$action" = test ] && bench=OFF
# Nor does it need debug information: writing it is a fifth of the build.
flags=(); [ "$action" = test ] && flags=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG")
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLEX_BUILD_BENCH=$bench "${flags[@]}" >/dev/null
cmake --build "$build" -j2

case "$action" in
  build) ;;
  demo) "$here/tools/demo.sh" "$build" ;;
  test) cd "$build" && QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure ;;
  bench) "$here/bench/run.sh" "$build" ;;
  *) echo "unknown action: $action (build, demo, test, bench)" >&2; exit 16 ;;
esac
