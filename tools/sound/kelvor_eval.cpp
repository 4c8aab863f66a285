// Runs clips through the plug-in's network path at 44100 Hz: start state from the bank,
// speed and rate followers with the slew step, tempo divisions, the table lookup, the
// phase rule and GRU::runInference.
//
//   kelvor_eval WEIGHTS LFO_TABLES CLIPS OUT
//
// CLIPS (little-endian): int32 clip count; per clip int32 n, float Speed at preparation,
// int32 sync at preparation, then n floats each of: input, Speed, sync (0/1), bar seconds.
// OUT: per clip n output samples, then the n LFO values the network was given.
#include "NetworkPath.h"
#include "NetworkWeightsFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

namespace
{
std::vector<char> slurp (const char* path)
{
    std::ifstream in (path, std::ios::binary);
    return { std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>() };
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 5)
    {
        std::fprintf (stderr, "usage: kelvor_eval WEIGHTS LFO_TABLES CLIPS OUT\n");
        return 2;
    }
    const auto weightsBytes = slurp (argv[1]);
    const auto tableBytes = slurp (argv[2]);
    const auto clipBytes = slurp (argv[3]);
    const auto file = NetworkWeightsFile::read (weightsBytes.data(), weightsBytes.size());
    LfoTableSet tables (tableBytes.data(), tableBytes.size());
    if (! file || ! tables.isValid() || clipBytes.size() < 4)
    {
        std::fprintf (stderr, "kelvor_eval: unreadable input\n");
        return 1;
    }

    auto channel = std::make_unique<kelvor::sound::Channel>();
    channel->network.loadFromBuffer (file->weights.data(), 4 * file->weightCount, file->bank.data());

    const char* p = clipBytes.data();
    const char* end = p + clipBytes.size();
    auto take = [&] (void* dst, std::size_t bytes) {
        if (static_cast<std::size_t> (end - p) < bytes)
            return false;
        std::memcpy (dst, p, bytes);
        p += bytes;
        return true;
    };

    int32_t clips = 0;
    take (&clips, 4);
    std::FILE* out = std::fopen (argv[4], "wb");
    if (out == nullptr)
        return 1;
    double seconds = 0, samples = 0;
    for (int c = 0; c < clips; ++c)
    {
        int32_t n = 0, sync0 = 0;
        float speed0 = 0;
        if (! take (&n, 4) || ! take (&speed0, 4) || ! take (&sync0, 4) || n < 0)
            return 1;
        std::vector<float> x (n), speed (n), sync (n), bar (n), y (n), lfo (n);
        if (! take (x.data(), 4u * n) || ! take (speed.data(), 4u * n) || ! take (sync.data(), 4u * n)
            || ! take (bar.data(), 4u * n))
            return 1;

        channel->prepare (speed0, sync0 != 0);
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i)
            y[i] = channel->process (tables.view(), x[i], speed[i], sync[i] > 0.5f, bar[i], lfo[i]);
        seconds += std::chrono::duration<double> (std::chrono::steady_clock::now() - t0).count();
        samples += n;
        std::fwrite (y.data(), 4, y.size(), out);
        std::fwrite (lfo.data(), 4, lfo.size(), out);
    }
    std::fclose (out);
    std::printf ("%d clips, %.0f samples, %.0f ns per sample\n", clips, samples, 1e9 * seconds / std::max (samples, 1.0));
    return 0;
}
