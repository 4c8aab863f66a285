// The baseline x86-64 build of the network step (SSE2 only) and the choice of kernel.
#include "NetworkKernel.h"

#include <Eigen/Core>

#define KELVOR_KERNEL_NAMESPACE kelvorBaseline
#include "NetworkKernelBody.h"
#undef KELVOR_KERNEL_NAMESPACE

float kelvor::networkStepBaseline (const float* packedWeights, float* state, float audio, float lfo)
{
    return kelvorBaseline::step<false> (packedWeights, state, audio, lfo);
}

bool kelvor::cpuHasAvx2Fma()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma");
}

kelvor::NetworkStepFunction kelvor::chosenNetworkStep()
{
    static const NetworkStepFunction chosen = cpuHasAvx2Fma() ? networkStepAvx2 : networkStepBaseline;
    return chosen;
}
