// Which tone kernels the processor runs: the byte-permute ones with
// AVX-512 VBMI inside the AVX-512 kernel set, none otherwise.
#include "processing/tone_kernels.h"

#include "processing/kernel_set.h"

namespace tone {
namespace vbmi {
ColourBlocks colourKernel();
TableBlocks tableKernel();
}  // namespace vbmi

namespace {
bool permutes() {
    static const bool yes =
        &kernels::active() == &kernels::kAvx512 && __builtin_cpu_supports("avx512vbmi");
    return yes;
}
}  // namespace

ColourBlocks colourBlocks() {
    return permutes() ? vbmi::colourKernel() : nullptr;
}
TableBlocks tableBlocks() {
    return permutes() ? vbmi::tableKernel() : nullptr;
}

}  // namespace tone
