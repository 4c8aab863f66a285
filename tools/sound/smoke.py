"""Keeps the tools alive: a few training steps on seconds of audio, export, reload in C++.

    /usr/bin/python3 -m tools.sound.smoke --reload-check BUILD/tests/sound/sound_reload_check
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

from . import export, fixtures, lfo, structure, train


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--reload-check", required=True, help="the sound_reload_check executable")
    a = ap.parse_args()
    t0 = time.time()

    # The vectorised lookup the data sets use must equal the reference numpy lookup.
    tabs = lfo.tables()
    rng = np.random.default_rng(5)
    for fr in [0.0481632653, 0.3, 2.0, 6.8953743, 12.0, 32.0]:
        ph = rng.random(512).astype(np.float32)
        ref = fixtures.lfo_tables.lookup(tabs, ph, np.float32(fr))
        got = lfo.lookup_many(tabs, ph, np.full(512, fr, np.float32))
        if not np.array_equal(ref, got):
            sys.exit("vectorised LFO lookup differs from tools/lfo_tables.py at %g Hz" % fr)

    with tempfile.TemporaryDirectory(prefix="kelvor-smoke-") as tmp:
        pattern = structure.SHIPPED
        args = train.parser().parse_args([
            "--out", os.path.join(tmp, "model.pt"), "--workdir", tmp, "--max-steps", "4",
            "--batch", "4", "--tbptt", "256", "--warm", "256", "--threads", "1",
            "--train-seconds", "6", "--val-seconds", "2", "--quiet", "2", "--quiet-seconds", "3",
            "--seg-weight", "0.5", "--pattern", pattern[0], "--lfo-units", str(pattern[1])])
        model, best = train.train(args, log=lambda s: None)
        if not np.isfinite(best):
            sys.exit("validation ESR is not finite")
        import torch
        torch.save(model.state_dict(), args.out)

        # The free weights are live and the held ones exactly zero after training.
        keep = np.concatenate([structure.free_masks(*pattern)[k].ravel() for k in export.ORDER])
        trained = export.flat_weights(model.state_dict())
        if structure.violations(trained, *pattern, export.ORDER) or not np.all(trained[keep == 1] != 0):
            sys.exit("the %s pattern did not hold through training" % pattern[0])

        weights_file = os.path.join(tmp, "network_weights.bin")
        weights, bank, _ = export.export(args.out, weights_file, settle=0.2, pattern=pattern)
        if os.path.getsize(weights_file) != 12140:
            sys.exit("exported file has %d bytes" % os.path.getsize(weights_file))
        read_bank, read_weights = export.read(weights_file)
        if not (np.array_equal(read_bank, bank) and np.array_equal(read_weights, weights)):
            sys.exit("exported file does not read back")

        fixture = os.path.join(tmp, "fixture.txt")
        fixtures.write_network_fixture(fixture, weights, bank, row=100, steps=300)
        rc = subprocess.run([a.reload_check, weights_file, fixture]).returncode
        if rc != 0:
            sys.exit("C++ reload differs from PyTorch")
        # Silence in, exactly zero out, in PyTorch and through the C++ step.
        if np.any(fixtures.network_case(weights, bank, row=100, steps=300, gain=0.0)[2] != 0):
            sys.exit("PyTorch output on silence is not exactly zero")
        fixtures.write_network_fixture(fixture, weights, bank, row=100, steps=300, gain=0.0)
        rc = subprocess.run([a.reload_check, weights_file, fixture, "0"]).returncode
        if rc != 0:
            sys.exit("C++ step on silence is not exactly zero")
    print("smoke run passed in %.1f s" % (time.time() - t0))


if __name__ == "__main__":
    main()
