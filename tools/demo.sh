#!/usr/bin/env bash
# The main job on a freshly built tree.
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
"$build/bin/quillex-cli" --version
