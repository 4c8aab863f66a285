// The AVX2 + FMA build of the network step. This unit alone is compiled with -mavx2
// -mfma; its Eigen is renamed so none of its inline functions or templates can be
// merged with the baseline build's by the linker. Nothing here runs at start-up.
#define Eigen KelvorAvx2Eigen
#include <Eigen/Core>

#if !defined(__AVX2__) || !defined(__FMA__)
#error "NetworkKernelAvx2.cpp must be compiled with -mavx2 -mfma"
#endif

#include "NetworkKernel.h"

#define KELVOR_KERNEL_NAMESPACE kelvorAvx2
#include "NetworkKernelBody.h"
#undef KELVOR_KERNEL_NAMESPACE

float kelvor::networkStepAvx2 (const float* packedWeights, float* state, float audio, float lfo)
{
    return kelvorAvx2::step<true> (packedWeights, state, audio, lfo);
}
