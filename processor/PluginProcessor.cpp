#include "PluginProcessor.h"

#include "EditorHolderWindow.h"
#include "NetworkWeightsFile.h"

#include <BinaryData.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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

juce::PropertiesFile::Options settingsOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "Kelvor58";
    options.filenameSuffix = ".settings";
    options.folderName = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                             .getChildFile ("Kelvor58")
                             .getFullPathName();
    options.osxLibrarySubFolder = "Application Support";
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    options.commonToAllUsers = false;
    options.ignoreCaseOfKeyNames = false;
    options.doNotSave = false;
    options.millisecondsBeforeSaving = 3000;
    options.processLock = nullptr;
    return options;
}

// The saved state and the settings file are two levels deep; anything nested deeper is not
// ours, and the framework's XML reader recurses once per level.
constexpr int maximumXmlDepth = 16;
// A real settings file holds two numbers; a larger one is not worth reading.
constexpr juce::int64 maximumSettingsFileBytes = 1 << 20;

// True when the text opens elements more than maxDepth levels deep. Comments, CDATA,
// declarations and quoted attribute values are skipped the way the XML reader skips them.
bool xmlNestsDeeperThan (const char* text, size_t length, int maxDepth) noexcept
{
    auto startsWith = [&] (size_t at, const char* prefix)
    {
        const auto n = std::strlen (prefix);
        return at + n <= length && std::memcmp (text + at, prefix, n) == 0;
    };
    auto skipPast = [&] (size_t from, const char* terminator)
    {
        const auto n = std::strlen (terminator);
        for (size_t i = from; i + n <= length; ++i)
            if (std::memcmp (text + i, terminator, n) == 0)
                return i + n;
        return length;
    };

    int depth = 0;
    size_t i = 0;
    while (i < length)
    {
        if (text[i] != '<')
            ++i;
        else if (startsWith (i, "<!--"))
            i = skipPast (i + 4, "-->");
        else if (startsWith (i, "<![CDATA["))
            i = skipPast (i + 9, "]]>");
        else if (startsWith (i, "<?"))
            i = skipPast (i + 2, "?>");
        else if (startsWith (i, "<!"))
            i = skipPast (i + 2, ">");
        else if (startsWith (i, "</"))
        {
            depth = std::max (0, depth - 1);
            i = skipPast (i + 2, ">");
        }
        else
        {
            char quote = 0;
            size_t end = i + 1;
            for (; end < length; ++end)
            {
                const char c = text[end];
                if (quote != 0)
                    quote = (c == quote) ? 0 : quote;
                else if (c == '"' || c == '\'')
                    quote = c;
                else if (c == '>')
                    break;
            }
            const bool selfClosing = end < length && text[end - 1] == '/';
            if (! selfClosing && ++depth > maxDepth)
                return true;
            i = end + 1;
        }
    }
    return false;
}

// A settings file that is too large or too deep to read safely is dropped, so the framework
// never parses it; the editor size falls back to none and the next change writes a fresh file.
void discardUnreadableSettings (const juce::PropertiesFile::Options& options)
{
    const auto file = options.getDefaultFile();
    if (! file.existsAsFile())
        return;

    bool readable = file.getSize() <= maximumSettingsFileBytes;
    if (readable)
    {
        juce::MemoryBlock content;
        readable = file.loadFileAsData (content)
                   && ! xmlNestsDeeperThan (static_cast<const char*> (content.getData()), content.getSize(), maximumXmlDepth);
    }
    if (! readable)
        file.deleteFile();
}

// Moves a follower toward its target by at most one slew step.
inline float slewToward (float current, float target, float step) noexcept
{
    if (current > target + step)
        return current - step;
    if (target - step > current)
        return current + step;
    return target;
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
void SampleRing::allocate (int32_t capacity)
{
    data.reset();
    data.reset (new float[(size_t) capacity]());
    size = capacity;
    totalWritten = 0;
    writeIndex = 0;
}

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
    discardUnreadableSettings (settingsOptions());
    appProperties.setStorageParameters (settingsOptions());

    if (auto* settings = appProperties.getUserSettings())
    {
        // A size is only taken whole, and "inf" or "nan" is no size.
        const double width = settings->getDoubleValue ("Width");
        if (width > 0.0 && std::isfinite (width))
        {
            const double height = settings->getDoubleValue ("Height");
            if (height > 0.0 && std::isfinite (height))
            {
                editorWidth = static_cast<float> (width);
                editorHeight = static_cast<float> (height);
            }
        }
    }

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
    std::fill (&bypassDelay[0][0], &bypassDelay[0][0] + 2 * bypassDelaySize, 0.0f);
    bypassWrite = 0;
    bypassScratch.setSize (2, preparedBlockSize, false, true, false);
}

