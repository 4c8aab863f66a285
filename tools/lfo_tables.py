#!/usr/bin/python3
"""The LFO table set: writes resources/lfo_tables.bin and reads it back.

Sixteen single-cycle tables, one per rate band, sampled at 44100 Hz (a table's
length is its band's period). Each cycle is an inverted sine whose extremes are
flattened more at the slow bands, with a slightly different depth on the
negative and the positive half; the depth falls as the rate rises.

    python3 tools/lfo_tables.py [OUT]      (default: resources/lfo_tables.bin)
"""
import struct
import sys
from pathlib import Path

import numpy as np

INTERNAL_RATE = 44100.0

# (length in samples, depth of the minimum, depth of the maximum, flatness)
LEVELS = [
    (304086, 0.970, 0.971, 1.60),
    (229776, 0.968, 0.969, 1.50),
    (173862, 0.964, 0.964, 1.40),
    (131499, 0.958, 0.960, 1.30),
    (99565, 0.950, 0.954, 1.20),
    (75759, 0.941, 0.945, 1.10),
    (56818, 0.929, 0.932, 1.00),
    (42183, 0.916, 0.889, 0.90),
    (32014, 0.889, 0.895, 0.80),
    (23645, 0.851, 0.848, 0.70),
    (17679, 0.804, 0.814, 0.60),
    (11926, 0.654, 0.655, 0.50),
    (7989, 0.480, 0.514, 0.40),
    (5657, 0.402, 0.412, 0.30),
    (3776, 0.297, 0.323, 0.20),
    (2124, 0.215, 0.270, 0.10),
]


def render_level(length, depth_min, depth_max, flatness):
    theta = 2.0 * np.pi * np.arange(length, dtype=np.float64) / length
    shape = np.tanh(flatness * np.sin(theta)) / np.tanh(flatness)
    v = -shape  # 0 -> minimum at 1/4 -> 0 at 1/2 -> maximum at 3/4 -> back to 0
    # out = v (A + B v) is monotonic in v for A > 2|B|, so the extremes stay at
    # v = -1 and v = +1 and the two halves join without a kink.
    a = 0.5 * (depth_max + depth_min)
    b = 0.5 * (depth_max - depth_min)
    return (v * (a + b * v)).astype(np.float32)


def build():
    return [render_level(*lv) for lv in LEVELS]


def write(path, tables):
    with open(path, "wb") as f:
        f.write(struct.pack("<i", len(tables)))
        f.write(struct.pack("<%di" % len(tables), *[len(t) for t in tables]))
        for t in tables:
            f.write(t.astype("<f4").tobytes())


def read(path):
    raw = Path(path).read_bytes()
    n = struct.unpack_from("<i", raw, 0)[0]
    sizes = struct.unpack_from("<%di" % n, raw, 4)
    tables, offset = [], 4 + 4 * n
    for s in sizes:
        tables.append(np.frombuffer(raw, "<f4", s, offset).astype(np.float32))
        offset += 4 * s
    if offset != len(raw):
        raise ValueError("table lengths do not cover the file")
    return tables


def levels_for(freq, sizes):
    """Lower and upper level and the weight between them, in float32 like the plug-in."""
    period = int(np.float32(INTERNAL_RATE) / np.float32(freq))
    for i, s in enumerate(sizes):
        if s <= period:
            a, b = (i - 1, i) if i >= 1 else (0, 1)
            break
    else:
        a = b = len(sizes) - 1
    if a == b:
        return a, b, np.float32(1.0)
    w = np.float32(period - sizes[a]) / np.float32(sizes[b] - sizes[a])
    return a, b, np.float32(w)


def _in_level(table, phase):
    n = len(table)
    pos = np.float32(n) * np.asarray(phase, np.float32)
    i0 = np.floor(pos).astype(np.int64)
    f = (pos - i0.astype(np.float32)).astype(np.float32)
    i1 = np.where(i0 + 1 == n, 0, i0 + 1)
    return (np.float32(1) - f) * table[i0] + f * table[i1]


def lookup(tables, phase, freq):
    """LFO value(s) at phase (scalar or array) for one rate, as the plug-in reads them."""
    sizes = [len(t) for t in tables]
    a, b, w = levels_for(freq, sizes)
    sa = _in_level(tables[a], phase)
    if a == b:
        return sa.astype(np.float32)
    sb = _in_level(tables[b], phase)
    return (sa * (np.float32(1) - w) + w * sb).astype(np.float32)


if __name__ == "__main__":
    out = Path(sys.argv[1] if len(sys.argv) > 1 else
               Path(__file__).resolve().parent.parent / "resources" / "lfo_tables.bin")
    tables = build()
    write(out, tables)
    print("%s: %d levels, %d bytes" % (out, len(tables), out.stat().st_size))
