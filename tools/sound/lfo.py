"""The LFO signal exactly as the plug-in makes it: Speed, tempo sync and slew rules
(dsp.c, float32) and the table lookup of tools/lfo_tables.py."""
import ctypes
import os
import sys

import numpy as np

from . import native

_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(_ROOT, "tools"))
import lfo_tables  # noqa: E402

FS = 44100
TABLE_FILE = os.path.join(_ROOT, "resources", "lfo_tables.bin")
_tables = None


def tables():
    global _tables
    if _tables is None:
        _tables = lfo_tables.read(TABLE_FILE)
    return _tables


def speed_to_frequency(s):
    return float(np.float32(float(np.float32(s)) * 6.84721088436 + 0.0481632653))


def target_rate(speed, sync=False, bar_seconds=2.0):
    return float(native.lib().target_rate(ctypes.c_float(speed), int(bool(sync)),
                                          ctypes.c_float(bar_seconds)))


def lookup_many(tabs, phase, freq):
    """lfo_tables.lookup for one rate per sample (vectorised, same float32 steps)."""
    phase = native.f32(phase)
    freq = native.f32(freq)
    sizes = np.array([len(t) for t in tabs], np.int64)
    offsets = np.concatenate([[0], np.cumsum(sizes)[:-1]])
    flat = np.concatenate(tabs).astype(np.float32)
    period = (np.float32(lfo_tables.INTERNAL_RATE) / freq).astype(np.int64)
    upper = len(sizes) - np.searchsorted(sizes[::-1], period, side="right")  # first size <= period
    last = len(sizes) - 1
    a = np.where(upper == 0, 0, np.where(upper > last, last, upper - 1))
    b = np.where(upper == 0, 1, np.where(upper > last, last, upper))

    def level(idx):
        n = sizes[idx]
        pos = n.astype(np.float32) * phase
        i0 = np.minimum(np.floor(pos).astype(np.int64), n - 1)
        f = (pos - i0.astype(np.float32)).astype(np.float32)
        i1 = np.where(i0 + 1 == n, 0, i0 + 1)
        o = offsets[idx]
        return (np.float32(1) - f) * flat[o + i0] + f * flat[o + i1]

    sa, sb = level(a), level(b)
    den = (sizes[b] - sizes[a]).astype(np.float32)
    w = ((period - sizes[a]).astype(np.float32) / np.where(a == b, np.float32(1), den)).astype(np.float32)
    mixed = (sa * (np.float32(1) - w) + w * sb).astype(np.float32)
    return np.where(a == b, sa, mixed).astype(np.float32)


class LfoState:
    """Per-channel LFO state as primed at preparation: followers at Speed and its rate
    (a 2-second bar when synced), phase 0."""

    def __init__(self, speed, sync=False):
        self.state = np.array([speed, target_rate(speed, sync, 2.0), 0.0], np.float32)

    def track(self, speed, sync, bar_seconds):
        """Phase read and slew-limited rate of each sample, for per-sample Speed, sync
        flag and bar length (scalars are held)."""
        speed = native.f32(speed)
        n = len(speed)
        sync = np.ascontiguousarray(np.broadcast_to(np.asarray(sync, np.uint8), (n,)))
        bar = native.f32(np.broadcast_to(np.asarray(bar_seconds, np.float32), (n,)))
        phase = np.empty(n, np.float32)
        rate = np.empty(n, np.float32)
        native.lib().lfo_track(native.ptr(speed), native.ptr(sync), native.ptr(bar),
                               ctypes.c_int(n), native.ptr(self.state), native.ptr(phase),
                               native.ptr(rate))
        return phase, rate

    def run(self, speed, sync, bar_seconds):
        """LFO values; returns (v, phase, rate)."""
        phase, rate = self.track(speed, sync, bar_seconds)
        return lookup_many(tables(), phase, rate), phase, rate


def random_program(n, rng):
    """Speed automation for training: holds, jumps and ramps, free running or synced at
    60-240 BPM. Returns (speed, sync, bar_seconds) per sample."""
    speed = np.empty(n, np.float32)
    sync = np.empty(n, np.uint8)
    bar = np.empty(n, np.float32)
    i, cur = 0, rng.random()
    while i < n:
        L = min(n - i, int(rng.uniform(0.5, 6.0) * FS))
        u = rng.random()
        new = 0.0 if u < 0.08 else 1.0 if u < 0.16 else rng.random()
        if rng.random() < 0.3:
            speed[i:i + L] = np.linspace(cur, new, L)
        else:
            speed[i:i + L] = new
        cur = new
        sync[i:i + L] = rng.random() < 0.3
        bar[i:i + L] = 240.0 / rng.uniform(60, 240)
        i += L
    return speed, sync, bar
