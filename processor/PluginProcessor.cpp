#include "PluginProcessor.h"

#include "EditorHolderWindow.h"
#include "NetworkWeightsFile.h"

#include <BinaryData.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace
{
constexpr const char* stateType = "Kelvo58Quorvanta";

juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout()
{
    juce::AudioProcessorValueTreeState::ParameterLayout layout;
    layout.add (std::make_unique<FlexyParameter> ("pregain", "Pre Gain", -48.0f, 48.0f, -6.0f));
    layout.add (std::make_unique<FlexyParameter> ("postgain", "Post Gain", -48.0f, 48.0f, 6.0f));
    layout.add (std::make_unique<FlexyParameter> ("drywet", "Dry/Wet", 0.0f, 100.0f, 100.0f));
    layout.add (std::make_unique<FlexyParameter> ("p0", "Parameter 1", 0.0, 1.0, 0.5));
    layout.add (std::make_unique<FlexyParameter> ("p1", "Parameter 2", 0.0, 1.0, 0.5));
    layout.add (std::make_unique<FlexyParameter> ("synchOn", "Synch On", 0.0f, 1.0f, 0.0f));
    return layout;
}

// Applies a ramped gain in dB to channels [0, numChannels) of a slice, one ramp value per frame.
void applyGainRamp (juce::SmoothedValue<float, juce::ValueSmoothingTypes::Linear>& ramp,
                    juce::AudioBuffer<float>& buffer, int numChannels, int start, int length) noexcept
{
    if (! ramp.isSmoothing())
    {
        // A settled ramp hands out its target for every frame.
        const float gain = juce::Decibels::decibelsToGain (ramp.getTargetValue());
        for (int c = 0; c < numChannels; ++c)
            juce::FloatVectorOperations::multiply (buffer.getWritePointer (c, start), gain, length);
        return;
    }

    for (int i = 0; i < length; ++i)
    {
        const float gain = juce::Decibels::decibelsToGain (ramp.getNextValue());
        for (int c = 0; c < numChannels; ++c)
            buffer.getWritePointer (c)[start + i] *= gain;
    }
}
} // namespace

//==============================================================================
const float Kelvo58AudioProcessor::divisionTable[24] = {
    16.0f, 8.0f, 7.0f, 6.0f, 5.0f, 4.0f,
    2.0f, 1.5f, 1.0f, 0.75f, 0.5f, 0.666667f,
    0.375f, 0.333333f, 0.25f, 0.1875f, 0.166667f, 0.125f,
    0.09375f, 0.083333f, 0.0625f, 0.046875f, 0.041667f, 0.03125f
};

const float Kelvo58AudioProcessor::slewStep = static_cast<float> (5.0 / 44100.0);

float Kelvo58AudioProcessor::speedToFrequency (float speed) noexcept
{
    return static_cast<float> (static_cast<double> (speed) * 6.84721088436 + 0.0481632653);
}

Kelvo58AudioProcessor::Kelvo58AudioProcessor()
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      lfoTables (BinaryData::lfo_tables_bin, static_cast<std::size_t> (BinaryData::lfo_tables_binSize)),
      wavetable (lfoTables.view()),
      valueTreeState (*this, nullptr, stateType, createParameterLayout())
{
    openSettings();

    auto find = [this] (const char* id)
    { return dynamic_cast<FlexyParameter*> (valueTreeState.getParameter (id)); };

    drywetParam = find ("drywet");
    pregainParam = find ("pregain");
    postgainParam = find ("postgain");
    p0Param = find ("p0");
    p0Param->displayName = "BypassOff";
    p1Param = find ("p1");
    p1Param->displayName = "Speed";
    synchOnParam = find ("synchOn");
    synchOnParam->displayName = "Synch On";

    auto setStartValue = [] (FlexyParameter* param, float normalised)
    {
        param->setValue (normalised);
        param->sendValueChangedMessageToListeners (normalised);
    };
    setStartValue (p0Param, 0.0f);
    setStartValue (p1Param, 0.5f);
    setStartValue (synchOnParam, 0.0f);

    if (auto file = NetworkWeightsFile::read (BinaryData::network_weights_bin,
                                              static_cast<std::size_t> (BinaryData::network_weights_binSize)))
    {
        for (auto& network : networks)
            network.loadFromBuffer (file->weights.data(), static_cast<int> (file->weights.size() * sizeof (float)),
                                    file->bank.data());
    }
    else
    {
        // Only a broken build gets here; a silent network beats uninitialised weights.
        const std::vector<float> zeros (PhaserNetwork::numWeights + PhaserNetwork::numBankValues, 0.0f);
        for (auto& network : networks)
            network.loadFromBuffer (zeros.data(), PhaserNetwork::numWeights * (int) sizeof (float),
                                    zeros.data() + PhaserNetwork::numWeights);
    }
}

