// The bilinear Bayer row decoder and the colour correction, written once over
// the vector interface of simd.h and compiled once per instruction set.
// Vectors decode runs of whole pixel pairs with exactly the integer
// arithmetic of the scalar loop, which does the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "processing/colour_correction.h"
#include "processing/colour_matrix.h"
#include "processing/matrix_kernels.h"
#include "processing/simd.h"

namespace {

// The plain pixel of a site (channel 0 blue, 1 green, 2 red).
template <typename T>
inline void put(T* d, unsigned b, unsigned g, unsigned r) {
    d[0] = static_cast<T>(b);
    d[1] = static_cast<T>(g);
    d[2] = static_cast<T>(r);
}

// A pixel of a pair with the colour correction: 8-bit samples are replaced;
// 16-bit samples get the corrected high byte and keep their low byte.
template <typename T>
inline void putCorrected(T* d, unsigned b, unsigned g, unsigned r) {
    if constexpr (sizeof(T) == 1) {
        put(d, colour::correctExact(0, b, g, r), colour::correctExact(1, b, g, r),
            colour::correctExact(2, b, g, r));
    } else {
        const unsigned hb = b >> 8, hg = g >> 8, hr = r >> 8;
        put(d, colour::correctExact(0, hb, hg, hr) << 8 | (b & 0xff),
            colour::correctExact(1, hb, hg, hr) << 8 | (g & 0xff),
            colour::correctExact(2, hb, hg, hr) << 8 | (r & 0xff));
    }
}

// Multiply-add of signed 16-bit pairs into 32-bit lanes, at every width.
inline __m128i maddPairs(__m128i a, __m128i b) { return _mm_madd_epi16(a, b); }
#if defined(__AVX2__)
inline __m256i maddPairs(__m256i a, __m256i b) { return _mm256_madd_epi16(a, b); }
#endif
#if defined(__AVX512BW__)
inline __m512i maddPairs(__m512i a, __m512i b) { return _mm512_madd_epi16(a, b); }
#endif

template <class V>
struct Kernels {
    using R = typename V::R;
    using I = typename V::I32;
    using F = typename V::F32;
    typedef int16_t I16 __attribute__((vector_size(V::kBytes)));
    static constexpr int kLanes32 = V::kBytes / 4;

    // ---- Interleaving ------------------------------------------------------

    // Three vectors of 16-bit lanes, each lane two consecutive samples, to
    // memory: lane k of a, b, c gives the six samples of pixel pair k.
    static inline __attribute__((always_inline)) void storeTriples16(void* out, R a, R b, R c) {
        const R zero = V::zero();
        const R abLow = V::unpacklo16(a, b), abHigh = V::unpackhi16(a, b);
        const R cLow = V::unpacklo16(c, zero), cHigh = V::unpackhi16(c, zero);
        // Each quadword now holds one triple and two zero bytes; squeeze two
        // quadwords into 12 bytes.
        const auto twelve = [](R v) {
            return V::or_(V::lowQword(v), V::template bslli<6>(V::template bsrli<8>(v)));
        };
        const R t0 = twelve(V::unpacklo32(abLow, cLow));
        const R t1 = twelve(V::unpackhi32(abLow, cLow));
        const R t2 = twelve(V::unpacklo32(abHigh, cHigh));
        const R t3 = twelve(V::unpackhi32(abHigh, cHigh));
        V::store3(out, V::or_(t0, V::template bslli<12>(t1)),
                  V::or_(V::template bsrli<4>(t1), V::template bslli<8>(t2)),
                  V::or_(V::template bsrli<8>(t2), V::template bslli<4>(t3)));
    }

