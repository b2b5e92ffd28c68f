#!/usr/bin/env bash
# The HTML report in a real browser: a sample archive with every kind of
# damage is checked twice (the second run compared with the first), the
# second page is rendered by headless Chromium, and the browser's console
# must stay free of script errors and refused content (the page's
# Content-Security-Policy allows nothing but its own style and script).
#
#   tools/html-report-shot.sh [BUILD_DIR] [SCREENSHOT.png]
#
# Needs chromium (apt-get install -y chromium); not part of the test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shot=${2:-$root/docs/screenshots/html-report.png}
browser=$(command -v chromium || command -v chromium-browser || command -v google-chrome || true)
if [ -z "$browser" ]; then
    echo "html-report-shot: no chromium found (apt-get install -y chromium)" >&2
    exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quillex-html.XXXXXX")
trap 'rm -rf "$work"' EXIT
cli=$build/bin/quillex-cli

"$cli" sample "$work" --documents 400 --faults all >/dev/null
# Damage that stays is expected: exit codes 1 and 4 are results, not failures.
"$cli" check --normal "$work/Archief.dat" --json "$work/first.json" >/dev/null 2>&1 || true
"$cli" check --normal "$work/Archief.dat" --html "$work/report.html" --compare "$work/first.json" \
    >/dev/null 2>"$work/cli.err" || status=$?
case ${status:-0} in 0|1|4) ;; *) echo "html-report-shot: check failed (${status})" >&2; cat "$work/cli.err" >&2; exit 1 ;; esac
[ -s "$work/report.html" ] || { echo "html-report-shot: no report written" >&2; exit 1; }

mkdir -p "$(dirname "$shot")"
# --no-sandbox: containers and root runs have no user namespaces for it.
"$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --enable-logging=stderr --v=0 \
    --window-size=1200,1900 --screenshot="$shot" "file://$work/report.html" 2>"$work/console.log" >/dev/null || true
if grep -E "Uncaught|Refused|Content Security Policy|violates|ERR_" "$work/console.log" | grep -v "dbus\|gpu\|GPU" >&2; then
    echo "html-report-shot: the browser's console reports errors (above)" >&2
    exit 1
fi
[ -s "$shot" ] || { echo "html-report-shot: no screenshot" >&2; cat "$work/console.log" >&2; exit 1; }
echo "html-report-shot: $shot ($(wc -c <"$shot") bytes), console clean"
