// The kernels compiled for AVX2.
#include "processing/decode_kernels.h"
#include "processing/kernel_set.h"

namespace kernels {
const Set kAvx2 = {"avx2", Kernels<V256>::anyRow<uint8_t>, Kernels<V256>::anyRow<uint16_t>,
                   Kernels<V256>::correctPixels<uint8_t>, Kernels<V256>::correctPixels<uint16_t>,
                   MatrixKernels<V256>::pixels8, MatrixKernels<V256>::pixels16};
}  // namespace kernels
