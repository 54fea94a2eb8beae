// Integer vectors of 128, 256 and 512 bits behind one interface, for the
// kernels written once and compiled once per instruction set (the files
// *_sse2.cpp, *_avx2.cpp, *_avx512.cpp; the dispatcher picks one set when
// the library starts). Each set is defined only where the compiler targets
// it; everything here has internal linkage, so code for a wider set never
// stands in for the baseline's.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace {

#define EZ_INLINE inline __attribute__((always_inline))

// Lane-wise operations shared by every width act within 128-bit lanes, as
// the instruction sets do; store3 writes three vectors of per-lane 48-byte
// triples in memory order.
struct V128 {
    using R = __m128i;
    static constexpr int kBytes = 16;
    // The same bits as lanes of the compiler's vector arithmetic.
    typedef int32_t I32 __attribute__((vector_size(16)));
    typedef float F32 __attribute__((vector_size(16)));
    static EZ_INLINE R load(const void* p) { return _mm_loadu_si128(static_cast<const R*>(p)); }
    static EZ_INLINE void store(void* p, R v) { _mm_storeu_si128(static_cast<R*>(p), v); }
    static EZ_INLINE R zero() { return _mm_setzero_si128(); }
    static EZ_INLINE R and_(R a, R b) { return _mm_and_si128(a, b); }
    static EZ_INLINE R or_(R a, R b) { return _mm_or_si128(a, b); }
    static EZ_INLINE R add16(R a, R b) { return _mm_add_epi16(a, b); }
    static EZ_INLINE R add32(R a, R b) { return _mm_add_epi32(a, b); }
    template <int N>
    static EZ_INLINE R srli16(R a) {
        return _mm_srli_epi16(a, N);
    }
    template <int N>
    static EZ_INLINE R srli32(R a) {
        return _mm_srli_epi32(a, N);
    }
    template <int N>
    static EZ_INLINE R slli16(R a) {
        return _mm_slli_epi16(a, N);
    }
    template <int N>
    static EZ_INLINE R slli32(R a) {
        return _mm_slli_epi32(a, N);
    }
    static EZ_INLINE R set16(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
    static EZ_INLINE R set32(int v) { return _mm_set1_epi32(v); }
    static EZ_INLINE R unpacklo16(R a, R b) { return _mm_unpacklo_epi16(a, b); }
    static EZ_INLINE R unpackhi16(R a, R b) { return _mm_unpackhi_epi16(a, b); }
    static EZ_INLINE R unpacklo32(R a, R b) { return _mm_unpacklo_epi32(a, b); }
    static EZ_INLINE R unpackhi32(R a, R b) { return _mm_unpackhi_epi32(a, b); }
    template <int N>
    static EZ_INLINE R bsrli(R a) {
        return _mm_srli_si128(a, N);
    }
    template <int N>
    static EZ_INLINE R bslli(R a) {
        return _mm_slli_si128(a, N);
    }
    static EZ_INLINE R lowQword(R a) { return _mm_move_epi64(a); }
    template <int Imm>
    static EZ_INLINE R shufflePs(R a, R b) {
        return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), Imm));
    }
    // 32-bit lanes to 16-bit with signed saturation, lane by lane.
    // Signed 16-bit lanes multiplied pairwise, adjacent products summed into 32-bit lanes.
    static EZ_INLINE R madd16(R a, R b) { return _mm_madd_epi16(a, b); }
    template <int N>
    static EZ_INLINE R srai32(R a) {
        return _mm_srai_epi32(a, N);
    }
    static EZ_INLINE R packs32(R a, R b) { return _mm_packs_epi32(a, b); }
    static EZ_INLINE R max16(R a, R b) { return _mm_max_epi16(a, b); }
    static EZ_INLINE R min16(R a, R b) { return _mm_min_epi16(a, b); }
    static EZ_INLINE bool any(R a) {
        return _mm_movemask_epi8(_mm_cmpeq_epi32(a, _mm_setzero_si128())) != 0xffff;
    }
    static EZ_INLINE R xor_(R a, R b) { return _mm_xor_si128(a, b); }
    static EZ_INLINE R adds16(R a, R b) { return _mm_adds_epi16(a, b); }
    static EZ_INLINE R mulhi16(R a, R b) { return _mm_mulhi_epi16(a, b); }
    // round(a x b / 2^15), as SSSE3's pmulhrsw does it: bits 14 and up of
    // the product, plus one, halved.
    static EZ_INLINE R mulhrs16(R a, R b) {
        const R t = _mm_or_si128(_mm_slli_epi16(_mm_mulhi_epi16(a, b), 2), _mm_srli_epi16(_mm_mullo_epi16(a, b), 14));
        return _mm_srai_epi16(_mm_add_epi16(t, _mm_set1_epi16(1)), 1);
    }
    template <int N>
    static EZ_INLINE R srai16(R a) {
        return _mm_srai_epi16(a, N);
    }
    // kBytes / 2 signed bytes as 16-bit lanes.
    static EZ_INLINE R widen8(const int8_t* p) {
        const R n = _mm_loadl_epi64(reinterpret_cast<const R*>(p));
        return _mm_srai_epi16(_mm_unpacklo_epi8(n, n), 8);
    }
    // 16-bit lanes of a then b to unsigned bytes with saturation, in memory order.
    static EZ_INLINE R packus16(R a, R b) { return _mm_packus_epi16(a, b); }
    static EZ_INLINE void store3(void* out, R a, R b, R c) {
        auto* o = static_cast<unsigned char*>(out);
        store(o, a);
        store(o + 16, b);
        store(o + 32, c);
    }
};

