// Cost of one network step and one LFO lookup, the two things done per sample and channel.
#include "GRU.h"
#include "NetworkWeightsFile.h"
#include "Wavetable2D.h"

#include <BinaryData.h>
#include <benchmark/benchmark.h>
#include <xmmintrin.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace
{
// The shipped network, as the plug-in loads it.
std::unique_ptr<PhaserNetwork> makeNetwork()
{
    auto file = NetworkWeightsFile::read (BinaryData::network_weights_bin,
                                          static_cast<std::size_t> (BinaryData::network_weights_binSize));
    auto net = std::make_unique<PhaserNetwork>();
    net->loadFromBuffer (file->weights.data(), static_cast<int> (file->weights.size() * sizeof (float)), file->bank.data());
    net->hiddenState = net->stateBank.row (64).transpose();
    return net;
}

// Denormals flush to zero while a block runs, so they do here (flush-to-zero and
// denormals-are-zero, as the plug-in's block sets them).
struct FlushDenormals
{
    FlushDenormals() : saved (_mm_getcsr()) { _mm_setcsr (saved | 0x8040); }
    ~FlushDenormals() { _mm_setcsr (saved); }
    unsigned int saved;
};

// The inputs the plug-in gives each step, rendered beforehand so only the step is timed:
// noise at the nominal level and the LFO read from the tables at Speed 0.5, which keeps the
// state where the plug-in keeps it.
template <typename Step>
void runSteps (benchmark::State& state, Step&& step)
{
    const FlushDenormals flush;
    const LfoTableSet tables (BinaryData::lfo_tables_bin, static_cast<size_t> (BinaryData::lfo_tables_binSize));
    std::mt19937 rng (7);
    std::uniform_real_distribution<float> dist (-0.5f, 0.5f);
    std::vector<float> audio (1 << 16), lfo (1 << 16);
    const float rate = 3.47f;
    float phase = 0.0f;
    for (size_t i = 0; i < audio.size(); ++i)
    {
        audio[i] = dist (rng);
        lfo[i] = output2DFreqLerpedSample (tables.view(), phase, rate);
        phase += rate / 44100.0f;
        if (phase >= 1.0f)
            phase = 0.0f;
    }

    size_t i = 0;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize (step (audio[i], lfo[i]));
        i = (i + 1) & (audio.size() - 1);
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
