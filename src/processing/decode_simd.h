// SSE2 bulk of the plain Bayer decoder: runs of whole pixel pairs, several
// at a time, with exactly the integer arithmetic of the scalar row loop.
#pragma once

#include <cstdint>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace decode_simd {

#if defined(__SSE2__)

namespace detail {

// The helpers must melt into the loop: a call would spill every vector.
#define EZ_SIMD_INLINE inline __attribute__((always_inline))

EZ_SIMD_INLINE __m128i load(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// Three vectors of words (16-bit for 8-bit samples, 32-bit for 16-bit ones),
// each word holding two samples of a pair, -> 48 bytes of w0 w1 w2 w0 w1 w2 ...
EZ_SIMD_INLINE void storeTriples16(void* out, __m128i a, __m128i b, __m128i c) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i abLow = _mm_unpacklo_epi16(a, b), abHigh = _mm_unpackhi_epi16(a, b);
    const __m128i cLow = _mm_unpacklo_epi16(c, zero), cHigh = _mm_unpackhi_epi16(c, zero);
    // Each qword now holds one triple and two zero bytes; squeeze two qwords into 12 bytes.
    const auto twelve = [](__m128i v) {
        return _mm_or_si128(_mm_move_epi64(v), _mm_slli_si128(_mm_srli_si128(v, 8), 6));
    };
    const __m128i t0 = twelve(_mm_unpacklo_epi32(abLow, cLow));
    const __m128i t1 = twelve(_mm_unpackhi_epi32(abLow, cLow));
    const __m128i t2 = twelve(_mm_unpacklo_epi32(abHigh, cHigh));
    const __m128i t3 = twelve(_mm_unpackhi_epi32(abHigh, cHigh));
    auto* o = static_cast<__m128i*>(out);
    _mm_storeu_si128(o, _mm_or_si128(t0, _mm_slli_si128(t1, 12)));
    _mm_storeu_si128(o + 1, _mm_or_si128(_mm_srli_si128(t1, 4), _mm_slli_si128(t2, 8)));
    _mm_storeu_si128(o + 2, _mm_or_si128(_mm_srli_si128(t2, 8), _mm_slli_si128(t3, 4)));
}

EZ_SIMD_INLINE void storeTriples32(void* out, __m128i a, __m128i b, __m128i c) {
    const auto pick = [](__m128i x, __m128i y, auto order) {
        return _mm_castps_si128(
            _mm_shuffle_ps(_mm_castsi128_ps(x), _mm_castsi128_ps(y), decltype(order)::value));
    };
    using First = std::integral_constant<int, _MM_SHUFFLE(3, 0, 1, 0)>;
    using Second = std::integral_constant<int, _MM_SHUFFLE(1, 0, 3, 2)>;
    using Third = std::integral_constant<int, _MM_SHUFFLE(3, 2, 3, 0)>;
    auto* o = static_cast<__m128i*>(out);
    // a0 b0 c0 a1 | b1 c1 a2 b2 | c2 a3 b3 c3
    _mm_storeu_si128(o, pick(_mm_unpacklo_epi32(a, b), _mm_unpacklo_epi32(c, a), First{}));
    _mm_storeu_si128(o + 1, pick(_mm_unpacklo_epi32(b, c), _mm_unpackhi_epi32(a, b), Second{}));
    _mm_storeu_si128(o + 2, pick(_mm_unpackhi_epi32(c, a), _mm_unpackhi_epi32(b, c), Third{}));
}

// Lane k of a vector loaded at column x holds the pair of samples at columns
// x + 2k and x + 2k + 1. 8-bit samples: 16-bit lanes, 8 pairs; 16-bit
// samples: 32-bit lanes, 4 pairs.
template <typename T>
struct Lanes;

template <>
struct Lanes<uint8_t> {
    static constexpr int kPixels = 16;
    static EZ_SIMD_INLINE __m128i first(__m128i v) {
        return _mm_and_si128(v, _mm_set1_epi16(0xff));
    }
    static EZ_SIMD_INLINE __m128i second(__m128i v) { return _mm_srli_epi16(v, 8); }
    static EZ_SIMD_INLINE __m128i add(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
    template <int N>
    static EZ_SIMD_INLINE __m128i shr(__m128i a) {
        return _mm_srli_epi16(a, N);
    }
    static EZ_SIMD_INLINE __m128i times4(__m128i a) { return _mm_slli_epi16(a, 2); }
    static EZ_SIMD_INLINE __m128i set(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
    static EZ_SIMD_INLINE __m128i join(__m128i a, __m128i b) {
        return _mm_or_si128(a, _mm_slli_epi16(b, 8));
    }
    static EZ_SIMD_INLINE void store(uint8_t* out, __m128i a, __m128i b, __m128i c) {
        storeTriples16(out, a, b, c);
    }
};

template <>
struct Lanes<uint16_t> {
    static constexpr int kPixels = 8;
    static EZ_SIMD_INLINE __m128i first(__m128i v) {
        return _mm_and_si128(v, _mm_set1_epi32(0xffff));
    }
    static EZ_SIMD_INLINE __m128i second(__m128i v) { return _mm_srli_epi32(v, 16); }
    static EZ_SIMD_INLINE __m128i add(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
    template <int N>
    static EZ_SIMD_INLINE __m128i shr(__m128i a) {
        return _mm_srli_epi32(a, N);
    }
    static EZ_SIMD_INLINE __m128i times4(__m128i a) { return _mm_slli_epi32(a, 2); }
    static EZ_SIMD_INLINE __m128i set(int v) { return _mm_set1_epi32(v); }
    static EZ_SIMD_INLINE __m128i join(__m128i a, __m128i b) {
        return _mm_or_si128(a, _mm_slli_epi32(b, 16));
    }
    static EZ_SIMD_INLINE void store(uint16_t* out, __m128i a, __m128i b, __m128i c) {
        storeTriples32(out, a, b, c);
    }
};

}  // namespace detail

// Decodes pairs from column x (a red/blue site) in whole vectors while they
// stay within `last`, handing each vector's pixels to finish(pixels, count)
// (the colour correction, if any); returns the first column left to the
// scalar loop. Reads at most one column beyond `last`, as the scalar loop does.
template <bool RedSites, typename T, typename Finish>
int decodeRun(const T* up, const T* cur, const T* dn, T* out, int x, int last,
              const Finish& finish) {
    using namespace detail;
    using L = Lanes<T>;
    const __m128i one = L::set(1), two = L::set(2);
    for (; x + L::kPixels - 1 <= last; x += L::kPixels) {
        // With c = x + 2k: columns c - 1, c, c + 1 and c + 2 of each source row.
        const __m128i upMid = load(up + x), curMid = load(cur + x), dnMid = load(dn + x);
        const __m128i upBefore = L::first(load(up + x - 1)), upSite = L::first(upMid);
        const __m128i upGreen = L::second(upMid), upAfter = L::second(load(up + x + 1));
        const __m128i before = L::first(load(cur + x - 1)), site = L::first(curMid);
        const __m128i green = L::second(curMid), after = L::second(load(cur + x + 1));
        const __m128i dnBefore = L::first(load(dn + x - 1)), dnSite = L::first(dnMid);
        const __m128i dnGreen = L::second(dnMid), dnAfter = L::second(load(dn + x + 1));

        const __m128i siteColumn = L::add(upSite, dnSite);     // above and below the site
        const __m128i greenColumn = L::add(upGreen, dnGreen);  // above and below the green
        // The red/blue site at c.
        const __m128i siteGreen =
            L::template shr<2>(L::add(L::add(L::add(before, green), siteColumn), two));
        const __m128i siteLacking =
            L::template shr<2>(L::add(L::add(L::add(upBefore, dnBefore), greenColumn), two));
        // The green site at c + 1.
        const __m128i across = L::template shr<1>(L::add(L::add(site, after), one));
        const __m128i along = L::template shr<1>(L::add(greenColumn, one));
        const __m128i smooth = L::template shr<3>(
            L::add(L::add(L::times4(green), siteColumn), L::add(upAfter, dnAfter)));

        // Pixel samples in channel order 0 (blue), 1, 2 (red), two pixels per lane.
        if constexpr (RedSites)
            L::store(out + 3 * x, L::join(siteLacking, siteGreen), L::join(site, along),
                     L::join(smooth, across));
        else
            L::store(out + 3 * x, L::join(site, siteGreen), L::join(siteLacking, across),
                     L::join(smooth, along));
        finish(out + 3 * x, L::kPixels);
    }
    return x;
}

#undef EZ_SIMD_INLINE

#else

// No vector unit: everything is left to the scalar loop.
template <bool RedSites, typename T, typename Finish>
int decodeRun(const T*, const T*, const T*, T*, int x, int, const Finish&) {
    return x;
}

#endif

}  // namespace decode_simd
