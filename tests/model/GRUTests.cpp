#include "GRU.h"
#include "ScalarGRU.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace
{
constexpr int H = 16;

struct Buffers
{
    std::vector<float> weights = std::vector<float> (PhaserNetwork::numWeights);
    std::vector<float> bank = std::vector<float> (PhaserNetwork::numBankValues);
};

// Distinct, recognisable values: weight k holds k, bank value k holds -k.
Buffers indexBuffers()
{
    Buffers b;
    for (size_t k = 0; k < b.weights.size(); ++k)
        b.weights[k] = static_cast<float> (k);
    for (size_t k = 0; k < b.bank.size(); ++k)
        b.bank[k] = -static_cast<float> (k);
    return b;
}

Buffers randomBuffers (unsigned seed, float scale = 0.5f)
{
    std::mt19937 rng (seed);
    std::normal_distribution<float> dist (0.0f, scale);
    Buffers b;
    for (auto& w : b.weights)
        w = dist (rng);
    for (auto& v : b.bank)
        v = 0.3f * dist (rng);
    return b;
}

std::unique_ptr<PhaserNetwork> loaded (const Buffers& b)
{
    auto net = std::make_unique<PhaserNetwork>();
    net->loadFromBuffer (b.weights.data(), 4 * PhaserNetwork::numWeights, b.bank.data());
    return net;
}

Eigen::Matrix<float, 2, 1> in (float audio, float lfo)
{
    return { audio, lfo };
}
} // namespace

TEST (GRU, ScattersEveryWeightToItsMember)
{
    const auto b = indexBuffers();
    const auto net = loaded (b);

    // The three documented examples first, then every position of the layout.
    EXPECT_EQ (net->inputWeightsR (3, 1), 7.0f);
    EXPECT_EQ (net->hiddenWeightsZ (2, 5), 389.0f);
    EXPECT_EQ (net->hiddenBiasN (0), 944.0f);

    auto expectIndex = [] (float value, int index, const char* member, int i, int j) {
        EXPECT_EQ (value, static_cast<float> (index)) << member << "(" << i << ", " << j << ")";
    };
    for (int i = 0; i < H; ++i)
    {
        for (int j = 0; j < 2; ++j)
        {
            expectIndex (net->inputWeightsR (i, j), 2 * i + j, "inputWeightsR", i, j);
            expectIndex (net->inputWeightsZ (i, j), 32 + 2 * i + j, "inputWeightsZ", i, j);
            expectIndex (net->inputWeightsN (i, j), 64 + 2 * i + j, "inputWeightsN", i, j);
        }
        for (int j = 0; j < H; ++j)
        {
            expectIndex (net->hiddenWeightsR (i, j), 96 + 16 * i + j, "hiddenWeightsR", i, j);
            expectIndex (net->hiddenWeightsZ (i, j), 352 + 16 * i + j, "hiddenWeightsZ", i, j);
            expectIndex (net->hiddenWeightsN (i, j), 608 + 16 * i + j, "hiddenWeightsN", i, j);
        }
        expectIndex (net->inputBiasR (i), 864 + i, "inputBiasR", i, 0);
        expectIndex (net->inputBiasZ (i), 880 + i, "inputBiasZ", i, 0);
        expectIndex (net->inputBiasN (i), 896 + i, "inputBiasN", i, 0);
        expectIndex (net->hiddenBiasR (i), 912 + i, "hiddenBiasR", i, 0);
        expectIndex (net->hiddenBiasZ (i), 928 + i, "hiddenBiasZ", i, 0);
        expectIndex (net->hiddenBiasN (i), 944 + i, "hiddenBiasN", i, 0);
        expectIndex (net->outputWeights (i), 960 + i, "outputWeights", i, 0);
    }
    EXPECT_EQ (net->outputBias (0), 976.0f);
}

TEST (GRU, LoadsBankAndResetsState)
{
    const auto b = indexBuffers();
    const auto net = loaded (b);

    for (int r = 0; r < 128; ++r)
        for (int u = 0; u < H; ++u)
            ASSERT_EQ (net->stateBank (r, u), -static_cast<float> (16 * r + u));
    EXPECT_TRUE (net->hiddenState.isZero());
    EXPECT_TRUE (net->ones.isOnes());
}

