#include "TestSupport.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>

#if defined(__GLIBC__)
 #include <malloc.h>
#endif

// Counts every global allocation while armed; the audio thread must make none.
namespace
{
std::atomic<bool> countingAllocations { false };
std::atomic<long> allocationCount { 0 };

void* countedAlloc (std::size_t size, std::size_t alignment)
{
    if (countingAllocations.load (std::memory_order_relaxed))
        allocationCount.fetch_add (1, std::memory_order_relaxed);
    if (size == 0)
        size = 1;
    void* p = alignment > alignof (std::max_align_t) ? std::aligned_alloc (alignment, (size + alignment - 1) / alignment * alignment)
                                                      : std::malloc (size);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}
} // namespace

void* operator new (std::size_t n) { return countedAlloc (n, 0); }
void* operator new[] (std::size_t n) { return countedAlloc (n, 0); }
void* operator new (std::size_t n, std::align_val_t a) { return countedAlloc (n, (std::size_t) a); }
void* operator new[] (std::size_t n, std::align_val_t a) { return countedAlloc (n, (std::size_t) a); }
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }
void operator delete (void* p, std::align_val_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::align_val_t) noexcept { std::free (p); }
void operator delete (void* p, std::size_t, std::align_val_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept { std::free (p); }

using namespace kelvor::test;

TEST (RealTime, ProcessBlockAllocatesNothing)
{
    kelvor::test::FixedTempoPlayHead head (133.0);
    for (double rate : { 44100.0, 96000.0 })
    {
        for (float stage : { 0.0f, 1.0f })
        {
            for (float sync : { 0.0f, 1.0f })
            {
                Kelvo58AudioProcessor p;
                p.setPlayHead (&head);
                setParam (p.p0Param, stage);
                setParam (p.synchOnParam, sync);
                setParam (p.drywetParam, 0.5f);
                p.prepareToPlay (rate, 512);

                juce::AudioBuffer<float> buffer (2, 2048);
                juce::MidiBuffer midi;
                std::mt19937 rng (5);
                std::uniform_real_distribution<float> dist (-1.0f, 1.0f);

                allocationCount = 0;
                for (int b = 0; b < 40; ++b)
                {
                    const int n = b == 7 ? 2048 : 1 + (b * 97) % 512; // one oversized block too
                    for (int c = 0; c < 2; ++c)
                        for (int i = 0; i < n; ++i)
                            buffer.setSample (c, i, dist (rng));
                    juce::AudioBuffer<float> view (buffer.getArrayOfWritePointers(), 2, n);
                    setParam (p.pregainParam, (float) (b % 5) * 0.2f); // ramps restart while running
                    setParam (p.p0Param, (b / 10) % 2 ? 1.0f - stage : stage); // presses fade both paths
                    countingAllocations = true;
                    if ((b / 6) % 2) // the host's Bypass, pressed and let go as the wrapper calls it
                        p.processBlockBypassed (view, midi);
                    else
                        p.processBlock (view, midi);
                    countingAllocations = false;
                }
                EXPECT_EQ (allocationCount.load(), 0) << rate << " stage " << stage << " sync " << sync;
            }
        }
    }
}

TEST (RealTime, StaysFiniteOverMinutesOfNoise)
{
    const int blockSizes[] = { 1, 2, 17, 64, 256, 512, 1024, 4096 };
    for (double rate : { 44100.0, 48000.0, 96000.0, 192000.0 })
    {
        Kelvo58AudioProcessor p;
        setParam (p.pregainParam, 0.75f); // +24 dB: drive the network hard
        setParam (p.drywetParam, 0.7f);
        p.prepareToPlay (rate, 4096);

        std::mt19937 rng ((unsigned) rate);
        std::uniform_real_distribution<float> dist (-1.0f, 1.0f);
        juce::AudioBuffer<float> buffer (2, 4096);
        juce::MidiBuffer midi;

        const long total = (long) (rate * 120.0); // two minutes
        long done = 0;
        int k = 0;
        while (done < total)
        {
            const int n = blockSizes[(k * 5 + k / 3) % 8];
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < n; ++i)
                    buffer.setSample (c, i, dist (rng));
            if (k % 50 == 0)
                setParam (p.p1Param, (float) (k % 101) / 100.0f);
            if (k % 70 == 0)
                setParam (p.synchOnParam, (k / 70) % 2 ? 1.0f : 0.0f);

            juce::AudioBuffer<float> view (buffer.getArrayOfWritePointers(), 2, n);
            p.processBlock (view, midi);
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < n; ++i)
                    ASSERT_TRUE (std::isfinite (view.getSample (c, i))) << rate << " block " << k;
            done += n;
            ++k;
        }
        EXPECT_TRUE (p.networks[0].hiddenState.allFinite());
        EXPECT_TRUE (p.networks[1].hiddenState.allFinite());
    }
}

