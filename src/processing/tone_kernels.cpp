// Which tone kernels the processor runs: the byte-permute ones with
// AVX-512 VBMI inside the AVX-512 kernel set, else the AVX2 ones within
// either wide set, none on the baseline.
#include "processing/tone_kernels.h"

#include "processing/kernel_set.h"

namespace tone {
namespace vbmi {
ColourBlocks colourKernel();
TableBlocks tableKernel();
ColourBlocks colourWideKernel();
TableBlocks tableWideKernel();
}  // namespace vbmi
namespace avx2 {
ColourBlocks colourKernel();
TableBlocks tableKernel();
}  // namespace avx2

namespace {
bool permutes() {
    static const bool yes =
        &kernels::active() == &kernels::kAvx512 && __builtin_cpu_supports("avx512vbmi");
    return yes;
}
bool shuffles() {
    return &kernels::active() != &kernels::kSse2;
}
}  // namespace

ColourBlocks colourBlocks() {
    return permutes() ? vbmi::colourKernel() : shuffles() ? avx2::colourKernel() : nullptr;
}
TableBlocks tableBlocks() {
    return permutes() ? vbmi::tableKernel() : shuffles() ? avx2::tableKernel() : nullptr;
}
ColourBlocks colourWideBlocks() {
    return permutes() ? vbmi::colourWideKernel() : nullptr;
}
TableBlocks tableWideBlocks() {
    return permutes() ? vbmi::tableWideKernel() : nullptr;
}
std::vector<KernelFamily> kernelFamilies() {
    std::vector<KernelFamily> families;
    if (kernels::runs(kernels::kAvx512) && __builtin_cpu_supports("avx512vbmi"))
        families.push_back({"vbmi", vbmi::colourKernel(), vbmi::colourWideKernel(),
                            vbmi::tableKernel(), vbmi::tableWideKernel()});
    if (kernels::runs(kernels::kAvx2))
        families.push_back({"avx2", avx2::colourKernel(), nullptr, avx2::tableKernel(), nullptr});
    return families;
}

}  // namespace tone
