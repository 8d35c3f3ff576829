#!/usr/bin/python3
"""Summarises the JSON results of the benchmark programs as a Markdown table of every goal.

Usage: summarize.py RESULT.json...   Each figure is the median over the repetitions of a run.
Exits with 1 when a benchmark reported an error, so that a smoke run fails on a broken one.
"""
import json
import re
import statistics
import sys

runs = {}
errors = []
context = None
for path in sys.argv[1:]:
    with open(path) as f:
        data = json.load(f)
    context = context or data.get("context", {})
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate":
            continue
        name = re.sub(r"/(iterations:\d+|manual_time|real_time)", "", b.get("run_name", b["name"]))
        if b.get("error_occurred"):
            errors.append(f"{name}: {b.get('error_message')}")
            continue
        runs.setdefault(name, []).append(b)


def median(name, key):
    values = [b[key] for b in runs.get(name, []) if key in b]
    return statistics.median(values) if values else None


def fmt(value, unit=""):
    if value is None:
        return "n/a"
    for scale, suffix in ((1e9, " G"), (1e6, " M"), (1e3, " k")):
        if abs(value) >= scale:
            return f"{value / scale:.2f}{suffix}{unit}"
    return f"{value:.3g} {unit}".rstrip()


rows = []


def at_least(what, value, goal, unit):
    ratio = value / goal if value is not None else None
    rows.append((what, fmt(value, unit), f">= {fmt(goal, unit)}",
                 "n/a" if ratio is None else f"{ratio:.2f}x", ratio is not None and ratio >= 1))


def at_most(what, value, goal, unit):
    ratio = value / goal if value is not None else None
    rows.append((what, "n/a" if value is None else f"{value:.3g} {unit}", f"< {goal} {unit}",
                 "n/a" if ratio is None else f"{ratio:.2f} of goal",
                 ratio is not None and ratio < 1))


for ids in (1, 100, 5000):
    at_least(f"addFrame, filter 16 ranges + watch + save, {ids} id(s)",
             median(f"BM_AddFrameLoaded/{ids}", "items_per_second"), 5e6, "frames/s")
one = median("BM_AddFrameLoaded/1", "items_per_second")
many = median("BM_AddFrameLoaded/5000", "items_per_second")
if one and many:
    at_most("addFrame cost, 5000 ids / 1 id", one / many, 1.3, "x")
at_least("addFrame bare", median("BM_AddFrameBare", "items_per_second"), 10e6, "frames/s")
at_least("getFrame (text conversion)", median("BM_GetFrame", "items_per_second"), 2e6,
         "records/s")
at_least("getWatchFrame (text conversion)", median("BM_GetWatchFrame", "items_per_second"), 2e6,
         "records/s")
at_least("charging: J1939 reassembly + GB/T 27930 decoding",
         median("BM_ReassembleDecode", "items_per_second"), 1e6, "frames/s")
at_least("charging: whole session tracker", median("BM_SessionTracker", "items_per_second"), 1e6,
         "frames/s")
at_least("4 channels received", median("BM_ReceiveFourChannels", "items_per_second"), 1e6,
         "frames/s")
at_least("4 channels sent", median("BM_TransmitFourChannels", "items_per_second"), 1e6,
         "frames/s")
at_most("receive at 36,000 frames/s, engine CPU",
        median("BM_BusLimitReceive", "engine_cpu_percent"), 2, "% of a core")
at_most("transmit at 36,000 frames/s, pushes every 1 ms, engine CPU",
        median("BM_BusLimitTransmit/1", "engine_cpu_percent"), 2, "% of a core")
floor = median("BM_WakeFloor/1", "floor_cpu_percent")
at_most("  the floor: four bare threads woken at the same pace, no work", floor, 2, "% of a core")
engine = median("BM_BusLimitTransmit/1", "engine_cpu_percent")
if engine is not None and floor is not None:
    at_most("  engine above the floor", engine - floor, 2, "% of a core")
at_most("transmit at 36,000 frames/s, pushes every 10 ms, engine CPU",
        median("BM_BusLimitTransmit/10", "engine_cpu_percent"), 2, "% of a core")
at_most("idle, 4 channels with 8 threads", median("BM_IdleFourChannels", "engine_cpu_percent"),
        1, "% of a core")
