#include "NetworkFixture.h"
#include "NetworkKernel.h"
#include "NetworkPath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace
{
const std::string sourceDir = KELVOR_SOURCE_DIR;

// What leaves the plug-in at the default Post Gain is the network's output at +6 dB.
const float postGain = std::pow (10.0f, 6.0f / 20.0f);

// The shipped network's units: 0..12 carry the audio, 13..15 only the LFO.
constexpr int units = 16, lfoUnits = 3, audioUnits = units - lfoUnits;
constexpr int ih = 0, hh = 96, bih = 864, bhh = 912, readOut = 960, readOutBias = 976; // PyTorch order
constexpr int r = 0, z = units, n = 2 * units;

struct Shipped
{
    std::vector<float> weights, bank;
    std::vector<char> tableBytes;
};

Shipped loadShipped()
{
    Shipped s;
    const auto bytes = readWholeFile (sourceDir + "/resources/network_weights.bin");
    if (const auto file = NetworkWeightsFile::read (bytes.data(), bytes.size()))
    {
        s.weights = file->weights;
        s.bank = file->bank;
    }
    s.tableBytes = readWholeFile (sourceDir + "/resources/lfo_tables.bin");
    return s;
}

std::vector<kelvor::NetworkStepFunction> kernels()
{
    std::vector<kelvor::NetworkStepFunction> k { kelvor::networkStepBaseline };
    if (kelvor::cpuHasAvx2Fma())
        k.push_back (kelvor::networkStepAvx2);
    return k;
}

struct Case
{
    float speed;
    bool sync;
    float barSeconds;
};

// Silence in must give silence out: x = 0 keeps every audio unit at exactly 0 whatever the
// LFO does, so the output is exactly 0 through either kernel's tanh, exp and FMA.
TEST (ShippedNetworkSilence, SilenceInGivesExactSilenceAtEverySpeed)
{
    const auto shipped = loadShipped();
    ASSERT_EQ (shipped.weights.size(), 977u);
    LfoTableSet tables (shipped.tableBytes.data(), shipped.tableBytes.size());
    ASSERT_TRUE (tables.isValid());

    const Case cases[] = { { 0.0f, false, 2.0f }, { 0.25f, false, 2.0f }, { 0.5f, false, 2.0f },
                           { 0.75f, false, 2.0f }, { 1.0f, false, 2.0f }, { 0.0f, true, 2.0f },
                           { 0.5f, true, 2.0f }, { 1.0f, true, 2.0f }, { 1.0f, true, 1.0f } };
    const int length = 3 * 44100, head = 4410;
    auto channel = std::make_unique<kelvor::sound::Channel>();
    channel->network.loadFromBuffer (shipped.weights.data(), 4 * 977, shipped.bank.data());
    for (auto kernel : kernels())
    {
        channel->network.stepKernel = kernel;
        for (const auto& c : cases)
        {
            channel->prepare (c.speed, c.sync);
            double sum = 0, squares = 0;
            float peak = 0, lfo = 0, lfoLow = 1, lfoHigh = -1;
            for (int i = 0; i < length; ++i)
            {
                const float y = postGain * channel->process (tables.view(), 0.0f, c.speed, c.sync, c.barSeconds, lfo);
                lfoLow = std::min (lfoLow, lfo);
                lfoHigh = std::max (lfoHigh, lfo);
                if (i < head)
                    continue;
                sum += y;
                squares += static_cast<double> (y) * y;
                peak = std::max (peak, std::fabs (y));
            }
            const double count = length - head;
            SCOPED_TRACE ("Speed " + std::to_string (c.speed) + (c.sync ? " synced" : " free"));
            EXPECT_GT (lfoHigh - lfoLow, 0.1f); // the LFO did move
            EXPECT_LE (std::sqrt (squares / count), 1e-4);      // -80 dBFS RMS
            EXPECT_LT (std::fabs (sum / count), 1e-4);
            EXPECT_LE (peak, std::pow (10.0f, -91.0f / 20.0f)); // so no component reaches -85 dBFS
            EXPECT_EQ (peak, 0.0f);
        }
    }
}

// After the music stops the tail dies away like the phaser's, and the network is odd like
// the phaser (tanh stage, all-passes), so driving it hard cannot add DC of its own.
TEST (ShippedNetworkSilence, TailDiesAndTheNetworkIsOdd)
{
    const auto shipped = loadShipped();
    ASSERT_EQ (shipped.weights.size(), 977u);
    LfoTableSet tables (shipped.tableBytes.data(), shipped.tableBytes.size());
    ASSERT_TRUE (tables.isValid());

    std::mt19937 rng (3);
    std::normal_distribution<float> noise (0.0f, 0.15f);
    const int burst = 22050, length = burst + 44100;
    std::vector<float> x (length, 0.0f);
    for (int i = 0; i < burst; ++i)
        x[i] = noise (rng) * (i % 7000 < 3500 ? 1.0f : 60.0f); // nominal, then driven +36 dB

    auto positive = std::make_unique<kelvor::sound::Channel>();
    auto negative = std::make_unique<kelvor::sound::Channel>();
    for (auto* ch : { positive.get(), negative.get() })
        ch->network.loadFromBuffer (shipped.weights.data(), 4 * 977, shipped.bank.data());
    for (auto kernel : kernels())
    {
        positive->network.stepKernel = negative->network.stepKernel = kernel;
        positive->prepare (0.6f, false);
        negative->prepare (0.6f, false);
        double tail = 0;
        float lfo = 0, worstAsymmetry = 0;
        for (int i = 0; i < length; ++i)
        {
            const float a = positive->process (tables.view(), x[i], 0.6f, false, 2.0f, lfo);
            const float b = negative->process (tables.view(), -x[i], 0.6f, false, 2.0f, lfo);
            worstAsymmetry = std::max (worstAsymmetry, std::fabs (a + b));
            if (i >= burst + 11025)
                tail += static_cast<double> (postGain * a) * (postGain * a);
        }
        EXPECT_EQ (worstAsymmetry, 0.0f);
        EXPECT_LE (std::sqrt (tail / (length - burst - 11025)), 1e-4); // -80 dBFS 250 ms after the burst
    }
}

// The weights that make silence exact and the network odd are exactly zero in the file:
// retraining without the pattern would pass a looser test by luck, not by construction.
TEST (ShippedNetworkSilence, FileKeepsTheZeroPattern)
{
    const auto w = loadShipped().weights;
    ASSERT_EQ (w.size(), 977u);
    auto in = [&] (int row, int column) { return w[ih + 2 * row + column]; };
    auto rec = [&] (int row, int column) { return w[hh + units * row + column]; };
    int nonZero = 0;
    for (int a = 0; a < audioUnits; ++a)
    {
        nonZero += (in (n + a, 1) != 0) + (w[bih + n + a] != 0) + (w[bhh + n + a] != 0);
        nonZero += (in (r + a, 0) != 0) + (in (z + a, 0) != 0);
        for (int j = 0; j < units; ++j)
            nonZero += (j >= audioUnits ? rec (n + a, j) != 0 : (rec (r + a, j) != 0) + (rec (z + a, j) != 0));
    }
    for (int l = audioUnits; l < units; ++l)
    {
        nonZero += (w[readOut + l] != 0);
        for (int g : { r, z, n })
        {
            nonZero += (in (g + l, 0) != 0);
            for (int j = 0; j < audioUnits; ++j)
                nonZero += (rec (g + l, j) != 0);
        }
    }
    nonZero += (w[readOutBias] != 0);
    EXPECT_EQ (nonZero, 0);
}
} // namespace