    // The same with 32-bit lanes of two 16-bit samples.
    static inline __attribute__((always_inline)) void storeTriples32(void* out, R a, R b, R c) {
        // a0 b0 c0 a1 | b1 c1 a2 b2 | c2 a3 b3 c3
        V::store3(out,
                  V::template shufflePs<_MM_SHUFFLE(3, 0, 1, 0)>(V::unpacklo32(a, b),
                                                                 V::unpacklo32(c, a)),
                  V::template shufflePs<_MM_SHUFFLE(1, 0, 3, 2)>(V::unpacklo32(b, c),
                                                                 V::unpackhi32(a, b)),
                  V::template shufflePs<_MM_SHUFFLE(3, 2, 3, 0)>(V::unpackhi32(c, a),
                                                                 V::unpackhi32(b, c)));
    }

    // ---- Colour correction ---------------------------------------------------

    // One output channel of 32-bit lanes holding 8-bit values, before the
    // clamp to 0..255; lanes whose single-precision result could lie on
    // either side of an integer are marked in `bad`. The own channel at 255
    // (where the fade reaches the identity and the result is exactly 255)
    // is never ambiguous.
    static inline __attribute__((always_inline)) I correctChannel(int k, F x, F y, F z, I own255,
                                                                  I& bad) {
        const colour::Approximate& c = colour::kApproximate[k];
        const F zeroF = F{} + 0.0f;
        F v = x - 180.0f;
        v = v > zeroF ? v : zeroF;
        const F w = 75.0f - v;
        const F value = x * (c.own - c.fade * v) - w * (c.first * y + c.second * z);
        const I low = __builtin_convertvector(value - colour::kAmbiguity, I);
        const I high = __builtin_convertvector(value + colour::kAmbiguity, I);
        bad |= (low != high) & ~own255;
        return high;
    }

    // Corrects the pixels of 32-bit lanes of 8-bit values in place; the
    // results are left unclamped (-1 .. 430).
    static inline __attribute__((always_inline)) void correct32(I& b, I& g, I& r) {
        const F bf = __builtin_convertvector(b, F), gf = __builtin_convertvector(g, F),
                rf = __builtin_convertvector(r, F);
        const I top = I{} + 255;
        I bad = I{} + 0;
        const I nb = correctChannel(0, bf, rf, gf, b == top, bad);
        const I ng = correctChannel(1, gf, rf, bf, g == top, bad);
        const I nr = correctChannel(2, rf, gf, bf, r == top, bad);
        if (__builtin_expect(V::any((R)bad), 0)) {
            I eb = nb, eg = ng, er = nr;
            for (int i = 0; i < kLanes32; ++i) {
                if (!bad[i]) continue;
                const unsigned pb = static_cast<unsigned>(b[i]), pg = static_cast<unsigned>(g[i]),
                               pr = static_cast<unsigned>(r[i]);
                eb[i] = static_cast<int32_t>(colour::correctExact(0, pb, pg, pr));
                eg[i] = static_cast<int32_t>(colour::correctExact(1, pb, pg, pr));
                er[i] = static_cast<int32_t>(colour::correctExact(2, pb, pg, pr));
            }
            b = eb, g = eg, r = er;
            return;
        }
        b = nb, g = ng, r = nr;
    }

    static inline __attribute__((always_inline)) I clamp32(I v) {
        const I zero = I{} + 0, top = I{} + 255;
        v = v < zero ? zero : v;
        return v > top ? top : v;
    }

    // Interleaved pixels (blue, green, red) in place, through the lanes the
    // row decoder corrects: 8-bit samples in 16-bit lanes, 16-bit samples in
    // 32-bit lanes; a short last vector is filled with black.
    template <typename T>
    static void correctPixels(T* p, size_t count) {
        using Lane = std::conditional_t<sizeof(T) == 1, uint16_t, uint32_t>;
        constexpr int kLanes = V::kBytes / sizeof(Lane);
        for (; count > 0;) {
            const int n = count < size_t{kLanes} ? static_cast<int>(count) : kLanes;
            Lane lanes[3][kLanes] = {};
            for (int i = 0; i < n; ++i)
                for (int c = 0; c < 3; ++c) lanes[c][i] = p[3 * i + c];
            R b = V::load(lanes[0]), g = V::load(lanes[1]), r = V::load(lanes[2]);
            if constexpr (sizeof(T) == 1)
                correctLanes16(b, g, r);
            else
                correctLanes32(b, g, r);
            V::store(lanes[0], b), V::store(lanes[1], g), V::store(lanes[2], r);
            for (int i = 0; i < n; ++i)
                for (int c = 0; c < 3; ++c) p[3 * i + c] = static_cast<T>(lanes[c][i]);
            p += 3 * n;
            count -= static_cast<size_t>(n);
        }
    }