// A host that sends whatever it likes, in any order: preparations at odd rates and sizes,
// blocks of any length and channel count, values and tempos that are no numbers, and state
// chunks cut anywhere. Nothing may crash, and every sample must stay finite.
TEST (RealTime, HostileHostCallsKeepTheOutputFinite)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const double rates[] = { 44100.0, 48000.0, 96000.0, 384000.0, 22050.0, 1.0, 0.0, -1.0, nan, inf, 5.0e6 };
    const float values[] = { 0.0f, 1.0f, 0.5f, 0.49f, (float) nan, (float) inf, (float) -inf, 7.0f, -3.0f, 1.0e-40f };
    const double tempos[] = { 120.0, 0.0, -60.0, nan, inf, 1.0e-30, 1.0e30, 1.0e-45, 999.0, 1.0e300, -1.0e300 };

    Kelvo58AudioProcessor good;
    juce::MemoryBlock state;
    good.getStateInformation (state);

    std::mt19937 rng (11);
    auto pick = [&rng] (const auto& array) { return array[rng() % std::size (array)]; };
    std::uniform_real_distribution<float> dist (-2.0f, 2.0f);

    for (int run = 0; run < 24; ++run)
    {
        Kelvo58AudioProcessor p;
        kelvor::test::FixedTempoPlayHead head (120.0);
        p.setPlayHead (&head);
        juce::AudioBuffer<float> buffer (4, 3000);
        juce::MidiBuffer midi;

        for (int call = 0; call < 400; ++call)
        {
            switch (rng() % 10)
            {
                case 0:
                    p.prepareToPlay (pick (rates), (int) (rng() % 5000) - 100);
                    break;
                case 1:
                case 2:
                    p.getParameters()[(int) (rng() % 6)]->setValue (pick (values));
                    break;
                case 3:
                    head.bpm = pick (tempos);
                    break;
                case 4:
                    p.setStateInformation (state.getData(), (int) (rng() % (state.getSize() + 1)));
                    break;
                default:
                {
                    const int channels = (int) (rng() % 5), n = (int) (rng() % 3000);
                    for (int c = 0; c < channels; ++c)
                        for (int i = 0; i < n; ++i)
                            buffer.setSample (c, i, rng() % 500 == 0 ? (float) pick (values) : dist (rng));
                    juce::AudioBuffer<float> view (buffer.getArrayOfWritePointers(), channels, n);
                    p.processBlock (view, midi);
                    for (int c = 0; c < std::min (channels, 2); ++c)
                        for (int i = 0; i < n; ++i)
                            ASSERT_TRUE (std::isfinite (view.getSample (c, i))) << "run " << run << " call " << call;
                }
            }
        }
    }
}

#if defined(__GLIBC__)
TEST (Memory, ManyProcessorsGiveTheirMemoryBack)
{
    auto cycle = []
    {
        auto p = std::make_unique<Kelvo58AudioProcessor>();
        p->prepareToPlay (96000, 2048);
        p->prepareToPlay (48000, 4096);
        juce::MemoryBlock state;
        p->getStateInformation (state);
    };
    cycle(); // first use creates the framework's own singletons

    const auto before = mallinfo2().uordblks;
    for (int i = 0; i < 40; ++i)
        cycle();
    const auto after = mallinfo2().uordblks;
    // Each instance holds about 5 MB of tables and rings; nothing of that may stay behind.
    EXPECT_LT ((long) after - (long) before, 64 * 1024);
}
#endif
