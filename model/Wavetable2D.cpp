#include "Wavetable2D.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace
{
constexpr float tableRate = 44100.0f;

float readLevel (const float* samples, int32_t length, float phase) noexcept
{
    const float pos = static_cast<float> (length) * phase;
    // For any phase below 1 the float product stays below length, so i0 is in range.
    const int32_t i0 = static_cast<int32_t> (std::floor (pos));
    const float f = pos - static_cast<float> (i0);
    const int32_t i1 = (i0 + 1 == length) ? 0 : i0 + 1;
    return (1.0f - f) * samples[i0] + f * samples[i1];
}
} // namespace

float output2DFreqLerpedSample (Wavetable2D table, float phase, float freq) noexcept
{
    // Extremely slow rates would overflow the period; they all read as "slower than level 0".
    const float periodF = tableRate / freq;
    const int32_t period = periodF < 2147483520.0f ? static_cast<int32_t> (periodF)
                                                   : std::numeric_limits<int32_t>::max();

    const int32_t last = table.numLevels - 1;
    int32_t upper = 0;
    while (upper <= last && table.sizes[upper] > period)
        ++upper;

    int32_t a, b;
    if (upper > last)
        a = b = last;
    else if (upper == 0)
        a = 0, b = (last > 0 ? 1 : 0);
    else
        a = upper - 1, b = upper;

    const float sa = readLevel (table.tables[a], table.sizes[a], phase);
    if (a == b)
        return sa;

    const float w = static_cast<float> (period - table.sizes[a])
                  / static_cast<float> (table.sizes[b] - table.sizes[a]);
    const float sb = readLevel (table.tables[b], table.sizes[b], phase);
    return sa * (1.0f - w) + w * sb;
}

LfoTableSet::LfoTableSet (const void* fileData, std::size_t numBytes)
{
    const auto* bytes = static_cast<const unsigned char*> (fileData);

    int32_t numLevels = 0;
    if (bytes != nullptr && numBytes >= 4)
        std::memcpy (&numLevels, bytes, 4);

    // Check the header against the file size before allocating anything.
    std::size_t expected = 4 + 4 * static_cast<std::size_t> (numLevels > 0 ? numLevels : 0);
    valid = numLevels > 0 && numLevels <= 4096 && numBytes >= expected;
    if (valid)
    {
        // Lengths must fall strictly (the lookup divides by their differences).
        int32_t previous = std::numeric_limits<int32_t>::max();
        for (int32_t l = 0; l < numLevels && valid; ++l)
        {
            int32_t length;
            std::memcpy (&length, bytes + 4 + 4 * l, 4);
            valid = length > 0 && length < previous;
            previous = length;
            expected += 4 * static_cast<std::size_t> (length);
        }
        valid = valid && expected == numBytes;
    }

    if (! valid)
    {
        allocate (1);
        table.sizes[0] = 1;
        table.tables[0] = new float[1] { 0.0f };
        return;
    }

    allocate (numLevels);
    std::memcpy (table.sizes, bytes + 4, 4 * static_cast<std::size_t> (numLevels));
    std::size_t offset = 4 + 4 * static_cast<std::size_t> (numLevels);
    for (int32_t l = 0; l < numLevels; ++l)
    {
        const auto length = static_cast<std::size_t> (table.sizes[l]);
        table.tables[l] = new float[length];
        std::memcpy (table.tables[l], bytes + offset, 4 * length);
        offset += 4 * length;
    }
}

LfoTableSet::~LfoTableSet()
{
    release();
}

void LfoTableSet::allocate (int32_t numLevels)
{
    table.numLevels = numLevels;
    table.sizes = new int32_t[static_cast<std::size_t> (numLevels)];
    table.tables = new float*[static_cast<std::size_t> (numLevels)]();
}

void LfoTableSet::release() noexcept
{
    for (int32_t l = 0; l < table.numLevels; ++l)
        delete[] table.tables[l];
    delete[] table.tables;
    delete[] table.sizes;
    table = {};
}