    // ---- Fixed point, for vectors with every input below 180 ---------------

    // One output channel of 32-bit lanes from the (128 u, u) pairs of its own
    // input and the two others. Results below 1 come out as 0. Sets bit 21
    // of `band` in lanes within the band of an integer: with t' = T - band,
    // T is unambiguous when t' mod 2^21 <= 2^21 - 2 band, that is when
    // (t' mod 2^21) + 2 band - 1 stays below 2^21.
    static inline __attribute__((always_inline)) I fixedChannel(int k, R own, R first, R second,
                                                                I& band) {
        const colour::FixedPairs& c = colour::kFixed[k];
        constexpr int kUnit = 1 << colour::kFixedShift;
        const I sum = (I)maddPairs(own, V::set32(c.own)) + (I)maddPairs(first, V::set32(c.first)) +
                      (I)maddPairs(second, V::set32(c.second));
        I t = sum - colour::kFixedBand;
        // Below one half the result is 0 whatever the error; lifting such
        // lanes to one half keeps them out of the band.
        const I half = I{} + (kUnit / 2 - colour::kFixedBand);
        t = t > half ? t : half;
        band |= (t & (kUnit - 1)) + (2 * colour::kFixedBand - 1);
        return t >> colour::kFixedShift;
    }

    // The three channels from the pairs of blue, green and red, unclamped
    // above (0 .. 300); bit 21 of `band` marks lanes in the band.
    static inline __attribute__((always_inline)) void fixed32(R pb, R pg, R pr, I& b, I& g, I& r,
                                                              I& band) {
        b = fixedChannel(0, pb, pr, pg, band);
        g = fixedChannel(1, pg, pr, pb, band);
        r = fixedChannel(2, pr, pg, pb, band);
    }

    // Lanes of `exact` where `mask` is set, of `v` elsewhere.
    static inline __attribute__((always_inline)) R select(R mask, R exact, R v) {
        return V::xor_(v, V::and_(mask, V::xor_(v, exact)));
    }

    // 16-bit lanes of 8-bit values (pixels of 8-bit samples). Vectors whose
    // inputs all lie below 180 take the fixed-point form and only its
    // ambiguous lanes the single-precision one; either way each lane's
    // result depends on that lane alone.
    static inline __attribute__((always_inline)) void correctLanes16(R& b, R& g, R& r) {
        const I16 highest = (I16)V::max16(V::max16(b, g), r);
        if (__builtin_expect(V::any((R)(highest > 179)), 0)) {
            floatLanes16(b, g, r);
            return;
        }
        const auto pairs = [](R u, R& low, R& high) {
            const R scaled = V::template slli16<7>(u);
            low = V::unpacklo16(scaled, u);
            high = V::unpackhi16(scaled, u);
        };
        R bl, bh, gl, gh, rl, rh;
        pairs(b, bl, bh);
        pairs(g, gl, gh);
        pairs(r, rl, rh);
        I b0, g0, r0, b1, g1, r1, band0 = I{} + 0, band1 = I{} + 0;
        fixed32(bl, gl, rl, b0, g0, r0, band0);
        fixed32(bh, gh, rh, b1, g1, r1, band1);
        const R top = V::set16(255);
        R nb = V::min16(V::packs32((R)b0, (R)b1), top);
        R ng = V::min16(V::packs32((R)g0, (R)g1), top);
        R nr = V::min16(V::packs32((R)r0, (R)r1), top);
        const R unit = V::set32(1 << colour::kFixedShift);
        if (__builtin_expect(V::any(V::and_(V::or_((R)band0, (R)band1), unit)), 0)) {
            const R mask = V::packs32((R)((I)V::and_((R)band0, unit) != 0),
                                      (R)((I)V::and_((R)band1, unit) != 0));
            floatLanes16(b, g, r);
            nb = select(mask, b, nb), ng = select(mask, g, ng), nr = select(mask, r, nr);
        }
        b = nb, g = ng, r = nr;
    }