TEST (GRU, ZeroByteCountLoadsOnlyTheBank)
{
    const auto first = randomBuffers (1);
    auto net = loaded (first);
    net->hiddenState.setConstant (0.25f);

    auto second = indexBuffers();
    net->loadFromBuffer (second.weights.data(), 0, second.bank.data());

    EXPECT_EQ (net->stateBank (5, 3), -83.0f);
    EXPECT_TRUE (net->hiddenState.isZero());
    EXPECT_EQ (net->inputWeightsR (3, 1), first.weights[7]);
    EXPECT_EQ (net->outputBias (0), first.weights[976]);
}

TEST (GRU, FirstStepFromSilenceUsesTheBiasesAndTheReadout)
{
    const auto b = randomBuffers (2);
    auto net = loaded (b);
    const float y = net->runInference (in (0.0f, 0.0f));

    double expected = b.weights[976];
    for (int i = 0; i < H; ++i)
    {
        const double r = 1.0 / (1.0 + std::exp (-(b.weights[864 + i] + b.weights[912 + i])));
        const double z = 1.0 / (1.0 + std::exp (-(b.weights[880 + i] + b.weights[928 + i])));
        const double n = std::tanh (b.weights[896 + i] + r * b.weights[944 + i]);
        const double h = (1.0 - z) * n;
        EXPECT_NEAR (net->hiddenState (i), h, 2e-6) << i;
        expected += b.weights[960 + i] * h;
    }
    EXPECT_NEAR (y, expected, 1e-5);
    EXPECT_NE (y, b.weights[976]);
}

// Eigen's vectorised exp and rational tanh are accurate to a few float ulps; over
// thousands of recurrent steps with a contracting state that stays within 1e-4.
TEST (GRU, MatchesScalarReferenceOverManySteps)
{
    const auto b = randomBuffers (3, 0.4f);
    auto net = loaded (b);
    ScalarGRU ref { b.weights };

    std::mt19937 rng (4);
    std::uniform_real_distribution<float> audio (-1.0f, 1.0f);
    double maxError = 0.0;
    for (int step = 0; step < 5000; ++step)
    {
        const float x = audio (rng);
        const float lfo = std::sin (0.001f * static_cast<float> (step));
        const double expected = ref.step (x, lfo);
        const float y = net->runInference (in (x, lfo));
        maxError = std::max (maxError, std::abs (y - expected));
        for (int i = 0; i < H; ++i)
            ASSERT_NEAR (net->hiddenState (i), ref.h[i], 1e-4) << "step " << step;
    }
    EXPECT_LT (maxError, 1e-4);
}

TEST (GRU, OutputIsReadFromTheUpdatedState)
{
    const auto b = randomBuffers (5);
    auto net = loaded (b);
    for (int step = 0; step < 10; ++step)
    {
        const float y = net->runInference (in (0.3f, -0.5f));
        const float fromState = net->outputWeights.dot (net->hiddenState) + net->outputBias (0);
        EXPECT_NEAR (y, fromState, 1e-6f);
    }
}

TEST (GRU, NetworksStayIndependent)
{
    const auto b = randomBuffers (6);
    auto left = loaded (b);
    auto right = loaded (b);
    left->hiddenState = left->stateBank.row (64).transpose();
    right->hiddenState = right->stateBank.row (64).transpose();

    for (int step = 0; step < 100; ++step)
        ASSERT_EQ (left->runInference (in (0.1f, 0.2f)), right->runInference (in (0.1f, 0.2f)));

    const PhaserNetwork::Vector before = right->hiddenState;
    for (int step = 0; step < 100; ++step)
        left->runInference (in (-0.7f, 0.4f));
    EXPECT_EQ (right->hiddenState, before);
}

TEST (GRU, LayoutKeepsVectorsOnVectorBoundaries)
{
    static_assert (alignof (PhaserNetwork) >= 32);
    PhaserNetwork net;
    auto aligned = [] (const void* p) { return reinterpret_cast<uintptr_t> (p) % 32 == 0; };
    EXPECT_TRUE (aligned (net.hiddenWeightsZ.col (7).data()));
    EXPECT_TRUE (aligned (net.inputWeightsN.col (1).data()));
    EXPECT_TRUE (aligned (net.hiddenState.data()));
    EXPECT_TRUE (aligned (net.ones.data()));
    EXPECT_TRUE (aligned (net.packedWeights));
    EXPECT_TRUE (aligned (std::make_unique<PhaserNetwork>()->hiddenState.data()));
}