Kelvo58AudioProcessor::~Kelvo58AudioProcessor() = default;

//==============================================================================
const juce::String Kelvo58AudioProcessor::getName() const { return "Kelvor58"; }
void Kelvo58AudioProcessor::releaseResources() {}
double Kelvo58AudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool Kelvo58AudioProcessor::acceptsMidi() const { return false; }
bool Kelvo58AudioProcessor::producesMidi() const { return false; }
bool Kelvo58AudioProcessor::isMidiEffect() const { return false; }
bool Kelvo58AudioProcessor::hasEditor() const { return true; }
int Kelvo58AudioProcessor::getNumPrograms() { return 1; }
int Kelvo58AudioProcessor::getCurrentProgram() { return 0; }
void Kelvo58AudioProcessor::setCurrentProgram (int) {}
// The one program is published to hosts as a list entry, and a nameless entry is invalid there.
const juce::String Kelvo58AudioProcessor::getProgramName (int) { return "Default"; }
void Kelvo58AudioProcessor::changeProgramName (int, const juce::String&) {}

juce::AudioProcessorEditor* Kelvo58AudioProcessor::createEditor()
{
    return new EditorHolderWindow (*this);
}

bool Kelvo58AudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto mainOut = layouts.getMainOutputChannelSet();
    if (mainOut != juce::AudioChannelSet::mono() && mainOut != juce::AudioChannelSet::stereo())
        return false;
    return layouts.getMainInputChannelSet() == mainOut;
}

//==============================================================================
float Kelvo58AudioProcessor::syncedRate (float speed, float bar) const noexcept
{
    const int index = juce::jlimit (0, 23, static_cast<int> (speed * 23.0f));
    return 1.0f / (bar * divisionTable[index]);
}

void Kelvo58AudioProcessor::primeNetwork (int channel, float speed) noexcept
{
    const int row = juce::jlimit (0, 127, static_cast<int> (std::round (speed * 127.0f)));
    auto& network = networks[channel];
    network.hiddenState = network.stateBank.row (row).transpose();
}

void Kelvo58AudioProcessor::prepareToPlay (double sampleRate, int samplesPerBlock)
{
    // Longer blocks are run as slices of the prepared size, so a cap costs nothing.
    preparedBlockSize = juce::jlimit (1, maximumBlockSize, samplesPerBlock);
    // A rate that is no number or no rate at all is taken as the network's own.
    if (! (sampleRate > 0.0) || ! std::isfinite (sampleRate))
        sampleRate = internalRate;
    sampleRate = juce::jlimit (1.0, maximumHostRate, sampleRate);

    if (sampleRate >= 48000.0)
    {
        nativeRate = false;
        hostRate = sampleRate;
        const int latency = static_cast<int> ((sampleRate + sampleRate) / internalRate);
        setLatencySamples (latency);
        resetBridge (latency);
        bridgeLag = latency + 2;
    }
    else
    {
        setLatencySamples (0);
        nativeRate = true;
        bridgeLag = 0;
    }

    const float speed = p1Param->value.load();
    for (int c = 0; c < 2; ++c)
        primeNetwork (c, speed);

    const float rate = synchOnParam->value.load() > 0.5f ? syncedRate (speed, 2.0f) : speedToFrequency (speed);
    for (int c = 0; c < 2; ++c)
    {
        speedFollower[c] = speed;
        rateFollower[c] = rate;
        lfoPhase[c] = 0.0f;
    }

    inputGainRamp.reset (sampleRate, 0.05);
    inputGainRamp.setCurrentAndTargetValue (pregainParam->value.load());
    outputGainRamp.reset (sampleRate, 0.05);
    outputGainRamp.setCurrentAndTargetValue (postgainParam->value.load());

    // Room for both channels whatever the layout, should a host change it without preparing.
    mixer.prepare ({ sampleRate, static_cast<juce::uint32> (preparedBlockSize), 2 });
    mixer.reset();
    // On the bridge path the dry signal always waits for the wet one, whether the stage runs
    // or not: a partly dry mix then sounds as it does at 44.1 kHz, and a press of the switch
    // never moves the track in time.
    mixer.setWetLatency (static_cast<float> (bridgeLag));

    // The stage starts where the switch stands, with no fade.
    stageMix = p0Param->value.load() < 0.5f ? 1.0f : 0.0f;
    stageFadeStep = 1.0f / static_cast<float> (std::max (1, static_cast<int> (stageFadeSeconds * sampleRate)));
    // The host's Bypass is the host's to keep across preparations: hostMix stays as it is.
    std::fill (&bypassDelay[0][0], &bypassDelay[0][0] + 2 * bypassDelaySize, 0.0f);
    std::fill (&hostBypassDelay[0][0], &hostBypassDelay[0][0] + 2 * bypassDelaySize, 0.0f);
    bypassWrite = 0;
    bypassScratch.setSize (2, preparedBlockSize, false, true, false);
    hostBypassScratch.setSize (2, preparedBlockSize, false, true, false);
}

