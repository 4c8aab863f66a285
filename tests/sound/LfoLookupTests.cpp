#include "Wavetable2D.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace
{
const std::string sourceDir = KELVOR_SOURCE_DIR;

// The training tools compute the LFO in numpy; the network only sounds right if those
// values are the ones the plug-in reads.
TEST (LfoLookupAgreement, NumpyLookupMatchesThePlugIn)
{
    std::ifstream tableFile (sourceDir + "/resources/lfo_tables.bin", std::ios::binary);
    const std::vector<char> bytes { std::istreambuf_iterator<char> (tableFile), std::istreambuf_iterator<char>() };
    LfoTableSet tables (bytes.data(), bytes.size());
    ASSERT_TRUE (tables.isValid());

    std::ifstream fixture (sourceDir + "/tests/sound/lfo_fixture.txt");
    ASSERT_TRUE (fixture.good());
    std::string line;
    int rows = 0;
    while (std::getline (fixture, line))
    {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream s (line);
        float phase, freq, expected;
        ASSERT_TRUE (static_cast<bool> (s >> phase >> freq >> expected)) << line;
        EXPECT_NEAR (output2DFreqLerpedSample (tables.view(), phase, freq), expected, 1e-6f)
            << "phase " << phase << ", " << freq << " Hz";
        ++rows;
    }
    EXPECT_GE (rows, 100);
}
} // namespace
