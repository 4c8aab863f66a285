"""Writes the "ADNN" weights file: header, start-state bank, then the 977 weights.

The bank's row r is the hidden state the network holds on silent input at the moment
its LFO, free running at Speed r/127 from preparation, wraps to phase 0 - the first
such wrap after at least one full cycle and at least SETTLE_SECONDS.

    /usr/bin/python3 -m tools.sound.export MODEL.pt [--out resources/network_weights.bin]

The weights the run's pattern holds at zero are checked to be exactly 0.0 (structure.py).
"""
import argparse
import ctypes
import os
import struct

import numpy as np
import torch

from . import lfo, native, structure

FS = 44100
ROWS, HIDDEN, WEIGHTS = 128, 16, 977
SETTLE_SECONDS = 4.0
ORDER = ["gru.weight_ih_l0", "gru.weight_hh_l0", "gru.bias_ih_l0", "gru.bias_hh_l0",
         "lin.weight", "lin.bias"]
DEFAULT_OUT = os.path.join(os.path.dirname(lfo.TABLE_FILE), "network_weights.bin")


def flat_weights(state_dict):
    w = np.concatenate([state_dict[k].detach().cpu().numpy().astype(np.float32).ravel() for k in ORDER])
    assert w.size == WEIGHTS
    w[w == 0] = 0.0  # a masked -0.0 is written as +0.0
    return w


def start_states(weights, settle=SETTLE_SECONDS):
    """(128, 16) bank and, per row, the change since the previous wrap (NaN when the
    row's run holds only one wrap)."""
    weights = native.f32(weights)
    bank = np.zeros((ROWS, HIDDEN), np.float32)
    drift = np.full(ROWS, np.nan)
    for r in range(ROWS):
        speed = float(np.float32(r / 127))
        cycle = FS / lfo.speed_to_frequency(speed)
        n = int(max(cycle, settle * FS) + cycle) + 8
        v, phase, _ = lfo.LfoState(speed).run(np.full(n, speed, np.float32), False, 2.0)
        # the phase left by step i is 0 exactly when step i + 1 reads phase 0
        wraps = np.nonzero(phase[1:] == 0.0)[0]
        take = int(np.argmax(wraps + 1 >= max(settle * FS, cycle)))
        at = np.ascontiguousarray(wraps[max(take - 1, 0):take + 1], np.int32)
        snap = np.zeros((len(at), HIDDEN), np.float32)
        native.lib().gru_silence(native.ptr(weights), native.ptr(v), ctypes.c_int(int(at[-1]) + 1),
                                 native.ptr(at), ctypes.c_int(len(at)), native.ptr(snap))
        bank[r] = snap[-1]
        if len(at) == 2:
            drift[r] = np.abs(snap[1] - snap[0]).max()
    return bank, drift


def write(path, bank, weights):
    bank = native.f32(bank).ravel()
    weights = native.f32(weights).ravel()
    assert bank.size == ROWS * HIDDEN and weights.size == WEIGHTS
    body = struct.pack("<iiiiiii", 0, HIDDEN, 2, 1, ROWS, bank.size, weights.size)
    body += bank.astype("<f4").tobytes() + weights.astype("<f4").tobytes()
    with open(path, "wb") as f:
        f.write(b"ADNN" + struct.pack("<Q", len(body)) + body)


def read(path):
    raw = open(path, "rb").read()
    if raw[:4] != b"ADNN":
        raise ValueError("not an ADNN file")
    nbank, nw = struct.unpack_from("<ii", raw, 32)
    bank = np.frombuffer(raw, "<f4", nbank, 40).reshape(ROWS, HIDDEN)
    weights = np.frombuffer(raw, "<f4", nw, 40 + 4 * nbank)
    return bank, weights


def export(model_path, out, settle=SETTLE_SECONDS, pattern=None):
    """pattern: (name, lfo_units) the weights must keep, or None."""
    sd = torch.load(model_path, map_location="cpu")
    w = flat_weights(sd)
    if pattern is not None:
        bad = structure.violations(w, pattern[0], pattern[1], ORDER)
        if bad:
            raise ValueError("%d weights break the %s pattern with %d LFO units" % (bad, *pattern))
    bank, drift = start_states(w, settle)
    write(out, bank, w)
    return w, bank, drift


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("model", help="state_dict saved by train.py")
    ap.add_argument("--out", default=DEFAULT_OUT)
    ap.add_argument("--pattern", choices=structure.PATTERNS, default=structure.SHIPPED[0])
    ap.add_argument("--lfo-units", type=int, default=structure.SHIPPED[1])
    a = ap.parse_args()
    w, bank, drift = export(a.model, a.out, pattern=(a.pattern, a.lfo_units))
    print("%s: %d bytes; weights %.3f..%.3f, output bias %.4f; bank %.3f..%.3f; "
          "largest change between the last two wraps %.2e"
          % (a.out, os.path.getsize(a.out), w.min(), w.max(), w[-1], bank.min(), bank.max(),
             np.nanmax(drift)))


if __name__ == "__main__":
    main()
