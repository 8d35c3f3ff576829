#!/usr/bin/python3
"""Decodes frames with canmatrix and prints "<frames> <seconds>".

Usage: canmatrix_decode.py DBC FRAMES
FRAMES holds one frame a line, "<id hex> <extended 0|1> <data hex>". The peer of the engine's
decoder in bench_signals: the same database and the same frames; each frame's message is found
in a dictionary built beforehand (canmatrix's own lookup searches a list), then decoded with
Frame.decode. Only the decoding loop is timed.
"""
import logging
import sys
import time


def main() -> int:
    logging.disable(logging.CRITICAL)
    import canmatrix.formats

    db = next(iter(canmatrix.formats.loadp(sys.argv[1]).values()))
    by_id = {(f.arbitration_id.id, bool(f.arbitration_id.extended)): f for f in db.frames}
    frames = []
    with open(sys.argv[2]) as f:
        for line in f:
            ident, ext, data = line.split()
            frames.append(((int(ident, 16), ext == "1"), bytes.fromhex(data)))
    start = time.perf_counter()
    values = 0
    for key, data in frames:
        decoded = by_id[key].decode(data)
        for signal in decoded.values():
            values += signal.phys_value is not None
    seconds = time.perf_counter() - start
    print(f"{len(frames)} {seconds:.6f} {values}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
