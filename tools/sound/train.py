"""Trains torch.nn.GRU(2, 16) + torch.nn.Linear(16, 1) to imitate the reference phaser.

Truncated back-propagation on random segments: a warm-up without gradient, then
`chunks` updates that carry the state. Loss: the error-to-signal ratio (ESR) of the
program segments as a whole, plus --seg-weight times their mean per-segment ESR (energy
floor --eps), plus --quiet-weight times the mean squared error on the quiet segments
(near-silence and silence with the LFO running) relative to -80 dBFS: the ESR of a silent
target is undefined, so only an absolute term sees the LFO leaking into silence. The
weights of --pattern (structure.py) are held at exactly zero throughout.

    /usr/bin/python3 -m tools.sound.train --seed 1 --minutes 40 --finetune 10 --out run1.pt
"""
import argparse
import json
import os
import time

import numpy as np
import torch

from . import dataset, structure

EPS = 1e-5         # per-sample energy floor of the segment ESR (-50 dBFS RMS)
QUIET_REF = 1e-8   # mean squared error of the quiet term's unit: -80 dBFS RMS


class Net(torch.nn.Module):
    def __init__(self):
        super().__init__()
        self.gru = torch.nn.GRU(2, 16, batch_first=True)
        self.lin = torch.nn.Linear(16, 1)

    def forward(self, inp, h=None):
        o, h = self.gru(inp, h)
        return self.lin(o)[..., 0], h


def segment_esr(y, yh, eps=EPS):
    """Mean ESR of the segments; eps < 0 gives the ESR of the batch as a whole."""
    err = torch.sum((y - yh) ** 2, -1)
    if eps < 0:
        return torch.sum(err) / torch.sum(y ** 2)
    return torch.mean(err / (torch.sum(y ** 2, -1) + eps * y.shape[-1]))


def quiet_error(y, yh):
    """Mean squared error in units of -80 dBFS RMS."""
    return torch.mean((y - yh) ** 2) / QUIET_REF


def loss_of(a, finetuning, y, yh, yq=None, yqh=None):
    seg_weight = a.finetune_seg_weight if finetuning else a.seg_weight
    loss = segment_esr(y, yh, -1)
    if seg_weight > 0:
        loss = loss + seg_weight * segment_esr(y, yh, a.eps)
    if yq is not None and a.quiet_weight > 0:
        loss = loss + a.quiet_weight * quiet_error(yq, yqh)
    return loss


def _chunks(x, v, y, chunk, warm):
    starts = list(range(warm, len(x) - chunk + 1, chunk))
    X = torch.zeros(len(starts), warm + chunk, 2)
    Y = torch.zeros(len(starts), chunk)
    for i, s in enumerate(starts):
        X[i, :, 0] = torch.from_numpy(x[s - warm:s + chunk])
        X[i, :, 1] = torch.from_numpy(v[s - warm:s + chunk])
        Y[i] = torch.from_numpy(y[s:s + chunk])
    return X, Y


@torch.no_grad()
def validate(model, x, v, y, quiet=None, chunk=22050, warm=4096):
    """Over consecutive chunks, each after `warm` samples of context: mean segment ESR,
    ESR of the whole, and the quiet error (None without a quiet set)."""
    X, Y = _chunks(x, v, y, chunk, warm)
    yh, _ = model(X)
    yh = yh[:, warm:]
    plain = (torch.sum((Y - yh) ** 2) / torch.sum(Y ** 2)).item()
    q = None
    if quiet is not None:
        Xq, Yq = _chunks(*quiet, chunk, warm)
        q = quiet_error(Yq, model(Xq)[0][:, warm:]).item()
    return segment_esr(Y, yh).item(), plain, q


def criterion(a, finetuning, seg, plain, q):
    """The validation figure a run keeps its best state by: what its loss measures."""
    w = a.finetune_seg_weight if finetuning else a.seg_weight
    return plain + w * seg + (a.quiet_weight * q if q is not None and a.quiet_weight > 0 else 0.0)


