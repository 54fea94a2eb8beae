// The tone kernels on AVX-512 with byte permutes (VBMI): a block of 64
// pixels is split into one vector per channel, every table lookup is two
// 128-entry permutes and a blend on the top bit, and the saturation is
// integer arithmetic on 16-bit lanes that reproduces the table exactly.
#include <immintrin.h>

#include <cstring>

#include "processing/tone_kernels.h"

namespace tone::vbmi {
namespace {

// Index vectors of the split into channel planes and of the merge back.
struct Shuffles {
    alignas(64) uint8_t split[3][64] = {};  // plane c, lane i: byte 3i + c of the block
    uint64_t splitHigh[3] = {};             // lanes whose byte lies in the third vector
    alignas(64) uint8_t merge[3][64] = {};  // vector k, lane j: plane (64k+j)%3, lane (64k+j)/3
    uint64_t mergeThird[3] = {};            // lanes taken from plane 2
    // Built at compile time: nothing of this file runs before the
    // processor was found to have the instructions.
    constexpr Shuffles() {
        for (int c = 0; c < 3; ++c) {
            splitHigh[c] = 0;
            for (int i = 0; i < 64; ++i) {
                const int at = 3 * i + c;
                if (at < 128) {
                    split[c][i] = static_cast<uint8_t>(at);
                } else {
                    split[c][i] = static_cast<uint8_t>(at - 128);
                    splitHigh[c] |= uint64_t{1} << i;
                }
            }
        }
        for (int k = 0; k < 3; ++k) {
            mergeThird[k] = 0;
            for (int j = 0; j < 64; ++j) {
                const int at = 64 * k + j, plane = at % 3, lane = at / 3;
                if (plane == 2) {
                    merge[k][j] = static_cast<uint8_t>(lane);
                    mergeThird[k] |= uint64_t{1} << j;
                } else {
                    merge[k][j] = static_cast<uint8_t>(plane * 64 + lane);
                }
            }
        }
    }
};
constexpr Shuffles kShuffles;

struct Table {
    __m512i q0, q1, q2, q3;
    explicit Table(const unsigned char* t)
        : q0(_mm512_loadu_si512(t)),
          q1(_mm512_loadu_si512(t + 64)),
          q2(_mm512_loadu_si512(t + 128)),
          q3(_mm512_loadu_si512(t + 192)) {}
    __m512i operator()(__m512i v) const {
        const __m512i low = _mm512_permutex2var_epi8(q0, v, q1);
        const __m512i high = _mm512_permutex2var_epi8(q2, v, q3);
        return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
    }
};

struct Planes {
    __m512i c[3];
};

inline Planes split(const unsigned char* p) {
    const __m512i a = _mm512_loadu_si512(p), b = _mm512_loadu_si512(p + 64),
                  d = _mm512_loadu_si512(p + 128);
    Planes out;
    for (int c = 0; c < 3; ++c) {
        const __m512i index = _mm512_load_si512(kShuffles.split[c]);
        const __m512i ab = _mm512_permutex2var_epi8(a, index, b);
        out.c[c] = _mm512_mask_permutexvar_epi8(ab, kShuffles.splitHigh[c], index, d);
    }
    return out;
}

inline void merge(unsigned char* p, const Planes& planes) {
    for (int k = 0; k < 3; ++k) {
        const __m512i index = _mm512_load_si512(kShuffles.merge[k]);
        const __m512i first = _mm512_permutex2var_epi8(planes.c[0], index, planes.c[1]);
        const __m512i v = _mm512_mask_permutexvar_epi8(first, kShuffles.mergeThird[k], index,
                                                       planes.c[2]);
        _mm512_storeu_si512(p + 64 * k, v);
    }
}

// g + trunc((v - g) * s / 100), clamped to 0..255, on 32 lanes of 16 bits.
// |v - g| * s <= 255 * 255 fits 16 bits; the division is exact through
// floor(floor(x / 4) * 5243 / 2^17) for every such x.
inline __m512i saturate16(__m512i v, __m512i g, __m512i s) {
    const __m512i d = _mm512_sub_epi16(v, g);
    const __m512i x = _mm512_mullo_epi16(_mm512_abs_epi16(d), s);
    const __m512i q = _mm512_srli_epi16(_mm512_mulhi_epu16(_mm512_srli_epi16(x, 2),
                                                           _mm512_set1_epi16(5243)),
                                        1);
    const __mmask32 negative = _mm512_movepi16_mask(d);
    const __m512i r = _mm512_mask_sub_epi16(q, negative, _mm512_setzero_si512(), q);
    return _mm512_max_epi16(_mm512_add_epi16(g, r), _mm512_setzero_si512());
}

inline __m512i saturate(__m512i v, __m512i g, __m512i s) {
    const __m512i low = saturate16(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(v)),
                                   _mm512_cvtepu8_epi16(_mm512_castsi512_si256(g)), s);
    const __m512i high = saturate16(_mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(v, 1)),
                                    _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(g, 1)), s);
    return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtusepi16_epi8(low)),
                              _mm512_cvtusepi16_epi8(high), 1);
}

