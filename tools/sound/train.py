"""Trains torch.nn.GRU(2, 16) + torch.nn.Linear(16, 1) to imitate the reference phaser.

Truncated back-propagation on random segments: a warm-up without gradient, then
`chunks` updates that carry the state. Loss: error-to-signal ratio of each segment,
averaged, so quiet material counts as much as loud material.

    /usr/bin/python3 -m tools.sound.train --seed 1 --minutes 40 --finetune 10 --out run1.pt
"""
import argparse
import json
import os
import time

import numpy as np
import torch

from . import dataset

EPS = 1e-5  # per-sample energy floor of the segment ESR (-50 dBFS RMS)


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


@torch.no_grad()
def validate(model, x, v, y, chunk=22050, warm=4096):
    """Mean segment ESR over consecutive chunks, each after `warm` samples of context."""
    starts = list(range(warm, len(x) - chunk + 1, chunk))
    X = torch.zeros(len(starts), warm + chunk, 2)
    Y = torch.zeros(len(starts), chunk)
    for i, s in enumerate(starts):
        X[i, :, 0] = torch.from_numpy(x[s - warm:s + chunk])
        X[i, :, 1] = torch.from_numpy(v[s - warm:s + chunk])
        Y[i] = torch.from_numpy(y[s:s + chunk])
    yh, _ = model(X)
    yh = yh[:, warm:]
    plain = (torch.sum((Y - yh) ** 2) / torch.sum(Y ** 2)).item()
    return segment_esr(Y, yh).item(), plain


def train(a, log=print):
    if a.finetune_eps is None:
        a.finetune_eps = a.eps
    torch.set_num_threads(a.threads)
    torch.manual_seed(a.seed)
    rng = np.random.default_rng(a.seed)
    x, v, y = dataset.load(a.workdir, "train", a.train_seconds)
    vx, vv, vy = dataset.load(a.workdir, "val", a.val_seconds)
    X = torch.from_numpy(np.stack([x, v], -1))
    Y = torch.from_numpy(y)
    seglen = a.warm + a.chunks * a.tbptt
    idx = torch.arange(seglen)

    model = Net()
    if a.init:
        model.load_state_dict(torch.load(a.init))
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
        with torch.no_grad():
            _, h = model(Xb[:, :a.warm])
        for c in range(a.chunks):
            sl = slice(a.warm + c * a.tbptt, a.warm + (c + 1) * a.tbptt)
            yh, h = model(Xb[:, sl], h)
            loss = segment_esr(Yb[:, sl], yh, a.finetune_eps if finetuning else a.eps)
            opt.zero_grad()
            loss.backward()
            torch.nn.utils.clip_grad_norm_(model.parameters(), 1.0)
            opt.step()
            h = h.detach()
            steps += 1
            run_loss.append(loss.item())
        wall = time.time() - t0
        if wall < next_eval and steps != a.max_steps:
            continue
        next_eval += a.eval_every
        eps = a.finetune_eps if finetuning else a.eps
        seg, plain = validate(model, vx, vv, vy)
        val = plain if eps < 0 else seg  # judged by what the loss measures
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
                            best=best[0], lr=opt.param_groups[0]["lr"], finetune=finetuning)))
        run_loss = []
        if steps >= a.max_steps > 0:
            break
        if not finetuning and wall >= a.minutes * 60:
            finetuning = True
            model.load_state_dict(best[1])
            if a.finetune_eps != a.eps:  # a new measure: the best so far is judged afresh
                seg, plain = validate(model, vx, vv, vy)
                best = (plain if a.finetune_eps < 0 else seg, best[1])
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
    ap.add_argument("--eps", type=float, default=EPS, help="segment energy floor; < 0: batch ESR")
    ap.add_argument("--finetune-eps", type=float, default=None, help="loss floor while fine-tuning (default: --eps)")
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
