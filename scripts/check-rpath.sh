#!/usr/bin/env bash
# Checks how the binaries of a build tree find their libraries (CI runs it after the tests):
#   - every RPATH or RUNPATH entry of every executable and library in <build>/bin is $ORIGIN-based
#     or absolute: an empty entry ("a:b::") or a relative one is resolved against the current
#     folder, so a library planted where a tool is run from would be loaded;
#   - the tools (kvcan, kavri-view) have no NEEDED entry for the adapter library: the engine loads
#     the adapter itself, from beside the executable, and a link of the tool's own would let
#     LD_LIBRARY_PATH swap in another one.
# Usage: bash scripts/check-rpath.sh [--tools-may-link-adapter] [build-dir]   (default: build)
# --tools-may-link-adapter skips the second check.
set -euo pipefail

check_tools=1
if [ "${1:-}" = --tools-may-link-adapter ]; then
    check_tools=0
    shift
fi
bin=${1:-build}/bin
[ -d "$bin" ] || { echo "check-rpath: no folder $bin" >&2; exit 2; }

failures=0
checked=0
fail() {
    echo "check-rpath: $*" >&2
    failures=$((failures + 1))
}

for f in "$bin"/*; do
    # Each library once, under its real name; only ELF files.
    [ -f "$f" ] && [ ! -L "$f" ] || continue
    [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
    checked=$((checked + 1))
    dynamic=$(readelf -d "$f")
    # "... (RUNPATH)  Library runpath: [$ORIGIN/../lib:$ORIGIN]"
    while IFS= read -r paths; do
        # ':' doubled, leading or trailing marks an empty entry.
        case ":$paths:" in *::*) fail "$f: empty search-path entry in [$paths]" ;; esac
        IFS=: read -r -a entries <<<"$paths"
        for e in "${entries[@]}"; do
            case "$e" in
            '' | '$ORIGIN' | '$ORIGIN/'* | '${ORIGIN}' | '${ORIGIN}/'* | /*) ;;
            *) fail "$f: relative search-path entry '$e' in [$paths]" ;;
            esac
        done
    done < <(sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p' <<<"$dynamic")
    if [ $check_tools = 1 ]; then
        case "$(basename "$f")" in
        kvcan | kavri-view)
            if grep -q '(NEEDED).*\[libControlCAN\.so' <<<"$dynamic"; then
                fail "$f: links the adapter library (NEEDED libControlCAN.so)"
            fi
            ;;
        esac
    fi
done

[ $checked -gt 0 ] || { echo "check-rpath: no ELF file in $bin" >&2; exit 2; }
if [ $failures -gt 0 ]; then
    echo "check-rpath: $failures problem(s) in $checked binaries" >&2
    exit 1
fi
echo "check-rpath: $checked binaries in $bin load their libraries only from fixed places"
