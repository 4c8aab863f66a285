#pragma once

#include "NetworkKernel.h"

#include <Eigen/Core>

#include <cstring>

// One gated recurrent network, PyTorch's GRU formulation (gates r, z, n), plus a
// linear read-out. Runs once per sample: x = (audio sample, LFO value).
// Everything lives inside the object, so a step never touches the heap.
template <int InputSize, int HiddenSize, int StateCount>
class alignas(32) GRU
{
public:
    static constexpr int numWeights = 3 * HiddenSize * InputSize + 3 * HiddenSize * HiddenSize
                                    + 6 * HiddenSize + HiddenSize + 1;
    static constexpr int numBankValues = StateCount * HiddenSize;

    using Input = Eigen::Matrix<float, InputSize, 1>;
    using Vector = Eigen::Matrix<float, HiddenSize, 1>;
    using InputMatrix = Eigen::Matrix<float, HiddenSize, InputSize>;
    using HiddenMatrix = Eigen::Matrix<float, HiddenSize, HiddenSize>;
    using Bank = Eigen::Matrix<float, StateCount, HiddenSize>;

    GRU()
    {
        hiddenState.setZero();
        ones.setOnes();
    }

    static_assert (InputSize == 2 && HiddenSize == kelvor::packed::units,
                   "the step kernels are written for two inputs and 16 units");

    // weights: numWeights floats in PyTorch's parameter order (weight_ih, weight_hh,
    // bias_ih, bias_hh with gate blocks r, z, n; then the read-out's weight and bias).
    // bank: StateCount rows of HiddenSize start states. A byte count below 1 loads
    // only the bank and leaves the weights as they are.
    void loadFromBuffer (const float* weights, int byteCount, const float* bank)
    {
        for (int r = 0; r < StateCount; ++r)
            for (int u = 0; u < HiddenSize; ++u)
                stateBank (r, u) = bank[HiddenSize * r + u];

        ones.setOnes();
        hiddenState.setZero();

        if (byteCount < 1)
            return;

        const float* w = weights;
        readRows (inputWeightsR, w);
        readRows (inputWeightsZ, w);
        readRows (inputWeightsN, w);
        readRows (hiddenWeightsR, w);
        readRows (hiddenWeightsZ, w);
        readRows (hiddenWeightsN, w);
        readVector (inputBiasR, w);
        readVector (inputBiasZ, w);
        readVector (inputBiasN, w);
        readVector (hiddenBiasR, w);
        readVector (hiddenBiasZ, w);
        readVector (hiddenBiasN, w);
        readVector (outputWeights, w);
        outputBias (0) = *w;
        packWeights();
    }

    // One step, by the fastest kernel this CPU runs (chosen once per process).
    float runInference (const Input& x)
    {
        return stepKernel (packedWeights, hiddenState.data(), x (0), x (1));
    }

    // The same step written out with one Eigen product per gate; the kernels are
    // checked against it.
    float runInferenceUnpacked (const Input& x)
    {
        const Vector& h = hiddenState;

        const Vector r = sigmoid (inputWeightsR * x + inputBiasR + hiddenWeightsR * h + hiddenBiasR);
        const Vector z = sigmoid (inputWeightsZ * x + inputBiasZ + hiddenWeightsZ * h + hiddenBiasZ);
        const Vector recurrentN = hiddenWeightsN * h + hiddenBiasN;
        const Vector n = (inputWeightsN * x + inputBiasN
                          + (r.array() * recurrentN.array()).matrix()).array().tanh().matrix();

        hiddenState = (z.array() * h.array() + (ones - z).array() * n.array()).matrix();
        return outputWeights.dot (hiddenState) + outputBias (0);
    }

    InputMatrix inputWeightsN;
    Vector inputBiasN;
    InputMatrix inputWeightsZ;
    Vector inputBiasZ;
    InputMatrix inputWeightsR;
    Vector inputBiasR;
    HiddenMatrix hiddenWeightsZ;
    Vector hiddenBiasZ;
    HiddenMatrix hiddenWeightsR;
    Vector hiddenBiasR;
    HiddenMatrix hiddenWeightsN;
    Vector hiddenBiasN;
    Vector outputWeights;
    Eigen::Matrix<float, 1, 1> outputBias;
    Vector hiddenState;
    Vector ones;
    Bank stateBank;

    // Derived from the members above at load time, in the kernels' layout.
    alignas (32) float packedWeights[kelvor::packed::size] {};
    kelvor::NetworkStepFunction stepKernel = kelvor::chosenNetworkStep();

private:
    void packWeights()
    {
        namespace pk = kelvor::packed;
        const HiddenMatrix* hidden[3] = { &hiddenWeightsR, &hiddenWeightsZ, &hiddenWeightsN };
        const InputMatrix* input[3] = { &inputWeightsR, &inputWeightsZ, &inputWeightsN };
        for (int g = 0; g < 3; ++g)
        {
            for (int i = 0; i < pk::units; ++i)
            {
                for (int j = 0; j < pk::units; ++j)
                    packedWeights[pk::hiddenWeights + pk::gateRows * j + pk::units * g + i] = (*hidden[g]) (i, j);
                for (int j = 0; j < 2; ++j)
                    packedWeights[pk::inputWeights + pk::gateRows * j + pk::units * g + i] = (*input[g]) (i, j);
            }
        }
        for (int i = 0; i < pk::units; ++i)
        {
            packedWeights[pk::recurrentBias + i] = inputBiasR (i) + hiddenBiasR (i);
            packedWeights[pk::recurrentBias + pk::units + i] = inputBiasZ (i) + hiddenBiasZ (i);
            packedWeights[pk::recurrentBias + 2 * pk::units + i] = hiddenBiasN (i);
            packedWeights[pk::inputBiasN + i] = inputBiasN (i);
            packedWeights[pk::outputWeights + i] = outputWeights (i);
        }
        packedWeights[pk::outputBias] = outputBias (0);
    }

    static Vector sigmoid (const Vector& v)
    {
        return (1.0f / (1.0f + (-v.array()).exp())).matrix();
    }

    // The file is row-major, the members column-major: element (i, j) keeps its meaning.
    template <typename Matrix>
    static void readRows (Matrix& m, const float*& w)
    {
        for (int i = 0; i < m.rows(); ++i)
            for (int j = 0; j < m.cols(); ++j)
                m (i, j) = *w++;
    }

    static void readVector (Vector& v, const float*& w)
    {
        for (int i = 0; i < HiddenSize; ++i)
            v (i) = *w++;
    }
};

using PhaserNetwork = GRU<2, 16, 128>;
