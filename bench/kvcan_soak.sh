#!/bin/sh
# Soak: `kvcan monitor --log` on a flooded wired channel, piped into a reader that sleeps, with a
# recording of the same channel beside the trace. The trace is a bounded consumer of the
# session's frames, so resident memory must stay flat and the frames the trace could not print
# are counted in the summary instead of piling up; the recorder must lose none.
#
#   bench/kvcan_soak.sh [kvcan] [seconds] [bit rate]   (defaults: build/bin/kvcan, 300, 1M)
#
# One process does it all on the simulated adapter: channel 1 is wired to channel 0 and sends a
# handful of frames over and over (--repeat 0), as fast as the simulated bus takes them at the
# bit rate; the monitor traces channel 0. Prints VmRSS of the monitor every 10 s, then the
# monitor's summary, the recording's line count and the RSS start, maximum and end.
set -eu
KVCAN=${1:-build/bin/kvcan}
RUN=${2:-300}
RATE=${3:-1M}
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

mkfifo "$TMP/pipe"
{ sleep 1; while read -r _; do sleep 0.01; done; } <"$TMP/pipe" &
READER=$!
"$KVCAN" monitor --log --channel 0 --wire 1 --bitrate "$RATE" --seconds "$RUN" \
    --record "$TMP/soak.log" --repeat 0 \
    --send 123#1122334455667788 --send 18FEF100#0102030405060708 --send 7DF#R3 --send 456# \
    >"$TMP/pipe" 2>"$TMP/summary" &
MON=$!
sleep 1 # past the loading of the libraries

t=0
: >"$TMP/rss"
while [ "$t" -le "$RUN" ] && kill -0 "$MON" 2>/dev/null; do
    rss=$(awk '/VmRSS/ { print $2 }' /proc/"$MON"/status 2>/dev/null || true)
    [ -n "$rss" ] && echo "$rss" >>"$TMP/rss"
    echo "t=${t}s VmRSS: ${rss:-gone} kB"
    sleep 10
    t=$((t + 10))
done
wait "$MON" || echo "monitor exit status $?"
# What is still in the pipe would take the slow reader minutes; it is not part of the figures.
kill "$READER" 2>/dev/null || true
wait "$READER" 2>/dev/null || true
# The recorder's status line is rewritten in place with carriage returns; keep its last state.
tr '\r' '\n' <"$TMP/summary" | grep -v '^ *$' | tail -n 4
echo "recording: $(wc -l <"$TMP/soak.log") lines ($(du -h "$TMP/soak.log" | cut -f1))"
awk 'NR == 1 { s = $1 } { if ($1 > m) m = $1; e = $1 }
     END { printf "VmRSS kB: start %d, max %d, end %d\n", s, m, e }' "$TMP/rss"
