#!/usr/bin/python3
"""Reads an ASC recording with python-can's ASC reader and prints "<messages> <seconds>".

The peer of the engine's ASC reader in bench_readers: the same file, read to the end, every
message built as python-can builds it. Only the reading is timed, not the interpreter's start.
"""
import sys
import time

import can


def main() -> int:
    path = sys.argv[1]
    start = time.perf_counter()
    messages = 0
    with can.ASCReader(path) as reader:
        for _ in reader:
            messages += 1
    seconds = time.perf_counter() - start
    print(f"{messages} {seconds:.6f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
