/* Sample loops that are too slow in numpy: the reference phaser, a plucked string,
   the plug-in's LFO rate state machine and a float32 GRU for the start-state bank.
   Built at run time by native.py (gcc -O2 into a temporary directory). */
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* Reference phaser. s = A tanh(x / A); four first-order all-passes with break
   frequency fc = fmin (fmax/fmin)^((v+1)/2), fed s + fb * (last chain output);
   y = (s + chain) / 2. */
void phaser(const double* x, const float* lfo, double* y, int n, double fs, double fmin,
            double fmax, double fb, double sat, int nstages)
{
    double st[16];
    memset(st, 0, sizeof st);
    double prev = 0.0, lr = log(fmax / fmin);
    for (int i = 0; i < n; ++i) {
        double fc = fmin * exp(lr * 0.5 * ((double)lfo[i] + 1.0));
        double t = tan(M_PI * fc / fs);
        double a = (t - 1.0) / (t + 1.0);
        double s = sat * tanh(x[i] / sat);
        double u = s + fb * prev;
        for (int k = 0; k < nstages; ++k) {
            double v = a * u + st[k];
            st[k] = u - a * v;
            u = v;
        }
        prev = u;
        y[i] = 0.5 * (s + u);
    }
}

static uint32_t rng_next(uint32_t* s)
{
    *s ^= *s << 13; *s ^= *s >> 17; *s ^= *s << 5;
    return *s;
}

/* Karplus-Strong string added into out[0..n): a noise burst (low-passed by
   `bright`) circulating in a fractional delay with a two-tap loss filter. */
void ks_pluck(double* out, int n, double fs, double f0, double decay, double bright, uint32_t seed)
{
    double P = fs / f0;
    int N = (int)P;
    double frac = P - N;
    double* y = (double*)calloc((size_t)n, sizeof(double));
    uint32_t s = seed ? seed : 1u;
    double lp = 0.0;
    for (int i = 0; i < n; ++i) {
        if (i < N + 2) {
            double r = 2.0 * (rng_next(&s) / 4294967295.0) - 1.0;
            lp = bright * r + (1.0 - bright) * lp;
            y[i] = lp;
        } else {
            double a = y[i - N] * (1 - frac) + y[i - N - 1] * frac;
            double b = y[i - N - 1] * (1 - frac) + y[i - N - 2] * frac;
            y[i] = decay * 0.5 * (a + b);
        }
        out[i] += y[i];
    }
    free(y);
}

/* The plug-in's per-sample LFO rate rules, in float32 like the C++:
   speed follower f -> Speed, target rate t, rate follower g -> t, each moved by at most
   slew per sample; emits the phase used for the lookup and g, then advances the phase by
   t / 44100 and sets it to 0 when it reaches 1. state = {f, g, phase}. */
static const float divisions[24] = {16.f, 8.f, 7.f, 6.f, 5.f, 4.f, 2.f, 1.5f, 1.f, 0.75f, 0.5f,
                                    0.666667f, 0.375f, 0.333333f, 0.25f, 0.1875f, 0.166667f,
                                    0.125f, 0.09375f, 0.083333f, 0.0625f, 0.046875f, 0.041667f,
                                    0.03125f};

static float approach(float cur, float target, float step)
{
    if (cur > target + step) return cur - step;
    if (target - step > cur) return cur + step;
    return target;
}

float target_rate(float f, int sync, float barSeconds)
{
    if (sync) return 1.0f / (barSeconds * divisions[(int)(f * 23.0f)]);
    return (float)((double)f * 6.84721088436 + 0.0481632653);
}

void lfo_track(const float* speed, const uint8_t* sync, const float* barSeconds, int n,
               float* state, float* phaseOut, float* rateOut)
{
    const float slew = (float)(5.0 / 44100.0);
    float f = state[0], g = state[1], ph = state[2];
    for (int i = 0; i < n; ++i) {
        f = approach(f, speed[i], slew);
        float t = target_rate(f, sync[i], barSeconds[i]);
        g = approach(g, t, slew);
        phaseOut[i] = ph;
        rateOut[i] = g;
        ph = ph + t / 44100.0f;
        if (ph >= 1.0f) ph = 0.0f;
    }
    state[0] = f; state[1] = g; state[2] = ph;
}

/* Float32 GRU(2, 16) + Linear(16, 1) in PyTorch's layout (gate blocks r, z, n); the
   recurrent matrix is kept transposed so the products vectorise without reordering sums.
   w = the 977 exported values. */
#define H 16
typedef struct { float wih[3 * H][2], whhT[H][3 * H], bih[3 * H], bhh[3 * H], wo[H], bo; } Gru;

static void gru_init(Gru* g, const float* w)
{
    memcpy(g->wih, w, sizeof g->wih);
    for (int i = 0; i < 3 * H; ++i)
        for (int j = 0; j < H; ++j) g->whhT[j][i] = w[96 + i * H + j];
    memcpy(g->bih, w + 864, sizeof g->bih);
    memcpy(g->bhh, w + 912, sizeof g->bhh);
    memcpy(g->wo, w + 960, sizeof g->wo);
    g->bo = w[976];
}

static float gru_step(const Gru* g, float* h, float x, float v)
{
    float acc[3 * H], y = g->bo;
    for (int i = 0; i < 3 * H; ++i) acc[i] = g->bhh[i];
    for (int j = 0; j < H; ++j)
        for (int i = 0; i < 3 * H; ++i) acc[i] += g->whhT[j][i] * h[j];
    for (int i = 0; i < H; ++i) {
        float r = 1.0f / (1.0f + expf(-(g->wih[i][0] * x + g->wih[i][1] * v + g->bih[i] + acc[i])));
        float z = 1.0f / (1.0f + expf(-(g->wih[H + i][0] * x + g->wih[H + i][1] * v + g->bih[H + i] + acc[H + i])));
        float n = tanhf(g->wih[2 * H + i][0] * x + g->wih[2 * H + i][1] * v + g->bih[2 * H + i] + r * acc[2 * H + i]);
        h[i] = z * h[i] + (1.0f - z) * n;
    }
    for (int i = 0; i < H; ++i) y += g->wo[i] * h[i];
    return y;
}

/* Runs the network on silence with the LFO (values from `lfo`, one per sample) and copies
   the hidden state into snap[k] after each step listed in at[] (ascending). */
void gru_silence(const float* w, const float* lfo, int n, const int* at, int nat, float* snap)
{
    Gru g;
    gru_init(&g, w);
    float h[H];
    memset(h, 0, sizeof h);
    int k = 0;
    for (int i = 0; i < n && k < nat; ++i) {
        gru_step(&g, h, 0.0f, lfo[i]);
        while (k < nat && at[k] == i) { memcpy(snap + H * k, h, sizeof h); ++k; }
    }
}
