#include "TestSupport.h"

#include <cmath>
#include <limits>
#include <random>

using namespace kelvor::test;
using Set = juce::AudioChannelSet;

TEST (Processor, FixedAnswers)
{
    Kelvo58AudioProcessor p;
    EXPECT_EQ (p.getName(), "Kelvor58");
    EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
    EXPECT_TRUE (p.hasEditor());
    EXPECT_FALSE (p.acceptsMidi());
    EXPECT_FALSE (p.producesMidi());
    EXPECT_FALSE (p.isMidiEffect());
    EXPECT_EQ (p.getNumPrograms(), 1);
    EXPECT_EQ (p.getProgramName (5), "Default");
    p.setCurrentProgram (3);
    EXPECT_EQ (p.getCurrentProgram(), 0);
    EXPECT_EQ (p.getTotalNumInputChannels(), 2);
    EXPECT_EQ (p.getTotalNumOutputChannels(), 2);
    EXPECT_EQ (p.getBypassParameter(), nullptr);
}

TEST (Processor, BusRuleAcceptsOnlyMatchingMonoOrStereo)
{
    Kelvo58AudioProcessor p;
    auto layout = [] (std::vector<Set> ins, std::vector<Set> outs)
    {
        juce::AudioProcessor::BusesLayout l;
        for (auto& s : ins)
            l.inputBuses.add (s);
        for (auto& s : outs)
            l.outputBuses.add (s);
        return l;
    };

    EXPECT_TRUE (p.isBusesLayoutSupported (layout ({ Set::mono() }, { Set::mono() })));
    EXPECT_TRUE (p.isBusesLayoutSupported (layout ({ Set::stereo() }, { Set::stereo() })));
    EXPECT_FALSE (p.isBusesLayoutSupported (layout ({ Set::mono() }, { Set::stereo() })));
    EXPECT_FALSE (p.isBusesLayoutSupported (layout ({ Set::stereo() }, { Set::mono() })));
    EXPECT_FALSE (p.isBusesLayoutSupported (layout ({ Set::disabled() }, { Set::stereo() })));
    EXPECT_FALSE (p.isBusesLayoutSupported (layout ({}, { Set::stereo() })));
    EXPECT_FALSE (p.isBusesLayoutSupported (layout ({ Set::stereo() }, {})));
    EXPECT_FALSE (p.isBusesLayoutSupported (layout ({ Set::discreteChannels (1) }, { Set::discreteChannels (1) })));
    EXPECT_FALSE (p.isBusesLayoutSupported (layout ({ Set::create5point1() }, { Set::create5point1() })));
}

TEST (Processor, LatencyAndPathFollowTheHostRate)
{
    Kelvo58AudioProcessor p;
    const std::pair<double, int> cases[] = { { 44100, 0 }, { 47999, 0 }, { 48000, 2 }, { 88200, 4 },
                                             { 96000, 4 }, { 176400, 8 }, { 192000, 8 }, { 22050, 0 } };
    for (auto [rate, latency] : cases)
    {
        p.prepareToPlay (rate, 512);
        EXPECT_EQ (p.getLatencySamples(), latency) << rate;
        EXPECT_EQ (p.nativeRate.load(), rate < 48000) << rate;
    }
}

TEST (Processor, PreparationPrimesFromTheStoredStateOfTheCurrentSpeed)
{
    Kelvo58AudioProcessor p;
    for (auto [speed, row] : { std::pair { 0.5f, 64 }, { 0.0f, 0 }, { 1.0f, 127 }, { 0.25f, 32 } })
    {
        setParam (p.p1Param, speed);
        p.prepareToPlay (48000, 256);
        for (int c = 0; c < 2; ++c)
        {
            EXPECT_TRUE (p.networks[c].hiddenState.isApprox (p.networks[c].stateBank.row (row).transpose(), 0.0f)) << speed;
            EXPECT_EQ (p.speedFollower[c], speed);
            EXPECT_FLOAT_EQ (p.rateFollower[c], Kelvo58AudioProcessor::speedToFrequency (speed));
            EXPECT_EQ (p.lfoPhase[c], 0.0f);
        }
    }

    // Tempo sync at preparation assumes a 2-second bar.
    setParam (p.synchOnParam, 1.0f);
    setParam (p.p1Param, 0.0f);
    p.prepareToPlay (44100, 256);
    EXPECT_FLOAT_EQ (p.rateFollower[0], 1.0f / 32.0f);
}