void Kelvo58AudioProcessor::delayBypass (int c, const float* in, float* out, int length) noexcept
{
    constexpr int mask = bypassDelaySize - 1;
    auto* line = bypassDelay[c];
    if (out == nullptr) // only keeping the line fed
    {
        for (int i = 0, w = bypassWrite; i < length; ++i, w = (w + 1) & mask)
            line[w] = in[i];
        return;
    }
    for (int i = 0, w = bypassWrite; i < length; ++i, w = (w + 1) & mask)
    {
        line[w] = in[i];
        out[i] = line[(w - bridgeLag) & mask];
    }
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
void Kelvo58AudioProcessor::resetBridge (int latency)
{
    // Three blocks of history; a 1-sample block still needs 4 samples behind the down-sampler.
    const int32_t capacity = 3 * std::max (2, preparedBlockSize);

    // Host rate over network rate as a ratio of integers: exact for every whole-number rate,
    // to a millihertz otherwise.
    const bool wholeRate = hostRate == std::floor (hostRate);
    const int64_t scale = wholeRate ? 1 : 1000;
    const auto rateNumerator = static_cast<int64_t> (std::llround (hostRate * (double) scale));
    const auto internalDenominator = static_cast<int64_t> (internalRate) * scale;

    for (int c = 0; c < 2; ++c)
    {
        inputRing[c].allocate (capacity);
        midRing[c].allocate (capacity);
        inputRing[c].append (0.0f);
        inputRing[c].append (0.0f);
        downCursor[c].start (rateNumerator, internalDenominator);
        upCursor[c].start (internalDenominator, rateNumerator);
        firstBlockOffset[c] = latency;
        processedCount[c] = 0;
        receivedCount[c] = 0;
    }
}

void Kelvo58AudioProcessor::resampleChannel (int c, float* x, int numSamples) noexcept
{
    auto& in = inputRing[c];
    auto& mid = midRing[c];

    for (int i = 0; i < numSamples; ++i)
        in.append (x[i]);
    receivedCount[c] += numSamples;

    // Linear interpolation with the weight hi - p on the lower neighbour; the two newest
    // host samples are left for the next block.
    auto interpolate = [] (SampleRing& ring, const ResampleCursor& cursor) noexcept
    {
        const double w = cursor.lowerWeight();
        const double a = ring.at (cursor.lower());
        const double b = ring.at (cursor.upper());
        return static_cast<float> (w * a + (1.0 - w) * b);
    };

    auto& down = downCursor[c];
    while (down.upper() < receivedCount[c])
    {
        mid.append (interpolate (in, down));
        down.advance();
    }

    while (processedCount[c] < mid.totalWritten)
    {
        float& s = mid.at (processedCount[c]);
        s = processNetworkSample (c, s);
        ++processedCount[c];
    }

    auto& up = upCursor[c];
    int t = firstBlockOffset[c];
    while (t < numSamples && up.upper() < mid.totalWritten)
    {
        x[t] = interpolate (mid, up);
        up.advance();
        ++t;
    }

    // Blocks shorter than the offset (hosts send 0- and 1-sample blocks) use up only part of it.
    firstBlockOffset[c] = std::max (0, firstBlockOffset[c] - numSamples);
}

//==============================================================================
void Kelvo58AudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;

    const int numSamples = buffer.getNumSamples();
    const int nIn = std::min (getTotalNumInputChannels(), buffer.getNumChannels());

    // NaN or infinity carries no audio; left in, it would reach the mix and the rings.
    for (int c = 0; c < nIn; ++c)
    {
        auto* samples = buffer.getWritePointer (c);
        for (int i = 0; i < numSamples; ++i)
            if (! std::isfinite (samples[i]))
                samples[i] = 0.0f;
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
        processSlice (buffer, 0, 0);
        return;
    }

    for (int start = 0; start < numSamples; start += preparedBlockSize)
        processSlice (buffer, start, std::min (preparedBlockSize, numSamples - start));
}

