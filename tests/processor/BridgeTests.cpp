#include "TestSupport.h"

#include <random>

using namespace kelvor::test;

namespace
{
std::unique_ptr<Kelvo58AudioProcessor> identityProcessor (double rate, int blockSize)
{
    auto p = std::make_unique<Kelvo58AudioProcessor>();
    neutralGains (*p);
    p->prepareToPlay (rate, blockSize);
    makeNearIdentity (*p);
    return p;
}

int peakIndex (const std::vector<float>& x)
{
    return (int) std::distance (x.begin(), std::max_element (x.begin(), x.end()));
}
} // namespace

TEST (Bridge, WetSignalLagsLatencyPlusTwoSamples)
{
    // Linear interpolation reproduces a straight line exactly, so with an identity-like
    // network output t must equal input t - L - 2 once the first block is past.
    for (auto [rate, lag] : { std::pair { 48000.0, 4 }, { 88200.0, 6 }, { 96000.0, 6 }, { 192000.0, 10 } })
    {
        auto p = identityProcessor (rate, 256);
        std::vector<std::vector<float>> audio (2, std::vector<float> (2048));
        for (size_t i = 0; i < 2048; ++i)
            audio[0][i] = audio[1][i] = 1.0e-7f * (float) i;
        runInBlocks (*p, audio, 256);
        for (size_t t = 256; t < 2048; ++t)
            ASSERT_NEAR (audio[0][t], 1.0e-7f * (float) ((int) t - lag), 1.0e-10f) << rate << " at " << t;
    }

    // An impulse on the 48 kHz grid comes out n + 4 samples later.
    auto p = identityProcessor (48000, 256);
    std::vector<std::vector<float>> audio (2, std::vector<float> (2048, 0.0f));
    audio[0][700] = 1.0e-3f;
    runInBlocks (*p, audio, 256);
    EXPECT_EQ (peakIndex (audio[0]), 704);
}

TEST (Bridge, DryAndBypassedSignalsWaitForTheWetOne)
{
    // Half dry, half wet on a straight line: with the dry signal delayed by the bridge's
    // lag the mix is the line delayed by that lag; undelayed it would land half-way. With the
    // stage off the bypassed signal waits as long, so a press never moves the track.
    for (auto [rate, lag] : { std::pair { 48000.0, 4 }, { 96000.0, 6 }, { 192000.0, 10 }, { 352800.0, 18 }, { 384000.0, 19 } })
    {
        for (bool stageOn : { true, false })
        {
            auto p = identityProcessor (rate, 256);
            setParam (p->drywetParam, 0.5f);
            setParam (p->p0Param, stageOn ? 0.0f : 1.0f);
            std::vector<std::vector<float>> audio (2, std::vector<float> (8192));
            for (size_t i = 0; i < audio[0].size(); ++i)
                audio[0][i] = audio[1][i] = 1.0e-7f * (float) i;
            runInBlocks (*p, audio, 256);

            const int expectedLag = lag;
            // Past the mixer's own 50 ms ramp from fully wet to half.
            for (size_t t = (size_t) rate / 10; t < audio[0].size(); ++t)
                ASSERT_NEAR (audio[0][t], 1.0e-7f * (float) ((int) t - expectedLag), 1.0e-9f)
                    << rate << (stageOn ? " on" : " off") << " at " << t;
        }
    }
}

TEST (Bridge, FirstBlockAt48kProduces470SamplesAfterTwoSilentOnes)
{
    auto p = identityProcessor (48000, 512);
    std::vector<std::vector<float>> audio (2, std::vector<float> (1024));
    for (size_t i = 0; i < 1024; ++i)
        audio[0][i] = audio[1][i] = 1.0e-3f * (float) (i % 7 + 1);
    const auto input = audio;

    runBlock (*p, audio, 0, 512);
    EXPECT_EQ (p->midRing[0].totalWritten, 470);
    EXPECT_EQ (p->processedCount[0], 470);
    EXPECT_NEAR (p->downCursor[0].position(), 470 * (48000.0 / 44100.0), 1e-9);
    EXPECT_EQ (audio[0][0], 0.0f);
    EXPECT_EQ (audio[0][1], 0.0f);
    // Position 2 is computed from the two priming zeros.
    EXPECT_NEAR (audio[0][2], 0.0f, 1e-12f);
    EXPECT_EQ (p->firstBlockOffset[0], 0);

    // The second block writes every position: none keeps its input.
    const double upBefore = p->upCursor[0].position();
    runBlock (*p, audio, 512, 512);
    EXPECT_NEAR (p->upCursor[0].position() - upBefore, 512 * (44100.0 / 48000.0), 1e-9);

    // At 96 kHz the first block produces 235 samples after four silent positions.
    auto q = identityProcessor (96000, 512);
    auto audio96 = input;
    runBlock (*q, audio96, 0, 512);
    EXPECT_EQ (q->midRing[0].totalWritten, 235);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ (audio96[0][i], 0.0f);
}

