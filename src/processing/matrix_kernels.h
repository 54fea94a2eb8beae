// The colour matrix (colour_matrix.h) on vectors of channel samples, written
// once over the vector interface of simd.h: exact integer sums through the
// pairwise 16-bit multiply-add, so every lane gets the scalar loop's bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "processing/colour_matrix.h"
#include "processing/simd.h"

namespace {

template <class V>
struct MatrixKernels {
    using R = typename V::R;
    using I = typename V::I32;
    static constexpr int kLanes32 = V::kBytes / 4;

    // Per output channel k, 32-bit lanes of the 16-bit pairs (m[3k], m[3k+1])
    // and (m[3k+2], 2^11): multiplied with lanes of (c0, c1) and (c2, 1)
    // they give the whole sum with its rounding term. The coefficients
    // must pass colour::matrixInLanes.
    struct Coefficients {
        R pair01[3], pair2[3];
        R offset[3];  // of the narrow lanes of 16-bit samples
        explicit Coefficients(const int32_t* m) {
            const auto pair = [](int32_t low, int32_t high) {
                return V::set32(static_cast<int32_t>(static_cast<uint32_t>(low & 0xffff) |
                                                     static_cast<uint32_t>(high) << 16));
            };
            for (int k = 0; k < 3; ++k) {
                pair01[k] = pair(m[3 * k], m[3 * k + 1]);
                pair2[k] = pair(m[3 * k + 2], 1 << (colour::kMatrixShift - 1));
                const int64_t sum = int64_t{m[3 * k]} + m[3 * k + 1] + m[3 * k + 2];
                offset[k] = V::set32(static_cast<int32_t>(
                    static_cast<uint32_t>(32768 * sum + (1 << (colour::kMatrixShift - 1)))));
            }
        }
    };

    // 16-bit lanes of 8-bit samples (0 .. 255) in place. The sums fit 32
    // bits with room; shifted, they fit 16 bits before the clamp.
    static inline __attribute__((always_inline)) void lanes16(R& c0, R& c1, R& c2,
                                                              const Coefficients& m) {
        const R one = V::set16(1);
        const R p01Low = V::unpacklo16(c0, c1), p01High = V::unpackhi16(c0, c1);
        const R p2Low = V::unpacklo16(c2, one), p2High = V::unpackhi16(c2, one);
        const R zero = V::zero(), top = V::set16(255);
        R out[3];
        for (int k = 0; k < 3; ++k) {
            const R low = V::template srai32<colour::kMatrixShift>(
                V::add32(V::madd16(p01Low, m.pair01[k]), V::madd16(p2Low, m.pair2[k])));
            const R high = V::template srai32<colour::kMatrixShift>(
                V::add32(V::madd16(p01High, m.pair01[k]), V::madd16(p2High, m.pair2[k])));
            // The unpacks and the pack both work within 128-bit lanes, so
            // the pack puts the pixels back in their order.
            out[k] = V::min16(V::max16(V::packs32(low, high), zero), top);
        }
        c0 = out[0], c1 = out[1], c2 = out[2];
    }

    // Whether 16-bit samples can take the narrow lanes: each output's
    // coefficients together at most 2^15 in magnitude, so that its whole
    // sum, within 2^15 x 65535 + 2^11, fits 32 bits.
    static bool narrow(const int32_t* m) {
        for (int k = 0; k < 3; ++k) {
            int64_t sum = 0;
            for (int j = 0; j < 3; ++j) sum += m[3 * k + j] < 0 ? -int64_t{m[3 * k + j]} : m[3 * k + j];
            if (sum > 32768) return false;
        }
        return true;
    }

    // 32-bit lanes of 16-bit samples (0 .. 65535) in place, narrow
    // coefficients: the multiply-add takes the samples as signed, c - 2^15,
    // and the offset 2^15 (m0 + m1 + m2) + 2^11 puts back what that took off.
    // The 32-bit additions (and the multiply-add's one overflowing case)
    // wrap, so only the whole sum need fit, and it does.
    static inline __attribute__((always_inline)) void narrowLanes32(R& c0, R& c1, R& c2,
                                                                    const Coefficients& m) {
        const R p01 = V::xor_(V::or_(c0, V::template slli32<16>(c1)), V::set32(int32_t(0x80008000u)));
        const R p2 = V::xor_(c2, V::set32(0x8000));  // (c2 - 2^15, 0)
        const I zero = I{} + 0, top = I{} + 65535;
        R out[3];
        for (int k = 0; k < 3; ++k) {
            const R sum = V::add32(V::add32(V::madd16(p01, m.pair01[k]), V::madd16(p2, m.pair2[k])),
                                   m.offset[k]);
            I v = (I)V::template srai32<colour::kMatrixShift>(sum);
            v = v < zero ? zero : v;
            out[k] = (R)(v > top ? top : v);
        }
        c0 = out[0], c1 = out[1], c2 = out[2];
    }

