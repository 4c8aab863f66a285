#pragma once

#include "PluginProcessor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace kelvor::test
{
// Every test runs with HOME in a fresh temporary folder, so the real user's settings are
// never read or written, and with a message manager for the state tree's timer.
class IsolatedHome : public ::testing::Environment
{
public:
    void SetUp() override
    {
        home = juce::File::createTempFile ("kelvor-home");
        home.createDirectory();
        setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
        unsetenv ("XDG_CONFIG_HOME");
        juceInit = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
    }

    void TearDown() override
    {
        juceInit.reset();
        home.deleteRecursively();
    }

    static juce::File settingsFile()
    {
        return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
            .getChildFile ("Kelvor58")
            .getChildFile ("Kelvor58.settings");
    }

private:
    juce::File home;
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> juceInit;
};

inline void setParam (FlexyParameter* p, float normalised)
{
    p->setValue (normalised);
    p->sendValueChangedMessageToListeners (normalised);
}

// A network whose step returns tanh(x) and forgets its past: for small signals the
// output is the input, so timing and interpolation can be checked through it.
inline void makeNearIdentity (PhaserNetwork& net)
{
    std::vector<float> w (PhaserNetwork::numWeights, 0.0f), bank (PhaserNetwork::numBankValues, 0.0f);
    const int hidden = 16, inputs = 2;
    const int inputN = 2 * hidden * inputs;                          // first row of W_in
    const int biasZ = 3 * hidden * inputs + 3 * hidden * hidden + hidden; // b_iz
    const int readOut = 3 * hidden * inputs + 3 * hidden * hidden + 6 * hidden;
    w[(size_t) inputN] = 1.0f;
    for (int i = 0; i < hidden; ++i)
        w[(size_t) (biasZ + i)] = -40.0f;
    w[(size_t) readOut] = 1.0f;
    net.loadFromBuffer (w.data(), (int) (w.size() * sizeof (float)), bank.data());
}

inline void makeNearIdentity (Kelvo58AudioProcessor& p)
{
    makeNearIdentity (p.networks[0]);
    makeNearIdentity (p.networks[1]);
}

// Gains at 0 dB and a fully wet mix, so only the network stage shapes the signal.
inline void neutralGains (Kelvo58AudioProcessor& p)
{
    setParam (p.pregainParam, 0.5f);
    setParam (p.postgainParam, 0.5f);
    setParam (p.drywetParam, 1.0f);
}

// Runs one block of the given channel data through the processor in place, through the call
// the framework's wrapper makes while the host's Bypass is on if hostBypassed.
inline void runBlock (Kelvo58AudioProcessor& p, std::vector<std::vector<float>>& channels, int start, int length,
                      bool hostBypassed = false)
{
    std::vector<float*> ptrs;
    for (auto& ch : channels)
        ptrs.push_back (ch.data() + start);
    juce::AudioBuffer<float> buffer (ptrs.data(), (int) ptrs.size(), length);
    juce::MidiBuffer midi;
    if (hostBypassed)
        p.processBlockBypassed (buffer, midi);
    else
        p.processBlock (buffer, midi);
}

// Feeds a whole signal in blocks of blockSize.
inline void runInBlocks (Kelvo58AudioProcessor& p, std::vector<std::vector<float>>& channels, int blockSize)
{
    const int total = (int) channels[0].size();
    for (int start = 0; start < total; start += blockSize)
        runBlock (p, channels, start, std::min (blockSize, total - start));
}

// A saved-state block around the given bytes of text, with the declared length given or right.
inline juce::MemoryBlock chunkOfBytes (const std::string& text, int declaredLength = -1)
{
    juce::MemoryBlock block;
    juce::MemoryOutputStream out (block, false);
    out.writeInt (0x21324356);
    out.writeInt (declaredLength >= 0 ? declaredLength : (int) text.size() + 1);
    out.write (text.data(), text.size());
    out.writeByte (0);
    out.flush();
    return block;
}

inline juce::MemoryBlock stateChunk (const juce::String& xml, int declaredLength = -1)
{
    return chunkOfBytes (xml.toStdString(), declaredLength);
}

class FixedTempoPlayHead : public juce::AudioPlayHead
{
public:
    explicit FixedTempoPlayHead (std::optional<double> bpmToUse) : bpm (bpmToUse) {}

    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        if (bpm)
            info.setBpm (*bpm);
        return info;
    }

    std::optional<double> bpm;
};
} // namespace kelvor::test
