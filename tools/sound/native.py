"""Builds dsp.c with gcc into a temporary directory once per process and wraps it."""
import atexit
import ctypes
import os
import shutil
import subprocess
import tempfile

import numpy as np

_HERE = os.path.dirname(os.path.abspath(__file__))
_lib = None


def lib():
    global _lib
    if _lib is None:
        tmp = tempfile.mkdtemp(prefix="kelvor-dsp-")
        atexit.register(shutil.rmtree, tmp, True)
        so = os.path.join(tmp, "libdsp.so")
        subprocess.run(["gcc", "-O2", "-shared", "-fPIC", "-o", so,
                        os.path.join(_HERE, "dsp.c"), "-lm"], check=True)
        _lib = ctypes.CDLL(so)
        _lib.target_rate.restype = ctypes.c_float
        _lib.target_rate.argtypes = [ctypes.c_float, ctypes.c_int, ctypes.c_float]
    return _lib


def ptr(a):
    return a.ctypes.data_as(ctypes.c_void_p)


def f32(a):
    return np.ascontiguousarray(a, dtype=np.float32)


def f64(a):
    return np.ascontiguousarray(a, dtype=np.float64)
