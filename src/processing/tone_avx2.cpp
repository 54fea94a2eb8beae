// The tone kernels on AVX2, for processors without AVX-512 byte permutes: a
// block of 64 pixels is taken as four runs of 16, one per 128-bit lane,
// split into one vector per channel by byte shuffles; every table lookup is
// sixteen 16-entry shuffles, and the saturation is integer arithmetic on
// 16-bit lanes that reproduces the table exactly.
#include <immintrin.h>

#include "processing/tone_kernels.h"

namespace tone::avx2 {
namespace {

// In each 128-bit lane, 16 pixels as three vectors of 16 bytes (in, lanes
// from memory) and as three channel planes (plane c, byte i: channel c of
// pixel i).
struct Shuffles {
    // split[v][c]: the bytes of in-vector v that belong to plane c, moved to
    // their plane position (the others zeroed by a set top bit).
    alignas(32) uint8_t split[3][3][32] = {};
    // merge[c][v]: the bytes of plane c that belong to in-vector v.
    alignas(32) uint8_t merge[3][3][32] = {};
    constexpr Shuffles() {
        for (int v = 0; v < 3; ++v)
            for (int c = 0; c < 3; ++c)
                for (int j = 0; j < 32; ++j) {
                    const int i = j % 16;
                    // Plane c lane i holds byte 3i + c of the 48.
                    const int at = 3 * i + c;
                    split[v][c][j] = static_cast<uint8_t>(at / 16 == v ? at % 16 : 0x80);
                    // In-vector v byte i holds plane (16v + i) % 3, lane (16v + i) / 3.
                    const int from = 16 * v + i;
                    merge[c][v][j] = static_cast<uint8_t>(from % 3 == c ? from / 3 : 0x80);
                }
    }
};
constexpr Shuffles kShuffles;

struct Planes {
    __m256i c[3];
};

inline __m256i loadLanes(const unsigned char* low, const unsigned char* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

inline void storeLanes(unsigned char* low, unsigned char* high, __m256i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(low), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(high), _mm256_extracti128_si256(v, 1));
}

inline __m256i shuffle(__m256i v, const uint8_t* index) {
    return _mm256_shuffle_epi8(v, _mm256_load_si256(reinterpret_cast<const __m256i*>(index)));
}

// Pixels 0..15 of p in the low lanes, 16..31 of p in the high ones.
inline Planes split(const unsigned char* p) {
    const __m256i in[3] = {loadLanes(p, p + 48), loadLanes(p + 16, p + 64),
                           loadLanes(p + 32, p + 80)};
    Planes out;
    for (int c = 0; c < 3; ++c)
        out.c[c] = _mm256_or_si256(_mm256_or_si256(shuffle(in[0], kShuffles.split[0][c]),
                                                   shuffle(in[1], kShuffles.split[1][c])),
                                   shuffle(in[2], kShuffles.split[2][c]));
    return out;
}

inline void merge(unsigned char* p, const Planes& planes) {
    for (int v = 0; v < 3; ++v) {
        const __m256i out =
            _mm256_or_si256(_mm256_or_si256(shuffle(planes.c[0], kShuffles.merge[0][v]),
                                            shuffle(planes.c[1], kShuffles.merge[1][v])),
                            shuffle(planes.c[2], kShuffles.merge[2][v]));
        storeLanes(p + 16 * v, p + 48 + 16 * v, out);
    }
}

// A 256-entry table as two halves of eight 16-entry rows, each row stored
// as its difference (xor) from the row before. For a value v below 128,
// shuffling with v - 16k picks row k's entry v % 16 while k <= v / 16 and
// gives 0 once the index turns negative, so the xor over k = 0..7 is the
// entry T[v]; the upper half does the same on v - 128, and the value's top
// bit chooses the half.
struct Table {
    __m256i rows[16];
    explicit Table(const unsigned char* t) {
        for (int half = 0; half < 2; ++half)
            for (int k = 0; k < 8; ++k) {
                const unsigned char* row = t + 128 * half + 16 * k;
                __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
                if (k > 0)
                    r = _mm_xor_si128(r,
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(row - 16)));
                rows[8 * half + k] = _mm256_broadcastsi128_si256(r);
            }
    }
    __m256i operator()(__m256i v) const {
        const __m256i sixteen = _mm256_set1_epi8(16);
        __m256i low = _mm256_shuffle_epi8(rows[0], v);
        __m256i up = _mm256_xor_si256(v, _mm256_set1_epi8(static_cast<char>(0x80)));
        __m256i high = _mm256_shuffle_epi8(rows[8], up);
        __m256i x = v;
        for (int k = 1; k < 8; ++k) {
            x = _mm256_sub_epi8(x, sixteen);
            up = _mm256_sub_epi8(up, sixteen);
            low = _mm256_xor_si256(low, _mm256_shuffle_epi8(rows[k], x));
            high = _mm256_xor_si256(high, _mm256_shuffle_epi8(rows[8 + k], up));
        }
        return _mm256_blendv_epi8(low, high, v);
    }
};

// g + trunc((v - g) * s / 100), clamped to 0..255, on 16 lanes of 16 bits.
// |v - g| * s <= 255 * 255 fits 16 bits; the division is exact through
// floor(floor(x / 4) * 5243 / 2^17) for every such x.
inline __m256i saturate16(__m256i v, __m256i g, __m256i s) {
    const __m256i d = _mm256_sub_epi16(v, g);
    const __m256i x = _mm256_mullo_epi16(_mm256_abs_epi16(d), s);
    const __m256i q =
        _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_srli_epi16(x, 2), _mm256_set1_epi16(5243)), 1);
    // q takes d's sign (q is 0 where d is); the pack clamps to 0..255.
    return _mm256_add_epi16(g, _mm256_sign_epi16(q, d));
}

