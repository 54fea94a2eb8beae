// The simulated sensor's row kernels, written once over the vector interface
// of processing/simd.h and compiled once per instruction set, beside the
// processing kernels. Vectors take whole runs of samples with exactly the
// integer arithmetic of the plain loops, which do the rest.
#pragma once

#include <cstdint>

#include "processing/simd.h"
#include "sim/scene_rows.h"

namespace {

namespace rows = sim::rows;
using sim::SampleOrder;

// The plain loops, from sample `i` on.
inline void noisy8From(uint8_t* out, const rows::Run& r, int i) {
    for (; i < r.count; ++i) out[i] = static_cast<uint8_t>(rows::noisy<rows::kNoiseShift8>(r, i, 255));
}

template <SampleOrder Order>
inline void noisy16From(uint8_t* out, const rows::Run& r, int i) {
    for (; i < r.count; ++i) rows::store16<Order>(out + 2 * i, rows::noisy<rows::kNoiseShift16>(r, i, 4095));
}

inline void addObjectFrom(int16_t* levels, const int16_t* from, const int16_t* profile, int16_t weight, int count,
                          int i) {
    for (; i < count; ++i) levels[i] = rows::objectSample(from[i], weight, profile[i]);
}

// Samples [x0, x1) of block b as a run.
inline rows::Run runOf(const rows::Blocks& k, int b, int x0, int x1) {
    const int c = k.classes[b];
    const int16_t* src = c & rows::kFromObjects ? k.objects + (x0 - k.objectsFrom) : k.columns + x0;
    return {src, {k.even[0], k.even[1]}, k.noise + x0, k.gains[c & 3], x1 - x0};
}

// The row level in every pair of 16-bit lanes, even samples low, plus bias.
inline int rowPair(const int16_t even[2], int bias) {
    return static_cast<int>(static_cast<uint16_t>(even[0] + bias) |
                            static_cast<uint32_t>(static_cast<uint16_t>(even[1] + bias)) << 16);
}

template <class V>
struct RowKernels {
    using R = typename V::R;
    static constexpr int kLanes = V::kBytes / 2;  // 16-bit lanes of a vector

    template <int Shift>
    static inline R noise(const int8_t* p, R gain) {
        return V::mulhrs16(V::template slli16<Shift>(V::widen8(p)), gain);
    }

    // 8-bit: the levels stay far below the saturation of the 16-bit lanes,
    // and the pack clips to 0..255.
    static inline int noisy8(uint8_t* out, const int16_t* src, const int8_t* noise8, int i, int count, R level,
                             R gain) {
        for (; i + 2 * kLanes <= count; i += 2 * kLanes) {
            const R a = V::adds16(V::adds16(V::load(src + i), level), noise<rows::kNoiseShift8>(noise8 + i, gain));
            const R b = V::adds16(V::adds16(V::load(src + i + kLanes), level),
                                  noise<rows::kNoiseShift8>(noise8 + i + kLanes, gain));
            V::store(out + i, V::packus16(a, b));
        }
        return i;
    }

    // 16-bit: levels shifted down by 32768, so that the saturating add clips
    // at zero and the shift by 4 drops the shift again.
    template <SampleOrder Order>
    static inline R sample16(R v) {
        if constexpr (Order == SampleOrder::MsbFirst) {
            const R w = V::template slli16<4>(v);
            return V::or_(V::template slli16<8>(w), V::template srli16<8>(w));
        } else if constexpr (Order == SampleOrder::Host) {
            return V::template slli16<4>(v);
        } else {
            const R u = V::xor_(v, V::set16(-32768));
            return V::or_(V::template srli16<4>(u), V::template slli16<8>(V::and_(u, V::set16(15))));
        }
    }

    template <SampleOrder Order>
    static inline int noisy16(uint8_t* out, const int16_t* src, const int8_t* noise8, int i, int count, R level,
                              R gain) {
        const R top = V::set16(4095 - 32768);
        for (; i + kLanes <= count; i += kLanes) {
            const R v = V::add16(V::load(src + i), level);
            const R w = V::min16(V::adds16(v, noise<rows::kNoiseShift16>(noise8 + i, gain)), top);
            V::store(out + 2 * i, sample16<Order>(w));
        }
        return i;
    }

    static void run8(uint8_t* out, const rows::Run& r) {
        noisy8From(out, r, noisy8(out, r.src, r.noise, 0, r.count, V::set32(rowPair(r.even, 0)), V::set16(r.gain)));
    }

    template <SampleOrder Order>
    static void run16(uint8_t* out, const rows::Run& r) {
        const R level = V::set32(rowPair(r.even, -32768));
        noisy16From<Order>(out, r, noisy16<Order>(out, r.src, r.noise, 0, r.count, level, V::set16(r.gain)));
    }

    // The description of the blocks is copied first: stores through the
    // output may alias it, and the compiler would read it again for every
    // block.
    template <int Bytes, SampleOrder Order>
    static void blocks(uint8_t* out, const rows::Blocks& k, int x0, int x1) {
        const R level = V::set32(rowPair(k.even, Bytes == 1 ? 0 : -32768));
        const int16_t *columns = k.columns, *objects = k.objects;
        const int from = k.objectsFrom;
        const uint8_t* classes = k.classes;
        const int8_t* noise8 = k.noise;
        const int16_t gains[4] = {k.gains[0], k.gains[1], k.gains[2], k.gains[3]};
        int b = x0 / rows::kBlock;
        for (; (b + 1) * rows::kBlock <= x1; ++b, out += rows::kBlock * Bytes) {
            const int x = b * rows::kBlock, c = classes[b];
            const int16_t* src = c & rows::kFromObjects ? objects + (x - from) : columns + x;
            if constexpr (Bytes == 1)
                noisy8(out, src, noise8 + x, 0, rows::kBlock, level, V::set16(gains[c & 3]));
            else
                noisy16<Order>(out, src, noise8 + x, 0, rows::kBlock, level, V::set16(gains[c & 3]));
        }
        if (b * rows::kBlock >= x1) return;
        if constexpr (Bytes == 1)
            run8(out, runOf(k, b, b * rows::kBlock, x1));
        else
            run16<Order>(out, runOf(k, b, b * rows::kBlock, x1));
    }

    static void addObject(int16_t* levels, const int16_t* from, const int16_t* profile, int16_t weight, int count) {
        const R w = V::set16(weight);
        int i = 0;
        for (; i + kLanes <= count; i += kLanes)
            V::store(levels + i, V::adds16(V::load(from + i), V::mulhi16(w, V::load(profile + i))));
        addObjectFrom(levels, from, profile, weight, count, i);
    }

    static constexpr rows::Kernels kSet{
        run8,
        {run16<SampleOrder::MsbFirst>, run16<SampleOrder::Host>, run16<SampleOrder::Packed12>},
        blocks<1, SampleOrder::MsbFirst>,
        {blocks<2, SampleOrder::MsbFirst>, blocks<2, SampleOrder::Host>, blocks<2, SampleOrder::Packed12>},
        addObject};
};

}  // namespace
