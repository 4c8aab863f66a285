#pragma once

#include <cmath>
#include <vector>

// Straight from PyTorch's GRU equations, in double, with the file's flat layout.
struct ScalarGRU
{
    std::vector<float> w;
    static constexpr int H = 16;
    double h[H] {};

    double step (double audio, double lfo)
    {
        const double x[2] = { audio, lfo };
        auto wi = [&] (int gate, int i, int j) { return (double) w[(size_t) (2 * (16 * gate + i) + j)]; };
        auto wh = [&] (int gate, int i, int j) { return (double) w[(size_t) (96 + 16 * (16 * gate + i) + j)]; };
        auto bi = [&] (int gate, int i) { return (double) w[(size_t) (864 + 16 * gate + i)]; };
        auto bh = [&] (int gate, int i) { return (double) w[(size_t) (912 + 16 * gate + i)]; };

        double next[H];
        for (int i = 0; i < H; ++i)
        {
            double gi[3], gh[3];
            for (int g = 0; g < 3; ++g)
            {
                gi[g] = bi (g, i) + wi (g, i, 0) * x[0] + wi (g, i, 1) * x[1];
                gh[g] = bh (g, i);
                for (int j = 0; j < H; ++j)
                    gh[g] += wh (g, i, j) * h[j];
            }
            const double r = 1.0 / (1.0 + std::exp (-(gi[0] + gh[0])));
            const double z = 1.0 / (1.0 + std::exp (-(gi[1] + gh[1])));
            const double n = std::tanh (gi[2] + r * gh[2]);
            next[i] = z * h[i] + (1.0 - z) * n;
        }
        double y = w[976];
        for (int i = 0; i < H; ++i)
        {
            h[i] = next[i];
            y += w[(size_t) (960 + i)] * h[i];
        }
        return y;
    }
};