// An identity table for a step that is absent, so every channel runs the
// same instructions.
struct Identity {
    unsigned char t[256] = {};
    constexpr Identity() {
        for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
    }
};
constexpr Identity kIdentity;

const unsigned char* orIdentity(const unsigned char* t) {
    return t ? t : kIdentity.t;
}

template <bool Before, bool Saturation, bool After>
void colour(unsigned char* p, size_t blocks, const ColourSteps& steps) {
    const Table b0(orIdentity(steps.before[0])), b1(orIdentity(steps.before[1])),
        b2(orIdentity(steps.before[2]));
    const Table a0(orIdentity(steps.after[0])), a1(orIdentity(steps.after[1])),
        a2(orIdentity(steps.after[2]));
    const __m512i s = _mm512_set1_epi16(static_cast<short>(steps.saturation));
    for (size_t k = 0; k < blocks; ++k, p += 3 * kBlockPixels) {
        Planes v = split(p);
        if constexpr (Before) v.c[0] = b0(v.c[0]), v.c[1] = b1(v.c[1]), v.c[2] = b2(v.c[2]);
        if constexpr (Saturation) {
            v.c[0] = saturate(v.c[0], v.c[1], s);
            v.c[2] = saturate(v.c[2], v.c[1], s);
        }
        if constexpr (After) v.c[0] = a0(v.c[0]), v.c[1] = a1(v.c[1]), v.c[2] = a2(v.c[2]);
        merge(p, v);
    }
}

void colourAny(unsigned char* p, size_t blocks, const ColourSteps& steps) {
    const bool before = steps.before[0] || steps.before[1] || steps.before[2];
    const bool after = steps.after[0] || steps.after[1] || steps.after[2];
    const bool saturation = steps.saturation >= 0;
    // Chosen once per call (a row or a run of rows), never per pixel.
    if (saturation) {
        if (before)
            after ? colour<true, true, true>(p, blocks, steps) : colour<true, true, false>(p, blocks, steps);
        else
            after ? colour<false, true, true>(p, blocks, steps) : colour<false, true, false>(p, blocks, steps);
    } else {
        colour<false, false, true>(p, blocks, steps);
    }
}

void tables(unsigned char* p, size_t blocks, int channels, const unsigned char* const* t) {
    if (channels == 1) {
        const Table t0(t[0]);
        for (size_t k = 0; k < blocks; ++k, p += kBlockPixels)
            _mm512_storeu_si512(p, t0(_mm512_loadu_si512(p)));
        return;
    }
    const Table t0(t[0]), t1(t[1]), t2(t[2]);
    for (size_t k = 0; k < blocks; ++k, p += 3 * kBlockPixels) {
        Planes v = split(p);
        v.c[0] = t0(v.c[0]), v.c[1] = t1(v.c[1]), v.c[2] = t2(v.c[2]);
        merge(p, v);
    }
}

}  // namespace

ColourBlocks colourKernel() {
    return colourAny;
}
TableBlocks tableKernel() {
    return tables;
}

}  // namespace tone::vbmi

// ---- 16-bit pixels ------------------------------------------------------------
//
// The 384 bytes of 64 pixels (low, high byte of each of three samples) split
// into six planes of bytes; the high bytes take the 8-bit steps, the low
// bytes their own table, and the planes are merged back.