TEST (Processor, FreeRunningRateRule)
{
    EXPECT_FLOAT_EQ (Kelvo58AudioProcessor::speedToFrequency (0.0f), 0.048163265f);
    EXPECT_FLOAT_EQ (Kelvo58AudioProcessor::speedToFrequency (0.5f), 3.4717686f);
    EXPECT_FLOAT_EQ (Kelvo58AudioProcessor::speedToFrequency (1.0f), 6.8953743f);
    EXPECT_EQ (Kelvo58AudioProcessor::divisionTable[10], 0.5f);
    EXPECT_EQ (Kelvo58AudioProcessor::divisionTable[11], 0.666667f);
    EXPECT_FLOAT_EQ (Kelvo58AudioProcessor::slewStep, 1.1337868e-4f);
}

TEST (Processor, SpeedFollowerReachesTargetAfter8821Steps)
{
    Kelvo58AudioProcessor p;
    setParam (p.p1Param, 0.0f);
    p.prepareToPlay (44100, 512);
    setParam (p.p1Param, 1.0f);

    for (int i = 0; i < 8820; ++i)
    {
        const float before = p.rateFollower[0];
        p.processNetworkSample (0, 0.0f);
        ASSERT_LE (std::abs (p.rateFollower[0] - before), Kelvo58AudioProcessor::slewStep * 1.0001f);
    }
    EXPECT_LT (p.speedFollower[0], 1.0f);
    p.processNetworkSample (0, 0.0f);
    EXPECT_EQ (p.speedFollower[0], 1.0f);
    EXPECT_EQ (p.speedFollower[1], 0.0f); // channels follow separately
}

namespace
{
// The LFO phase starts at 0 after preparation, so one step reveals the target rate.
float targetRateAfterOneSample (Kelvo58AudioProcessor& p, float speed, juce::AudioPlayHead* head)
{
    setParam (p.p1Param, speed);
    setParam (p.synchOnParam, 1.0f);
    p.setPlayHead (head);
    p.prepareToPlay (44100, 64);
    std::vector<std::vector<float>> audio (2, std::vector<float> (1, 0.0f));
    runBlock (p, audio, 0, 1);
    return p.lfoPhase[0] * 44100.0f;
}
} // namespace

TEST (Processor, TempoSyncRates)
{
    Kelvo58AudioProcessor p;
    FixedTempoPlayHead at120 (120.0), at240 (240.0), noTempo (std::nullopt);

    EXPECT_NEAR (targetRateAfterOneSample (p, 0.0f, &at120), 0.03125f, 1e-5f);
    EXPECT_NEAR (targetRateAfterOneSample (p, 1.0f, &at120), 16.0f, 1e-3f);
    EXPECT_NEAR (targetRateAfterOneSample (p, 0.5f, &at120), 1.0f / (2.0f * 0.666667f), 1e-4f);
    EXPECT_NEAR (targetRateAfterOneSample (p, 1.0f, &at240), 32.0f, 2e-3f);
    EXPECT_FLOAT_EQ (p.barSeconds, 1.0f);
    EXPECT_NEAR (targetRateAfterOneSample (p, 1.0f, &noTempo), 16.0f, 1e-3f);
    EXPECT_NEAR (targetRateAfterOneSample (p, 1.0f, nullptr), 16.0f, 1e-3f);
    EXPECT_FLOAT_EQ (p.barSeconds, 2.0f);
    p.setPlayHead (nullptr);
}

TEST (Processor, PhaseThatReachesOneRestartsAtZero)
{
    Kelvo58AudioProcessor p;
    setParam (p.p1Param, 1.0f);
    p.prepareToPlay (44100, 64);
    const float advance = Kelvo58AudioProcessor::speedToFrequency (1.0f) / 44100.0f;
    p.lfoPhase[0] = 1.0f - 0.5f * advance;
    p.processNetworkSample (0, 0.0f);
    EXPECT_EQ (p.lfoPhase[0], 0.0f);
}

