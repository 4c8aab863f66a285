"""Training and validation sets: program material at -40..+48 dBFS peak (as the network
sees it; the pre-gain reaches +48 dB), the plug-in's LFO under random Speed automation, and
the reference output. The quiet sets hold near-silence (-110..-50 dBFS) and silence with
the LFO running, for the absolute error term of the loss."""
import os

import numpy as np

from . import lfo, material, phaser

FS = 44100
# the held-out test set lives in evaluate.py (seed 303)
SEEDS = {"train": 101, "val": 202, "quiet_train": 404, "quiet_val": 505}
HOT_SHARE = 0.25  # items peaking above +12 dBFS: there, but not the bulk


def program_level(rng):
    if rng.random() < HOT_SHARE:
        return rng.uniform(12.0, 48.0)
    return rng.uniform(-40.0, 12.0)


def quiet_level(rng):
    """Near-silence, or (a third of the items) digital silence."""
    return -np.inf if rng.random() < 1 / 3 else rng.uniform(-110.0, -50.0)


def build(seed, seconds, level=program_level):
    rng = np.random.default_rng(seed)
    x = material.program(seconds, rng, level)
    speed, sync, bar = lfo.random_program(len(x), rng)
    v, _, _ = lfo.LfoState(float(speed[0]), bool(sync[0])).run(speed, sync, bar)
    y = phaser.phaser(x, v)
    return x.astype(np.float32), v, y


def load(workdir, name, seconds):
    """Cached in workdir (never in the repository)."""
    os.makedirs(workdir, exist_ok=True)
    path = os.path.join(workdir, "%s_%d_%d_hot.npz" % (name, SEEDS[name], seconds))
    if not os.path.exists(path):
        level = quiet_level if name.startswith("quiet") else program_level
        x, v, y = build(SEEDS[name], seconds, level)
        np.savez(path, x=x, v=v, y=y)
    d = np.load(path)
    return d["x"], d["v"], d["y"]
