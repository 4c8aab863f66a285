// The step itself, written once in Eigen and compiled once per instruction set. The
// including unit has already included its own Eigen and names the namespace this
// goes into, so the two builds never share a symbol. No include guard on purpose,
// no includes of its own.
#ifndef KELVOR_KERNEL_NAMESPACE
#error "define KELVOR_KERNEL_NAMESPACE before including NetworkKernelBody.h"
#endif

namespace KELVOR_KERNEL_NAMESPACE
{
// SplitProduct sums the recurrent product in two halves of eight columns, which
// halves its chain of dependent multiply-adds; that pays with FMA and sixteen wide
// registers, not in the SSE build.
template <bool SplitProduct>
inline float step (const float* weights, float* state, float audio, float lfo)
{
    namespace pk = kelvor::packed;
    using Gates = Eigen::Matrix<float, pk::gateRows, 1>;
    using Vector = Eigen::Matrix<float, pk::units, 1>;
    constexpr int u = pk::units;

    const Eigen::Map<const Eigen::Matrix<float, pk::gateRows, pk::units>, Eigen::Aligned32> hiddenWeights (weights + pk::hiddenWeights);
    const Eigen::Map<const Eigen::Matrix<float, pk::gateRows, 2>, Eigen::Aligned32> inputWeights (weights + pk::inputWeights);
    const Eigen::Map<const Gates, Eigen::Aligned32> recurrentBias (weights + pk::recurrentBias);
    const Eigen::Map<const Vector, Eigen::Aligned32> inputBiasN (weights + pk::inputBiasN);
    const Eigen::Map<const Vector, Eigen::Aligned32> outputWeights (weights + pk::outputWeights);
    Eigen::Map<Vector, Eigen::Aligned32> h (state);

    // All three recurrent products in one pass over the old state; the input side
    // is kept apart because only the recurrent part of n passes through r.
    Gates recurrent;
    if constexpr (SplitProduct)
        recurrent = hiddenWeights.leftCols<u / 2>().lazyProduct (h.head<u / 2>()) + recurrentBias
                  + hiddenWeights.rightCols<u / 2>().lazyProduct (h.tail<u / 2>());
    else
        recurrent = hiddenWeights.lazyProduct (h) + recurrentBias;
    const Gates input = inputWeights.col (0) * audio + inputWeights.col (1) * lfo;

    const Vector r = (1.0f / (1.0f + (-(recurrent.head<u>() + input.head<u>()).array()).exp())).matrix();
    const Vector n = (input.tail<u>() + inputBiasN + (r.array() * recurrent.tail<u>().array()).matrix()).array().tanh().matrix();
    const Vector z = (1.0f / (1.0f + (-(recurrent.segment<u> (u) + input.segment<u> (u)).array()).exp())).matrix();

    h = (z.array() * h.array() + (1.0f - z.array()) * n.array()).matrix();
    return outputWeights.dot (h) + weights[pk::outputBias];
}
} // namespace KELVOR_KERNEL_NAMESPACE
