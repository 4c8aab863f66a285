"""Held-out test: the C++ network path (kelvor_eval) against the reference phaser.

Material peaks at 0 dBFS at the plug-in's input, so at -6 dBFS at the network after the
default pre-gain (the nominal level); it is played at -20, -6, 0, +6 and +12 dB relative to
that, and driven at +24, +36 and +48 dB (the pre-gain's reach). LFO: free running at Speeds
0..1, tempo-synced divisions up to 32 Hz, and Speed jumps that exercise the slew limits,
each clip primed as at preparation. Besides the ESR: the first 100 ms of every clip on
their own, the DC when driven (held-out set, a 1 kHz sine, drums), and silence in at the
default gains (what leaves the plug-in: the network's output times the +6 dB post-gain).

    /usr/bin/python3 -m tools.sound.evaluate --eval-exe BUILD/tests/sound/kelvor_eval
"""
import argparse
import json
import os
import struct
import subprocess
import tempfile

import numpy as np

from . import export, lfo, material, phaser

FS = 44100
SEED = 303
PREGAIN_DB = -6.0
POSTGAIN_DB = 6.0
LEVELS_DB = [-20, -6, 0, 6, 12]
DRIVE_DB = [24, 36, 48]
CLIP_SECONDS = 4.0
HEAD = int(0.1 * FS)  # the first 100 ms after preparation
SILENCE_SECONDS = 12.0
SILENCE_FREE = [float(s) for s in np.round(np.linspace(0.0, 1.0, 11), 2)]
SILENCE_SYNCED = [(0.0, 120), (0.25, 120), (0.5, 120), (0.75, 120), (1.0, 120), (1.0, 240)]  # (Speed, BPM)
BANDS = [("0.05-1 Hz", 0.0, 1.0), ("1-3 Hz", 1.0, 3.0), ("3-7 Hz", 3.0, 7.0), ("7-32 Hz", 7.0, 33.0)]


