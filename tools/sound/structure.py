"""Which weights of GRU(2, 16) + Linear(16, 1) are held at exactly zero.

The units split into audio units A (the first 16 - lfo_units) and LFO units L (the rest).

"minimal": silence in gives exactly zero out, at every LFO value. An audio unit's candidate
n sees neither the LFO nor a bias nor the LFO units, so x = 0 keeps h_A at 0 (tanh(0) = 0,
z * 0 = 0); the read-out has no bias and does not read the LFO units.

"odd": also y(-x) = -y(x), like the phaser it imitates (tanh stage and all-passes are odd),
so a hot input gets no DC from the network that the phaser would not give it. The gates of
the audio units see neither the audio nor h_A, and the LFO units see neither at all: every
gate is driven by the LFO alone.

"none": no constraint (the network before these rules).
"""
import numpy as np
import torch

HIDDEN = 16
PATTERNS = ("none", "minimal", "odd")
AUDIO, LFO = 0, 1                # input columns
R, Z, N = 0, HIDDEN, 2 * HIDDEN  # first row of each gate block


def free_masks(pattern, lfo_units):
    """{parameter name: float array, 1 where the weight trains, 0 where it is held at 0}."""
    if pattern not in PATTERNS:
        raise ValueError("pattern must be one of %s" % (PATTERNS,))
    if not 0 <= lfo_units < HIDDEN:
        raise ValueError("lfo_units must be 0..%d" % (HIDDEN - 1))
    m = {"gru.weight_ih_l0": np.ones((3 * HIDDEN, 2), np.float32),
         "gru.weight_hh_l0": np.ones((3 * HIDDEN, HIDDEN), np.float32),
         "gru.bias_ih_l0": np.ones(3 * HIDDEN, np.float32),
         "gru.bias_hh_l0": np.ones(3 * HIDDEN, np.float32),
         "lin.weight": np.ones((1, HIDDEN), np.float32),
         "lin.bias": np.ones(1, np.float32)}
    if pattern == "none":
        return m
    A = np.arange(HIDDEN - lfo_units)
    L = np.arange(HIDDEN - lfo_units, HIDDEN)
    ih, hh = m["gru.weight_ih_l0"], m["gru.weight_hh_l0"]
    ih[N + A, LFO] = 0
    m["gru.bias_ih_l0"][N + A] = 0
    m["gru.bias_hh_l0"][N + A] = 0
    hh[np.ix_(N + A, L)] = 0
    m["lin.weight"][0, L] = 0
    m["lin.bias"][:] = 0
    if pattern == "odd":
        for g in (R, Z):
            ih[g + A, AUDIO] = 0
            hh[np.ix_(g + A, A)] = 0
        for g in (R, Z, N):
            ih[g + L, AUDIO] = 0
            hh[np.ix_(g + L, A)] = 0
    return m


def torch_masks(pattern, lfo_units, model):
    """The masks as tensors keyed by the model's own parameters."""
    m = free_masks(pattern, lfo_units)
    return [(p, torch.from_numpy(m[name]).reshape(p.shape)) for name, p in model.named_parameters()]


@torch.no_grad()
def apply(masks):
    for p, keep in masks:
        p.mul_(keep)


def mask_gradients(masks):
    for p, keep in masks:
        if p.grad is not None:
            p.grad.mul_(keep)


def violations(flat_weights, pattern, lfo_units, order):
    """Count of weights in the flat export order that should be exactly 0.0 and are not."""
    m = free_masks(pattern, lfo_units)
    keep = np.concatenate([m[k].ravel() for k in order])
    w = np.asarray(flat_weights, np.float32)
    return int(np.count_nonzero((keep == 0) & (w != 0.0)))


# The shipped network's pattern and split (tests/sound/SilenceTests.cpp checks the file).
SHIPPED = ("odd", 3)