    // 32-bit lanes of 16-bit samples (0 .. 65535) in place. A sample is split
    // into its bytes, c = 256 h + l, so that the multiply-add (signed 16-bit)
    // takes it and the sums stay within 32 bits: with S_h = sum m h and S_l
    // = sum m l + 2^11, the scalar (256 S_h + S_l) >> 12 equals
    // (S_h + (S_l >> 8)) >> 4, since S_l's low byte cannot carry past a
    // multiple of 4096.
    static inline __attribute__((always_inline)) void wideLanes32(R& c0, R& c1, R& c2,
                                                                  const Coefficients& m) {
        const R byte = V::set32(0xff);
        const R h01 = V::or_(V::template srli32<8>(c0), V::template slli32<16>(V::template srli32<8>(c1)));
        const R l01 = V::or_(V::and_(c0, byte), V::template slli32<16>(V::and_(c1, byte)));
        const R h2 = V::template srli32<8>(c2);                   // (h2, 0): no rounding term
        const R l2 = V::or_(V::and_(c2, byte), V::set32(1 << 16));  // (l2, 1)
        const I zero = I{} + 0, top = I{} + 65535;
        R out[3];
        for (int k = 0; k < 3; ++k) {
            const R high = V::add32(V::madd16(h01, m.pair01[k]), V::madd16(h2, m.pair2[k]));
            const R low = V::add32(V::madd16(l01, m.pair01[k]), V::madd16(l2, m.pair2[k]));
            I v = (I)V::template srai32<colour::kMatrixShift - 8>(
                V::add32(high, V::template srai32<8>(low)));
            v = v < zero ? zero : v;
            out[k] = (R)(v > top ? top : v);
        }
        c0 = out[0], c1 = out[1], c2 = out[2];
    }

    // Interleaved pixels in place, a vector of pixels at a time gathered into
    // channel lanes; the scalar loop where the coefficients do not fit.
    static void pixels8(unsigned char* p, size_t count, const int32_t* matrix) {
        if (!colour::matrixInLanes(matrix)) return colour::matrixPixels(matrix, p, count);
        constexpr int kLanes = V::kBytes / 2;
        const Coefficients m(matrix);
        for (; count >= size_t{kLanes}; count -= kLanes, p += 3 * kLanes) {
            alignas(64) uint16_t c[3][kLanes];
            for (int i = 0; i < kLanes; ++i)
                c[0][i] = p[3 * i], c[1][i] = p[3 * i + 1], c[2][i] = p[3 * i + 2];
            R c0 = V::load(c[0]), c1 = V::load(c[1]), c2 = V::load(c[2]);
            lanes16(c0, c1, c2, m);
            V::store(c[0], c0), V::store(c[1], c1), V::store(c[2], c2);
            for (int i = 0; i < kLanes; ++i)
                p[3 * i] = static_cast<unsigned char>(c[0][i]),
                      p[3 * i + 1] = static_cast<unsigned char>(c[1][i]),
                      p[3 * i + 2] = static_cast<unsigned char>(c[2][i]);
        }
        colour::matrixPixels(matrix, p, count);
    }

    static void pixels16(uint16_t* p, size_t count, const int32_t* matrix) {
        // Four pixels to a vector do not repay their gathering: the scalar
        // loop is faster there.
        if (kLanes32 < 8 || !colour::matrixInLanes(matrix))
            return colour::matrixPixels(matrix, p, count);
        if (narrow(matrix))
            gather16<true>(p, count, matrix);
        else
            gather16<false>(p, count, matrix);
    }

    template <bool Narrow>
    static void gather16(uint16_t* p, size_t count, const int32_t* matrix) {
        const Coefficients m(matrix);
        for (; count >= size_t{kLanes32}; count -= kLanes32, p += 3 * kLanes32) {
            alignas(64) uint32_t c[3][kLanes32];
            for (int i = 0; i < kLanes32; ++i)
                c[0][i] = p[3 * i], c[1][i] = p[3 * i + 1], c[2][i] = p[3 * i + 2];
            R c0 = V::load(c[0]), c1 = V::load(c[1]), c2 = V::load(c[2]);
            if constexpr (Narrow)
                narrowLanes32(c0, c1, c2, m);
            else
                wideLanes32(c0, c1, c2, m);
            V::store(c[0], c0), V::store(c[1], c1), V::store(c[2], c2);
            for (int i = 0; i < kLanes32; ++i)
                p[3 * i] = static_cast<uint16_t>(c[0][i]), p[3 * i + 1] = static_cast<uint16_t>(c[1][i]),
                p[3 * i + 2] = static_cast<uint16_t>(c[2][i]);
        }
        colour::matrixPixels(matrix, p, count);
    }
};

}  // namespace
