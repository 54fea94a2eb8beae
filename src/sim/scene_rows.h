// Row kernels of the simulated sensor: a run of a row's levels plus its
// noise, clipped to the converter's range and stored in the product's byte
// order; and an object's contribution added to a row of levels. Every
// instruction set gives the same numbers as the plain loops, so a frame
// written in pieces is the same frame.
#pragma once

#include <algorithm>
#include <cstdint>

#include "sim/device_profile.h"

namespace sim::rows {

// The levels of a run: src[i] + even[i & 1], in sample units. Levels past
// full scale are kept, so that noise cannot pull a saturated sample below
// the top.
struct Run {
    const int16_t* src;
    int16_t even[2];       // row level of the run's even and odd samples
    const int16_t* noise;  // the run's noise, one value per sample
    int count;
};

inline int noisy(const Run& r, int i, int top) {
    return std::clamp(r.src[i] + r.even[i & 1] + r.noise[i], 0, top);
}

// A 12-bit level as a 16-bit sample, aligned to the top bit.
template <SampleOrder Order>
inline void store16(uint8_t* out, int level12) {
    const int v = level12 << 4;
    if constexpr (Order == SampleOrder::MsbFirst) {
        out[0] = static_cast<uint8_t>(v >> 8);
        out[1] = static_cast<uint8_t>(v);
    } else if constexpr (Order == SampleOrder::Host) {
        out[0] = static_cast<uint8_t>(v);
        out[1] = static_cast<uint8_t>(v >> 8);
    } else {
        out[0] = static_cast<uint8_t>(v >> 8);
        out[1] = static_cast<uint8_t>((v >> 4) & 0x0f);
    }
}

// An object's contribution to one level: (weight x profile) >> 16, both
// non-negative, added with saturation.
inline int16_t objectSample(int16_t level, int16_t weight, int16_t profile) {
    return static_cast<int16_t>(std::min(32767, level + ((weight * profile) >> 16)));
}

// Whole blocks of a row, each with its own noise class and source of
// levels; every array is indexed by the sample's column.
constexpr int kBlock = 64;
constexpr uint8_t kFromObjects = 4;  // flag of a block's class: levels from `objects`
struct Blocks {
    const int16_t* columns;   // levels without objects
    const int16_t* objects;   // levels where objects lie
    const uint8_t* classes;   // by block: noise class, and kFromObjects
    const int16_t* noise[4];  // noise tables by class, at the row's start
    int16_t even[2];          // row level of even and odd columns
};

using NoisyRun = void (*)(uint8_t* out, const Run& run);
// Samples [x0, x1) from the start of a block, out at x0: whole blocks, and
// a piece of one at the end.
using NoisyBlocks = void (*)(uint8_t* out, const Blocks& blocks, int x0, int x1);

struct Kernels {
    NoisyRun noisy8;             // 8-bit samples
    NoisyRun noisy16[3];         // 16-bit samples, by SampleOrder
    NoisyBlocks blocks8;
    NoisyBlocks blocks16[3];
    // levels[i] = objectSample(from[i], weight, profile[i]); from may be levels.
    void (*addObject)(int16_t* levels, const int16_t* from, const int16_t* profile, int16_t weight, int count);
};

enum class Isa { Plain, Sse2, Avx2 };
bool runs(Isa isa);                 // whether this processor runs it
const Kernels& kernels(Isa isa);    // falls back to what runs
const Kernels& bestKernels();       // chosen once

}  // namespace sim::rows
