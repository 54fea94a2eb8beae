// Row kernels of the simulated sensor: a run of a row's levels plus its
// noise, clipped to the converter's range and stored in the product's byte
// order; and an object's contribution added to a row of levels. Every
// instruction set gives the same numbers as the plain loops, so a frame
// written in pieces is the same frame.
#pragma once

#include <cstdint>

#include "sim/device_profile.h"

namespace kernels {
struct Set;
}

namespace sim::rows {

// The levels of a run: src[i] + even[i & 1], in sample units. Levels past
// full scale are kept, so that noise cannot pull a saturated sample below
// the top.
struct Run {
    const int16_t* src;
    int16_t even[2];      // row level of the run's even and odd samples
    const int8_t* noise;  // unit noise, one value per sample
    int16_t gain;
    int count;
};

// The helpers have internal linkage and no library templates: the kernel
// files compile them for wider instruction sets, and an out-of-line copy of
// one of those must never stand in for the baseline's.
namespace {

// Noise is unit noise (a table of bytes small enough to stay in the first
// cache) times the gain of the sample's class: round(unit x 2^shift x gain
// / 2^15). 8-bit samples use shift 0, 16-bit ones 3, whose noise is larger.
constexpr int kNoiseShift8 = 0, kNoiseShift16 = 3;

template <int Shift>
inline int noiseValue(int8_t unit, int16_t gain) {
    return (unit * (1 << Shift) * gain + (1 << 14)) >> 15;
}

template <int Shift>
inline int noisy(const Run& r, int i, int top) {
    const int v = r.src[i] + r.even[i & 1] + noiseValue<Shift>(r.noise[i], r.gain);
    return v < 0 ? 0 : v > top ? top : v;
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
    const int v = level + ((weight * profile) >> 16);
    return static_cast<int16_t>(v < 32767 ? v : 32767);
}

}  // namespace

// Whole blocks of a row, each with its own noise class and source of
// levels; every array is indexed by the sample's column.
constexpr int kBlock = 64;
constexpr uint8_t kFromObjects = 4;  // flag of a block's class: levels from `objects`
struct Blocks {
    const int16_t* columns;  // levels without objects
    const int16_t* objects;  // levels where objects lie, from column objectsFrom on
    int objectsFrom;
    const uint8_t* classes;  // by block: noise class, and kFromObjects
    const int8_t* noise;     // unit noise at the row's start
    int16_t gains[4];        // by class
    int16_t even[2];         // row level of even and odd columns

    const int16_t* levels(int x, int cls) const {
        return cls & kFromObjects ? objects + (x - objectsFrom) : columns + x;
    }
};

struct Kernels {
    // A run of samples, out at its first.
    void (*noisy8)(uint8_t* out, const Run& run);
    void (*noisy16[3])(uint8_t* out, const Run& run);  // by SampleOrder
    // Samples [x0, x1) from the start of a block, out at x0: whole blocks,
    // and a piece of one at the end.
    void (*blocks8)(uint8_t* out, const Blocks& blocks, int x0, int x1);
    void (*blocks16[3])(uint8_t* out, const Blocks& blocks, int x0, int x1);
    // levels[i] = objectSample(from[i], weight, profile[i]); from may be levels.
    void (*addObject)(int16_t* levels, const int16_t* from, const int16_t* profile, int16_t weight, int count);
};

// The plain loops; the kernels compiled for one of the processing kernel
// sets (falling back to the plain loops where no such set is built); and
// those of the set the processing runs on, so that one choice, made once,
// holds for the whole library.
const Kernels& plainKernels();
const Kernels& kernelsFor(const kernels::Set& set);
const Kernels& bestKernels();

}  // namespace sim::rows
