// The two builds of the network step against the one-product-per-gate Eigen path,
// the double reference and each other.
#include "GRU.h"
#include "NetworkWeightsFile.h"
#include "NetworkKernel.h"
#include "ScalarGRU.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

namespace
{
constexpr int H = 16;

std::unique_ptr<PhaserNetwork> randomNetwork (unsigned seed, float scale, std::vector<float>* weightsOut = nullptr)
{
    std::mt19937 rng (seed);
    std::normal_distribution<float> dist (0.0f, scale);
    std::vector<float> weights (PhaserNetwork::numWeights), bank (PhaserNetwork::numBankValues);
    for (auto& w : weights)
        w = dist (rng);
    for (auto& b : bank)
        b = 0.3f * dist (rng);
    auto net = std::make_unique<PhaserNetwork>();
    net->loadFromBuffer (weights.data(), 4 * PhaserNetwork::numWeights, bank.data());
    if (weightsOut != nullptr)
        *weightsOut = weights;
    return net;
}

std::unique_ptr<PhaserNetwork> shippedNetwork()
{
    std::ifstream in (KELVOR_SOURCE_DIR "/resources/network_weights.bin", std::ios::binary);
    const std::vector<char> bytes ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
    const auto file = NetworkWeightsFile::read (bytes.data(), bytes.size());
    if (! file)
        return nullptr;
    auto net = std::make_unique<PhaserNetwork>();
    net->loadFromBuffer (file->weights.data(), 4 * file->weightCount, file->bank.data());
    return net;
}

struct Kernel
{
    const char* name;
    kelvor::NetworkStepFunction step;
};

std::vector<Kernel> kernelsForThisCpu()
{
    std::vector<Kernel> kernels { { "baseline", kelvor::networkStepBaseline } };
    if (kelvor::cpuHasAvx2Fma())
        kernels.push_back ({ "avx2", kelvor::networkStepAvx2 });
    return kernels;
}

// From one state, one kernel step and one unpacked step must land within 1e-5.
void expectStepMatchesUnpacked (PhaserNetwork& net, const Kernel& kernel, const PhaserNetwork::Vector& start,
                                float audio, float lfo)
{
    net.hiddenState = start;
    const float expected = net.runInferenceUnpacked ({ audio, lfo });
    const PhaserNetwork::Vector expectedState = net.hiddenState;

    alignas (32) float state[H];
    for (int u = 0; u < H; ++u)
        state[u] = start (u);
    const float y = kernel.step (net.packedWeights, state, audio, lfo);

    ASSERT_NEAR (y, expected, 1e-5f) << kernel.name << " at x = (" << audio << ", " << lfo << ")";
    for (int u = 0; u < H; ++u)
        ASSERT_NEAR (state[u], expectedState (u), 1e-5f) << kernel.name << " unit " << u;
}
} // namespace

TEST (NetworkKernel, EveryKernelMatchesTheUnpackedStepFromManyStates)
{
    auto net = randomNetwork (11, 0.4f);
    std::mt19937 rng (12);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f);
    for (int trial = 0; trial < 2000; ++trial)
    {
        PhaserNetwork::Vector start;
        for (int u = 0; u < H; ++u)
            start (u) = unit (rng);
        const float audio = (trial % 50 == 0 ? 40.0f : 1.0f) * unit (rng);
        const float lfo = unit (rng);
        for (const auto& kernel : kernelsForThisCpu())
            expectStepMatchesUnpacked (*net, kernel, start, audio, lfo);
    }
}

// Large weights drive the gates into saturation and the candidate past tanh's clamp;
// float rounding then grows with the terms, so the measure is the double reference.
TEST (NetworkKernel, SaturatedGatesStayOnTheReference)
{
    std::vector<float> weights;
    auto net = randomNetwork (19, 3.0f, &weights);
    ScalarGRU reference { weights };
    std::mt19937 rng (20);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f);
    for (int trial = 0; trial < 2000; ++trial)
    {
        alignas (32) float start[H];
        for (int u = 0; u < H; ++u)
            start[u] = unit (rng);
        const float audio = 20.0f * unit (rng), lfo = unit (rng);
        for (int u = 0; u < H; ++u)
            reference.h[u] = start[u];
        const double expected = reference.step (audio, lfo);
        for (const auto& kernel : kernelsForThisCpu())
        {
            alignas (32) float state[H];
            std::copy (start, start + H, state);
            const float y = kernel.step (net->packedWeights, state, audio, lfo);
            ASSERT_NEAR (y, expected, 1e-4 * std::max (1.0, std::abs (expected))) << kernel.name;
            for (int u = 0; u < H; ++u)
                ASSERT_NEAR (state[u], reference.h[u], 1e-4) << kernel.name << " unit " << u;
        }
    }
}