namespace tone::vbmi {
namespace {

// Plane o (0..5: byte o of each 6-byte pixel), lane i: byte 6i + o of the
// block, in vector pair 0 (bytes 0..127), 1 or 2.
struct WideShuffles {
    alignas(64) uint8_t split[6][64] = {};  // index within the pair
    uint64_t splitPair[6][3] = {};          // lanes taken from each pair
    alignas(64) uint8_t merge[6][64] = {};  // vector k, byte j: its lane, +64 in an odd plane
    uint64_t mergePair[6][3] = {};          // bytes taken from planes 0-1, 2-3, 4-5
    constexpr WideShuffles() {
        for (int o = 0; o < 6; ++o)
            for (int i = 0; i < 64; ++i) {
                const int at = 6 * i + o;
                split[o][i] = static_cast<uint8_t>(at % 128);
                splitPair[o][at / 128] |= uint64_t{1} << i;
            }
        for (int k = 0; k < 6; ++k)
            for (int j = 0; j < 64; ++j) {
                const int at = 64 * k + j, plane = at % 6, lane = at / 6;
                merge[k][j] = static_cast<uint8_t>((plane & 1) * 64 + lane);
                mergePair[k][plane / 2] |= uint64_t{1} << j;
            }
    }
};
constexpr WideShuffles kWide;

struct WideBlock {
    __m512i plane[6];  // even: low bytes, odd: high bytes of channel o / 2
};

inline WideBlock splitWide(const unsigned char* p) {
    __m512i v[6];
    for (int k = 0; k < 6; ++k) v[k] = _mm512_loadu_si512(p + 64 * k);
    WideBlock out;
    for (int o = 0; o < 6; ++o) {
        const __m512i index = _mm512_load_si512(kWide.split[o]);
        __m512i r = _mm512_maskz_permutex2var_epi8(kWide.splitPair[o][0], v[0], index, v[1]);
        r = _mm512_mask_blend_epi8(kWide.splitPair[o][1], r,
                                   _mm512_permutex2var_epi8(v[2], index, v[3]));
        out.plane[o] = _mm512_mask_blend_epi8(kWide.splitPair[o][2], r,
                                              _mm512_permutex2var_epi8(v[4], index, v[5]));
    }
    return out;
}

inline void mergeWide(unsigned char* p, const WideBlock& b) {
    for (int k = 0; k < 6; ++k) {
        const __m512i index = _mm512_load_si512(kWide.merge[k]);
        __m512i r = _mm512_maskz_permutex2var_epi8(kWide.mergePair[k][0], b.plane[0], index,
                                                   b.plane[1]);
        r = _mm512_mask_blend_epi8(kWide.mergePair[k][1], r,
                                   _mm512_permutex2var_epi8(b.plane[2], index, b.plane[3]));
        r = _mm512_mask_blend_epi8(kWide.mergePair[k][2], r,
                                   _mm512_permutex2var_epi8(b.plane[4], index, b.plane[5]));
        _mm512_storeu_si512(p + 64 * k, r);
    }
}

template <bool Before, bool Saturation, bool After, bool Low>
void colourWide(unsigned char* p, size_t blocks, const ColourSteps& steps) {
    const Table b0(orIdentity(steps.before[0])), b1(orIdentity(steps.before[1])),
        b2(orIdentity(steps.before[2]));
    const Table a0(orIdentity(steps.after[0])), a1(orIdentity(steps.after[1])),
        a2(orIdentity(steps.after[2]));
    const Table w0(orIdentity(steps.low[0])), w1(orIdentity(steps.low[1])),
        w2(orIdentity(steps.low[2]));
    const __m512i s = _mm512_set1_epi16(static_cast<short>(steps.saturation));
    for (size_t k = 0; k < blocks; ++k, p += 6 * kBlockPixels) {
        WideBlock b = splitWide(p);
        __m512i* h = b.plane;  // h[1], h[3], h[5]: the high bytes
        if constexpr (Before) h[1] = b0(h[1]), h[3] = b1(h[3]), h[5] = b2(h[5]);
        if constexpr (Saturation) {
            h[1] = saturate(h[1], h[3], s);
            h[5] = saturate(h[5], h[3], s);
        }
        if constexpr (After) h[1] = a0(h[1]), h[3] = a1(h[3]), h[5] = a2(h[5]);
        if constexpr (Low) h[0] = w0(h[0]), h[2] = w1(h[2]), h[4] = w2(h[4]);
        mergeWide(p, b);
    }
}

template <bool Before, bool Saturation, bool After>
void colourWideLow(unsigned char* p, size_t blocks, const ColourSteps& steps) {
    const bool low = steps.low[0] || steps.low[1] || steps.low[2];
    low ? colourWide<Before, Saturation, After, true>(p, blocks, steps)
        : colourWide<Before, Saturation, After, false>(p, blocks, steps);
}

void colourWideAny(unsigned char* p, size_t blocks, const ColourSteps& steps) {
    const bool before = steps.before[0] || steps.before[1] || steps.before[2];
    const bool after = steps.after[0] || steps.after[1] || steps.after[2];
    if (steps.saturation >= 0) {
        if (before)
            after ? colourWideLow<true, true, true>(p, blocks, steps)
                  : colourWideLow<true, true, false>(p, blocks, steps);
        else
            after ? colourWideLow<false, true, true>(p, blocks, steps)
                  : colourWideLow<false, true, false>(p, blocks, steps);
    } else {
        after ? colourWideLow<false, false, true>(p, blocks, steps)
              : colourWideLow<false, false, false>(p, blocks, steps);
    }
}

// The high bytes of three-channel 16-bit pixels through tables[c].
void tablesWide(unsigned char* p, size_t blocks, int channels, const unsigned char* const* t) {
    if (channels != 3) return;
    const Table t0(t[0]), t1(t[1]), t2(t[2]);
    for (size_t k = 0; k < blocks; ++k, p += 6 * kBlockPixels) {
        WideBlock b = splitWide(p);
        b.plane[1] = t0(b.plane[1]), b.plane[3] = t1(b.plane[3]), b.plane[5] = t2(b.plane[5]);
        mergeWide(p, b);
    }
}

}  // namespace

ColourBlocks colourWideKernel() {
    return colourWideAny;
}
TableBlocks tableWideKernel() {
    return tablesWide;
}

}  // namespace tone::vbmi
