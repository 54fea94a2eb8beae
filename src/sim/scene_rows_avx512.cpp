// The simulated sensor's row kernels compiled for AVX512.
#include "sim/scene_row_kernels.h"

namespace sim::rows {
extern const Kernels kAvx512Rows;
const Kernels kAvx512Rows = RowKernels<V512>::kSet;
}  // namespace sim::rows