    // The same in single precision, for every input.
    static inline __attribute__((always_inline)) void floatLanes16(R& b, R& g, R& r) {
        const R zero = V::zero();
        I bl = (I)V::unpacklo16(b, zero), gl = (I)V::unpacklo16(g, zero),
          rl = (I)V::unpacklo16(r, zero);
        I bh = (I)V::unpackhi16(b, zero), gh = (I)V::unpackhi16(g, zero),
          rh = (I)V::unpackhi16(r, zero);
        correct32(bl, gl, rl);
        correct32(bh, gh, rh);
        const R top = V::set16(255);
        b = V::min16(V::max16(V::packs32((R)bl, (R)bh), zero), top);
        g = V::min16(V::max16(V::packs32((R)gl, (R)gh), zero), top);
        r = V::min16(V::max16(V::packs32((R)rl, (R)rh), zero), top);
    }

    // 32-bit lanes of 16-bit samples: the high bytes are corrected, the low
    // bytes kept; the forms chosen as for 8-bit samples.
    static inline __attribute__((always_inline)) void correctLanes32(R& b, R& g, R& r) {
        const I high = (I)b > (I)g ? (I)b : (I)g;
        const I highest = high > (I)r ? high : (I)r;
        if (__builtin_expect(V::any((R)(highest >= 180 * 256)), 0)) {
            floatLanes32(b, g, r);
            return;
        }
        // The pair (128 h, h) of the high byte h of each sample.
        const auto pair = [](R s) {
            const R high = V::and_(s, V::set32(0xff00));  // 256 h
            return V::or_(V::template srli32<1>(high), V::template slli32<8>(high));
        };
        I hb, hg, hr, band = I{} + 0;
        fixed32(pair(b), pair(g), pair(r), hb, hg, hr, band);
        const I top = I{} + 255;
        const R low = V::set32(0xff);
        R nb = V::or_(V::template slli32<8>((R)(hb < top ? hb : top)), V::and_(b, low));
        R ng = V::or_(V::template slli32<8>((R)(hg < top ? hg : top)), V::and_(g, low));
        R nr = V::or_(V::template slli32<8>((R)(hr < top ? hr : top)), V::and_(r, low));
        const R ambiguous = V::and_((R)band, V::set32(1 << colour::kFixedShift));
        if (__builtin_expect(V::any(ambiguous), 0)) {
            const R mask = (R)((I)ambiguous != 0);
            floatLanes32(b, g, r);
            nb = select(mask, b, nb), ng = select(mask, g, ng), nr = select(mask, r, nr);
        }
        b = nb, g = ng, r = nr;
    }

    // The same in single precision, for every input.
    static inline __attribute__((always_inline)) void floatLanes32(R& b, R& g, R& r) {
        I hb = (I)V::template srli32<8>(b), hg = (I)V::template srli32<8>(g),
          hr = (I)V::template srli32<8>(r);
        correct32(hb, hg, hr);
        hb = clamp32(hb), hg = clamp32(hg), hr = clamp32(hr);
        const R low = V::set32(0xff);
        b = V::or_(V::template slli32<8>((R)hb), V::and_(b, low));
        g = V::or_(V::template slli32<8>((R)hg), V::and_(g, low));
        r = V::or_(V::template slli32<8>((R)hr), V::and_(r, low));
    }

