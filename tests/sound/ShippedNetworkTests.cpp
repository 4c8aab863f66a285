#include "NetworkFixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace
{
const std::string sourceDir = KELVOR_SOURCE_DIR;
const std::string weightsPath = sourceDir + "/resources/network_weights.bin";

TEST (ShippedNetwork, FileHasTheEmbeddedLayout)
{
    const auto bytes = readWholeFile (weightsPath);
    ASSERT_EQ (bytes.size(), 12140u);
    EXPECT_EQ (std::string (bytes.data(), 4), "ADNN");

    const auto file = NetworkWeightsFile::read (bytes.data(), bytes.size());
    ASSERT_TRUE (file.has_value());
    EXPECT_EQ (file->payloadSize, 12128u);
    EXPECT_EQ (file->reserved, 0);
    EXPECT_EQ (file->hiddenSize, 16);
    EXPECT_EQ (file->inputSize, 2);
    EXPECT_EQ (file->outputSize, 1);
    EXPECT_EQ (file->stateCount, 128);

    // A start state is a GRU state, so it lies strictly inside (-1, 1).
    for (float v : file->bank)
        EXPECT_LT (std::fabs (v), 1.0f);
    for (float w : file->weights)
        EXPECT_TRUE (std::isfinite (w));
}

TEST (ShippedNetwork, ReproducesPyTorchFromAStartState)
{
    const auto fixture = NetworkFixture::load (sourceDir + "/tests/sound/network_fixture.txt");
    ASSERT_TRUE (fixture.has_value());
    ASSERT_GE (fixture->audio.size(), 200u);

    const auto worst = replayFixture (readWholeFile (weightsPath), *fixture);
    ASSERT_TRUE (worst.has_value());
    EXPECT_LE (*worst, 1e-4f);
}
} // namespace
