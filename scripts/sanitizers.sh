#!/usr/bin/env bash
# The reliability passes that CI runs after the normal build and test run:
#   asan  every test under AddressSanitizer + UndefinedBehaviorSanitizer (LeakSanitizer included)
#   tsan  the tests labelled "thread" (thread tests and the stress suite) under ThreadSanitizer
#   fuzz  each libFuzzer target for a fixed number of runs over its seed corpus (clang);
#         KAVRI_FUZZ_RUNS (default 2000) and KAVRI_FUZZ_SECONDS set the length
# Usage: bash scripts/sanitizers.sh [asan] [tsan] [fuzz]   (no argument: all three, in that order)
# Any sanitizer report fails the pass: reports abort the test, and the test fails.
#
# Sanitizer builds are Debug at -O1 (fast enough to run, exact enough to read) and build only what
# their pass needs. Qt itself is not instrumented; see tests/tsan.supp and tests/lsan.supp for the
# few reports from inside Qt that are accepted, and why.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

passes=("$@")
[ ${#passes[@]} -gt 0 ] || passes=(asan tsan fuzz)

packages=(g++ cmake ninja-build pkg-config qtbase5-dev qtbase5-dev-tools clang libclang-rt-14-dev)
. scripts/packages.sh
ensure_packages "${packages[@]}"

jobs=$(nproc)
common=(-G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1")

configure() { # dir, sanitizer flags, extra cmake arguments...
    local dir=$1 flags=$2
    shift 2
    cmake -S . -B "$dir" "${common[@]}" \
        -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
        -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" "$@" >/dev/null
}

stamp() { echo "== $1: $(($(date +%s) - start)) s"; }

# One clang build serves the asan and fuzz passes: the library and the tests carry AddressSanitizer,
# UndefinedBehaviorSanitizer and the fuzzer's coverage hooks, so the fuzz targets link against
# the same objects the suite ran, and nothing is compiled twice. UBSan reports are fatal through
# UBSAN_OPTIONS=halt_on_error=1.
asan_dir=${KAVRI_ASAN_DIR:-build-asan}
asan_flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer"
asan_env=(ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1"
    LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1")

configure_asan() {
    CC=clang CXX=clang++ configure "$asan_dir" "$asan_flags" -DKAVRI_FUZZ=ON
}

pass_asan() {
    configure_asan
    cmake --build "$asan_dir" -j "$jobs"
    stamp "asan build"
    # package_consumer builds a separate, uninstrumented project against the install: it tests
    # packaging, not code, and runs in the normal pass.
    env "${asan_env[@]}" ctest --test-dir "$asan_dir" --output-on-failure -j "$jobs" -E '^package_consumer$'
}

pass_tsan() {
    local dir=${KAVRI_TSAN_DIR:-build-tsan}
    configure "$dir" "-fsanitize=thread -fno-omit-frame-pointer" -DKAVRI_BUILD_TOOLS=OFF
    local targets
    targets=$(ctest --test-dir "$dir" -N -L thread | awk '/Test +#/ { print $3 }')
    [ -n "$targets" ] || { echo "no test carries the label thread" >&2; exit 1; }
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$jobs" --target ControlCAN $targets
    stamp "tsan build"
    TSAN_OPTIONS="suppressions=$root/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1:history_size=4" \
        ctest --test-dir "$dir" --output-on-failure -j "$jobs" -L thread
}

pass_fuzz() {
    local runs=${KAVRI_FUZZ_RUNS:-2000}
    # KAVRI_FUZZ_SECONDS bounds each target's time as well, for long runs on a shared machine.
    local bound=()
    [ -z "${KAVRI_FUZZ_SECONDS:-}" ] || bound=(-max_total_time="$KAVRI_FUZZ_SECONDS")
    # A quarantine of 16 MB instead of 256: a use after free within one input is still caught
    # (an input frees well under 1 MB), and the file readers' targets, which free a 16 KiB read
    # block per look at a file's last bytes, no longer spend most of their time faulting in
    # fresh pages for the quarantine.
    local fuzz_env=("${asan_env[@]}")
    fuzz_env[0]="${fuzz_env[0]}:quarantine_size_mb=16"
    configure_asan
    local targets
    targets=$(sed -n 's/^kavri_add_fuzzer(\([a-z_]*\).*/\1/p' tests/fuzz/CMakeLists.txt)
    # shellcheck disable=SC2086
    cmake --build "$asan_dir" -j "$jobs" --target $targets
    stamp "fuzz build"
    for t in $targets; do
        local work="$asan_dir/corpus/$t"
        mkdir -p "$work"
        echo "-- $t: $runs runs"
        env "${fuzz_env[@]}" QT_QPA_PLATFORM=offscreen \
            "$asan_dir/bin/$t" -runs="$runs" "${bound[@]}" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
            -dict="$root/tests/fuzz/kavri.dict" -print_final_stats=1 -artifact_prefix="$asan_dir/" \
            "$work" "$root/tests/fuzz/corpus/${t#fuzz_}" >"$asan_dir/$t.log" 2>&1 ||
            { tail -n 60 "$asan_dir/$t.log"; exit 1; }
        grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|DONE' "$asan_dir/$t.log" | tail -n 3
    done
}

for p in "${passes[@]}"; do
    start=$(date +%s)
    case "$p" in
    asan | tsan | fuzz) "pass_$p" ;;
    *)
        echo "usage: $0 [asan] [tsan] [fuzz]" >&2
        exit 2
        ;;
    esac
    stamp "$p pass"
done
