#!/usr/bin/env bash
# The window's screenshots for the README: builds the window test and runs its screenshot case,
# which writes docs/kavri-view-1024x700.png and docs/kavri-view-1440x900.png (a wired session with
# traffic on the simulated adapter, the per-ID page and, in the larger, the signal plot).
# Usage: bash scripts/screenshots.sh [build folder, default build]
# Without a display the offscreen platform draws them; set QT_QPA_PLATFORM=xcb to use an X server
# (its fonts and style then show in the pictures).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}

cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target tst_kavriview
test=$(find "$build" -type f -name tst_kavriview -perm -u+x | head -n 1)
[ -n "$test" ] || { echo "tst_kavriview not found under $build" >&2; exit 1; }
KAVRI_SCREENSHOT_DIR="$root/docs" QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$test" screenshots
ls -l "$root"/docs/kavri-view-*x*.png
