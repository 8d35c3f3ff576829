#!/usr/bin/env bash
# No binary of the build tree loads a library from the folder it is started in.
# Usage: planted_library.sh <bin folder> <planted library>
# Copies of the planted library, named after every library that any binary in <bin folder> needs,
# are put in an empty scratch folder. From there, the loader's own resolution (what ldd shows) of
# every binary must name none of them, and kvcan, when built, must run and leave no mark.
set -euo pipefail
bin=$(cd "$1" && pwd)
planted=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

elves=()
for f in "$bin"/*; do
    [ -f "$f" ] && [ ! -L "$f" ] && [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] &&
        elves+=("$f")
done
[ ${#elves[@]} -gt 0 ] || { echo "no binary in $bin" >&2; exit 2; }

for name in $(readelf -d "${elves[@]}" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' | sort -u); do
    cp "$planted" "$work/$name"
done

failed=0
cd "$work"
for f in "${elves[@]}"; do
    # The loader lists what it would map, without running any of it. A library taken from the
    # current folder shows as "libX.so.5 (0x...)" with no path, or as a path into the scratch
    # folder, and one that has no symbol versions makes the loader warn.
    trace=$(ldd "$f" 2>&1) || true
    if grep -q -E -e "$work" -e '^\s*lib[^ ]+ \(0x' -e 'no version information' <<<"$trace"; then
        echo "FAIL: $(basename "$f") would load a library from the current folder:" >&2
        grep -E -e "$work" -e '^\s*lib[^ ]+ \(0x' -e 'no version information' -m 5 <<<"$trace" >&2 || true
        failed=1
    elif ! grep -q '=> /' <<<"$trace"; then
        echo "FAIL: the loader lists nothing for $(basename "$f"):" >&2
        echo "$trace" >&2
        failed=1
    fi
done
if [ -x "$bin/kvcan" ]; then
    "$bin/kvcan" --help >/dev/null 2>&1 || { echo "FAIL: kvcan --help ended with $?" >&2; failed=1; }
fi
if [ -e PLANTED-LIBRARY-LOADED ]; then
    echo "FAIL: a planted library was loaded" >&2
    failed=1
fi
[ $failed = 0 ] && echo "${#elves[@]} binaries load nothing from the current folder"
exit $failed