TEST (Processor, LfoAdvancesPerProcessedSampleWhateverTheHostRate)
{
    // The tables are 44.1 kHz periods: on the native path the phase moves by rate / 44100
    // per sample at any host rate, so 22.05 kHz and 44.1 kHz hosts read the same LFO
    // values for the same sample count.
    auto lfoAfter = [] (double hostRate, int numSamples)
    {
        Kelvo58AudioProcessor p;
        setParam (p.p1Param, 0.8f);
        p.prepareToPlay (hostRate, 512);
        std::vector<std::vector<float>> audio (2, std::vector<float> ((size_t) numSamples, 0.0f));
        runInBlocks (p, audio, 512);
        return std::pair { p.lfoPhase[0], p.networks[0].hiddenState };
    };
    const auto [phaseLow, stateLow] = lfoAfter (22050.0, 3000);
    const auto [phaseNative, stateNative] = lfoAfter (44100.0, 3000);
    EXPECT_EQ (phaseLow, phaseNative);
    EXPECT_NEAR (phaseNative, 3000.0f * Kelvo58AudioProcessor::speedToFrequency (0.8f) / 44100.0f, 1e-4f);
    EXPECT_TRUE (stateLow == stateNative);
}

TEST (Processor, FootSwitchThresholdIsExactlyHalf)
{
    auto run = [] (float p0, float& outSample, Eigen::Matrix<float, 16, 1>& stateAfter,
                   Eigen::Matrix<float, 16, 1>& stateBefore)
    {
        Kelvo58AudioProcessor p;
        setParam (p.p0Param, p0);
        p.prepareToPlay (44100, 64);
        stateBefore = p.networks[0].hiddenState;
        std::vector<std::vector<float>> audio (2, std::vector<float> (64, 0.25f));
        runBlock (p, audio, 0, 64);
        outSample = audio[0][63];
        stateAfter = p.networks[0].hiddenState;
    };

    float out = 0;
    Eigen::Matrix<float, 16, 1> before, after;
    run (0.5f, out, after, before);
    EXPECT_TRUE (after == before);
    // Stage off: input x pre gain (-6 dB) x post gain (+6 dB), fully wet.
    EXPECT_NEAR (out, 0.25f * juce::Decibels::decibelsToGain (-6.0f) * juce::Decibels::decibelsToGain (6.0f), 1e-6f);

    run (0.49f, out, after, before);
    EXPECT_FALSE (after == before);
}

TEST (Processor, GainRampsLastFiftyMilliseconds)
{
    // At 48 kHz the output trails the input by the bridge's lag, stage or no stage.
    for (auto [rate, steps, lag] : { std::tuple { 48000.0, 2400, 4 }, { 44100.0, 2205, 0 } })
    {
        Kelvo58AudioProcessor p;
        setParam (p.p0Param, 1.0f); // stage off: the output shows the gains alone
        setParam (p.postgainParam, 0.5f);
        p.prepareToPlay (rate, 4096);
        setParam (p.pregainParam, p.pregainParam->convertTo0to1 (6.0f));

        std::vector<std::vector<float>> audio (2, std::vector<float> (4096, 1.0f));
        runBlock (p, audio, 0, 4096);

        const float target = juce::Decibels::decibelsToGain (6.0f);
        EXPECT_LT (audio[0][(size_t) (steps + lag - 2)], target * 0.9999f) << rate;
        EXPECT_NEAR (audio[0][(size_t) (steps + lag - 1)], target, 1e-5f) << rate;
        EXPECT_NEAR (audio[0][4095], target, 1e-5f);
        EXPECT_LT (audio[0][0], juce::Decibels::decibelsToGain (-5.99f));
        EXPECT_EQ (audio[0], audio[1]); // both channels get the same gain at the same frame
    }
}

TEST (Processor, DryWetEnds)
{
    std::mt19937 rng (3);
    std::uniform_real_distribution<float> dist (-0.5f, 0.5f);
    std::vector<float> input (1024);
    for (auto& x : input)
        x = dist (rng);

    // The mixer starts fully wet and takes its own 50 ms (2205 samples) to reach the setting.
    auto render = [&] (float mix)
    {
        Kelvo58AudioProcessor p;
        setParam (p.drywetParam, mix);
        p.prepareToPlay (44100, 1024);
        std::vector<std::vector<float>> audio (2, std::vector<float> (3072));
        runInBlocks (p, audio, 1024); // let the mixer's ramp settle
        audio.assign (2, input);
        runBlock (p, audio, 0, 1024);
        return audio[0];
    };

    EXPECT_EQ (render (0.0f), input);

    // Fully wet: the network's output alone, no trace of the dry signal.
    Kelvo58AudioProcessor stageOff;
    setParam (stageOff.p0Param, 1.0f);
    setParam (stageOff.pregainParam, 0.0f);   // -48 dB into the wet path
    setParam (stageOff.postgainParam, 0.5f);
    stageOff.prepareToPlay (44100, 1024);
    std::vector<std::vector<float>> audio (2, input);
    runBlock (stageOff, audio, 0, 1024);
    for (size_t i = 0; i < input.size(); ++i)
        EXPECT_NEAR (audio[0][i], input[i] * juce::Decibels::decibelsToGain (-48.0f), 1e-7f);
}

