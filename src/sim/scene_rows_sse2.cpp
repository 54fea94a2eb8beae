// The simulated sensor's row kernels compiled for SSE2.
#include "sim/scene_row_kernels.h"

namespace sim::rows {
extern const Kernels kSse2Rows;
const Kernels kSse2Rows = RowKernels<V128>::kSet;
}  // namespace sim::rows