// The bytes widened and packed back within their lanes, so their order holds.
inline __m256i saturate(__m256i v, __m256i g, __m256i s) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low = saturate16(_mm256_unpacklo_epi8(v, zero), _mm256_unpacklo_epi8(g, zero), s);
    const __m256i high =
        saturate16(_mm256_unpackhi_epi8(v, zero), _mm256_unpackhi_epi8(g, zero), s);
    return _mm256_packus_epi16(low, high);
}

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

constexpr size_t kRunPixels = 32;  // pixels per split: 16 in each lane

template <bool Before, bool Saturation, bool After>
void colour(unsigned char* p, size_t blocks, const ColourSteps& steps) {
    const Table b0(orIdentity(steps.before[0])), b1(orIdentity(steps.before[1])),
        b2(orIdentity(steps.before[2]));
    const Table a0(orIdentity(steps.after[0])), a1(orIdentity(steps.after[1])),
        a2(orIdentity(steps.after[2]));
    const __m256i s = _mm256_set1_epi16(static_cast<short>(steps.saturation));
    const size_t runs = blocks * (kBlockPixels / kRunPixels);
    for (size_t k = 0; k < runs; ++k, p += 3 * kRunPixels) {
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
    // Chosen once per call (a row or a run of rows), never per pixel.
    if (steps.saturation >= 0) {
        if (before)
            after ? colour<true, true, true>(p, blocks, steps)
                  : colour<true, true, false>(p, blocks, steps);
        else
            after ? colour<false, true, true>(p, blocks, steps)
                  : colour<false, true, false>(p, blocks, steps);
    } else {
        colour<false, false, true>(p, blocks, steps);
    }
}

void tables(unsigned char* p, size_t blocks, int channels, const unsigned char* const* t) {
    if (channels == 1) {
        const Table t0(t[0]);
        for (size_t k = 0; k < 2 * blocks; ++k, p += 32) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), t0(v));
        }
        return;
    }
    const Table t0(t[0]), t1(t[1]), t2(t[2]);
    const size_t runs = blocks * (kBlockPixels / kRunPixels);
    for (size_t k = 0; k < runs; ++k, p += 3 * kRunPixels) {
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

}  // namespace tone::avx2