// Hosts may send blocks longer than announced; they must sound exactly like the same
// audio sent in announced-size blocks.
TEST (Processor, OversizedBlocksMatchAnnouncedSizeBlocks)
{
    for (double rate : { 44100.0, 48000.0, 96000.0 })
    {
        std::mt19937 rng (7);
        std::uniform_real_distribution<float> dist (-0.8f, 0.8f);
        std::vector<std::vector<float>> input (2, std::vector<float> (5000));
        for (auto& ch : input)
            for (auto& x : ch)
                x = dist (rng);

        Kelvo58AudioProcessor legal, oversized;
        for (auto* p : { &legal, &oversized })
        {
            setParam (p->drywetParam, 0.6f);
            p->prepareToPlay (rate, 64);
        }
        auto a = input, b = input;
        runInBlocks (legal, a, 64);
        runBlock (oversized, b, 0, 1000);
        runBlock (oversized, b, 1000, 4000);
        EXPECT_EQ (a, b) << rate;
    }
}

TEST (Processor, NonFiniteInputDoesNotPoisonTheChannel)
{
    for (double rate : { 44100.0, 96000.0 })
    {
        for (float bad : { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity() })
        {
            Kelvo58AudioProcessor p;
            p.prepareToPlay (rate, 256);
            std::vector<std::vector<float>> audio (2, std::vector<float> (4096));
            for (size_t i = 0; i < 4096; ++i)
                audio[0][i] = audio[1][i] = 0.3f * std::sin (0.01f * (float) i);
            audio[0][1000] = bad;
            runInBlocks (p, audio, 256);

            for (auto& ch : audio)
                for (float x : ch)
                    ASSERT_TRUE (std::isfinite (x)) << rate << " " << bad;
            EXPECT_TRUE (p.networks[0].hiddenState.allFinite());
        }
    }
}

TEST (Processor, OverflowInsideTheChainRestartsTheNetwork)
{
    // Finite input that the +48 dB input gain takes to infinity.
    Kelvo58AudioProcessor p;
    setParam (p.pregainParam, 1.0f);
    p.prepareToPlay (44100, 64);
    std::vector<std::vector<float>> audio (2, std::vector<float> (64, 0.001f));
    audio[0][10] = 3.0e38f;
    runBlock (p, audio, 0, 64);
    EXPECT_TRUE (p.networks[0].hiddenState.allFinite());
    for (int i = 11; i < 64; ++i)
        EXPECT_TRUE (std::isfinite (audio[0][(size_t) i])) << i;

    // The step that met infinity restarted from the stored state of the current speed.
    Kelvo58AudioProcessor q;
    q.prepareToPlay (44100, 64);
    q.networks[0].hiddenState.setConstant (0.9f);
    const float fromRestart = q.processNetworkSample (0, std::numeric_limits<float>::infinity());
    EXPECT_TRUE (std::isfinite (fromRestart));
    Kelvo58AudioProcessor r;
    r.prepareToPlay (44100, 64);
    EXPECT_EQ (fromRestart, r.processNetworkSample (0, 0.0f));
}

// Whatever rate and block size a broken host announces, preparation stays defined and the
// audio that follows is finite and of the right length.
TEST (Processor, AbsurdPreparationsStayDefined)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    for (double rate : { 48000.0, nan, inf, -inf, 0.0, -48000.0, 1.0e-300, 1.0e12, 768000.0 })
    {
        for (int blockSize : { std::numeric_limits<int>::max(), std::numeric_limits<int>::min(), -1, 0, 1, 715827883 })
        {
            SCOPED_TRACE (testing::Message() << rate << " Hz, " << blockSize);
            Kelvo58AudioProcessor p;
            setParam (p.drywetParam, 0.5f);
            p.prepareToPlay (rate, blockSize);
            EXPECT_GE (p.getLatencySamples(), 0);
            EXPECT_LE (p.getLatencySamples(), Kelvo58AudioProcessor::maximumBridgeLag);

            std::vector<std::vector<float>> audio (2, std::vector<float> (3000));
            for (size_t i = 0; i < audio[0].size(); ++i)
                audio[0][i] = audio[1][i] = 0.3f * std::sin (0.05f * (float) i);
            runBlock (p, audio, 0, 1000);
            runBlock (p, audio, 1000, 2000);
            for (auto& ch : audio)
                for (float x : ch)
                    ASSERT_TRUE (std::isfinite (x));
        }
    }
}

