#!/usr/bin/python3
"""Decodes random payloads of every message of a DBC file with canmatrix, one JSON line each.

Usage: canmatrix_decode.py FILE PAYLOADS_PER_MESSAGE SEED
A line is {"id", "extended", "data" (hex), "signals": {name: [raw, physical]}}, numbers as
canmatrix's own texts; {"skip": reason} when canmatrix cannot read the file, and a message
canmatrix cannot decode gives {"id", "extended", "skip": reason}. The peer of the engine's DBC
decoder in tst_kvdbccanmatrix.
"""
import json
import logging
import random
import sys


def main() -> int:
    path, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    logging.disable(logging.CRITICAL)
    try:
        import canmatrix.formats
    except Exception as e:  # noqa: BLE001 - any import failure means "no peer"
        print(json.dumps({"skip": f"canmatrix is not available: {e}"}))
        return 0
    try:
        db = next(iter(canmatrix.formats.loadp(path).values()))
    except Exception as e:  # noqa: BLE001
        print(json.dumps({"skip": f"canmatrix cannot read {path}: {e}"}))
        return 0
    rng = random.Random(seed)
    for frame in db.frames:
        fid, ext = frame.arbitration_id.id, bool(frame.arbitration_id.extended)
        for _ in range(count):
            data = bytes(rng.getrandbits(8) for _ in range(frame.size))
            try:
                decoded = frame.decode(data)
            except Exception as e:  # noqa: BLE001
                print(json.dumps({"id": fid, "extended": ext, "skip": str(e)}))
                break
            signals = {name: [str(d.raw_value), str(d.phys_value)] for name, d in decoded.items()}
            print(json.dumps({"id": fid, "extended": ext, "data": data.hex(), "signals": signals}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
