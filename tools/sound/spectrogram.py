"""White noise at the nominal level through the reference phaser and through the C++
network at Speed 0.5, side by side.

    /usr/bin/python3 -m tools.sound.spectrogram --eval-exe BUILD/tests/sound/kelvor_eval
"""
import argparse
import io
import os

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402
from scipy.signal import stft  # noqa: E402

from . import evaluate, export, phaser  # noqa: E402

FS = 44100
_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEFAULT_OUT = os.path.join(_ROOT, "docs", "spectrogram.png")


def render(exe, weights, out, seconds=3.0, speed=0.5):
    rng = np.random.default_rng(42)
    n = int(seconds * FS)
    x = (0.125 * rng.standard_normal(n)).astype(np.float32)  # peaks near -6 dBFS
    clip = (x, np.full(n, speed, np.float32), 0, 2.0)
    [(y_net, v)], _ = evaluate.run_cpp(exe, weights, [clip])
    y_ref = phaser.phaser(x, v)
    err = float(np.sum((y_ref - y_net) ** 2) / np.sum(y_ref.astype(np.float64) ** 2))

    fig, axes = plt.subplots(1, 2, figsize=(11, 4.2), sharey=True, constrained_layout=True)
    for ax, y, title in [(axes[0], y_ref, "Reference phaser"), (axes[1], y_net, "Network (C++)")]:
        f, t, Z = stft(y, FS, nperseg=2048, noverlap=1792)
        db = 20 * np.log10(np.abs(Z) + 1e-9)
        keep = f >= 40
        im = ax.pcolormesh(t, f[keep], db[keep], shading="auto", cmap="magma",
                           vmin=db.max() - 60, vmax=db.max())
        ax.set_yscale("log")
        ax.set_ylim(40, 20000)
        ax.set_xlabel("time (s)")
        ax.set_title(title)
    axes[0].set_ylabel("frequency (Hz)")
    fig.colorbar(im, ax=axes, label="dB")
    fig.suptitle("White noise, Speed 0.5 (%.2f Hz LFO); ESR %.2f %%"
                 % (evaluate.lfo.speed_to_frequency(speed), 100 * err))
    buf = io.BytesIO()
    fig.savefig(buf, dpi=80)
    # A palette image is a third of the size and looks the same.
    Image.open(buf).convert("RGB").quantize(256).save(out, optimize=True)
    return err


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--eval-exe", required=True, help="the kelvor_eval executable")
    ap.add_argument("--weights", default=export.DEFAULT_OUT)
    ap.add_argument("--out", default=DEFAULT_OUT)
    a = ap.parse_args()
    err = render(a.eval_exe, a.weights, a.out)
    print("%s: ESR %.3f %%" % (a.out, 100 * err))


if __name__ == "__main__":
    main()
