#include "Wavetable2D.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numeric>
#include <vector>

namespace
{
constexpr int32_t expectedLengths[16] = { 304086, 229776, 173862, 131499, 99565, 75759, 56818, 42183,
                                          32014, 23645, 17679, 11926, 7989, 5657, 3776, 2124 };
constexpr float expectedMin[16] = { -0.970f, -0.968f, -0.964f, -0.958f, -0.950f, -0.941f, -0.929f, -0.916f,
                                    -0.889f, -0.851f, -0.804f, -0.654f, -0.480f, -0.402f, -0.297f, -0.215f };
constexpr float expectedMax[16] = { 0.971f, 0.969f, 0.964f, 0.960f, 0.954f, 0.945f, 0.932f, 0.889f,
                                    0.895f, 0.848f, 0.814f, 0.655f, 0.514f, 0.412f, 0.323f, 0.270f };

std::vector<char> readShippedTables()
{
    std::ifstream in (KELVOR_SOURCE_DIR "/resources/lfo_tables.bin", std::ios::binary);
    return { std::istreambuf_iterator<char> (in), {} };
}

const LfoTableSet& shipped()
{
    static const auto bytes = readShippedTables();
    static const LfoTableSet set (bytes.data(), bytes.size());
    return set;
}

float sampleAt (int level, float phase)
{
    const auto t = shipped().view();
    const float pos = static_cast<float> (t.sizes[level]) * phase;
    const auto i0 = static_cast<int32_t> (std::floor (pos));
    const float f = pos - static_cast<float> (i0);
    const int32_t i1 = (i0 + 1 == t.sizes[level]) ? 0 : i0 + 1;
    return (1.0f - f) * t.tables[level][i0] + f * t.tables[level][i1];
}

float expectedWeight (float freq, int a, int b)
{
    const auto t = shipped().view();
    const auto period = static_cast<int32_t> (44100.0f / freq);
    return static_cast<float> (period - t.sizes[a]) / static_cast<float> (t.sizes[b] - t.sizes[a]);
}

// Builds a table file from level arrays, for the malformed-file cases.
std::vector<char> makeFile (const std::vector<std::vector<float>>& levels, int32_t declaredLevels)
{
    std::vector<char> file (4);
    std::memcpy (file.data(), &declaredLevels, 4);
    for (const auto& l : levels)
    {
        const auto n = static_cast<int32_t> (l.size());
        file.insert (file.end(), reinterpret_cast<const char*> (&n), reinterpret_cast<const char*> (&n) + 4);
    }
    for (const auto& l : levels)
        file.insert (file.end(), reinterpret_cast<const char*> (l.data()),
                     reinterpret_cast<const char*> (l.data() + l.size()));
    return file;
}
} // namespace

TEST (LfoTables, ShippedFileHasTheBandsAndTheWaveShape)
{
    const auto bytes = readShippedTables();
    ASSERT_EQ (bytes.size(), 4873500u);
    ASSERT_TRUE (shipped().isValid());
    const auto t = shipped().view();
    ASSERT_EQ (t.numLevels, 16);

    for (int l = 0; l < 16; ++l)
    {
        SCOPED_TRACE (l);
        const int32_t n = t.sizes[l];
        ASSERT_EQ (n, expectedLengths[l]);
        const float* s = t.tables[l];
        const auto [lo, hi] = std::minmax_element (s, s + n);

        EXPECT_NEAR (*lo, expectedMin[l], 0.01f);
        EXPECT_NEAR (*hi, expectedMax[l], 0.01f);
        EXPECT_NEAR ((lo - s) / double (n), 0.25, 0.02);
        EXPECT_NEAR ((hi - s) / double (n), 0.75, 0.02);
        EXPECT_NEAR (s[0], 0.0f, 1e-6f);
        EXPECT_NEAR (s[n / 2], 0.0f, 0.01f);

        // One smooth cycle: no sample-to-sample jump, the wrap included, larger than
        // a pure sine of this depth would make, and exactly one fall and one rise.
        const float maxSlope = 2.0f * 3.1416f * 2.0f * std::max (-*lo, *hi) / static_cast<float> (n);
        for (int i = 0; i < n; ++i)
            ASSERT_LE (std::abs (s[(i + 1) % n] - s[i]), maxSlope) << "sample " << i;
        int turns = 0;
        float lastStep = 0.0f;
        for (int i = 0; i < n; ++i)
        {
            const float step = s[(i + 1) % n] - s[i];
            if (step == 0.0f)
                continue; // flat tops can repeat a float value
            turns += (step * lastStep < 0.0f);
            lastStep = step;
        }
        EXPECT_EQ (turns, 2);
    }

    // Slow bands hold their extremes longer than a sine; the fastest is close to one.
    auto fractionNearPeak = [&] (int l) {
        const float* s = t.tables[l];
        const float peak = *std::max_element (s, s + t.sizes[l]);
        return std::count_if (s, s + t.sizes[l], [&] (float v) { return v > 0.9f * peak; })
             / double (t.sizes[l]);
    };
    EXPECT_GT (fractionNearPeak (0), fractionNearPeak (15) + 0.02);
    EXPECT_NEAR (fractionNearPeak (15), std::acos (0.9) / 3.14159265, 0.01);
}

