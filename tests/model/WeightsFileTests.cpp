#include "GRU.h"
#include "NetworkWeightsFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace
{
std::vector<unsigned char> makeFile (int32_t stateFloats, int32_t weightCount, size_t dataFloats)
{
    std::vector<unsigned char> file (40 + 4 * dataFloats);
    std::memcpy (file.data(), "ADNN", 4);
    const uint64_t payload = file.size() - 12;
    std::memcpy (file.data() + 4, &payload, 8);
    const int32_t header[] = { 0, 16, 2, 1, 128, stateFloats, weightCount };
    std::memcpy (file.data() + 12, header, sizeof (header));
    for (size_t k = 0; k < dataFloats; ++k)
    {
        const float v = static_cast<float> (k);
        std::memcpy (file.data() + 40 + 4 * k, &v, 4);
    }
    return file;
}
} // namespace

TEST (WeightsFile, ReadsHeaderBankAndWeights)
{
    const auto bytes = makeFile (2048, 977, 2048 + 977);
    ASSERT_EQ (bytes.size(), 12140u);

    const auto file = NetworkWeightsFile::read (bytes.data(), bytes.size());
    ASSERT_TRUE (file.has_value());
    EXPECT_EQ (std::string (file->magic, 4), "ADNN");
    EXPECT_EQ (file->payloadSize, 12128u);
    EXPECT_EQ (file->hiddenSize, 16);
    EXPECT_EQ (file->stateCount, 128);
    EXPECT_EQ (file->bank.front(), 0.0f);
    EXPECT_EQ (file->bank.back(), 2047.0f);
    EXPECT_EQ (file->weights.front(), 2048.0f);
    EXPECT_EQ (file->weights.back(), 2048.0f + 976.0f);

    // What the processor does with it: the bank row r holds values 16r .. 16r + 15.
    PhaserNetwork net;
    net.loadFromBuffer (file->weights.data(), 4 * file->weightCount, file->bank.data());
    EXPECT_EQ (net.stateBank (64, 0), 1024.0f);
    EXPECT_EQ (net.outputBias (0), 3024.0f);
}

TEST (WeightsFile, RejectsShortOrInconsistentFiles)
{
    const auto good = makeFile (2048, 977, 2048 + 977);

    EXPECT_FALSE (NetworkWeightsFile::read (nullptr, 12140));
    EXPECT_FALSE (NetworkWeightsFile::read (good.data(), 0));
    EXPECT_FALSE (NetworkWeightsFile::read (good.data(), 39));
    EXPECT_FALSE (NetworkWeightsFile::read (good.data(), 40));
    EXPECT_FALSE (NetworkWeightsFile::read (good.data(), good.size() - 1));

    // Counts that do not match the network, including ones that would overflow a size.
    for (auto [states, weights] : { std::pair { 2047, 977 }, { 2048, 976 }, { 2048, 978 },
                                   { -1, 977 }, { 2048, -977 }, { 0x7fffffff, 977 } })
    {
        const auto bytes = makeFile (states, weights, 2048 + 977);
        EXPECT_FALSE (NetworkWeightsFile::read (bytes.data(), bytes.size())) << states << " " << weights;
    }

    // Trailing bytes do not make a good file bad.
    auto longer = good;
    longer.resize (longer.size() + 16);
    EXPECT_TRUE (NetworkWeightsFile::read (longer.data(), longer.size()));
}
