// The plain row kernels, and the choice among the sets compiled per
// instruction set: the one of the processing kernels in use.
#include "sim/scene_rows.h"

#include <algorithm>

#include "processing/kernel_set.h"

namespace sim::rows {

extern const Kernels kSse2Rows, kAvx2Rows, kAvx512Rows;

namespace {

void noisy8Plain(uint8_t* out, const Run& r) {
    for (int i = 0; i < r.count; ++i) out[i] = static_cast<uint8_t>(noisy<kNoiseShift8>(r, i, 255));
}

template <SampleOrder Order>
void noisy16Plain(uint8_t* out, const Run& r) {
    for (int i = 0; i < r.count; ++i) store16<Order>(out + 2 * i, noisy<kNoiseShift16>(r, i, 4095));
}

void addObjectPlain(int16_t* levels, const int16_t* from, const int16_t* profile, int16_t weight, int count) {
    for (int i = 0; i < count; ++i) levels[i] = objectSample(from[i], weight, profile[i]);
}

template <void (*Kernel)(uint8_t*, const Run&), int Bytes>
void blocksPlain(uint8_t* out, const Blocks& k, int x0, int x1) {
    for (int b = x0 / kBlock; b * kBlock < x1; ++b, out += kBlock * Bytes) {
        const int x = b * kBlock, c = k.classes[b];
        Kernel(out, {k.levels(x, c), {k.even[0], k.even[1]}, k.noise + x, k.gains[c & 3], std::min(x1, x + kBlock) - x});
    }
}

const Kernels kPlain{noisy8Plain,
                     {noisy16Plain<SampleOrder::MsbFirst>, noisy16Plain<SampleOrder::Host>,
                      noisy16Plain<SampleOrder::Packed12>},
                     blocksPlain<noisy8Plain, 1>,
                     {blocksPlain<noisy16Plain<SampleOrder::MsbFirst>, 2>, blocksPlain<noisy16Plain<SampleOrder::Host>, 2>,
                      blocksPlain<noisy16Plain<SampleOrder::Packed12>, 2>},
                     addObjectPlain};

}  // namespace

const Kernels& plainKernels() { return kPlain; }

const Kernels& kernelsFor(const kernels::Set& set) {
    if (&set == &kernels::kAvx512) return kAvx512Rows;
    if (&set == &kernels::kAvx2) return kAvx2Rows;
    if (&set == &kernels::kSse2) return kSse2Rows;
    return kPlain;
}

const Kernels& bestKernels() {
    static const Kernels& best = kernelsFor(kernels::active());
    return best;
}

}  // namespace sim::rows
