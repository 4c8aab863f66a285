#pragma once

// One channel of the plug-in's network path at 44100 Hz: start state from the bank at
// preparation, the speed and rate followers with the slew step, tempo divisions, the table
// lookup, the phase rule and GRU::runInference. Shared by kelvor_eval and the tests.
#include "GRU.h"
#include "Wavetable2D.h"

#include <cmath>

namespace kelvor::sound
{
constexpr float divisionTable[24] = { 16.0f, 8.0f, 7.0f, 6.0f, 5.0f, 4.0f, 2.0f, 1.5f, 1.0f, 0.75f, 0.5f,
                                      0.666667f, 0.375f, 0.333333f, 0.25f, 0.1875f, 0.166667f, 0.125f,
                                      0.09375f, 0.083333f, 0.0625f, 0.046875f, 0.041667f, 0.03125f };
inline const float slewStep = static_cast<float> (5.0 / 44100.0);

inline float speedToFrequency (float s)
{
    return static_cast<float> (static_cast<double> (s) * 6.84721088436 + 0.0481632653);
}

inline float syncedRate (float s, float barSeconds)
{
    return 1.0f / (barSeconds * divisionTable[static_cast<int> (s * 23.0f)]);
}

inline float approach (float current, float target)
{
    if (current > target + slewStep)
        return current - slewStep;
    if (target - slewStep > current)
        return current + slewStep;
    return target;
}

struct Channel
{
    PhaserNetwork network;
    float speedFollower = 0, rateFollower = 0, phase = 0;

    void prepare (float speed, bool sync)
    {
        const int row = static_cast<int> (std::lround (speed * 127.0f));
        network.hiddenState = network.stateBank.row (row).transpose();
        speedFollower = speed;
        rateFollower = sync ? syncedRate (speed, 2.0f) : speedToFrequency (speed);
        phase = 0;
    }

    float process (Wavetable2D table, float x, float speed, bool sync, float barSeconds, float& lfo)
    {
        speedFollower = approach (speedFollower, speed);
        const float target = sync ? syncedRate (speedFollower, barSeconds) : speedToFrequency (speedFollower);
        rateFollower = approach (rateFollower, target);
        lfo = output2DFreqLerpedSample (table, phase, rateFollower);
        phase = phase + target / 44100.0f;
        if (phase >= 1.0f)
            phase = 0.0f;
        return network.runInference (PhaserNetwork::Input (x, lfo));
    }
};
} // namespace kelvor::sound
