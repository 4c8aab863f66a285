#pragma once

// The network step as a plain function over raw floats, so that each instruction-set
// build of it lives in its own translation unit and no Eigen type crosses between them.
namespace kelvor
{
// The packed weights, derived from the network's members at load time. Gate rows are
// stacked r, z, n (48 rows) so one pass over h feeds all three recurrent products.
namespace packed
{
    constexpr int units = 16;
    constexpr int gateRows = 3 * units;
    constexpr int hiddenWeights = 0;                          // 48 x 16, column-major
    constexpr int inputWeights = hiddenWeights + gateRows * units; // 48 x 2, column-major
    constexpr int recurrentBias = inputWeights + gateRows * 2; // r, z: both biases summed; n: recurrent side
    constexpr int inputBiasN = recurrentBias + gateRows;
    constexpr int outputWeights = inputBiasN + units;
    constexpr int outputBias = outputWeights + units;
    constexpr int size = outputBias + 8;                      // keeps the total a whole number of 8-float vectors
} // namespace packed

// One step: reads h from state, writes h' back and returns the read-out.
// packed and state must be 32-byte aligned.
using NetworkStepFunction = float (*) (const float* packedWeights, float* state, float audio, float lfo);

float networkStepBaseline (const float* packedWeights, float* state, float audio, float lfo);

// Only callable where cpuHasAvx2Fma() is true.
float networkStepAvx2 (const float* packedWeights, float* state, float audio, float lfo);

bool cpuHasAvx2Fma();

// The kernel for this CPU, decided on first use and then fixed for the process.
NetworkStepFunction chosenNetworkStep();
} // namespace kelvor