// Hosts activate again on play, on every rate or buffer change and for every offline render:
// each time the bridge starts with its pre-roll, silence, never the hot input lying where it
// has no output yet, whatever the size of the first block.
TEST (Bridge, EveryActivationStartsWithSilenceNotABurst)
{
    for (auto [rate, latency] : { std::pair { 48000.0, 2 }, { 96000.0, 4 }, { 384000.0, 17 } })
    {
        Kelvo58AudioProcessor p;
        setParam (p.pregainParam, 1.0f); // +48 dB
        for (int first : { 512, 1, 7, 300, 512 })
        {
            SCOPED_TRACE (testing::Message() << rate << " Hz, first block " << first);
            p.prepareToPlay (rate, 512);
            std::vector<std::vector<float>> audio (2, std::vector<float> (1024, 0.25f));
            runBlock (p, audio, 0, first);
            runBlock (p, audio, first, 1024 - first);
            for (int i = 0; i < latency; ++i)
                ASSERT_EQ (audio[0][(size_t) i], 0.0f) << i;
            for (float x : audio[0])
                ASSERT_LT (std::abs (x), 4.0f); // the network's own output, about 1.5 before +6 dB
        }
    }
}

TEST (Bridge, At88kEveryOtherOutputIsAProcessedSampleAndTheRestMeans)
{
    auto p = identityProcessor (88200, 256);
    std::mt19937 rng (1);
    std::uniform_real_distribution<float> dist (-1.0e-3f, 1.0e-3f);
    std::vector<std::vector<float>> audio (2, std::vector<float> (2048));
    for (auto& x : audio[0])
        x = dist (rng);
    audio[1] = audio[0];
    const auto input = audio[0];
    runInBlocks (*p, audio, 256);

    // Output t stands for host time t - L - 2 = t - 6; odd offsets are means of neighbours.
    for (size_t t = 300; t < 2040; t += 2)
    {
        EXPECT_NEAR (audio[0][t], input[t - 6], 1e-9f) << t;
        EXPECT_NEAR (audio[0][t + 1], 0.5f * (input[t - 6] + input[t - 4]), 1e-9f) << t;
    }
}

TEST (Bridge, EmptyBlockChangesNothing)
{
    auto p = identityProcessor (48000, 128);
    std::vector<std::vector<float>> audio (2, std::vector<float> (300, 1.0e-3f));
    runBlock (*p, audio, 0, 128);

    const auto written = p->inputRing[0].totalWritten;
    const auto mid = p->midRing[0].totalWritten;
    const auto down = p->downCursor[0].position(), up = p->upCursor[0].position();
    runBlock (*p, audio, 128, 0);
    EXPECT_EQ (p->inputRing[0].totalWritten, written);
    EXPECT_EQ (p->midRing[0].totalWritten, mid);
    EXPECT_EQ (p->downCursor[0].position(), down);
    EXPECT_EQ (p->upCursor[0].position(), up);
    EXPECT_EQ (p->receivedCount[0], 128);
}

