// The simulated sensor's row kernels compiled for AVX2.
#include "sim/scene_row_kernels.h"

namespace sim::rows {
extern const Kernels kAvx2Rows;
const Kernels kAvx2Rows = RowKernels<V256>::kSet;
}  // namespace sim::rows
