// Our reader of numbers in text against the framework's, on text as people type it and as
// printf writes it: the same float, and no number where it finds none. (Beyond the 18th
// significant digit the two may differ in a double's last bits: the framework counts zeros
// after the point among its 18 digits.)
#include "NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

namespace
{
testing::AssertionResult readsAsTheFrameworkDoes (const juce::String& text)
{
    auto reader = text.getCharPointer();
    const auto start = reader.findEndOfWhitespace();
    const double theirs = juce::CharacterFunctions::readDoubleValue (reader);
    const auto ours = numberAtStartOf (text);
    const auto asFloat = [] (double x)
    { return std::abs (x) > std::numeric_limits<float>::max() ? (float) std::copysign (INFINITY, x) : (float) x; };

    if (ours.has_value() == (reader != start)
        && (! ours || asFloat (*ours) == asFloat (theirs) || (std::isnan (*ours) && std::isnan (theirs))))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << '"' << text << "\" reads " << (ours ? juce::String (*ours, 20) : "none")
                                       << ", the framework " << (reader != start ? juce::String (theirs, 20) : "none");
}
} // namespace

TEST (NumberText, OrdinaryTextReadsAsTheFrameworkReadsIt)
{
    for (const char* text : { "", ".", "-", "+.", "-.e5", "e5", "0", "-0", "00.", ".0", "-nan", "na", "inf", "-INF",
                              "+Infinity", "in", "3abc", " 7.5e1", "1e39", "-1e-39", "1e308", "2.2250738585072014e-308",
                              "3e", "3E+x", "- 3", "1.2.3", "1234567890123456789012.5", "0x1A", "1,5" })
        EXPECT_TRUE (readsAsTheFrameworkDoes (text));

    std::mt19937 random (58);
    const char* formats[] = { "%.17g", "%.9g", "%.3g", "%.0f", "%.2f", "%.8f", "%e", "%.1E" };
    const char* around[] = { "", " ", "\t+", "\n-", " dB", "%", "e", "e+", ".5" };
    std::uniform_real_distribution<double> exponent (-30.0, 30.0);
    for (int i = 0; i < 20000; ++i)
    {
        char number[64];
        std::snprintf (number, sizeof (number), formats[random() % std::size (formats)], std::pow (10.0, exponent (random)));
        const auto text = juce::String (around[random() % 4]) + juce::String (number)
                        + juce::String (around[random() % std::size (around)]);
        ASSERT_TRUE (readsAsTheFrameworkDoes (text)) << i;
    }
}
