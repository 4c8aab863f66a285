// Cost of one network step and one LFO lookup, the two things done per sample and channel.
#include "GRU.h"
#include "Wavetable2D.h"

#include <BinaryData.h>
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

namespace
{
std::unique_ptr<PhaserNetwork> makeNetwork()
{
    std::mt19937 rng (7);
    std::normal_distribution<float> dist (0.0f, 0.4f);
    std::vector<float> weights (PhaserNetwork::numWeights), bank (PhaserNetwork::numBankValues);
    for (auto& w : weights)
        w = dist (rng);
    for (auto& b : bank)
        b = 0.1f * dist (rng);
    auto net = std::make_unique<PhaserNetwork>();
    net->loadFromBuffer (weights.data(), 4 * PhaserNetwork::numWeights, bank.data());
    return net;
}

// Feeds the output back so every step depends on the last, as in a real block.
template <typename Step>
void runSteps (benchmark::State& state, Step&& step)
{
    float x = 0.1f, lfo = 0.0f;
    for (auto _ : state)
    {
        x = 0.5f * step (x, lfo);
        lfo += 1.0e-4f;
        benchmark::DoNotOptimize (x);
    }
    state.SetItemsProcessed (state.iterations());
}

// runInference as the plug-in calls it: the kernel chosen for this CPU.
void networkStep (benchmark::State& state)
{
    auto net = makeNetwork();
    runSteps (state, [&] (float x, float lfo) { return net->runInference ({ x, lfo }); });
}
BENCHMARK (networkStep);

void networkStepKernel (benchmark::State& state, kelvor::NetworkStepFunction kernel)
{
    auto net = makeNetwork();
    runSteps (state, [&] (float x, float lfo) { return kernel (net->packedWeights, net->hiddenState.data(), x, lfo); });
}
BENCHMARK_CAPTURE (networkStepKernel, baseline, kelvor::networkStepBaseline)->Name ("networkStep/baseline");

void networkStepAvx2 (benchmark::State& state)
{
    if (! kelvor::cpuHasAvx2Fma())
    {
        state.SkipWithError ("this CPU has no AVX2 + FMA");
        return;
    }
    networkStepKernel (state, kelvor::networkStepAvx2);
}
BENCHMARK (networkStepAvx2)->Name ("networkStep/avx2");

// One Eigen product per gate, for comparison with the packed kernels.
void networkStepUnpacked (benchmark::State& state)
{
    auto net = makeNetwork();
    runSteps (state, [&] (float x, float lfo) { return net->runInferenceUnpacked ({ x, lfo }); });
}
BENCHMARK (networkStepUnpacked)->Name ("networkStep/unpacked");

void lfoLookup (benchmark::State& state)
{
    const LfoTableSet tables (BinaryData::lfo_tables_bin, static_cast<size_t> (BinaryData::lfo_tables_binSize));
    const float freq = static_cast<float> (state.range (0)) / 100.0f;
    float phase = 0.0f, sum = 0.0f;
    for (auto _ : state)
    {
        sum += output2DFreqLerpedSample (tables.view(), phase, freq);
        phase += freq / 44100.0f;
        if (phase >= 1.0f)
            phase = 0.0f;
        benchmark::DoNotOptimize (sum);
    }
    state.SetItemsProcessed (state.iterations());
}
// Speed 0 (extrapolated), Speed 0.5, the fastest free rate, and a synced rate above the tables.
BENCHMARK (lfoLookup)->Arg (5)->Arg (347)->Arg (690)->Arg (3200);
} // namespace

BENCHMARK_MAIN();
