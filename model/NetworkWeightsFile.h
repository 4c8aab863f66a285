#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The "ADNN" weights file: a 40-byte header, the start-state bank, then the weights.
// Only files whose counts match the network's shape are accepted; a short or
// inconsistent file is rejected without reading past its end.
struct NetworkWeightsFile
{
    static constexpr std::size_t headerBytes = 40;
    static constexpr int32_t expectedStateFloats = 2048;
    static constexpr int32_t expectedWeights = 977;

    char magic[4] {};
    uint64_t payloadSize = 0;
    int32_t reserved = 0, hiddenSize = 0, inputSize = 0, outputSize = 0, stateCount = 0;
    int32_t stateFloatCount = 0, weightCount = 0;

    std::vector<float> bank;
    std::vector<float> weights;

    static std::optional<NetworkWeightsFile> read (const void* data, std::size_t numBytes);
};