    // ---- The colour matrix ------------------------------------------------------

    using Matrix = MatrixKernels<V>;
    // How a row goes through the matrix: not at all; Narrow: the lanes of
    // 8-bit samples, or of 16-bit samples with narrow coefficients
    // (MatrixKernels::narrow); Wide: 16-bit samples with the others.
    enum class Through { None, Narrow, Wide };

    // A pixel through the colour matrix, or plain without one.
    template <Through M, typename T>
    static inline void putPixel(T* d, const int32_t* m, unsigned b, unsigned g, unsigned r) {
        if constexpr (M != Through::None)
            colour::matrixPixel(m, d, b, g, r);
        else
            put(d, b, g, r);
    }

    // ---- Lanes of sample pairs -------------------------------------------------

    // Lane k of a vector loaded at column x holds the samples at columns
    // x + 2k and x + 2k + 1. 8-bit samples: 16-bit lanes; 16-bit samples:
    // 32-bit lanes.
    template <typename T>
    struct Lanes;

    template <typename T>
    static constexpr int kPairPixels = sizeof(T) == 1 ? V::kBytes : V::kBytes / 2;

    // Decodes pairs from column x (a red/blue site) in whole vectors while
    // they stay within `last`; returns the first column left to the scalar
    // loop. Reads at most one column beyond `last`, as the scalar loop does.
    template <bool RedSites, bool Corrected, Through M, typename T>
    static int decodeRun(const T* up, const T* cur, const T* dn, T* out, int x, int last,
                         const int32_t* matrix) {
        constexpr bool kWide = sizeof(T) == 2;
        constexpr int kPixels = kPairPixels<T>;
        const auto first = [](R v) {
            if constexpr (kWide)
                return V::and_(v, V::set32(0xffff));
            else
                return V::and_(v, V::set16(0xff));
        };
        const auto second = [](R v) {
            if constexpr (kWide)
                return V::template srli32<16>(v);
            else
                return V::template srli16<8>(v);
        };
        const auto add = [](R a, R b) {
            if constexpr (kWide)
                return V::add32(a, b);
            else
                return V::add16(a, b);
        };
        const auto set = [](int v) {
            if constexpr (kWide)
                return V::set32(v);
            else
                return V::set16(v);
        };
        const auto join = [](R a, R b) {
            if constexpr (kWide)
                return V::or_(a, V::template slli32<16>(b));
            else
                return V::or_(a, V::template slli16<8>(b));
        };
        const auto shr = [](auto n, R a) {
            constexpr int kN = decltype(n)::value;
            if constexpr (kWide)
                return V::template srli32<kN>(a);
            else
                return V::template srli16<kN>(a);
        };
        using One = std::integral_constant<int, 1>;
        using Two = std::integral_constant<int, 2>;
        using Three = std::integral_constant<int, 3>;
        const R one = set(1), two = set(2);
        // Built only with a matrix (which the caller has checked fits).
        [[maybe_unused]] const auto coefficients = [&] {
            if constexpr (M != Through::None)
                return typename Matrix::Coefficients(matrix);
            else
                return 0;
        }();
        for (; x + kPixels - 1 <= last; x += kPixels) {
            // With c = x + 2k: columns c - 1, c, c + 1 and c + 2 of each row.
            const R upMid = V::load(up + x), curMid = V::load(cur + x), dnMid = V::load(dn + x);
            const R upBefore = first(V::load(up + x - 1)), upSite = first(upMid);
            const R upGreen = second(upMid), upAfter = second(V::load(up + x + 1));
            const R before = first(V::load(cur + x - 1)), site = first(curMid);
            const R green = second(curMid), after = second(V::load(cur + x + 1));
            const R dnBefore = first(V::load(dn + x - 1)), dnSite = first(dnMid);
            const R dnGreen = second(dnMid), dnAfter = second(V::load(dn + x + 1));

            const R siteColumn = add(upSite, dnSite);     // above and below the site
            const R greenColumn = add(upGreen, dnGreen);  // above and below the green
            // The red/blue site at c.
            const R siteGreen = shr(Two{}, add(add(add(before, green), siteColumn), two));
            const R siteLacking = shr(Two{}, add(add(add(upBefore, dnBefore), greenColumn), two));
            // The green site at c + 1.
            const R across = shr(One{}, add(add(site, after), one));
            const R along = shr(One{}, add(greenColumn, one));
            const R times4 = kWide ? V::template slli32<2>(green) : V::template slli16<2>(green);
            const R smooth = shr(Three{}, add(add(times4, siteColumn), add(upAfter, dnAfter)));

            // Pixel samples in channel order 0 (blue), 1, 2 (red).
            R sb, sg = siteGreen, sr, gb, gg = smooth, gr;
            if constexpr (RedSites)
                sb = siteLacking, sr = site, gb = along, gr = across;
            else
                sb = site, sr = siteLacking, gb = across, gr = along;
            if constexpr (Corrected) {
                if constexpr (kWide) {
                    correctLanes32(sb, sg, sr);
                    correctLanes32(gb, gg, gr);
                } else {
                    correctLanes16(sb, sg, sr);
                    correctLanes16(gb, gg, gr);
                }
            }
            if constexpr (M == Through::Wide) {
                Matrix::wideLanes32(sb, sg, sr, coefficients);
                Matrix::wideLanes32(gb, gg, gr, coefficients);
            } else if constexpr (M == Through::Narrow) {
                if constexpr (kWide) {
                    Matrix::narrowLanes32(sb, sg, sr, coefficients);
                    Matrix::narrowLanes32(gb, gg, gr, coefficients);
                } else {
                    Matrix::lanes16(sb, sg, sr, coefficients);
                    Matrix::lanes16(gb, gg, gr, coefficients);
                }
            }
            // Each lane's six samples in memory order, two to a vector.
            if constexpr (kWide)
                storeTriples32(out + 3 * x, join(sb, sg), join(sr, gb), join(gg, gr));
            else
                storeTriples16(out + 3 * x, join(sb, sg), join(sr, gb), join(gg, gr));
        }
        return x;
    }