float Kelvo58AudioProcessor::processNetworkSample (int c, float x) noexcept
{
    // A non-finite sample would poison the hidden state for good: start the channel
    // afresh from the stored state of the current speed and feed it silence instead.
    if (! std::isfinite (x))
    {
        primeNetwork (c, p1Param->value.load());
        x = 0.0f;
    }

    const float speed = p1Param->value.load();
    const float f = slewToward (speedFollower[c], speed, slewStep);
    speedFollower[c] = f;

    const float target = synchOnParam->value.load() > 0.5f ? syncedRate (f, barSeconds) : speedToFrequency (f);
    const float g = slewToward (rateFollower[c], target, slewStep);
    rateFollower[c] = g;

    const float lfo = output2DFreqLerpedSample (wavetable, lfoPhase[c], g);

    float phase = lfoPhase[c] + target / 44100.0f;
    lfoPhase[c] = phase >= 1.0f ? 0.0f : phase;

    const float y = networks[c].runInference (PhaserNetwork::Input (x, lfo));
    if (! std::isfinite (y))
    {
        primeNetwork (c, speed);
        return 0.0f;
    }
    return y;
}

//==============================================================================
void Kelvo58AudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    processBlocks (buffer, false);
}

void Kelvo58AudioProcessor::processBlocks (juce::AudioBuffer<float>& buffer, bool hostBypassed) noexcept
{
    juce::ScopedNoDenormals noDenormals;

    const int numSamples = buffer.getNumSamples();
    const int nIn = std::min (getTotalNumInputChannels(), buffer.getNumChannels());

    // NaN or infinity carries no audio; left in, it would reach the mix and the rings. Nor does
    // a sample beyond +600 dBFS: held there, whatever both gains, the fades and the mix's own
    // delay line make of it stays far inside float's range.
    constexpr float inputLimit = 1.0e30f;
    for (int c = 0; c < nIn; ++c)
    {
        auto* samples = buffer.getWritePointer (c);
        for (int i = 0; i < numSamples; ++i)
            samples[i] = std::isfinite (samples[i]) ? std::clamp (samples[i], -inputLimit, inputLimit) : 0.0f;
    }

    if (preparedBlockSize == 0) // never prepared: nothing is sized yet, pass the audio through
        return;

    float bpm = 0.0f;
    if (auto* hostPlayHead = getPlayHead())
        if (const auto position = hostPlayHead->getPosition())
            if (const auto hostBpm = position->getBpm())
                if (std::abs (*hostBpm) <= std::numeric_limits<float>::max()) // no float: no tempo
                    bpm = static_cast<float> (*hostBpm);
    barSeconds = (bpm > 0.0f && std::isfinite (bpm)) ? (60.0f / bpm) * 4.0f : 2.0f;

    // Blocks longer than the prepared size would overrun the mixer and the rings; run them
    // as a series of prepared-size blocks.
    if (numSamples == 0)
    {
        processSliceForHost (buffer, 0, 0, hostBypassed);
        return;
    }

    for (int start = 0; start < numSamples; start += preparedBlockSize)
        processSliceForHost (buffer, start, std::min (preparedBlockSize, numSamples - start), hostBypassed);
}

void Kelvo58AudioProcessor::processSlice (juce::AudioBuffer<float>& buffer, int start, int length,
                                          bool networkMayRun) noexcept
{
    const int nIn = std::min (getTotalNumInputChannels(), buffer.getNumChannels());
    const int nOut = std::min (getTotalNumOutputChannels(), buffer.getNumChannels());

    for (int c = nIn; c < nOut; ++c)
        buffer.clear (c, start, length);

    const float drywet = drywetParam->value.load();

    auto block = juce::dsp::AudioBlock<float> (buffer)
                     .getSubBlock (static_cast<size_t> (start), static_cast<size_t> (length));
    const auto mixChannels = std::min (block.getNumChannels(), static_cast<size_t> (std::max (1, nIn)));
    auto mixBlock = block.getSubsetChannelBlock (0, mixChannels);

    mixer.pushDrySamples (mixBlock);
    inputGainRamp.setTargetValue (pregainParam->value.load());
    mixer.setWetMixProportion (static_cast<float> (static_cast<double> (drywet) * 0.01));

    applyGainRamp (inputGainRamp, buffer, nIn, start, length);

    processStage (buffer, std::min (nIn, 2), start, length, networkMayRun);

    outputGainRamp.setTargetValue (postgainParam->value.load());
    applyGainRamp (outputGainRamp, buffer, nIn, start, length);

    mixer.mixWetSamples (mixBlock);
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new Kelvo58AudioProcessor();
}
