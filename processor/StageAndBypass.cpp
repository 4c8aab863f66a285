// The way round the network stage: the foot switch, which fades over 10 ms and on the bridge
// path delays what it bypasses by the bridge's lag, so that a press never moves the track in time.
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
void Kelvo58AudioProcessor::processStage (juce::AudioBuffer<float>& buffer, int channels, int start, int length) noexcept
{
    const bool stageOn = p0Param->value.load() < 0.5f && channels >= 1;
    const bool bridged = ! nativeRate.load();
    const float fadeTarget = stageOn ? 1.0f : 0.0f;
    const bool fading = stageMix != fadeTarget;
    const bool stageRuns = stageOn || fading;

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

    if (bridged)
        bypassWrite = (bypassWrite + length) & (bypassDelaySize - 1);
    if (fading)
        stageMix = fadeAfter (stageMix, fadeTarget, stageFadeStep, length);
}
