// A project's chunk for this plug-in is our own part followed by the framework's trailer:
// 8 zero bytes, the framework's private tree, that tree's size (8 bytes, little endian) and
// the tag "JUCEPrivateData". A damaged project may hold any bytes there.
#include "ChunkText.h"
#include "RawHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace rawhost;

namespace
{
constexpr size_t tagSize = 15, sizeFieldSize = 8;

uint64_t trailerSize (const std::vector<char>& chunk)
{
    uint64_t size;
    std::memcpy (&size, chunk.data() + chunk.size() - tagSize - sizeFieldSize, sizeFieldSize);
    return size;
}

void setTrailerSize (std::vector<char>& chunk, uint64_t size)
{
    std::memcpy (chunk.data() + chunk.size() - tagSize - sizeFieldSize, &size, sizeFieldSize);
}

// A chunk whose private tree is the given bytes, with a size field that fits.
std::vector<char> withPrivateTree (std::vector<char> chunk, const std::string& tree)
{
    const auto end = (long) (chunk.size() - tagSize - sizeFieldSize);
    const auto start = end - (long) trailerSize (chunk);
    chunk.erase (chunk.begin() + start, chunk.begin() + end);
    chunk.insert (chunk.begin() + start, tree.begin(), tree.end());
    setTrailerSize (chunk, tree.size());
    return chunk;
}

// Private trees no host ever wrote: counts far beyond the bytes present, endless nesting.
std::vector<std::string> hostileTrees()
{
    const std::string type ("JUCEPrivateData\0", 16), bypass ("Bypass\0", 7);
    const std::string one ("\x01\x01", 2), huge ("\x04\xff\xff\xff\x7f", 5); // compressed ints
    std::string nested;
    for (int i = 0; i < 200000; ++i)
        nested += std::string ("a\0\0\x01\x01", 5);

    return { type + huge,                                             // properties
             type + std::string (1, '\0') + huge,                     // children
             type + one + bypass + huge + "\x07" + huge,             // an array
             type + one + bypass + huge + "\x08",                    // a binary value
             type + std::string (1, '\0') + one + nested };
}
} // namespace

TEST (Vst3SavedState, ACorruptTrailerSizeCountsAsNoTrailer)
{
    Plugin source;
    const auto mix = source.parameter ("Dry/Wet");
    source.controller->setParamNormalized (mix, 0.25);
    const auto chunk = source.getState();
    ASSERT_GT (chunk.size(), tagSize + 2 * sizeFieldSize);
    ASSERT_EQ (std::string (chunk.end() - (long) tagSize, chunk.end()), "JUCEPrivateData");

    Plugin target;
    const auto reload = [&] (const std::vector<char>& bytes)
    {
        target.controller->setParamNormalized (mix, 1.0);
        target.setState (bytes);
        return target.controller->getParamNormalized (mix);
    };

    // Every single-bit flip of the size field: one that no longer fits inside the chunk leaves
    // our own part whole, and it loads.
    const auto size = trailerSize (chunk);
    int loaded = 0;
    for (int bit = 0; bit < 64; ++bit)
    {
        auto flipped = chunk;
        const auto corrupt = size ^ (uint64_t { 1 } << bit);
        setTrailerSize (flipped, corrupt);
        const auto mixAfter = reload (flipped);
        if (corrupt > chunk.size() - tagSize - 2 * sizeFieldSize)
        {
            EXPECT_DOUBLE_EQ (mixAfter, 0.25) << "bit " << bit;
            ++loaded;
        }
    }
    EXPECT_GT (loaded, 50);

    // Trees with counts and nesting beyond the bytes present are read within bounds.
    for (const auto& tree : hostileTrees())
        EXPECT_DOUBLE_EQ (reload (withPrivateTree (chunk, tree)), 0.25);

    // Whole chunks damaged at random: flipped bytes, a random size field, cut short.
    std::mt19937 rng (58);
    for (int i = 0; i < 4000; ++i)
    {
        auto damaged = chunk;
        std::uniform_int_distribution<size_t> anywhere (0, damaged.size() - 1);
        switch (i % 4)
        {
            case 0:  for (int n = 0; n < 4; ++n) damaged[anywhere (rng)] ^= (char) (1 << (rng() % 8)); break;
            case 1:  setTrailerSize (damaged, (uint64_t) rng() << (rng() % 40)); break;
            case 2:  damaged.resize (anywhere (rng) + 1); break;
            default: for (auto k = damaged.size() - tagSize - 2 * sizeFieldSize; k < damaged.size() - tagSize; ++k)
                         damaged[k] = (char) rng();
        }
        const auto mixAfter = reload (damaged);
        ASSERT_TRUE (mixAfter >= 0.0 && mixAfter <= 1.0) << "chunk " << i;
    }

    // A sound chunk still restores everything, the host's bypass switch included.
    const auto bypass = source.parameter();
    source.controller->setParamNormalized (bypass, 1.0);
    EXPECT_DOUBLE_EQ (reload (source.getState()), 0.25);
    EXPECT_DOUBLE_EQ (target.controller->getParamNormalized (bypass), 1.0);
}