asc = median("BM_ReadAsc", "items_per_second")
at_least("ASCFile", asc, 2e6, "lines/s")
at_least("KvFileCsv", median("BM_ReadCsv", "items_per_second"), 2e6, "lines/s")
python = median("BM_PythonCanReadAsc", "items_per_second")
if asc and python:
    at_least("ASCFile / python-can ASCReader, same file", asc / python, 20, "x")
firmware = [n for n in runs if n.startswith("BM_FirmwareDownload/")]
path_rate = median("BM_TransmitThreeFrameBursts", "frames_per_second")
for name in sorted(firmware, key=lambda n: int(n.split("/")[1])):
    rate = median(name, "frames_per_second")
    if rate and path_rate:
        at_least(f"firmware {name.split('/')[1]} MiB / transmit path (3-frame bursts)",
                 rate / path_rate, 1, "x")

alone = median("BM_FirmwareDownloadAlone", "frames_per_second")
largest = max(firmware, key=lambda n: int(n.split("/")[1]), default=None)
if alone and largest and median(largest, "frames_per_second"):
    at_least("  the same / download thread alone (bare consumer)",
             median(largest, "frames_per_second") / alone, 1, "x")

dbc = median("BM_DecodeEightSignals", "items_per_second")
at_least("DBC decode, 8 signals a message, lookup included", dbc, 2e6, "frames/s")
canmatrix = median("BM_CanmatrixDecode", "items_per_second")
if dbc and canmatrix:
    at_least("DBC decode / canmatrix, same frames", dbc / canmatrix, 100, "x")
load = median("BM_LoadDbcMegabyte", "cpu_time")
at_most("DBC load, 1 MB file (CPU time)", load, 50, "ms")
at_least("signal decoder draining the DBC queue", median("BM_SignalDecoderPoll", "items_per_second"),
         2e6, "frames/s")
for arg, fmt_name in ((0, "ASC"), (1, "BLF")):
    name = f"BM_RecordBusLimit/asc0_blf1:{arg}"
    if name not in runs:
        continue
    at_most(f"record 4 channels at 36,000 frames/s to {fmt_name}, frames lost",
            median(name, "frames_lost"), 1, "frames")
    at_most(f"record to {fmt_name}, recorder thread CPU",
            median(name, "recorder_cpu_percent"), 1, "% of a core")
    at_most(f"record to {fmt_name}, resident memory spread over the run",
            median(name, "rss_spread_kib"), 4096, "KiB")
    peer = median(f"BM_PythonCanLogger/asc0_blf1:{arg}", "cpu_percent_at_bus_limit")
    if peer is not None:
        at_most(f"  python-can can.Logger to {fmt_name}, CPU for the same frames per second",
                peer, 100, "% of a core")

print("| figure | measured | goal | ratio | met |")
print("|---|---|---|---|---|")
for what, value, goal, ratio, met in rows:
    print(f"| {what} | {value} | {goal} | {ratio} | {'yes' if met else '**no**'} |")

print()
print("| benchmark | median rate | other medians |")
print("|---|---|---|")
for name in runs:
    rate = median(name, "items_per_second")
    byte_rate = median(name, "bytes_per_second")
    shown = []
    if byte_rate is not None:
        shown.append(fmt(byte_rate, "B/s"))
    skip = {"items_per_second", "bytes_per_second"}
    counters = sorted({k for b in runs[name] for k, v in b.items()
                       if isinstance(v, float) and k not in skip and k not in
                       ("real_time", "cpu_time", "iterations", "repetition_index")})
    for key in counters:
        value = median(name, key)
        if value is not None and key not in ("repetitions", "threads", "family_index",
                                             "per_family_instance_index"):
            shown.append(f"{key}={value:.4g}")
    print(f"| {name} | {fmt(rate, '/s')} | {', '.join(shown)} |")

if context:
    print()
    print(f"Machine: {context.get('num_cpus')} CPUs at {context.get('mhz_per_cpu')} MHz, "
          f"load average at start {', '.join(f'{x:.2f}' for x in context.get('load_avg', []))}")
for e in errors:
    print(f"ERROR {e}", file=sys.stderr)
sys.exit(1 if errors else 0)