def test_clips():
    """[(x at nominal level, speed, sync, bar_seconds)] - deterministic."""
    rng = np.random.default_rng(SEED)
    n = int(CLIP_SECONDS * FS)
    conds = []
    for s in np.linspace(0.0, 1.0, 14):                       # free running
        conds.append((np.full(n, s, np.float32), 0, 2.0))
    for bpm, s in [(90, 0.3), (120, 0.5), (120, 0.7), (140, 0.85), (174, 0.9), (200, 0.95),
                   (240, 1.0), (100, 0.1)]:                      # synced
        conds.append((np.full(n, s, np.float32), 1, 240.0 / bpm))
    for a, b in [(0.0, 1.0), (1.0, 0.2), (0.3, 0.8), (0.6, 0.05)]:  # jumps mid-clip
        sp = np.full(n, a, np.float32)
        sp[n // 3:] = b
        conds.append((sp, 0, 2.0))
    for s0, s1 in [(0.5, 1.0), (0.95, 0.4)]:                    # synced jumps
        sp = np.full(n, s0, np.float32)
        sp[n // 2:] = s1
        conds.append((sp, 1, 240.0 / 150))
    clips = []
    for speed, sync, bar in conds:
        x = material.program(CLIP_SECONDS, rng, lambda r: 0.0) * 10 ** (PREGAIN_DB / 20)
        clips.append((x.astype(np.float32), speed, sync, bar))
    return clips


def run_cpp(exe, weights, clips):
    """Outputs and LFO values of kelvor_eval for [(x, speed, sync, bar)]."""
    with tempfile.TemporaryDirectory(prefix="kelvor-eval-") as tmp:
        cin, cout = os.path.join(tmp, "clips.bin"), os.path.join(tmp, "out.bin")
        with open(cin, "wb") as f:
            f.write(struct.pack("<i", len(clips)))
            for x, speed, sync, bar in clips:
                n = len(x)
                f.write(struct.pack("<ifi", n, float(speed[0]), int(sync)))
                for arr in (x, speed, np.full(n, sync, np.float32), np.full(n, bar, np.float32)):
                    f.write(np.asarray(arr, "<f4").tobytes())
        out = subprocess.run([exe, weights, lfo.TABLE_FILE, cin, cout], check=True,
                             capture_output=True, text=True).stdout.strip()
        raw = np.fromfile(cout, "<f4")
    res, k = [], 0
    for x, *_ in clips:
        n = len(x)
        res.append((raw[k:k + n], raw[k + n:k + 2 * n]))
        k += 2 * n
    return res, out


def python_lfo(speed, sync, bar):
    return lfo.LfoState(float(speed[0]), bool(sync)).run(speed, sync, bar)


def esr(pairs):
    num = sum(float(np.sum((y.astype(np.float64) - yh) ** 2)) for y, yh in pairs)
    den = sum(float(np.sum(y.astype(np.float64) ** 2)) for y, _ in pairs)
    return num / den


def dc(signals):
    return float(np.mean(np.concatenate(signals).astype(np.float64)))


def probe_clips():
    """{name: clip} played at the drive levels: a 1 kHz sine and a drum pattern at Speed
    0.5, peaking at 0 dBFS at the plug-in's input."""
    n = int(CLIP_SECONDS * FS)
    sine = np.sin(2 * np.pi * 1000.0 * np.arange(n) / FS)
    drums = material.drums(np.random.default_rng(SEED + 1))
    drums = np.resize(drums, n) / np.max(np.abs(drums))
    speed = np.full(n, 0.5, np.float32)
    g = 10 ** (PREGAIN_DB / 20)
    return {name: ((x * g).astype(np.float32), speed, 0, 2.0) for name, x in [("1 kHz sine", sine), ("drums", drums)]}


def silence_clips():
    """[(label, clip)]: silent input, free running at every tenth of Speed and synced (up to
    32 Hz), each primed as at preparation."""
    n = int(SILENCE_SECONDS * FS)
    out = []
    for s in SILENCE_FREE:
        out.append(("%.1f" % s, (np.zeros(n, np.float32), np.full(n, s, np.float32), 0, 2.0)))
    for s, bpm in SILENCE_SYNCED:
        out.append(("%.2f, Sync on, %d BPM" % (s, bpm), (np.zeros(n, np.float32), np.full(n, s, np.float32), 1,
                                                        240.0 / bpm)))
    return out


def db(v):
    return 20 * np.log10(v) if v > 0 else -np.inf


def silence_figures(y):
    """At the plug-in's output after the first 100 ms: RMS, peak (dBFS), DC, and the strongest
    non-DC component (Hz, dBFS as a sine's peak; Hann window)."""
    o = y[HEAD:].astype(np.float64) * 10 ** (POSTGAIN_DB / 20)
    w = np.hanning(len(o))
    spec = np.abs(np.fft.rfft(o * w)) * 2 / np.sum(w)
    k = 1 + int(np.argmax(spec[1:]))
    return dict(rms_db=db(np.sqrt(np.mean(o ** 2))), peak_db=db(np.max(np.abs(o))), dc=float(np.mean(o)),
                component_hz=k * FS / len(o), component_db=db(spec[k]), exact_zero=bool(np.all(o == 0)))


def evaluate(exe, weights):
    clips = test_clips()
    lfo_diff, rates = 0.0, []
    for x, speed, sync, bar in clips:
        rates.append(float(np.mean(python_lfo(speed, sync, bar)[2])))
    probes = probe_clips()
    table, per_band, head, rest, drive = {}, {}, {}, {}, {}
    for level in LEVELS_DB + DRIVE_DB:
        g = np.float32(10 ** (level / 20))
        scaled = [(x * g, s, sy, b) for x, s, sy, b in clips]
        outs, timing = run_cpp(exe, weights, scaled)
        pairs = []
        for (x, speed, sync, bar), (y_net, v_cpp) in zip(scaled, outs):
            v_py = python_lfo(speed, sync, bar)[0]
            lfo_diff = max(lfo_diff, float(np.abs(v_py - v_cpp).max()))
            pairs.append((phaser.phaser(x, v_cpp), y_net))
        table[level] = esr(pairs)
        per_band[level] = {name: esr([p for p, r in zip(pairs, rates) if lo <= r < hi])
                           for name, lo, hi in BANDS}
        head[level] = esr([(y[:HEAD], yh[:HEAD]) for y, yh in pairs])
        rest[level] = esr([(y[HEAD:], yh[HEAD:]) for y, yh in pairs])
        if level in DRIVE_DB:
            d = {"held-out": dict(esr=table[level], dc_net=dc([yh for _, yh in pairs]),
                                  dc_ref=dc([y for y, _ in pairs]))}
            names = list(probes)
            pouts, _ = run_cpp(exe, weights, [(x * g, s, sy, b) for x, s, sy, b in probes.values()])
            for name, (x, *_), (y_net, v_cpp) in zip(names, probes.values(), pouts):
                y_ref = phaser.phaser(x * g, v_cpp)
                d[name] = dict(esr=esr([(y_ref, y_net)]), dc_net=dc([y_net]), dc_ref=dc([y_ref]))
            drive[level] = d
    labels, sclips = zip(*silence_clips())
    souts, _ = run_cpp(exe, weights, list(sclips))
    silence = [dict(speed=lab, rate_hz=float(np.mean(python_lfo(c[1], c[2], c[3])[2])), **silence_figures(y))
               for lab, c, (y, _) in zip(labels, sclips, souts)]
    return dict(levels=table, bands=per_band, head=head, rest=rest, drive=drive, silence=silence,
                lfo_max_diff=lfo_diff, timing=timing, clips=len(clips),
                seconds_per_level=len(clips) * CLIP_SECONDS,
                overall=float(np.mean([table[lv] for lv in LEVELS_DB])))


def torch_vs_cpp(exe, weights_path, seconds=20.0):
    """Largest |PyTorch - C++| over the first nominal-level test clips."""
    import torch
    from .fixtures import torch_network
    bank, weights = export.read(weights_path)
    clips = test_clips()[:int(seconds / CLIP_SECONDS)]
    outs, _ = run_cpp(exe, weights_path, clips)
    net = torch_network(weights)
    worst = 0.0
    with torch.no_grad():
        for (x, speed, sync, bar), (y_cpp, v_cpp) in zip(clips, outs):
            row = int(np.floor(np.float32(speed[0]) * np.float32(127) + np.float32(0.5)))
            h0 = torch.from_numpy(np.array(bank[row], np.float32)).reshape(1, 1, 16)
            y, _ = net(torch.from_numpy(np.stack([x, v_cpp], -1))[None], h0)
            worst = max(worst, float(np.abs(y[0].numpy() - y_cpp).max()))
    return worst


def _pct(v):
    return "%.3f %%" % (100 * v) if v < 0.1 else "%.1f %%" % (100 * v)


def markdown(r):
    names = [b[0] for b in BANDS]
    lines = ["| level (dB re nominal) | all speeds | " + " | ".join(names) + " | first 100 ms | after |",
             "|---|---|" + "---|" * (len(names) + 2)]
    for level in LEVELS_DB + DRIVE_DB:
        cells = [_pct(r["bands"][level][n]) for n in names]
        label = "0 (nominal)" if level == 0 else "%+d" % level
        lines.append("| %s | **%s** | %s | %s | %s |" % (label, _pct(r["levels"][level]), " | ".join(cells),
                                                       _pct(r["head"][level]), _pct(r["rest"][level])))
    lines.append("| mean of -20 .. +12 | **%s** |%s" % (_pct(r["overall"]), " |" * (len(names) + 2)))
    return "\n".join(lines)


def markdown_drive(r):
    lines = ["| drive (dB re nominal) | material | ESR | DC, network | DC, reference | DC the network adds |",
             "|---|---|---|---|---|---|"]
    for level in DRIVE_DB:
        for name, d in r["drive"][level].items():
            lines.append("| %+d | %s | %s | %+.2e | %+.2e | %+.2e |" % (level, name, _pct(d["esr"]), d["dc_net"],
                                                                   d["dc_ref"], d["dc_net"] - d["dc_ref"]))
    return "\n".join(lines)


def markdown_silence(r):
    lines = ["| Speed | LFO rate | out RMS | peak | DC | strongest component |", "|---|---|---|---|---|---|"]
    for s in r["silence"]:
        if s["exact_zero"]:
            lines.append("| %s | %.3g Hz | exactly 0 | exactly 0 | 0 | none |" % (s["speed"], s["rate_hz"]))
        else:
            lines.append("| %s | %.3g Hz | %.1f dBFS | %.1f dBFS | %+.1e | %.2f Hz at %.1f dBFS |"
                         % (s["speed"], s["rate_hz"], s["rms_db"], s["peak_db"], s["dc"],
                            s["component_hz"], s["component_db"]))
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--eval-exe", required=True, help="the kelvor_eval executable")
    ap.add_argument("--weights", default=export.DEFAULT_OUT)
    ap.add_argument("--json", default="", help="also write the numbers here")
    a = ap.parse_args()
    r = evaluate(a.eval_exe, a.weights)
    r["torch_vs_cpp_max"] = torch_vs_cpp(a.eval_exe, a.weights)
    print(markdown(r))
    print("\nDriven: DC of the network's output and of the reference (1 kHz sine and drums at Speed 0.5)\n")
    print(markdown_drive(r))
    print("\nSilence in at the default gains (%+.0f dB in, %+.0f dB out), after the first 100 ms of %.0f s\n"
          % (PREGAIN_DB, POSTGAIN_DB, SILENCE_SECONDS))
    print(markdown_silence(r))
    print("\n%d clips of %.0f s per level; C++ LFO vs numpy LFO max diff %.2g; "
          "PyTorch vs C++ max diff %.2g; kelvor_eval: %s"
          % (r["clips"], CLIP_SECONDS, r["lfo_max_diff"], r["torch_vs_cpp_max"], r["timing"]))
    if a.json:
        with open(a.json, "w") as f:
            json.dump(r, f, indent=1, default=str)


if __name__ == "__main__":
    main()