    // ---- Rows ----------------------------------------------------------------------

    // Columns first..last (1 <= first, last <= width - 2) of one output row
    // from source rows up, cur, dn, written from `out` on. RedSites: the
    // row's non-green sites are red (its green sites then have red left and
    // right, blue above and below). Column 1, when green, and a site left
    // over at width - 2 are single pixels, never corrected; every other
    // pixel belongs to a pair (a site, then a green) and gets the smoothed
    // green and, when on, the correction. A colour matrix, in its place,
    // goes on every pixel, single ones too.
    template <bool RedSites, bool Corrected, Through M, typename T>
    static void row(const T* up, const T* cur, const T* dn, T* out, int width, int first, int last,
                    bool greenFirst, const int32_t* matrix) {
        const int end = width - 2;  // the last column the decoder computes
        const auto pair = [&](int x, T* d, int from, int to) {
            // The pair at site x; pixels x + from .. x + to go to d.
            const unsigned own = cur[x];
            const unsigned green = (up[x] + dn[x] + cur[x - 1] + cur[x + 1] + 2u) >> 2;
            const unsigned diagonal = (up[x - 1] + up[x + 1] + dn[x - 1] + dn[x + 1] + 2u) >> 2;
            const unsigned across = (own + cur[x + 2] + 1u) >> 1;
            const unsigned along = (up[x + 1] + dn[x + 1] + 1u) >> 1;
            const unsigned smooth = (4u * cur[x + 1] + up[x] + up[x + 2] + dn[x] + dn[x + 2]) >> 3;
            unsigned px[2][3];
            if constexpr (RedSites) {
                px[0][0] = diagonal, px[0][1] = green, px[0][2] = own;
                px[1][0] = along, px[1][1] = smooth, px[1][2] = across;
            } else {
                px[0][0] = own, px[0][1] = green, px[0][2] = diagonal;
                px[1][0] = across, px[1][1] = smooth, px[1][2] = along;
            }
            for (int i = from; i <= to; ++i, d += 3) {
                if constexpr (Corrected)
                    putCorrected(d, px[i][0], px[i][1], px[i][2]);
                else
                    putPixel<M>(d, matrix, px[i][0], px[i][1], px[i][2]);
            }
        };
        T* const base = out - 3 * first;  // column c is written at base + 3c
        int x = first;
        if (greenFirst && x == 1 && x <= last) {
            const unsigned across = (cur[0] + cur[2] + 1u) >> 1;
            const unsigned along = (up[1] + dn[1] + 1u) >> 1;
            if constexpr (RedSites)
                putPixel<M>(base + 3, matrix, along, cur[1], across);
            else
                putPixel<M>(base + 3, matrix, across, cur[1], along);
            x = 2;
        }
        // Sites lie on the columns of one parity: 2, 4, ... after a green
        // column 1, else 1, 3, ...
        const int siteParity = greenFirst ? 0 : 1;
        if (x <= last && (x & 1) != siteParity) {  // x is the green of the pair at x - 1
            pair(x - 1, base + 3 * x, 1, 1);
            ++x;
        }
        x = decodeRun<RedSites, Corrected, M>(up, cur, dn, base, x, last, matrix);
        for (; x + 1 <= last; x += 2) pair(x, base + 3 * x, 0, 1);
        if (x == last) {
            if (x < end) {
                pair(x, base + 3 * x, 0, 0);  // its green lies beyond `last`
            } else {
                const unsigned own = cur[x];
                const unsigned green = (up[x] + dn[x] + cur[x - 1] + cur[x + 1] + 2u) >> 2;
                const unsigned diagonal = (up[x - 1] + up[x + 1] + dn[x - 1] + dn[x + 1] + 2u) >> 2;
                if constexpr (RedSites)
                    putPixel<M>(base + 3 * x, matrix, diagonal, green, own);
                else
                    putPixel<M>(base + 3 * x, matrix, own, green, diagonal);
            }
        }
    }