TEST (LfoTables, ChoosesLevelsAndWeightByPeriod)
{
    const auto t = shipped().view();
    const float phase = 0.3f;

    // 1 Hz: period 44100 lies between levels 6 and 7.
    EXPECT_NEAR (expectedWeight (1.0f, 6, 7), 0.8690f, 1e-4f);
    const float w = expectedWeight (1.0f, 6, 7);
    EXPECT_FLOAT_EQ (output2DFreqLerpedSample (t, phase, 1.0f),
                     sampleAt (6, phase) * (1.0f - w) + w * sampleAt (7, phase));

    // A period equal to the fastest level's length, and one below it: that level alone.
    EXPECT_EQ (output2DFreqLerpedSample (t, phase, 44100.0f / 2124.0f), sampleAt (15, phase));
    EXPECT_EQ (output2DFreqLerpedSample (t, phase, 21.0f), sampleAt (15, phase));
    EXPECT_EQ (output2DFreqLerpedSample (t, phase, 1000.0f), sampleAt (15, phase));

    // Slowest free-running rate: extrapolated from levels 0 and 1, still finite.
    const float slow = 0.0481632653f;
    EXPECT_NEAR (expectedWeight (slow, 0, 1), -8.2297f, 1e-3f);
    const float ws = expectedWeight (slow, 0, 1);
    EXPECT_FLOAT_EQ (output2DFreqLerpedSample (t, phase, slow),
                     sampleAt (0, phase) * (1.0f - ws) + ws * sampleAt (1, phase));
    float lo = 0, hi = 0;
    for (int i = 0; i < 10000; ++i)
    {
        const float v = output2DFreqLerpedSample (t, static_cast<float> (i) / 10000.0f, slow);
        ASSERT_TRUE (std::isfinite (v));
        lo = std::min (lo, v), hi = std::max (hi, v);
    }
    EXPECT_LT (lo, -0.97f);
    EXPECT_GT (hi, 0.97f);

    // Phase 0 reads the first samples, which are all 0.
    for (float freq : { 0.1f, 1.0f, 6.9f, 16.0f, 32.0f })
        EXPECT_NEAR (output2DFreqLerpedSample (t, 0.0f, freq), 0.0f, 1e-6f) << freq;

    // Absurdly slow rates (a host tempo near 0) stay finite instead of overflowing the period.
    EXPECT_TRUE (std::isfinite (output2DFreqLerpedSample (t, 0.25f, 1.0e-9f)));
}

TEST (LfoTables, WrapsAtTheEndOfACycle)
{
    const auto t = shipped().view();
    // Between the last sample and the end the lookup blends towards the first sample.
    const int32_t n = t.sizes[15];
    const float phase = (static_cast<float> (n) - 0.5f) / static_cast<float> (n);
    const float expected = 0.5f * t.tables[15][n - 1] + 0.5f * t.tables[15][0];
    EXPECT_NEAR (output2DFreqLerpedSample (t, phase, 25.0f), expected, 1e-6f);

    // The largest phase below 1 stays inside every level and reads back towards 0.
    const float lastPhase = std::nextafter (1.0f, 0.0f);
    for (float freq : { 0.01f, 0.0481632653f, 0.2f, 3.0f, 30.0f })
        EXPECT_NEAR (output2DFreqLerpedSample (t, lastPhase, freq), 0.0f, 1e-3f) << freq;
}

TEST (LfoTables, OwnsACopyAndRejectsMalformedFiles)
{
    const std::vector<std::vector<float>> levels { { 0.0f, -1.0f, 0.0f, 1.0f }, { 0.0f, 0.5f } };
    auto bytes = makeFile (levels, 2);
    {
        const LfoTableSet set (bytes.data(), bytes.size());
        ASSERT_TRUE (set.isValid());
        std::fill (bytes.begin(), bytes.end(), 0);
        EXPECT_EQ (set.view().tables[0][1], -1.0f);
        EXPECT_EQ (set.view().sizes[1], 2);
    }

    const auto good = makeFile (levels, 2);
    const std::vector<std::vector<char>> bad {
        {},
        makeFile (levels, 3),                                   // more levels declared than present
        makeFile (levels, -1),
        makeFile ({ { 0.0f, 1.0f }, { 0.0f, 1.0f } }, 2),       // lengths not falling
        makeFile ({ { 0.0f, 1.0f, 2.0f }, {} }, 2),             // an empty level
        std::vector<char> (good.begin(), good.end() - 1),       // truncated samples
        [&] { auto g = good; g.push_back (0); return g; }(),    // trailing bytes
    };
    for (size_t i = 0; i < bad.size(); ++i)
    {
        const LfoTableSet set (bad[i].data(), bad[i].size());
        EXPECT_FALSE (set.isValid()) << i;
        // Still safe to read: one silent level.
        EXPECT_EQ (output2DFreqLerpedSample (set.view(), 0.5f, 1.0f), 0.0f) << i;
    }
}
