#pragma once

// The 44.1 kHz bridge's ring and reading position. The bridge itself (resetBridge,
// resampleChannel) is the processor's, written in ResamplingBridge.cpp.

#include <cstdint>
#include <memory>

// A ring of samples that also counts everything appended since it was set up.
// Sample number k lies totalWritten - k slots back from the newest.
struct SampleRing
{
    int32_t size = -1;
    std::unique_ptr<float[]> data;
    int64_t totalWritten = 0;
    int64_t writeIndex = 0;

    void allocate (int32_t capacity);
    void append (float x) noexcept
    {
        const auto i = writeIndex % size;
        data[(size_t) i] = x;
        writeIndex = i + 1;
        ++totalWritten;
    }
    float& at (int64_t sampleNumber) noexcept
    {
        auto slot = writeIndex - (totalWritten - sampleNumber);
        if (slot < 0)
            slot += size;
        return data[(size_t) slot];
    }
};

// A reading position in a ring, in samples of that ring, kept exactly as
// whole + numerator / denominator. A position accumulated in floating point drifts by whole
// samples over a session of hours; this one is the same after a thousand hours as after one.
struct ResampleCursor
{
    int64_t whole = 0;
    int64_t numerator = 0;     // 0 <= numerator < denominator
    int64_t denominator = 1;
    int64_t stepWhole = 1;
    int64_t stepNumerator = 0; // 0 <= stepNumerator < denominator

    // Position 0, advancing by stepNum / stepDen samples per computed sample (both > 0).
    void start (int64_t stepNum, int64_t stepDen) noexcept
    {
        whole = numerator = 0;
        denominator = stepDen;
        stepWhole = stepNum / stepDen;
        stepNumerator = stepNum % stepDen;
    }
    void advance() noexcept
    {
        whole += stepWhole;
        numerator += stepNumerator;
        if (numerator >= denominator)
        {
            numerator -= denominator;
            ++whole;
        }
    }
    int64_t lower() const noexcept { return whole; }
    int64_t upper() const noexcept { return whole + (numerator != 0 ? 1 : 0); }
    // The lower neighbour's weight, upper - position (0 on a whole position).
    double lowerWeight() const noexcept { return numerator == 0 ? 0.0 : 1.0 - (double) numerator / (double) denominator; }
    double position() const noexcept { return (double) whole + (double) numerator / (double) denominator; }
};
