#!/usr/bin/python3
"""python-can's side of bench_formats: prints "<messages> <seconds> <cpu seconds>", timing only
the loop (wall-clock and processor time).

  pycan_formats.py read-blf PATH            BLFReader over the file
  pycan_formats.py write-asc PATH N         ASCWriter, N messages built before the clock starts
  pycan_formats.py write-candump PATH N     CanutilsLogWriter, likewise
"""
import sys
import time

import can


def messages(n):
    return [
        can.Message(timestamp=1000.0 + i * 0.0001, arbitration_id=(0x100 + i % 0x600) if i % 2 else 0x18DA0000 + i % 0xFFFF,
                    is_extended_id=bool(i % 2 == 0), channel=i % 2, is_rx=bool(i % 3),
                    data=bytes((i + k) & 0xFF for k in range(8)))
        for i in range(n)
    ]


def main() -> int:
    mode, path = sys.argv[1], sys.argv[2]
    if mode == "read-blf":
        start = time.perf_counter()
        cpu = time.process_time()
        count = 0
        for _ in can.BLFReader(path):
            count += 1
    else:
        msgs = messages(int(sys.argv[3]))
        writer = can.ASCWriter(path) if mode == "write-asc" else can.CanutilsLogWriter(path)
        start = time.perf_counter()
        cpu = time.process_time()
        for m in msgs:
            writer.on_message_received(m)
        writer.stop()
        count = len(msgs)
    print(f"{count} {time.perf_counter() - start:.6f} {time.process_time() - cpu:.6f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
