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
// the top. Noise of 8-bit samples fits a byte, which halves its reading.
template <typename Noise>
struct RunOf {
    const int16_t* src;
    int16_t even[2];     // row level of the run's even and odd samples
    const Noise* noise;  // one value per sample
    int count;
};
using Run8 = RunOf<int8_t>;
using Run16 = RunOf<int16_t>;

template <typename Noise>
inline int noisy(const RunOf<Noise>& r, int i, int top) {
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
template <typename Noise>
struct BlocksOf {
    const int16_t* columns;  // levels without objects
    const int16_t* objects;  // levels where objects lie, from column objectsFrom on
    int objectsFrom;
    const uint8_t* classes;  // by block: noise class, and kFromObjects
    const Noise* noise[4];   // noise tables by class, at the row's start
    int16_t even[2];         // row level of even and odd columns

    const int16_t* levels(int x, int cls) const {
        return cls & kFromObjects ? objects + (x - objectsFrom) : columns + x;
    }
};
using Blocks8 = BlocksOf<int8_t>;
using Blocks16 = BlocksOf<int16_t>;

struct Kernels {
    // A run of samples, out at its first.
    void (*noisy8)(uint8_t* out, const Run8& run);
    void (*noisy16[3])(uint8_t* out, const Run16& run);  // by SampleOrder
    // Samples [x0, x1) from the start of a block, out at x0: whole blocks,
    // and a piece of one at the end.
    void (*blocks8)(uint8_t* out, const Blocks8& blocks, int x0, int x1);
    void (*blocks16[3])(uint8_t* out, const Blocks16& blocks, int x0, int x1);
    // levels[i] = objectSample(from[i], weight, profile[i]); from may be levels.
    void (*addObject)(int16_t* levels, const int16_t* from, const int16_t* profile, int16_t weight, int count);
};

enum class Isa { Plain, Sse2, Avx2 };
bool runs(Isa isa);               // whether this processor runs it
const Kernels& kernels(Isa isa);  // falls back to what runs
const Kernels& bestKernels();     // chosen once

}  // namespace sim::rows
