#include "NetworkWeightsFile.h"

#include <cstring>

namespace
{
template <typename T>
T readLittleEndian (const unsigned char* p)
{
    // The plug-in only targets little-endian machines; memcpy keeps unaligned reads legal.
    T value;
    std::memcpy (&value, p, sizeof (T));
    return value;
}
} // namespace

std::optional<NetworkWeightsFile> NetworkWeightsFile::read (const void* data, std::size_t numBytes)
{
    if (data == nullptr || numBytes < headerBytes)
        return std::nullopt;

    const auto* bytes = static_cast<const unsigned char*> (data);
    NetworkWeightsFile file;
    std::memcpy (file.magic, bytes, 4);
    file.payloadSize = readLittleEndian<uint64_t> (bytes + 4);
    file.reserved = readLittleEndian<int32_t> (bytes + 12);
    file.hiddenSize = readLittleEndian<int32_t> (bytes + 16);
    file.inputSize = readLittleEndian<int32_t> (bytes + 20);
    file.outputSize = readLittleEndian<int32_t> (bytes + 24);
    file.stateCount = readLittleEndian<int32_t> (bytes + 28);
    file.stateFloatCount = readLittleEndian<int32_t> (bytes + 32);
    file.weightCount = readLittleEndian<int32_t> (bytes + 36);

    if (file.stateFloatCount != expectedStateFloats || file.weightCount != expectedWeights)
        return std::nullopt;

    const std::size_t bankBytes = 4 * static_cast<std::size_t> (file.stateFloatCount);
    const std::size_t weightBytes = 4 * static_cast<std::size_t> (file.weightCount);
    if (numBytes < headerBytes + bankBytes + weightBytes)
        return std::nullopt;

    file.bank.resize (static_cast<std::size_t> (file.stateFloatCount));
    file.weights.resize (static_cast<std::size_t> (file.weightCount));
    std::memcpy (file.bank.data(), bytes + headerBytes, bankBytes);
    std::memcpy (file.weights.data(), bytes + headerBytes + bankBytes, weightBytes);
    return file;
}