    // `matrix`, when given, replaces the fixed correction; coefficients
    // beyond the vector lanes' range decode plain and take the scalar loop.
    // Chosen once per row.
    template <typename T>
    static void anyRow(const T* up, const T* cur, const T* dn, T* out, int width, int first,
                       int last, bool red, bool greenFirst, bool corrected, const int32_t* matrix) {
        if (matrix && !colour::matrixInLanes(matrix)) {
            anyRow(up, cur, dn, out, width, first, last, red, greenFirst, false, nullptr);
            return colour::matrixPixels(matrix, out, static_cast<size_t>(last - first + 1));
        }
        const auto run = [&](auto correct, auto through) {
            constexpr bool kCorrected = decltype(correct)::value;
            constexpr Through kThrough = decltype(through)::value;
            red ? row<true, kCorrected, kThrough>(up, cur, dn, out, width, first, last, greenFirst, matrix)
                : row<false, kCorrected, kThrough>(up, cur, dn, out, width, first, last, greenFirst, matrix);
        };
        using Plain = std::false_type;
        using None = std::integral_constant<Through, Through::None>;
        if (!matrix)
            corrected ? run(std::true_type{}, None{}) : run(Plain{}, None{});
        else if (sizeof(T) == 1 || Matrix::narrow(matrix))
            run(Plain{}, std::integral_constant<Through, Through::Narrow>{});
        else if constexpr (sizeof(T) == 2)
            run(Plain{}, std::integral_constant<Through, Through::Wide>{});
    }
};

}  // namespace
