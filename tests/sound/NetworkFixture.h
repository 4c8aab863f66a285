#pragma once

#include "GRU.h"
#include "NetworkWeightsFile.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

// A recorded PyTorch run: the bank row the network starts from, then per step the audio
// sample, the LFO value and PyTorch's output. Text, one step per line; '#' starts a comment.
struct NetworkFixture
{
    int row = 0;
    std::vector<float> audio, lfo, expected;

    static std::optional<NetworkFixture> load (const std::string& path)
    {
        std::ifstream in (path);
        if (! in)
            return std::nullopt;
        NetworkFixture f;
        std::string line, word;
        bool haveRow = false;
        while (std::getline (in, line))
        {
            if (line.empty() || line[0] == '#')
                continue;
            std::istringstream s (line);
            if (! haveRow)
            {
                if (! (s >> word >> f.row) || word != "row")
                    return std::nullopt;
                haveRow = true;
                continue;
            }
            float x, v, y;
            if (! (s >> x >> v >> y))
                return std::nullopt;
            f.audio.push_back (x);
            f.lfo.push_back (v);
            f.expected.push_back (y);
        }
        if (! haveRow || f.audio.empty())
            return std::nullopt;
        return f;
    }
};

inline std::vector<char> readWholeFile (const std::string& path)
{
    std::ifstream in (path, std::ios::binary);
    return { std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>() };
}

// Loads the weights file the way the processor does and replays the fixture from its bank
// row; returns the largest difference to PyTorch, or nothing when a file is unusable.
inline std::optional<float> replayFixture (const std::vector<char>& weightsFile, const NetworkFixture& fixture)
{
    const auto file = NetworkWeightsFile::read (weightsFile.data(), weightsFile.size());
    if (! file || fixture.row < 0 || fixture.row >= 128)
        return std::nullopt;
    auto network = std::make_unique<PhaserNetwork>();
    network->loadFromBuffer (file->weights.data(), 4 * file->weightCount, file->bank.data());
    network->hiddenState = network->stateBank.row (fixture.row).transpose();

    float worst = 0.0f;
    for (size_t i = 0; i < fixture.audio.size(); ++i)
    {
        const float y = network->runInference (PhaserNetwork::Input (fixture.audio[i], fixture.lfo[i]));
        const float err = std::fabs (y - fixture.expected[i]);
        worst = std::isnan (err) ? INFINITY : std::max (worst, err);
    }
    return worst;
}