// A press of the foot switch (or the host automating it) under a sustained tone: the output
// may change no faster than the tone itself already does, and with the mix fully dry the
// press changes nothing at all, not even the timing.
TEST (Processor, FootSwitchPressAddsNoStep)
{
    for (double rate : { 44100.0, 48000.0, 96000.0 })
    {
        for (float mix : { 1.0f, 0.5f, 0.0f })
        {
            SCOPED_TRACE (testing::Message() << rate << " Hz, mix " << mix);
            const int n = (int) (2.0 * rate);
            const int quarter = n / 4;
            std::vector<float> tone ((size_t) n);
            for (int i = 0; i < n; ++i)
                tone[(size_t) i] = 0.5f * std::sin (2.0 * juce::MathConstants<double>::pi * 220.0 * i / rate);

            auto render = [&] (bool press)
            {
                Kelvo58AudioProcessor p;
                setParam (p.drywetParam, mix);
                p.prepareToPlay (rate, 256);
                std::vector<std::vector<float>> audio (2, tone);
                for (int start = 0; start < n; start += 256)
                {
                    // off at 0.5 s, on at 1 s, off at 1.5 s
                    const int quarterNow = start / quarter;
                    setParam (p.p0Param, press && (quarterNow % 2 == 1) ? 1.0f : 0.0f);
                    runBlock (p, audio, start, std::min (256, n - start));
                }
                return audio[0];
            };

            const auto out = render (true);
            float steady = 0.0f, around = 0.0f;
            for (int i = 1; i < n; ++i)
            {
                const float step = std::abs (out[(size_t) i] - out[(size_t) i - 1]);
                const int sinceToggle = i % quarter;
                if (i < quarter / 2)
                    continue; // the mixer's own start from fully wet
                if (sinceToggle < (int) (0.05 * rate) + 256)
                    around = std::max (around, step);
                else
                    steady = std::max (steady, step);
            }
            EXPECT_LE (around, steady * 1.02f);

            if (mix == 0.0f)
                EXPECT_EQ (out, render (false));
        }
    }
}

// Finite input at float's edge with both gains at +48 dB, through the stage, the foot switch's
// fades, and the host's Bypass (called as the framework's wrapper calls it) pressed and let go,
// in blocks of every kind a host sends: empty, short and over-long. Every sample stays finite.
TEST (Processor, FiniteInputAtAnyGainStaysFinite)
{
    const float big = std::numeric_limits<float>::max();
    for (double rate : { 44100.0, 96000.0 })
    {
        for (float stage : { 0.0f, 1.0f })
        {
            SCOPED_TRACE (testing::Message() << rate << " Hz, switch " << stage);
            Kelvo58AudioProcessor p;
            setParam (p.pregainParam, 1.0f);
            setParam (p.postgainParam, 1.0f);
            setParam (p.drywetParam, 0.5f);
            setParam (p.p0Param, stage);
            p.prepareToPlay (rate, 256);
            std::vector<std::vector<float>> audio (2, std::vector<float> (20000));
            for (size_t i = 0; i < audio[0].size(); ++i)
                audio[0][i] = audio[1][i] = (i % 3 == 0 ? -big : big) * (i % 5 == 0 ? 0.5f : 1.0f);
            const int sizes[] = { 256, 0, 1000, 37, 256, 700 };
            for (int start = 0, b = 0; start < 20000; ++b)
            {
                const int n = std::min (sizes[b % 6], 20000 - start);
                setParam (p.p0Param, (b / 7) % 2 ? 1.0f - stage : stage);
                runBlock (p, audio, start, n, (b / 5) % 2 == 1);
                start += n;
            }
            for (auto& ch : audio)
                for (float x : ch)
                    ASSERT_TRUE (std::isfinite (x));
        }
    }
}
