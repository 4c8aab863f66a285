// processBlock cost, stereo, blocks of 512, network stage on, fed with noise.
// Reported as a multiple of real time: seconds of audio per second of CPU.
#include "PluginProcessor.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

namespace
{
void processBlockAtRate (benchmark::State& state)
{
    const double rate = static_cast<double> (state.range (0));
    const int blockSize = 512;

    juce::ScopedJuceInitialiser_GUI juce;
    Kelvo58AudioProcessor processor;
    processor.p0Param->setValue (0.0f); // stage on
    processor.prepareToPlay (rate, blockSize);

    // Fresh noise for every block from a long pre-rendered stretch (copying it costs far
    // less than a microsecond per block): nothing can take a shortcut on silence.
    std::mt19937 rng (58);
    std::uniform_real_distribution<float> dist (-0.5f, 0.5f);
    std::vector<float> noise (1 << 16);
    for (auto& x : noise)
        x = dist (rng);

    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;
    size_t offset = 0;

    for (auto _ : state)
    {
        for (int c = 0; c < 2; ++c)
            buffer.copyFrom (c, 0, noise.data() + (offset + (size_t) c * 4099) % (noise.size() - blockSize), blockSize);
        offset = (offset + blockSize) % (noise.size() - blockSize);

        processor.processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
    }

    const double audioSeconds = static_cast<double> (state.iterations()) * blockSize / rate;
    state.counters["xRealTime"] = benchmark::Counter (audioSeconds, benchmark::Counter::kIsRate);
    state.SetItemsProcessed (state.iterations() * blockSize);
}

// One network step of one channel as the block runs it: followers, LFO lookup, network.
void networkSample (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    Kelvo58AudioProcessor processor;
    processor.prepareToPlay (44100.0, 512);

    std::mt19937 rng (58);
    std::uniform_real_distribution<float> dist (-0.5f, 0.5f);
    float y = 0.0f;
    const juce::ScopedNoDenormals noDenormals; // as processBlock runs it
    for (auto _ : state)
    {
        y = processor.processNetworkSample (0, dist (rng) + 1.0e-3f * y);
        benchmark::DoNotOptimize (y);
    }
    state.SetItemsProcessed (state.iterations());
}

// What the 44.1 kHz bridge itself adds per host sample: a channel's block through
// resampleChannel, less the same number of network steps timed on a twin processor.
void bridgeOwnCost (benchmark::State& state)
{
    const double rate = static_cast<double> (state.range (0));
    const int blockSize = 512;

    juce::ScopedJuceInitialiser_GUI juce;
    Kelvo58AudioProcessor bridged, direct;
    bridged.prepareToPlay (rate, blockSize);
    direct.prepareToPlay (44100.0, blockSize);

    std::mt19937 rng (58);
    std::uniform_real_distribution<float> dist (-0.5f, 0.5f);
    std::vector<float> block (blockSize), steps (blockSize);
    const juce::ScopedNoDenormals noDenormals; // as processBlock runs it

    for (auto _ : state)
    {
        for (auto& x : block)
            x = dist (rng);

        const auto stepsBefore = bridged.processedCount[0];
        const auto t0 = std::chrono::steady_clock::now();
        bridged.resampleChannel (0, block.data(), blockSize);
        const auto t1 = std::chrono::steady_clock::now();

        const auto numSteps = static_cast<int> (bridged.processedCount[0] - stepsBefore);
        std::copy (block.begin(), block.begin() + numSteps, steps.begin());
        const auto t2 = std::chrono::steady_clock::now();
        for (int i = 0; i < numSteps; ++i)
            steps[(size_t) i] = direct.processNetworkSample (0, steps[(size_t) i]);
        const auto t3 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize (steps.data());

        const std::chrono::duration<double> own = (t1 - t0) - (t3 - t2);
        state.SetIterationTime (std::max (0.0, own.count()));
    }
    state.SetItemsProcessed (state.iterations() * blockSize);
}
} // namespace

BENCHMARK (processBlockAtRate)->Arg (44100)->Arg (48000)->Arg (96000)->Unit (benchmark::kMicrosecond);
BENCHMARK (networkSample);
BENCHMARK (bridgeOwnCost)->Arg (48000)->Arg (96000)->UseManualTime()->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