TEST (Bridge, ResumesWhereItStoppedWithoutANewOffset)
{
    // The stage fades out over 480 samples at 48 kHz (8 blocks of 64, the network running
    // through them), stands still for the rest of a 12-block pause, then fades back in over
    // 8 blocks. Afterwards the bridge continues the stream it was given, with no second offset.
    std::vector<float> signal (64 * 20);
    for (size_t i = 0; i < signal.size(); ++i)
        signal[i] = 1.0e-3f * std::sin (0.05f * (float) i);
    const float other = 0.5e-3f;

    auto streamOf = [&] (int pausedBlocks)
    {
        std::vector<float> s (signal.begin(), signal.begin() + 256);
        s.insert (s.end(), (size_t) pausedBlocks * 64, other);
        s.insert (s.end(), signal.begin() + 256, signal.end());
        return std::vector<std::vector<float>> (2, s);
    };

    auto referenceProc = identityProcessor (48000, 64);
    auto reference = streamOf (8); // what the network was given: the fade-out's 8 blocks
    runInBlocks (*referenceProc, reference, 64);

    auto p = identityProcessor (48000, 64);
    auto audio = streamOf (12);
    for (int b = 0; b < (int) audio[0].size() / 64; ++b)
    {
        setParam (p->p0Param, (b >= 4 && b < 16) ? 1.0f : 0.0f);
        runBlock (*p, audio, b * 64, 64);
    }

    EXPECT_EQ (p->receivedCount[0], (int64_t) reference[0].size());
    // Once faded out, the pause passes its input through, delayed by the bridge's lag.
    for (size_t t = 12 * 64 + 8; t < 16 * 64; ++t)
        ASSERT_EQ (audio[0][t], other) << t;
    // After the fade-in the output is the uninterrupted run's, block for block.
    for (size_t i = 0; i < 8 * 64; ++i)
        ASSERT_NEAR (audio[0][24 * 64 + i], reference[0][20 * 64 + i], 1e-9f) << i;
}

TEST (Bridge, OneSampleBlocksStayInsideTheRings)
{
    // A 1-sample preparation must give what a roomy preparation gives for the same 1-sample blocks.
    for (double rate : { 48000.0, 96000.0, 192000.0 })
    {
        auto tiny = identityProcessor (rate, 1);
        auto roomy = identityProcessor (rate, 512);
        std::vector<std::vector<float>> a (2, std::vector<float> (3000));
        for (size_t i = 0; i < a[0].size(); ++i)
            a[0][i] = a[1][i] = 1.0e-3f * std::sin (0.03f * (float) i);
        auto b = a;
        runInBlocks (*tiny, a, 1);
        runInBlocks (*roomy, b, 1);
        EXPECT_EQ (a, b) << rate;
    }
}

namespace
{
constexpr double bridgeRates[] = { 48000.0, 88200.0, 96000.0, 176400.0, 192000.0, 352800.0, 384000.0 };

int lagAt (double rate) { return (int) (2.0 * rate / 44100.0) + 2; }

// A ramp small enough for the near-identity network to pass unchanged: output t must equal
// input t - lag once the bridge has produced output, so any drift or slip shows at once.
void expectLag (Kelvo58AudioProcessor& p, int lag, int blockSize, int totalSamples, int64_t firstSample = 0)
{
    std::vector<std::vector<float>> audio (1, std::vector<float> ((size_t) totalSamples));
    auto ramp = [] (int64_t n) { return 1.0e-8f * (float) (n % 20000); };
    for (int i = 0; i < totalSamples; ++i)
        audio[0][(size_t) i] = ramp (firstSample + i);
    runInBlocks (p, audio, blockSize);
    for (int t = 4 * blockSize + lag + 64; t < totalSamples; ++t)
    {
        if ((firstSample + t) % 20000 < lag + 24) // where interpolation spans the ramp's reset
            continue;
        ASSERT_NEAR (audio[0][(size_t) t], ramp (firstSample + t - lag), 5.0e-11f) << "at " << t;
    }
}

std::unique_ptr<Kelvo58AudioProcessor> monoIdentityProcessor (double rate, int blockSize)
{
    auto p = std::make_unique<Kelvo58AudioProcessor>();
    p->setPlayConfigDetails (1, 1, rate, blockSize);
    neutralGains (*p);
    p->prepareToPlay (rate, blockSize);
    makeNearIdentity (*p);
    return p;
}

// Puts channel 0's bridge where it stands after `received` host samples in steady state,
// computed from closed forms rather than by stepping. The rings' old contents do not matter:
// they are overwritten within a block.
void jumpAhead (Kelvo58AudioProcessor& p, int64_t received)
{
    const auto rate = (int64_t) p.hostRate;
    const int latency = (int) (2 * rate / 44100);
    auto place = [] (SampleRing& ring, int64_t total)
    {
        ring.totalWritten = total;
        ring.writeIndex = (total - 1) % ring.size + 1;
    };
    auto at = [] (ResampleCursor& cursor, int64_t steps)
    {
        const auto num = (cursor.stepWhole * cursor.denominator + cursor.stepNumerator) * steps;
        cursor.whole = num / cursor.denominator;
        cursor.numerator = num % cursor.denominator;
    };
    // Mid samples m with ceil(m * rate / 44100) < received.
    const int64_t produced = (received - 1) * 44100 / rate + 1;
    place (p.inputRing[0], received + 2);
    place (p.midRing[0], produced);
    p.receivedCount[0] = received;
    p.processedCount[0] = produced;
    at (p.downCursor[0], produced);
    at (p.upCursor[0], received - latency);
    p.firstBlockOffset[0] = 0;
}
} // namespace

