"""The reference phaser the network learns (equations in README.md)."""
import ctypes

import numpy as np

from . import native

FS = 44100
FMIN, FMAX = 150.0, 3000.0   # break frequency at LFO -1 and +1
FEEDBACK = 0.5
SATURATION = 1.0             # input stage: s = A tanh(x / A)
STAGES = 4


def phaser(x, lfo):
    """y for input x and LFO values lfo (same length), from rest."""
    x = native.f64(x)
    lfo = native.f32(lfo)
    y = np.zeros_like(x)
    d = ctypes.c_double
    native.lib().phaser(native.ptr(x), native.ptr(lfo), native.ptr(y), ctypes.c_int(len(x)),
                        d(FS), d(FMIN), d(FMAX), d(FEEDBACK), d(SATURATION), ctypes.c_int(STAGES))
    return y.astype(np.float32)


def break_frequency(v):
    return FMIN * (FMAX / FMIN) ** ((np.asarray(v, np.float64) + 1.0) / 2.0)