def train(a, log=print):
    if a.finetune_seg_weight is None:
        a.finetune_seg_weight = a.seg_weight
    torch.set_num_threads(a.threads)
    torch.manual_seed(a.seed)
    rng = np.random.default_rng(a.seed)
    x, v, y = dataset.load(a.workdir, "train", a.train_seconds)
    vx, vv, vy = dataset.load(a.workdir, "val", a.val_seconds)
    X = torch.from_numpy(np.stack([x, v], -1))
    Y = torch.from_numpy(y)
    seglen = a.warm + a.chunks * a.tbptt
    idx = torch.arange(seglen)
    vquiet = None
    if a.quiet > 0:
        qx, qv, qy = dataset.load(a.workdir, "quiet_train", a.quiet_seconds)
        vquiet = dataset.load(a.workdir, "quiet_val", a.val_seconds)
        QX = torch.from_numpy(np.stack([qx, qv], -1))
        QY = torch.from_numpy(qy)

    model = Net()
    if a.init:
        model.load_state_dict(torch.load(a.init))
    masks = structure.torch_masks(a.pattern, a.lfo_units, model)
    structure.apply(masks)
    opt = torch.optim.Adam(model.parameters(), lr=a.lr)
    sched = torch.optim.lr_scheduler.ReduceLROnPlateau(opt, factor=0.5, patience=3)
    best = (float("inf"), {k: t.clone() for k, t in model.state_dict().items()})
    t0 = time.time()
    steps, next_eval, finetuning = 0, a.eval_every, a.finetune <= 0
    run_loss = []
    while True:
        st = torch.from_numpy(rng.integers(0, len(x) - seglen, a.batch))
        ii = st[:, None] + idx[None]
        Xb, Yb = X[ii], Y[ii]
        nb = a.batch
        if a.quiet > 0:  # quiet segments ride in the same batch, scored apart
            sq = torch.from_numpy(rng.integers(0, len(qx) - seglen, a.quiet))
            iq = sq[:, None] + idx[None]
            Xb, Yb = torch.cat([Xb, QX[iq]]), torch.cat([Yb, QY[iq]])
        with torch.no_grad():
            _, h = model(Xb[:, :a.warm])
        for c in range(a.chunks):
            sl = slice(a.warm + c * a.tbptt, a.warm + (c + 1) * a.tbptt)
            yh, h = model(Xb[:, sl], h)
            yt = Yb[:, sl]
            if a.quiet > 0:
                loss = loss_of(a, finetuning, yt[:nb], yh[:nb], yt[nb:], yh[nb:])
            else:
                loss = loss_of(a, finetuning, yt, yh)
            opt.zero_grad()
            loss.backward()
            structure.mask_gradients(masks)
            torch.nn.utils.clip_grad_norm_(model.parameters(), 1.0)
            opt.step()
            structure.apply(masks)
            h = h.detach()
            steps += 1
            run_loss.append(loss.item())
        wall = time.time() - t0
        if wall < next_eval and steps != a.max_steps:
            continue
        next_eval += a.eval_every
        seg, plain, q = validate(model, vx, vv, vy, vquiet)
        val = criterion(a, finetuning, seg, plain, q)
        if not np.isfinite(val):
            model.load_state_dict(best[1])
            val = best[0]
        if val < best[0]:
            best = (val, {k: t.clone() for k, t in model.state_dict().items()})
            if a.checkpoint:
                torch.save(best[1], a.checkpoint)
        if not finetuning:
            sched.step(val)
        log(json.dumps(dict(seed=a.seed, min=round(wall / 60, 2), steps=steps,
                            loss=float(np.mean(run_loss)), val=seg, val_plain=plain,
                            val_quiet=q, crit=val, best=best[0], lr=opt.param_groups[0]["lr"], finetune=finetuning)))
        run_loss = []
        if steps >= a.max_steps > 0:
            break
        if not finetuning and wall >= a.minutes * 60:
            finetuning = True
            model.load_state_dict(best[1])
            if a.finetune_seg_weight != a.seg_weight:  # a new measure: the best is judged afresh
                best = (criterion(a, True, *validate(model, vx, vv, vy, vquiet)), best[1])
            for g in opt.param_groups:
                g["lr"] = min(g["lr"], a.finetune_lr)
        if finetuning and wall >= (a.minutes + a.finetune) * 60:
            break
    model.load_state_dict(best[1])
    return model, best[0]


def parser():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--minutes", type=float, default=40.0, help="main phase, wall clock")
    ap.add_argument("--finetune", type=float, default=10.0, help="minutes at --finetune-lr from the best")
    ap.add_argument("--finetune-lr", type=float, default=1e-3)
    ap.add_argument("--pattern", choices=structure.PATTERNS, default="odd",
                    help="weights held at zero (structure.py)")
    ap.add_argument("--lfo-units", type=int, default=3, help="units that only carry the LFO")
    ap.add_argument("--seg-weight", type=float, default=0.0, help="weight of the mean segment ESR")
    ap.add_argument("--finetune-seg-weight", type=float, default=None,
                    help="the same while fine-tuning (default: --seg-weight)")
    ap.add_argument("--eps", type=float, default=EPS, help="energy floor of the segment ESR")
    ap.add_argument("--quiet", type=int, default=4, help="quiet segments added to each batch")
    ap.add_argument("--quiet-weight", type=float, default=1e-3, help="weight of the quiet error")
    ap.add_argument("--quiet-seconds", type=int, default=120)
    ap.add_argument("--lr", type=float, default=5e-3)
    ap.add_argument("--batch", type=int, default=32)
    ap.add_argument("--tbptt", type=int, default=1024)
    ap.add_argument("--chunks", type=int, default=2)
    ap.add_argument("--warm", type=int, default=1024)
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--eval-every", type=float, default=60.0, help="seconds")
    ap.add_argument("--max-steps", type=int, default=0, help="stop after this many updates (0: by time)")
    ap.add_argument("--train-seconds", type=int, default=300)
    ap.add_argument("--val-seconds", type=int, default=30)
    ap.add_argument("--workdir", default="/tmp/kelvor-sound")
    ap.add_argument("--init", default="", help="start from a saved state_dict")
    ap.add_argument("--checkpoint", default="", help="keep the best state_dict here while training")
    ap.add_argument("--out", required=True, help="state_dict of the best validation")
    return ap


def main():
    a = parser().parse_args()
    logf = open(a.out + ".log", "w")

    def log(s):
        print(s, flush=True)
        logf.write(s + "\n")
        logf.flush()

    model, best = train(a, log)
    torch.save(model.state_dict(), a.out)
    log(json.dumps(dict(seed=a.seed, done=True, best_val=best)))


if __name__ == "__main__":
    main()
