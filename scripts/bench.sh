#!/usr/bin/env bash
# The benchmarks: configures a Release build in build-bench/, builds the library and the
# benchmark programs, runs every benchmark (python-can's ASC reader and canmatrix included, through
# Debian's /usr/bin/python3) and prints a summary of every figure against its goal.
#
#   bash scripts/bench.sh            full run, three repetitions of each benchmark, medians
#   bash scripts/bench.sh --smoke    one short iteration of each (for CI; figures mean nothing)
#
# Results: build-bench/results/<program>.json and build-bench/results/summary.md.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=full
case "${1:-}" in
--smoke) mode=smoke ;;
"") ;;
*)
    echo "usage: $0 [--smoke]" >&2
    exit 2
    ;;
esac
build=${KAVRI_BENCH_BUILD_DIR:-build-bench}

packages=(g++ cmake ninja-build pkg-config qtbase5-dev qtbase5-dev-tools libbenchmark-dev python3-can python3-canmatrix zlib1g-dev)
. scripts/packages.sh
ensure_packages "${packages[@]}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAVRI_BUILD_BENCHMARKS=ON \
    -DKAVRI_BUILD_TESTS=OFF -DKAVRI_BUILD_TOOLS=OFF -DKAVRI_WERROR=ON
cmake --build "$build" -j "$(nproc)"

results="$build/results"
mkdir -p "$results"
rm -f "$results"/*.json
if [ "$mode" = smoke ]; then
    export KAVRI_BENCH_SMOKE=1
    args=(--benchmark_min_time=0.01)
else
    unset KAVRI_BENCH_SMOKE
    args=(--benchmark_repetitions=3)
fi
# One program per subsystem; newer ones are added a line each.
programs=(bench_buffer bench_channels bench_readers bench_firmware)
programs+=(bench_signals)
programs+=(bench_charging)
programs+=(bench_formats)
programs+=(bench_recorder)
for program in "${programs[@]}"; do
    "$build/bin/$program" "${args[@]}" --benchmark_out="$results/$program.json" \
        --benchmark_out_format=json
done
/usr/bin/python3 bench/summarize.py "$results"/*.json | tee "$results/summary.md"
