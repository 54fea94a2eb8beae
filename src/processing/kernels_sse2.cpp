// The kernels compiled for SSE2.
#include "processing/decode_kernels.h"
#include "processing/kernel_set.h"

namespace kernels {
const Set kSse2 = {"sse2", Kernels<V128>::anyRow<uint8_t>, Kernels<V128>::anyRow<uint16_t>,
                   Kernels<V128>::correctPixels<uint8_t>, Kernels<V128>::correctPixels<uint16_t>,
                   MatrixKernels<V128>::pixels8, MatrixKernels<V128>::pixels16};
}  // namespace kernels