// Rounding in an accumulated position grows into whole samples of lag within hours, then
// into reads of stale ring slots. The lag after a thousand hours must equal the lag at once.
TEST (Bridge, LagIsTheSameAfterAThousandHours)
{
    // The cursor alone, stepped past 10^11 samples: exact, so it equals the closed form.
    for (double rate : bridgeRates)
    {
        ResampleCursor stepped, expected;
        stepped.start ((int64_t) rate, 44100);
        const int64_t far = 100'000'000'000;
        stepped.whole = (int64_t) ((__int128) far * (int64_t) rate / 44100);
        stepped.numerator = (int64_t) ((__int128) far * (int64_t) rate % 44100);
        for (int i = 0; i < 1'000'000; ++i)
            stepped.advance();
        const auto total = (__int128) (far + 1'000'000) * (int64_t) rate;
        EXPECT_EQ (stepped.whole, (int64_t) (total / 44100)) << rate;
        EXPECT_EQ (stepped.numerator, (int64_t) (total % 44100)) << rate;
    }

    // The whole processor, one second in and a thousand hours in.
    for (double rate : bridgeRates)
    {
        for (int64_t hours : { 0, 1000 })
        {
            SCOPED_TRACE (testing::Message() << rate << " Hz after " << hours << " h");
            auto p = monoIdentityProcessor (rate, 512);
            const auto start = (int64_t) (hours * 3600 * (int64_t) rate / 512) * 512;
            if (start > 0)
                jumpAhead (*p, start);
            expectLag (*p, lagAt (rate), 512, (int) rate, start);
        }
    }
}

// The same, the long way round: hours of real audio through the bridge.
TEST (Bridge, LagHoldsThroughHoursOfAudio)
{
    auto p = monoIdentityProcessor (48000.0, 8192);
    std::vector<std::vector<float>> block (1, std::vector<float> (8192, 0.0f));
    const int64_t blocks = 3600LL * 48000 / 8192;
    for (int64_t b = 0; b < blocks; ++b)
        runBlock (*p, block, 0, 8192);
    expectLag (*p, lagAt (48000.0), 8192, 96000);
}

// Hosts send 0- and 1-sample blocks (the framework's VST3 client passes some on): the first
// block's offset must carry over until it is used up.
TEST (Bridge, ShortFirstBlocksKeepTheLag)
{
    for (double rate : bridgeRates)
    {
        const int latency = lagAt (rate) - 2;
        for (int first : { 0, 1, 4, latency - 1, latency, latency + 1 })
        {
            SCOPED_TRACE (testing::Message() << rate << " Hz, first block " << first);
            auto p = monoIdentityProcessor (rate, 256);
            std::vector<std::vector<float>> audio (1, std::vector<float> (8192));
            for (size_t i = 0; i < audio[0].size(); ++i)
                audio[0][i] = 1.0e-8f * (float) i;
            runBlock (*p, audio, 0, std::max (0, first));
            runBlock (*p, audio, std::max (0, first), 0);
            std::mt19937 rng (first);
            for (int start = std::max (0, first); start < 8192;)
            {
                const int n = std::min (8192 - start, (int) (rng() % 300));
                runBlock (*p, audio, start, n);
                start += n;
            }
            for (size_t t = 1024; t < 8192; ++t)
                ASSERT_NEAR (audio[0][t], 1.0e-8f * (float) ((int) t - lagAt (rate)), 5.0e-11f) << t;
        }
    }
}