namespace
{
struct KnownParameter
{
    const char *id, *title;
    double start, end;
};

const KnownParameter knownParameters[] = { { "pregain", "Pre Gain", -48, 48 }, { "postgain", "Post Gain", -48, 48 },
                                           { "drywet", "Dry/Wet", 0, 100 },     { "p0", "BypassOff", 0, 1 },
                                           { "p1", "Speed", 0, 1 },             { "synchOn", "Synch On", 0, 1 } };

// The next save holds one top-level PARAM per parameter with the value as it is live, and no
// other element anywhere names a parameter.
testing::AssertionResult savesEachParameterOnceAsItIs (Plugin& plugin)
{
    const auto elements = chunktext::elementsOf (chunktext::xmlOf (plugin.getState()));
    for (const auto& parameter : knownParameters)
    {
        int params = 0, others = 0;
        std::string saved;
        for (auto element : elements)
        {
            if (element.attributes["id"] != parameter.id)
                continue;
            if (element.depth == 1 && element.tag == "PARAM")
                ++params, saved = element.attributes["value"];
            else
                ++others;
        }
        if (params != 1 || others != 0)
            return testing::AssertionFailure() << parameter.id << ": " << params << " top-level PARAMs, "
                                               << others << " other elements";

        const auto normalised = plugin.controller->getParamNormalized (plugin.parameter (parameter.title));
        const auto live = parameter.start + (parameter.end - parameter.start) * normalised;
        if (std::abs (std::stod (saved) - live) > 1e-5 * (parameter.end - parameter.start))
            return testing::AssertionFailure() << parameter.id << " is " << live << ", saved " << saved;
    }
    return testing::AssertionSuccess();
}

std::string afterRootTag (std::string xml, const std::string& inserted)
{
    return xml.insert (xml.find ('>', xml.find ("<Kelvo58Quorvanta")) + 1, inserted);
}
} // namespace

TEST (Vst3SavedState, OnlyTopLevelParamsCountAndEachParameterIsSavedOnce)
{
    Plugin source;
    source.controller->setParamNormalized (source.parameter ("Speed"), 0.9);
    source.controller->setParamNormalized (source.parameter ("Pre Gain"), 0.75);
    const auto chunk = source.getState();
    const auto xml = chunktext::xmlOf (chunk);

    Plugin target;
    const auto speed = target.parameter ("Speed"), preGain = target.parameter ("Pre Gain"), mix = target.parameter ("Dry/Wet");
    const auto load = [&] (const std::string& text)
    {
        target.controller->setParamNormalized (speed, 0.5);
        target.setState (chunktext::withXml (chunk, text));
        return target.controller->getParamNormalized (speed);
    };

    // One flipped bit makes a PARAM a TARAM: it names Speed, but is not Speed's, which keeps
    // its value; everything else loads.
    auto flipped = xml;
    flipped.replace (flipped.find ("<PARAM id=\"p1\""), 6, "<TARAM");
    EXPECT_DOUBLE_EQ (load (flipped), 0.5);
    EXPECT_DOUBLE_EQ (target.controller->getParamNormalized (preGain), 0.75);
    EXPECT_TRUE (savesEachParameterOnceAsItIs (target));

    // A PARAM nested in another element is not the parameter's either; the element stays.
    const auto nested = afterRootTag (xml, "<Extra note=\"x\"><PARAM id=\"pregain\" value=\"-30.0\"/></Extra>");
    EXPECT_NEAR (load (nested), 0.9, 1e-6);
    EXPECT_DOUBLE_EQ (target.controller->getParamNormalized (preGain), 0.75);
    EXPECT_TRUE (savesEachParameterOnceAsItIs (target));
    EXPECT_NE (chunktext::xmlOf (target.getState()).find ("<Extra note=\"x\"/>"), std::string::npos);

    // Two PARAMs for Dry/Wet: the last counts, as it always has, and is saved alone.
    const auto twice = afterRootTag (chunktext::withValue (xml, "drywet", "70.0"), "<PARAM id=\"drywet\" value=\"20.0\"/>");
    load (twice);
    EXPECT_NEAR (target.controller->getParamNormalized (mix), 0.7, 1e-6);
    EXPECT_TRUE (savesEachParameterOnceAsItIs (target));

    // Elements naming no parameter are kept as they came.
    const std::string foreign = "<PARAM id=\"mystery\" value=\"-74\"/><Other id=\"elsewhere\" a=\"b\"><Inner/></Other>";
    EXPECT_NEAR (load (afterRootTag (xml, foreign)), 0.9, 1e-6);
    EXPECT_TRUE (savesEachParameterOnceAsItIs (target));
    EXPECT_NE (chunktext::xmlOf (target.getState()).find (foreign), std::string::npos);
}
