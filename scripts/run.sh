#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine (as root): installs what is missing, builds, and
# then runs the demo on the simulated adapter (`demo`), passes every test (`test`) or opens the
# analyser window (`view`, needs a display).
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-test}
build=${KAVRI_BUILD_DIR:-build}

packages=(g++ cmake ninja-build pkg-config qtbase5-dev qtbase5-dev-tools
    libqt5serialbus5-dev libqt5serialbus5-plugins libqt5charts5-dev)
# Independent peers that write the recordings the readers of other tools' files are tested on.
packages+=(python3-can can-utils)
# The binary logging format is read and written with zlib.
packages+=(zlib1g-dev)
# The peer the DBC decoder is checked against.
packages+=(python3-canmatrix)
. scripts/packages.sh
ensure_packages "${packages[@]}"

cmake -S . -B "$build" -G Ninja -DKAVRI_WERROR=ON
cmake --build "$build" -j "$(nproc)"

case "$mode" in
demo)
    "$build/bin/kvcan" demo "${@:2}"
    ;;
view)
    "$build/bin/kavri-view" "${@:2}"
    ;;
test)
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
    ;;
*)
    echo "usage: $0 demo|test|view" >&2
    exit 2
    ;;
esac
