// Instances made and destroyed on several threads at once, as plug-in scanners and some hosts
// do outside the UI thread.
#include "RawHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace rawhost;

namespace
{
using Clock = std::chrono::steady_clock;

// Both threads meet here at the start and end of every round.
class Rendezvous
{
public:
    void meet()
    {
        const int generation = passed;
        if (++waiting == 2)
        {
            waiting = 0;
            ++passed;
        }
        while (passed == generation)
            std::this_thread::yield();
    }

private:
    std::atomic<int> waiting { 0 }, passed { 0 };
};

std::unique_ptr<Plugin> makePlaying()
{
    auto plugin = std::make_unique<Plugin>();
    plugin->prepare (256);
    EXPECT_FALSE (plugin->getState().empty()); // the settings file is then written on destruction
    return plugin;
}
} // namespace

TEST (Vst3Threads, InstancesMadeAndDestroyedOnTwoThreadsAtOnceNeverHang)
{
    Watchdog watchdog ("making instances on two threads", std::chrono::seconds (60));

    // One instance changes hands: each round the thread holding it destroys it while the
    // other, after a delay that sweeps the length of a destruction, makes the next one. Some
    // rounds start an instance while the last one is stopping the message thread and shutting
    // the library down.
    {
        constexpr int rounds = 400;
        std::unique_ptr<Plugin> held[2] { makePlaying(), nullptr };
        Rendezvous rendezvous;

        auto takeTurns = [&] (int self)
        {
            for (int round = 0; round < rounds; ++round)
            {
                rendezvous.meet();
                if (held[self] != nullptr)
                {
                    held[self].reset();
                }
                else
                {
                    const auto start = Clock::now() + std::chrono::microseconds (round % 40 * 100);
                    while (Clock::now() < start)
                        ;
                    held[self] = makePlaying();
                    ++watchdog.count;
                }
                rendezvous.meet();
            }
        };
        std::thread a (takeTurns, 0), b (takeTurns, 1);
        a.join();
        b.join();
        EXPECT_EQ (watchdog.count, rounds);
    }

    // Two threads making instances as fast as they can.
    auto makeMany = [&]
    {
        for (int i = 0; i < 300; ++i)
        {
            makePlaying();
            ++watchdog.count;
        }
    };
    std::thread a (makeMany), b (makeMany);
    a.join();
    b.join();
    EXPECT_EQ (watchdog.count, 400 + 600);
}
