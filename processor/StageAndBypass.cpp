// The two ways round the network stage, each fading over 10 ms and each delayed on the bridge
// path by the bridge's lag, so that neither moves the track in time: the foot switch, which
// bypasses the stage between the gains, and the host's own Bypass, which hands back the input
// as it came.
#include "PluginProcessor.h"

#include <algorithm>

namespace
{
// Blends a fade into samples, frame by frame: bypassed alone at mix 0, samples alone at 1.
void crossfade (float* samples, const float* bypassed, int length, float mix, float target, float step) noexcept
{
    for (int i = 0; i < length; ++i)
    {
        mix = Kelvo58AudioProcessor::slewToward (mix, target, step);
        samples[i] = bypassed[i] + mix * (samples[i] - bypassed[i]);
    }
}

// Where a fade stands after length frames.
float fadeAfter (float mix, float target, float step, int length) noexcept
{
    for (int i = 0; i < length; ++i)
        mix = Kelvo58AudioProcessor::slewToward (mix, target, step);
    return mix;
}
} // namespace

void Kelvo58AudioProcessor::delayThrough (float* line, const float* in, float* out, int length) const noexcept
{
    constexpr int mask = bypassDelaySize - 1;
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

//==============================================================================
void Kelvo58AudioProcessor::processStage (juce::AudioBuffer<float>& buffer, int channels, int start, int length,
                                          bool networkMayRun) noexcept
{
    const bool stageOn = p0Param->value.load() < 0.5f && channels >= 1;
    const bool bridged = ! nativeRate.load();
    const float fadeTarget = stageOn ? 1.0f : 0.0f;
    // With the networks held still the foot switch's fade waits too; only its line is fed.
    const bool fading = networkMayRun && stageMix != fadeTarget;
    const bool stageRuns = networkMayRun && (stageOn || fading);

    for (int c = 0; c < channels; ++c)
    {
        float* samples = buffer.getWritePointer (c, start);
        float* bypass = bypassScratch.getWritePointer (c);

        // The bypassed signal; the delay line is fed all the time so it is ready for a press,
        // but read only while the bypassed signal is heard.
        if (bridged)
            delayThrough (bypassDelay[c], samples, stageRuns && ! fading ? nullptr : bypass, length);
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
            crossfade (samples, bypass, length, stageMix, fadeTarget, stageFadeStep);
    }

    if (fading)
        stageMix = fadeAfter (stageMix, fadeTarget, stageFadeStep, length);
}

//==============================================================================
void Kelvo58AudioProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    processBlocks (buffer, true);
}

void Kelvo58AudioProcessor::processSliceForHost (juce::AudioBuffer<float>& buffer, int start, int length,
                                                 bool hostBypassed) noexcept
{
    const float target = hostBypassed ? 0.0f : 1.0f;
    const bool chainAlone = hostMix == 1.0f && target == 1.0f;
    const bool inputAlone = hostMix == 0.0f && target == 0.0f;
    const bool bridged = ! nativeRate.load();
    const int channels = std::min ({ getTotalNumInputChannels(), buffer.getNumChannels(), 2 });

    // The input as it came, before any gain, delayed like every other path on the bridge. Its
    // line is fed all the time so it is ready when the host presses Bypass.
    for (int c = 0; c < channels; ++c)
    {
        const float* in = buffer.getReadPointer (c, start);
        float* out = chainAlone ? nullptr : hostBypassScratch.getWritePointer (c);
        if (bridged)
            delayThrough (hostBypassDelay[c], in, out, length);
        else if (out != nullptr)
            std::copy (in, in + length, out);
    }

    // Fully bypassed, the networks stand still as under the foot switch; the gains, the mix and
    // the foot switch's line keep running so that all is current when the host lets go.
    processSlice (buffer, start, length, ! inputAlone);
    if (bridged)
        bypassWrite = (bypassWrite + length) & (bypassDelaySize - 1);

    if (chainAlone)
        return;

    for (int c = 0; c < channels; ++c)
    {
        float* samples = buffer.getWritePointer (c, start);
        const float* bypassed = hostBypassScratch.getReadPointer (c);
        if (inputAlone)
            std::copy (bypassed, bypassed + length, samples);
        else
            crossfade (samples, bypassed, length, hostMix, target, stageFadeStep);
    }
    hostMix = fadeAfter (hostMix, target, stageFadeStep, length);
}
