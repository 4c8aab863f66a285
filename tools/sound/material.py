"""Program material made on the spot: plucked strings and chords, pads, drums, noise
bursts and sine sweeps."""
import ctypes

import numpy as np
from scipy.signal import lfilter

from . import native

FS = 44100
CHORDS = [[0, 4, 7], [0, 3, 7], [0, 7, 12], [0, 4, 7, 11], [0, 3, 7, 10], [0, 5, 7],
          [0, 4, 7, 12, 16]]


def _ks(n, f0, decay, bright, seed):
    out = np.zeros(n)
    native.lib().ks_pluck(native.ptr(out), ctypes.c_int(n), ctypes.c_double(FS),
                          ctypes.c_double(f0), ctypes.c_double(decay), ctypes.c_double(bright),
                          ctypes.c_uint32(seed))
    return out


def _env(n, rng):
    a = min(int(rng.uniform(0.001, 0.05) * FS), n // 2)
    e = np.ones(n)
    e[:a] = np.linspace(0, 1, a)
    e[a:] = np.exp(-np.arange(n - a) / (rng.uniform(0.05, 1.0) * FS))
    return e


def noise_burst(rng):
    n = int(rng.uniform(0.05, 1.0) * FS)
    w = rng.standard_normal(n)
    if rng.random() < 0.5:  # pinkish
        w = lfilter([1.0], [1.0, -rng.uniform(0.5, 0.98)], w)
    return w * _env(n, rng)


def sweep(rng):
    dur = rng.uniform(0.5, 4.0)
    n = int(dur * FS)
    f0, f1 = 20.0, rng.uniform(8000, 20000)
    if rng.random() < 0.5:
        f0, f1 = f1, f0
    t = np.arange(n) / FS
    k = np.log(f1 / f0)
    s = np.sin(2 * np.pi * f0 * dur / k * (np.exp(t / dur * k) - 1))
    fade = min(n // 10, 2000)
    s[:fade] *= np.linspace(0, 1, fade)
    s[-fade:] *= np.linspace(1, 0, fade)
    return s


def plucks(rng):
    n = int(rng.uniform(1.0, 4.0) * FS)
    out = np.zeros(n)
    t = 0
    while t < n - 2000:
        f0 = 82.4 * 2 ** (rng.integers(0, 40) / 12.0)
        out[t:] += _ks(n - t, f0, rng.uniform(0.990, 0.9995), rng.uniform(0.3, 1.0),
                       int(rng.integers(1, 1 << 30))) * rng.uniform(0.3, 1.0)
        t += int(rng.uniform(0.08, 0.6) * FS)
    return out


def chords(rng):
    n = int(rng.uniform(1.5, 4.0) * FS)
    out = np.zeros(n)
    t = 0
    while t < n - 4000:
        root = 82.4 * 2 ** (rng.integers(0, 17) / 12.0)
        strum = rng.uniform(0.0, 0.03) * FS
        for j, st in enumerate(CHORDS[rng.integers(len(CHORDS))]):
            o = t + int(j * strum)
            if o >= n:
                break
            out[o:] += _ks(n - o, root * 2 ** (st / 12.0), rng.uniform(0.993, 0.9995),
                           rng.uniform(0.3, 0.9), int(rng.integers(1, 1 << 30)))
        t += int(rng.uniform(0.4, 1.5) * FS)
    return out


def pad(rng):
    n = int(rng.uniform(1.0, 4.0) * FS)
    t = np.arange(n) / FS
    out = np.zeros(n)
    root = 55.0 * 2 ** (rng.integers(0, 24) / 12.0)
    for st in CHORDS[rng.integers(len(CHORDS))]:
        f = root * 2 ** (st / 12.0) * (1 + rng.uniform(-0.003, 0.003))
        for k in range(1, int(min(40, (FS / 2 - 500) / f)) + 1):
            out += np.sin(2 * np.pi * k * f * t + rng.uniform(0, 2 * np.pi)) / k
    a = int(0.05 * FS)
    out[:a] *= np.linspace(0, 1, a)
    out[-a:] *= np.linspace(1, 0, a)
    return out


def drums(rng):
    """A bar or two of kick, snare and hi-hat hits at a random tempo."""
    step = 60.0 / rng.uniform(70, 180) / 4 * FS
    steps = int(rng.integers(8, 33))
    n = int(step * steps) + FS // 2
    out = np.zeros(n)
    for k in range(steps):
        o = int(k * step)
        if k % 4 == 0 and rng.random() < 0.8:  # kick: falling sine
            L = int(0.4 * FS)
            tt = np.arange(L) / FS
            f = 45 + 120 * np.exp(-tt / 0.03)
            out[o:o + L] += np.sin(2 * np.pi * np.cumsum(f) / FS) * np.exp(-tt / 0.15)
        if k % 8 == 4 and rng.random() < 0.8:  # snare: tone plus band noise
            L = int(0.25 * FS)
            tt = np.arange(L) / FS
            nz = lfilter([1, -1], [1, -0.3], rng.standard_normal(L))
            out[o:o + L] += (0.5 * np.sin(2 * np.pi * 190 * tt) + 0.5 * nz) * np.exp(-tt / 0.06)
        if rng.random() < 0.6:  # hat: high-passed noise
            L = int(0.06 * FS)
            nz = lfilter([1, -1], [1, 0.5], rng.standard_normal(L))
            out[o:o + L] += 0.3 * nz * np.exp(-np.arange(L) / (0.012 * FS))
    return out


GENERATORS = [(noise_burst, 0.15), (sweep, 0.15), (plucks, 0.2), (chords, 0.2), (pad, 0.15),
              (drums, 0.15)]


def program(seconds, rng, level_db):
    """Items back to back with short gaps; each item is scaled to a peak of level_db(rng)
    dBFS (as the network sees it)."""
    gens, probs = zip(*GENERATORS)
    probs = np.array(probs) / sum(probs)
    parts, total = [], 0
    while total < seconds * FS:
        s = gens[rng.choice(len(gens), p=probs)](rng)
        s = s / (np.max(np.abs(s)) + 1e-12) * 10 ** (level_db(rng) / 20)
        gap = np.zeros(int(rng.uniform(0.0, 0.3) * FS))
        parts += [s, gap]
        total += len(s) + len(gap)
    return np.concatenate(parts)[: int(seconds * FS)]
