// Numbers as text: typed into a host's value field, or stored in a project's PARAM values.
// Ordinary text reads as it always has; exponents and digit runs of any length stay in range.
#include "ChunkText.h"
#include "RawHost.h"

#include <gtest/gtest.h>

#include <string>

using namespace rawhost;

namespace
{
std::u16string utf16 (const std::string& text)
{
    return { text.begin(), text.end() };
}
} // namespace

TEST (Vst3ValueText, TypedValuesReadAsTheyDidAndHugeExponentsTakeTheEnds)
{
    Plugin plugin;
    const auto preGain = plugin.parameter ("Pre Gain"), mix = plugin.parameter ("Dry/Wet");
    const auto typed = [&plugin] (Vst::ParamID id, const std::string& text)
    {
        auto chars = utf16 (text);
        Vst::ParamValue normalised = -1.0;
        EXPECT_EQ (plugin.controller->getParamValueByString (id, chars.data(), normalised), kResultTrue);
        return normalised;
    };

    // Pre Gain: -48 to 48 dB. Text with no number reads as 0 dB, "nan" as the current value.
    const std::pair<const char*, double> ordinary[] = {
        { "-6.00", 42.0 / 96 }, { "12", 60.0 / 96 }, { "3abc", 51.0 / 96 }, { "abc", 0.5 }, { "", 0.5 },
        { "  -12.5e-0dB", 35.5 / 96 }, { "+.5", 48.5 / 96 }, { "nan", 42.0 / 96 }, { "inf", 1.0 },
        { "-Infinity", 0.0 }, { "1e39", 1.0 }, { "-48.001", 0.0 }, { "3e", 51.0 / 96 }, { "- 3", 0.5 },
    };
    for (const auto& [text, expected] : ordinary)
        EXPECT_NEAR (typed (preGain, text), expected, 1e-6) << '"' << text << '"';
    EXPECT_NEAR (typed (mix, " 7.5e1"), 0.75, 1e-6);
    EXPECT_NEAR (typed (mix, "0.25E+2"), 0.25, 1e-6);

    const std::string nines (1 << 20, '9'), zeros (1 << 20, '0');
    EXPECT_EQ (typed (preGain, "1e" + nines), 1.0);
    EXPECT_EQ (typed (preGain, "-1e" + nines), 0.0);
    EXPECT_NEAR (typed (preGain, "1e-" + nines), 0.5, 1e-6);
    EXPECT_EQ (typed (preGain, "1" + zeros), 1.0);
    EXPECT_NEAR (typed (preGain, zeros + "12.5" + zeros), 60.5 / 96, 1e-6);
    EXPECT_NEAR (typed (preGain, "0." + std::string (1000, '0') + "125e1002"), 60.5 / 96, 1e-6);
    EXPECT_NEAR (typed (preGain, "125e-" + zeros + "1"), 60.5 / 96, 1e-6);
}

TEST (Vst3ValueText, HugeExponentsInAChunkTakeTheEndsOfTheRange)
{
    Plugin source;
    const auto chunk = source.getState();
    const std::string nines (400000, '9');
    auto xml = chunktext::withValue (chunktext::xmlOf (chunk), "pregain", "1e" + nines);
    xml = chunktext::withValue (xml, "postgain", "-1e" + nines);
    xml = chunktext::withValue (xml, "drywet", "2.5e" + std::string (100000, '0') + "1");
    xml = chunktext::withValue (xml, "p1", "0.3abc");

    Plugin target;
    target.setState (chunktext::withXml (chunk, xml));
    const auto normalised = [&target] (const char* title)
    { return target.controller->getParamNormalized (target.parameter (title)); };
    EXPECT_EQ (normalised ("Pre Gain"), 1.0);
    EXPECT_EQ (normalised ("Post Gain"), 0.0);
    EXPECT_NEAR (normalised ("Dry/Wet"), 0.25, 1e-6);
    EXPECT_NEAR (normalised ("Speed"), 0.3, 1e-6);

    // What is saved is the values as they are, numbers a reload reads alike.
    const auto saved = chunktext::xmlOf (target.getState());
    EXPECT_NE (saved.find ("<PARAM id=\"pregain\" value=\"48.0\"/>"), std::string::npos) << saved;
    EXPECT_NE (saved.find ("<PARAM id=\"postgain\" value=\"-48.0\"/>"), std::string::npos) << saved;
}
