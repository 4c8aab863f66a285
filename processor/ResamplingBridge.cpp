#include "PluginProcessor.h"

#include <algorithm>
#include <cmath>

//==============================================================================
void SampleRing::allocate (int32_t capacity)
{
    data.reset();
    data.reset (new float[(size_t) capacity]());
    size = capacity;
    totalWritten = 0;
    writeIndex = 0;
}

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

    // Until the bridge has output, its positions carry its pre-roll: silence, as the dry and
    // bypassed lines give, never the gained input that happens to lie there.
    auto& up = upCursor[c];
    int t = std::min (firstBlockOffset[c], numSamples);
    std::fill (x, x + t, 0.0f);
    while (t < numSamples && up.upper() < mid.totalWritten)
    {
        x[t] = interpolate (mid, up);
        up.advance();
        ++t;
    }

    // Blocks shorter than the offset (hosts send 0- and 1-sample blocks) use up only part of it.
    firstBlockOffset[c] = std::max (0, firstBlockOffset[c] - numSamples);
}