#if defined(__AVX2__)
struct V256 {
    using R = __m256i;
    static constexpr int kBytes = 32;
    // The same bits as lanes of the compiler's vector arithmetic.
    typedef int32_t I32 __attribute__((vector_size(32)));
    typedef float F32 __attribute__((vector_size(32)));
    static EZ_INLINE R load(const void* p) { return _mm256_loadu_si256(static_cast<const R*>(p)); }
    static EZ_INLINE void store(void* p, R v) { _mm256_storeu_si256(static_cast<R*>(p), v); }
    static EZ_INLINE R zero() { return _mm256_setzero_si256(); }
    static EZ_INLINE R and_(R a, R b) { return _mm256_and_si256(a, b); }
    static EZ_INLINE R or_(R a, R b) { return _mm256_or_si256(a, b); }
    static EZ_INLINE R add16(R a, R b) { return _mm256_add_epi16(a, b); }
    static EZ_INLINE R add32(R a, R b) { return _mm256_add_epi32(a, b); }
    template <int N>
    static EZ_INLINE R srli16(R a) {
        return _mm256_srli_epi16(a, N);
    }
    template <int N>
    static EZ_INLINE R srli32(R a) {
        return _mm256_srli_epi32(a, N);
    }
    template <int N>
    static EZ_INLINE R slli16(R a) {
        return _mm256_slli_epi16(a, N);
    }
    template <int N>
    static EZ_INLINE R slli32(R a) {
        return _mm256_slli_epi32(a, N);
    }
    static EZ_INLINE R set16(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
    static EZ_INLINE R set32(int v) { return _mm256_set1_epi32(v); }
    static EZ_INLINE R unpacklo16(R a, R b) { return _mm256_unpacklo_epi16(a, b); }
    static EZ_INLINE R unpackhi16(R a, R b) { return _mm256_unpackhi_epi16(a, b); }
    static EZ_INLINE R unpacklo32(R a, R b) { return _mm256_unpacklo_epi32(a, b); }
    static EZ_INLINE R unpackhi32(R a, R b) { return _mm256_unpackhi_epi32(a, b); }
    template <int N>
    static EZ_INLINE R bsrli(R a) {
        return _mm256_bsrli_epi128(a, N);
    }
    template <int N>
    static EZ_INLINE R bslli(R a) {
        return _mm256_bslli_epi128(a, N);
    }
    static EZ_INLINE R lowQword(R a) { return _mm256_blend_epi32(_mm256_setzero_si256(), a, 0x33); }
    template <int Imm>
    static EZ_INLINE R shufflePs(R a, R b) {
        return _mm256_castps_si256(
            _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), Imm));
    }
    static EZ_INLINE R madd16(R a, R b) { return _mm256_madd_epi16(a, b); }
    template <int N>
    static EZ_INLINE R srai32(R a) {
        return _mm256_srai_epi32(a, N);
    }
    static EZ_INLINE R packs32(R a, R b) { return _mm256_packs_epi32(a, b); }
    static EZ_INLINE R max16(R a, R b) { return _mm256_max_epi16(a, b); }
    static EZ_INLINE R min16(R a, R b) { return _mm256_min_epi16(a, b); }
    static EZ_INLINE bool any(R a) { return !_mm256_testz_si256(a, a); }
    static EZ_INLINE R xor_(R a, R b) { return _mm256_xor_si256(a, b); }
    static EZ_INLINE R adds16(R a, R b) { return _mm256_adds_epi16(a, b); }
    static EZ_INLINE R mulhi16(R a, R b) { return _mm256_mulhi_epi16(a, b); }
    static EZ_INLINE R mulhrs16(R a, R b) { return _mm256_mulhrs_epi16(a, b); }
    template <int N>
    static EZ_INLINE R srai16(R a) {
        return _mm256_srai_epi16(a, N);
    }
    static EZ_INLINE R widen8(const int8_t* p) {
        return _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    // The pack works lane by lane; the permute puts the halves back in order.
    static EZ_INLINE R packus16(R a, R b) {
        return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), _MM_SHUFFLE(3, 1, 2, 0));
    }
    // Lanes hold [first half, second half] of each of a, b, c.
    static EZ_INLINE void store3(void* out, R a, R b, R c) {
        auto* o = static_cast<unsigned char*>(out);
        store(o, _mm256_permute2x128_si256(a, b, 0x20));
        store(o + 32, _mm256_permute2x128_si256(c, a, 0x30));
        store(o + 64, _mm256_permute2x128_si256(b, c, 0x31));
    }
};
#endif

