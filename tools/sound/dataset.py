"""Training and validation sets: program material at -40..+12 dBFS peak (as the network
sees it), the plug-in's LFO under random Speed automation, and the reference output."""
import os

import numpy as np

from . import lfo, material, phaser

FS = 44100
SEEDS = {"train": 101, "val": 202}  # the held-out test set lives in evaluate.py (seed 303)


def build(seed, seconds):
    rng = np.random.default_rng(seed)
    x = material.program(seconds, rng, lambda r: r.uniform(-40.0, 12.0))
    speed, sync, bar = lfo.random_program(len(x), rng)
    v, _, _ = lfo.LfoState(float(speed[0]), bool(sync[0])).run(speed, sync, bar)
    y = phaser.phaser(x, v)
    return x.astype(np.float32), v, y


def load(workdir, name, seconds):
    """Cached in workdir (never in the repository)."""
    os.makedirs(workdir, exist_ok=True)
    path = os.path.join(workdir, "%s_%d_%d.npz" % (name, SEEDS[name], seconds))
    if not os.path.exists(path):
        x, v, y = build(SEEDS[name], seconds)
        np.savez(path, x=x, v=v, y=y)
    d = np.load(path)
    return d["x"], d["v"], d["y"]