// The shipped weights on a phaser's real diet: a swept tone, a slow LFO, each
// kernel stepped from the unpacked path's state and then left to run on its own.
TEST (NetworkKernel, ShippedWeightsGiveTheSameSoundOnEveryKernel)
{
    const auto net = shippedNetwork();
    ASSERT_NE (net, nullptr);
    const PhaserNetwork::Vector start = net->stateBank.row (64).transpose();

    for (const auto& kernel : kernelsForThisCpu())
    {
        net->hiddenState = start;
        alignas (32) float state[H];
        for (int u = 0; u < H; ++u)
            state[u] = start (u);
        double phase = 0.0;
        float worst = 0.0f;
        for (int n = 0; n < 44100; ++n)
        {
            phase += (50.0 + 0.2 * n) / 44100.0;
            const float audio = 0.8f * static_cast<float> (std::sin (6.283185307 * phase));
            const float lfo = static_cast<float> (std::sin (6.283185307 * 0.5 * n / 44100.0));
            const PhaserNetwork::Vector before = net->hiddenState;
            expectStepMatchesUnpacked (*net, kernel, before, audio, lfo);
            if (testing::Test::HasFatalFailure())
                return;
            net->hiddenState = before;
            const float expected = net->runInferenceUnpacked ({ audio, lfo });
            const float y = kernel.step (net->packedWeights, state, audio, lfo);
            worst = std::max (worst, std::abs (y - expected));
        }
        EXPECT_LT (worst, 1e-5f) << kernel.name << " drifted over a second of audio";
    }
}

TEST (NetworkKernel, KernelsAgreeWithEachOtherAndTheReferenceOverALongRun)
{
    if (! kelvor::cpuHasAvx2Fma())
        GTEST_SKIP() << "this CPU has no AVX2 + FMA";

    std::vector<float> weights;
    auto net = randomNetwork (13, 0.4f, &weights);
    ScalarGRU reference { weights };
    alignas (32) float baseline[H] {}, avx2[H] {};

    std::mt19937 rng (14);
    std::uniform_real_distribution<float> audio (-1.0f, 1.0f);
    for (int step = 0; step < 20000; ++step)
    {
        const float x = audio (rng);
        const float lfo = std::sin (0.0007f * static_cast<float> (step));
        const double expected = reference.step (x, lfo);
        const float yBaseline = kelvor::networkStepBaseline (net->packedWeights, baseline, x, lfo);
        const float yAvx2 = kelvor::networkStepAvx2 (net->packedWeights, avx2, x, lfo);
        ASSERT_NEAR (yAvx2, yBaseline, 1e-5f) << "step " << step;
        ASSERT_NEAR (yAvx2, expected, 1e-4) << "step " << step;
        for (int u = 0; u < H; ++u)
            ASSERT_NEAR (avx2[u], baseline[u], 1e-5f) << "step " << step << " unit " << u;
    }
}

TEST (NetworkKernel, ChoiceFollowsTheCpuAndEveryNetworkUsesIt)
{
    const auto expected = kelvor::cpuHasAvx2Fma() ? kelvor::networkStepAvx2 : kelvor::networkStepBaseline;
    EXPECT_EQ (kelvor::chosenNetworkStep(), expected);
    EXPECT_EQ (PhaserNetwork().stepKernel, expected);
    EXPECT_EQ (randomNetwork (15, 0.4f)->stepKernel, expected);
}

TEST (NetworkKernel, PackedWeightsFollowEveryLoadAndSurviveABankOnlyLoad)
{
    auto net = randomNetwork (16, 0.4f);
    std::vector<float> other;
    const auto second = randomNetwork (17, 0.4f, &other);
    std::vector<float> bank (PhaserNetwork::numBankValues, 0.05f);

    // A full reload replaces the packed copy too.
    net->loadFromBuffer (other.data(), 4 * PhaserNetwork::numWeights, bank.data());
    for (int k = 0; k < kelvor::packed::size; ++k)
        ASSERT_EQ (net->packedWeights[k], second->packedWeights[k]) << k;

    // A bank-only load leaves weights and their packed copy in step.
    net->loadFromBuffer (nullptr, 0, bank.data());
    net->hiddenState = net->stateBank.row (3).transpose();
    auto unpacked = *net;
    for (int step = 0; step < 50; ++step)
        ASSERT_NEAR (net->runInference ({ 0.2f, -0.3f }), unpacked.runInferenceUnpacked ({ 0.2f, -0.3f }), 1e-5f);
}

TEST (NetworkKernel, NanInputPoisonsTheStateLikeTheUnpackedStep)
{
    auto net = randomNetwork (18, 0.4f);
    net->runInferenceUnpacked ({ std::nanf (""), 0.0f });
    const PhaserNetwork::Vector unpacked = net->hiddenState;
    for (const auto& kernel : kernelsForThisCpu())
    {
        alignas (32) float state[H] {};
        const float y = kernel.step (net->packedWeights, state, std::nanf (""), 0.0f);
        EXPECT_TRUE (std::isnan (y)) << kernel.name;
        for (int u = 0; u < H; ++u)
            EXPECT_EQ (std::isnan (state[u]), std::isnan (unpacked (u))) << kernel.name << " unit " << u;
    }
}