#if defined(__AVX512BW__)
struct V512 {
    using R = __m512i;
    static constexpr int kBytes = 64;
    // The same bits as lanes of the compiler's vector arithmetic.
    typedef int32_t I32 __attribute__((vector_size(64)));
    typedef float F32 __attribute__((vector_size(64)));
    static EZ_INLINE R load(const void* p) { return _mm512_loadu_si512(p); }
    static EZ_INLINE void store(void* p, R v) { _mm512_storeu_si512(p, v); }
    static EZ_INLINE R zero() { return _mm512_setzero_si512(); }
    static EZ_INLINE R and_(R a, R b) { return _mm512_and_si512(a, b); }
    static EZ_INLINE R or_(R a, R b) { return _mm512_or_si512(a, b); }
    static EZ_INLINE R add16(R a, R b) { return _mm512_add_epi16(a, b); }
    static EZ_INLINE R add32(R a, R b) { return _mm512_add_epi32(a, b); }
    template <int N>
    static EZ_INLINE R srli16(R a) {
        return _mm512_srli_epi16(a, N);
    }
    template <int N>
    static EZ_INLINE R srli32(R a) {
        return _mm512_srli_epi32(a, N);
    }
    template <int N>
    static EZ_INLINE R slli16(R a) {
        return _mm512_slli_epi16(a, N);
    }
    template <int N>
    static EZ_INLINE R slli32(R a) {
        return _mm512_slli_epi32(a, N);
    }
    static EZ_INLINE R set16(int v) { return _mm512_set1_epi16(static_cast<short>(v)); }
    static EZ_INLINE R set32(int v) { return _mm512_set1_epi32(v); }
    static EZ_INLINE R unpacklo16(R a, R b) { return _mm512_unpacklo_epi16(a, b); }
    static EZ_INLINE R unpackhi16(R a, R b) { return _mm512_unpackhi_epi16(a, b); }
    static EZ_INLINE R unpacklo32(R a, R b) { return _mm512_unpacklo_epi32(a, b); }
    static EZ_INLINE R unpackhi32(R a, R b) { return _mm512_unpackhi_epi32(a, b); }
    template <int N>
    static EZ_INLINE R bsrli(R a) {
        return _mm512_bsrli_epi128(a, N);
    }
    template <int N>
    static EZ_INLINE R bslli(R a) {
        return _mm512_bslli_epi128(a, N);
    }
    static EZ_INLINE R lowQword(R a) { return _mm512_maskz_mov_epi64(0x55, a); }
    template <int Imm>
    static EZ_INLINE R shufflePs(R a, R b) {
        return _mm512_castps_si512(
            _mm512_shuffle_ps(_mm512_castsi512_ps(a), _mm512_castsi512_ps(b), Imm));
    }
    static EZ_INLINE R madd16(R a, R b) { return _mm512_madd_epi16(a, b); }
    template <int N>
    static EZ_INLINE R srai32(R a) {
        return _mm512_srai_epi32(a, N);
    }
    static EZ_INLINE R packs32(R a, R b) { return _mm512_packs_epi32(a, b); }
    static EZ_INLINE R max16(R a, R b) { return _mm512_max_epi16(a, b); }
    static EZ_INLINE R min16(R a, R b) { return _mm512_min_epi16(a, b); }
    static EZ_INLINE bool any(R a) { return _mm512_test_epi32_mask(a, a) != 0; }
    static EZ_INLINE R xor_(R a, R b) { return _mm512_xor_si512(a, b); }
    static EZ_INLINE R adds16(R a, R b) { return _mm512_adds_epi16(a, b); }
    static EZ_INLINE R mulhi16(R a, R b) { return _mm512_mulhi_epi16(a, b); }
    static EZ_INLINE R mulhrs16(R a, R b) { return _mm512_mulhrs_epi16(a, b); }
    template <int N>
    static EZ_INLINE R srai16(R a) {
        return _mm512_srai_epi16(a, N);
    }
    static EZ_INLINE R widen8(const int8_t* p) {
        return _mm512_cvtepi8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    }
    static EZ_INLINE R packus16(R a, R b) {
        return _mm512_permutexvar_epi64(_mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0), _mm512_packus_epi16(a, b));
    }
    // Lane j of a, b, c holds parts 0, 1, 2 of block j; memory order is
    // a0 b0 c0 a1 | b1 c1 a2 b2 | c2 a3 b3 c3 (128-bit lanes).
    static EZ_INLINE void store3(void* out, R a, R b, R c) {
        auto* o = static_cast<unsigned char*>(out);
        // Quadword indexes: 0-7 the first source, 8-15 the second.
        const R ab0 = _mm512_permutex2var_epi64(a, _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0), b);
        const R ab1 = _mm512_permutex2var_epi64(a, _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4), b);
        // ab0 = a0 b0 a1 b1, ab1 = a2 b2 a3 b3
        store(o, _mm512_permutex2var_epi64(ab0, _mm512_set_epi64(5, 4, 9, 8, 3, 2, 1, 0), c));
        const R mid =
            _mm512_permutex2var_epi64(ab0, _mm512_set_epi64(11, 10, 9, 8, 1, 0, 7, 6), ab1);
        store(o + 64,
              _mm512_permutex2var_epi64(mid, _mm512_set_epi64(7, 6, 5, 4, 11, 10, 1, 0), c));
        store(o + 128,
              _mm512_permutex2var_epi64(ab1, _mm512_set_epi64(15, 14, 7, 6, 5, 4, 13, 12), c));
    }
};
#endif

#undef EZ_INLINE

}  // namespace
