"""Small committed fixtures for the C++ tests, remade whenever the network is retrained.

    /usr/bin/python3 -m tools.sound.fixtures [--weights resources/network_weights.bin]
"""
import argparse
import os
import sys

import numpy as np
import torch

from . import export, lfo

_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TEST_DIR = os.path.join(_ROOT, "tests", "sound")
sys.path.insert(0, os.path.join(_ROOT, "tools"))
import lfo_tables  # noqa: E402


def torch_network(weights):
    """GRU + Linear holding the exported weights (the file's order is PyTorch's)."""
    from .train import Net
    net = Net()
    w = torch.from_numpy(np.array(weights, np.float32))
    sd, k = {}, 0
    for name in export.ORDER:
        shape = dict(net.state_dict())[name].shape
        sd[name] = w[k:k + shape.numel()].reshape(shape)
        k += shape.numel()
    net.load_state_dict(sd)
    return net


def network_case(weights, bank, row=64, steps=240, seed=7, gain=0.5):
    """A plucked-like burst (nominal level at the default gain; 0 gives silence) with the LFO
    as the plug-in makes it at Speed row / 127, from that bank row; returns (x, v, PyTorch
    output)."""
    rng = np.random.default_rng(seed)
    t = np.arange(steps)
    x = (gain * np.exp(-t / 80.0) * (np.sin(2 * np.pi * 440 * t / 44100) + 0.5 * rng.standard_normal(steps)))
    x = x.astype(np.float32)
    speed = row / 127
    v, _, _ = lfo.LfoState(speed).run(np.full(steps, speed, np.float32), False, 2.0)
    net = torch_network(weights)
    with torch.no_grad():
        h0 = torch.from_numpy(np.array(bank[row], np.float32)).reshape(1, 1, 16)
        y, _ = net(torch.from_numpy(np.stack([x, v], -1))[None], h0)
    return x, v, y[0].numpy()


def write_network_fixture(path, weights, bank, row=64, steps=240, gain=0.5):
    x, v, y = network_case(weights, bank, row, steps, gain=gain)
    with open(path, "w") as f:
        f.write("# PyTorch run of the exported network from a bank row: audio, LFO, output\n")
        f.write("row %d\n" % row)
        for a, b, c in zip(x, v, y):
            f.write("%.9g %.9g %.9g\n" % (a, b, c))


def lfo_cases():
    """(phase, freq) pairs around the level boundaries, the extrapolated slowest rate, the
    fastest table alone and the end of a cycle."""
    tabs = lfo.tables()
    sizes = [len(t) for t in tabs]
    rng = np.random.default_rng(11)
    freqs = [0.0481632653, 0.1, 0.145, 1.0, 3.4717686, 6.8953743, 16.0, 21.0, 32.0]
    freqs += [44100.0 / s for s in sizes[::3]] + [44100.0 / (s + 0.5) for s in sizes[1::4]]
    rows = []
    for fr in freqs:
        fr = float(np.float32(fr))
        for ph in [0.0, 0.25, 0.75, float(np.nextafter(np.float32(1), np.float32(0)))] + list(rng.random(2)):
            rows.append((float(np.float32(ph)), fr))
    return rows


def write_lfo_fixture(path):
    tabs = lfo.tables()
    with open(path, "w") as f:
        f.write("# LFO lookup of tools/lfo_tables.py: phase, freq (Hz), value\n")
        for ph, fr in lfo_cases():
            value = lfo_tables.lookup(tabs, np.float32(ph), np.float32(fr))
            f.write("%.9g %.9g %.9g\n" % (ph, fr, float(value)))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--weights", default=export.DEFAULT_OUT)
    a = ap.parse_args()
    bank, weights = export.read(a.weights)
    write_network_fixture(os.path.join(TEST_DIR, "network_fixture.txt"), weights, bank)
    write_lfo_fixture(os.path.join(TEST_DIR, "lfo_fixture.txt"))


if __name__ == "__main__":
    main()