void Kelvo58AudioProcessor::processSlice (juce::AudioBuffer<float>& buffer, int start, int length) noexcept
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

    const bool stageOn = p0Param->value.load() < 0.5f && nIn >= 1;
    const bool bridged = ! nativeRate.load();
    mixer.pushDrySamples (mixBlock);
    inputGainRamp.setTargetValue (pregainParam->value.load());
    mixer.setWetMixProportion (static_cast<float> (static_cast<double> (drywet) * 0.01));

    applyGainRamp (inputGainRamp, buffer, nIn, start, length);

    const float fadeTarget = stageOn ? 1.0f : 0.0f;
    const bool fading = stageMix != fadeTarget;
    const bool stageRuns = stageOn || fading;
    const int channels = std::min (nIn, 2);

    for (int c = 0; c < channels; ++c)
    {
        float* samples = buffer.getWritePointer (c, start);
        float* bypass = bypassScratch.getWritePointer (c);

        // The bypassed signal; the delay line is fed all the time so it is ready for a press,
        // but read only while the bypassed signal is heard.
        if (bridged)
            delayBypass (c, samples, stageOn && ! fading ? nullptr : bypass, length);
        else if (fading)
            std::copy (samples, samples + length, bypass);

        if (! stageRuns)
        {
            if (bridged)
                std::copy (bypass, bypass + length, samples);
            continue;
        }

        if (bridged)
            resampleChannel (c, samples, length);
        else
            for (int i = 0; i < length; ++i)
                samples[i] = processNetworkSample (c, samples[i]);

        if (fading)
        {
            float mix = stageMix;
            for (int i = 0; i < length; ++i)
            {
                mix = slewToward (mix, fadeTarget, stageFadeStep);
                samples[i] = bypass[i] + mix * (samples[i] - bypass[i]);
            }
        }
    }

    if (bridged)
        bypassWrite = (bypassWrite + length) & (bypassDelaySize - 1);
    if (fading)
        for (int i = 0; i < length; ++i)
            stageMix = slewToward (stageMix, fadeTarget, stageFadeStep);

    outputGainRamp.setTargetValue (postgainParam->value.load());
    applyGainRamp (outputGainRamp, buffer, nIn, start, length);

    mixer.mixWetSamples (mixBlock);
}

//==============================================================================
void Kelvo58AudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    // copyState flushes the parameters and copies the tree under the state's lock.
    const auto state = valueTreeState.copyState();
    if (auto xml = state.createXml())
    {
        xml->setAttribute ("plugin_version", "1");
        destData.reset();
        copyXmlToBinary (*xml, destData);
    }

    if (auto* settings = appProperties.getUserSettings())
    {
        settings->setValue ("Width", static_cast<double> (editorWidth.load()));
        settings->setValue ("Height", static_cast<double> (editorHeight.load()));
    }
}

void Kelvo58AudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8)
        return;

    const auto* bytes = static_cast<const char*> (data);
    if (juce::ByteOrder::littleEndianInt (bytes) != 0x21324356u)
        return;

    const auto length = static_cast<int32_t> (juce::ByteOrder::littleEndianInt (bytes + 4));
    if (length <= 0)
        return;

    // The text ends at the bytes present or at the first zero byte, whichever comes first.
    const auto available = static_cast<size_t> (std::min (length, sizeInBytes - 8));
    const auto* text = bytes + 8;
    const auto* end = static_cast<const char*> (std::memchr (text, 0, available));
    const auto textLength = end != nullptr ? static_cast<size_t> (end - text) : available;
    if (textLength == 0 || xmlNestsDeeperThan (text, textLength, maximumXmlDepth))
        return;

    const auto xml = juce::XmlDocument::parse (juce::String::fromUTF8 (text, static_cast<int> (textLength)));
    if (xml == nullptr || ! xml->getTagName().equalsIgnoreCase (valueTreeState.state.getType().toString()))
        return;

    auto tree = juce::ValueTree::fromXml (*xml);
    keepCurrentValuesWhereTheChunkHasNone (tree);
    valueTreeState.replaceState (tree);
}

void Kelvo58AudioProcessor::keepCurrentValuesWhereTheChunkHasNone (juce::ValueTree& tree) const
{
    static const juce::Identifier paramType ("PARAM"), idKey ("id"), valueKey ("value");

    // In ID order, as the framework would append them.
    auto parameters = getParameters();
    std::sort (parameters.begin(), parameters.end(), [] (auto* a, auto* b)
               { return static_cast<FlexyParameter*> (a)->getParameterID() < static_cast<FlexyParameter*> (b)->getParameterID(); });

    for (auto* parameter : parameters)
    {
        auto* flexy = static_cast<FlexyParameter*> (parameter);
        auto child = tree.getChildWithProperty (idKey, flexy->getParameterID());

        // A parameter the chunk does not mention keeps its value; the framework would
        // otherwise reset it to its default.
        if (! child.isValid())
        {
            child = juce::ValueTree (paramType);
            child.setProperty (idKey, flexy->getParameterID(), nullptr);
            child.setProperty (valueKey, static_cast<double> (flexy->value.load()), nullptr);
            tree.appendChild (child, nullptr);
            continue;
        }

        // "nan" and "inf" read as numbers; a value with no position keeps the current one.
        if (child.hasProperty (valueKey))
        {
            const double stored = child[valueKey];
            if (std::isnan (stored))
                child.setProperty (valueKey, static_cast<double> (flexy->value.load()), nullptr);
            else if (std::isinf (stored))
                child.setProperty (valueKey, static_cast<double> (stored > 0 ? flexy->range.end : flexy->range.start), nullptr);
        }
    }
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new Kelvo58AudioProcessor();
}
