// A project's chunk for this plug-in is our own part followed by the framework's trailer:
// 8 zero bytes, the framework's private tree, that tree's size (8 bytes, little endian) and
// the tag "JUCEPrivateData". A damaged project may hold any bytes there.
#include "RawHost.h"

#include <gtest/gtest.h>

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
