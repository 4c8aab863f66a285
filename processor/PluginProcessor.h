#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_dsp/juce_dsp.h>

#include "FlexyParameter.h"
#include "GRU.h"
#include "ResamplingBridge.h"
#include "Wavetable2D.h"

#include <atomic>
#include <cstdint>
#include <memory>

class Kelvo58AudioProcessor : public juce::AudioProcessor
{
public:
    Kelvo58AudioProcessor();
    ~Kelvo58AudioProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    // What the framework calls instead while the host's own Bypass is on.
    void processBlockBypassed (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    using juce::AudioProcessor::processBlock;
    using juce::AudioProcessor::processBlockBypassed;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    // Free-running LFO rate in Hz for a speed of 0..1.
    static float speedToFrequency (float speed) noexcept;
    // LFO cycle lengths in bars, indexed by int(speed * 23).
    static const float divisionTable[24];
    // Largest move of the speed and rate followers per processed sample.
    static const float slewStep;
    // Moves a follower or a fade toward its target by at most one step.
    static float slewToward (float current, float target, float step) noexcept
    {
        if (current > target + step)
            return current - step;
        if (target - step > current)
            return current + step;
        return target;
    }

    // One network step of a channel on a 44.1 kHz sample, LFO advanced by one sample.
    float processNetworkSample (int channel, float x) noexcept;

    // 44.1 kHz bridge: set up afresh / run one channel's block through it in place.
    void resetBridge (int latency);
    void resampleChannel (int channel, float* samples, int numSamples) noexcept;

    //==============================================================================
    std::atomic<bool> nativeRate { false };
    FlexyParameter* p0Param = nullptr;
    FlexyParameter* p1Param = nullptr;
    FlexyParameter* synchOnParam = nullptr;

    SampleRing inputRing[2], midRing[2];
    ResampleCursor downCursor[2], upCursor[2];
    int64_t receivedCount[2] {}, processedCount[2] {};
    int32_t firstBlockOffset[2] {};

    double hostRate = -1.0;
    double internalRate = 44100.0;

    LfoTableSet lfoTables;   // owns the arrays that wavetable points into
    Wavetable2D wavetable;

    float lfoPhase[2] {};

    FlexyParameter* pregainParam = nullptr;
    FlexyParameter* postgainParam = nullptr;
    FlexyParameter* drywetParam = nullptr;

    juce::SmoothedValue<float, juce::ValueSmoothingTypes::Linear> inputGainRamp, outputGainRamp;
    // Host values beyond these are not real set-ups; preparation brings them within.
    static constexpr double maximumHostRate = 1536000.0;
    static constexpr int maximumBlockSize = 1 << 16;
    // The bridge's lag at the highest rate: room to delay the dry signal by it.
    static constexpr int maximumBridgeLag = static_cast<int> (2.0 * maximumHostRate / 44100.0) + 2;
    juce::dsp::DryWetMixer<float> mixer { maximumBridgeLag };

    // Last editor size in pixels (0: none known); written by the editor, read on save.
    std::atomic<float> editorWidth { 0.0f }, editorHeight { 0.0f };

    juce::ApplicationProperties appProperties;
    // The per-user settings, or none where the settings file cannot be read safely.
    juce::PropertiesFile* userSettings();

    PhaserNetwork networks[2];

    float speedFollower[2] {};
    float rateFollower[2] {};
    float barSeconds = 2.0f;

    juce::AudioProcessorValueTreeState valueTreeState;

private:
    // Gives appProperties its options and takes the stored editor size, if whole.
    void openSettings();
    bool settingsUsable = true;
    void keepCurrentValuesWhereTheChunkHasNone (juce::ValueTree& tree) const;
    // Both of the host's calls: input that is no audio cleared or held, long blocks sliced.
    void processBlocks (juce::AudioBuffer<float>& buffer, bool hostBypassed) noexcept;
    // One slice through the chain, faded against the untouched input while the host bypasses.
    void processSliceForHost (juce::AudioBuffer<float>& buffer, int start, int length, bool hostBypassed) noexcept;
    // Input gain, stage, output gain and mix; with networkMayRun false the networks stand still.
    void processSlice (juce::AudioBuffer<float>& buffer, int start, int length, bool networkMayRun) noexcept;
    // The network stage and the foot switch's fade around it, on the first `channels` channels.
    void processStage (juce::AudioBuffer<float>& buffer, int channels, int start, int length, bool networkMayRun) noexcept;
    void primeNetwork (int channel, float speed) noexcept;
    float syncedRate (float speed, float bar) const noexcept;

    int preparedBlockSize = 0;
    int bridgeLag = 0; // host samples by which the bridge's output trails its input

    // The foot switch fades the stage in and out instead of cutting; while the stage is out
    // on the bridge path its input is delayed by the bridge's lag, so a press never moves
    // the track in time. The host's Bypass does the same with the input as it came, before
    // any gain. Both fades and both delay lines live in StageAndBypass.cpp.
    static constexpr double stageFadeSeconds = 0.01;
    static constexpr int bypassDelaySize = 128; // a power of two above maximumBridgeLag
    float stageMix = 1.0f;   // 1: the network's signal alone, 0: the bypassed signal alone
    float hostMix = 1.0f;    // 1: the chain alone, 0: the host-bypassed input alone
    float stageFadeStep = 1.0f;
    float bypassDelay[2][bypassDelaySize] {};
    float hostBypassDelay[2][bypassDelaySize] {};
    int bypassWrite = 0;
    juce::AudioBuffer<float> bypassScratch, hostBypassScratch;

    // Feeds a channel's delay line; also reads it, bridgeLag behind, into out unless out is null.
    void delayThrough (float* line, const float* in, float* out, int length) const noexcept;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Kelvo58AudioProcessor)
};
