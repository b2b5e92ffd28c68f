#!/usr/bin/env bash
# Pictures of every window for the user guide (resources/help/images/) and
# docs/screenshots/, made from one fixed sample archive so that a second run
# changes only the pictures of windows that changed. Needs a built tree; runs
# without a display (offscreen), pdftoppm (poppler-utils) for printout.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
# A fixed folder: its path shows in the pictures (title, list of sub databases).
work=${TMPDIR:-/tmp}/quillex-screenshots
rm -rf "$work"
# Every kind of damage except the three that stop a reorganize before it
# starts: the plan picture then shows a plan.
faults=no-data-row,data-in-other-sub-database,empty-data-with-copy,empty-data-without-copy,unreferenced-empty-data
faults+=,unreferenced-data,orphan-page-no-container,orphan-page-container-not-mp,parent-missing,parent-cycle
faults+=,databaseid-zero,databases-row-missing,double-byte-pdf,zero-upper-half,undecodable-image
faults+=,trashed-without-trash-rows,empty-folders,large-documents,same-id-different-data,sub-database-number-gaps
faults+=,unreferenced-sub-database,omd-damaged,truncated-jpeg,damaged-tiff-page,damaged-copy-in-other-sub-database
"$build/bin/quillex-cli" sample "$work/archief" --documents 80 --folders 6 --faults "$faults" --seed 1 >/dev/null
# The offscreen platform says what it cannot do for every window; nothing to act on.
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bin/quillex" --screenshots "$work/out" "$work/archief/Archief.dat" \
    2> >(grep -v "This plugin does not support" >&2)
mkdir -p "$root/docs/screenshots" "$root/resources/help/images"
for picture in main information about progress compact reorganize message plan preview help; do
    cp "$work/out/$picture.png" "$root/docs/screenshots/$picture.png"
    cp "$work/out/$picture.png" "$root/resources/help/images/$picture.png"
done
if command -v pdftoppm >/dev/null; then
    pdftoppm -png -r 90 -f 1 -l 1 -singlefile "$work/out/printout.pdf" "$root/docs/screenshots/printout"
fi
echo "pictures in docs/screenshots/ and resources/help/images/"
