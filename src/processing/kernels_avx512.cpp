// The kernels compiled for AVX-512.
#include "processing/decode_kernels.h"
#include "processing/kernel_set.h"

namespace kernels {
const Set kAvx512 = {"avx512", Kernels<V512>::anyRow<uint8_t>, Kernels<V512>::anyRow<uint16_t>,
                     Kernels<V512>::correctPixels<uint8_t>, Kernels<V512>::correctPixels<uint16_t>,
                     MatrixKernels<V512>::pixels8, MatrixKernels<V512>::pixels16};
}  // namespace kernels
