#!/bin/sh
# Soak: `kvcan monitor --log` on a flooded channel, piped into a reader that sleeps. The trace is
# a bounded consumer of the session's frames, so resident memory must stay flat and the frames the
# trace could not print are counted in the summary instead of piling up.
#
#   bench/kvcan_soak.sh [kvcan] [seconds]      (defaults: build/bin/kvcan, 300)
#
# The flood comes from a second kvcan replaying a recording back to back, in a loop, onto Qt's
# virtual CAN bus, which the monitored channel is bridged to. Prints VmRSS of the monitor every
# 10 s, then the monitor's summary.
set -eu
KVCAN=${1:-build/bin/kvcan}
RUN=${2:-300}
DIR=$(dirname "$0")/..
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

mkfifo "$TMP/pipe"
{ sleep 1; while read -r _; do sleep 0.01; done; } <"$TMP/pipe" &
"$KVCAN" monitor --log --bus virtualcan:can0 --seconds "$RUN" >"$TMP/pipe" 2>"$TMP/summary" &
MON=$!
sleep 2
"$KVCAN" replay "$DIR/examples/recording.asc" --bus virtualcan:can0 --ignore-timestamps \
    --loop 1000000 >/dev/null 2>&1 &
FLOOD=$!

t=0
while [ "$t" -lt "$RUN" ] && kill -0 "$MON" 2>/dev/null; do
    echo "t=${t}s $(grep VmRSS /proc/"$MON"/status 2>/dev/null || echo 'VmRSS: gone')"
    sleep 10
    t=$((t + 10))
done
wait "$MON" 2>/dev/null || true
kill "$FLOOD" 2>/dev/null || true
wait 2>/dev/null || true
cat "$TMP/summary"
