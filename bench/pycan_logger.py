#!/usr/bin/python3
"""Writes N messages through python-can's can.Logger and prints "<messages> <seconds> <cpu>".

The peer of the engine's recorder in bench_recorder: the same number of frames, on four
channels, in the same format (by the file's ending), as fast as the logger takes them. Building
the messages is not timed; the logger's on_message_received and stop are.
"""
import sys
import time

import can


def main() -> int:
    path, count = sys.argv[1], int(sys.argv[2])
    messages = [can.Message(timestamp=i / 36000.0, arbitration_id=0x100 + i % 64,
                            data=i.to_bytes(4, "little") + bytes(4), channel=i % 4, is_rx=True)
                for i in range(min(count, 100000))]
    logger = can.Logger(path)
    cpu0, wall0 = time.process_time(), time.perf_counter()
    for i in range(count):
        logger.on_message_received(messages[i % len(messages)])
    logger.stop()
    print(f"{count} {time.perf_counter() - wall0:.6f} {time.process_time() - cpu0:.6f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
