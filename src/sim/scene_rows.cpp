// The row kernels: plain loops, SSE2 (every x86-64) and AVX2, chosen once
// by what the processor runs.
#include "sim/scene_rows.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define EZ_ROWS_X86 1
#endif

namespace sim::rows {
namespace {

// Plain loops, from sample `i` on: the ends of runs and other processors.
void noisy8From(uint8_t* out, const Run& r, int i) {
    for (; i < r.count; ++i) out[i] = static_cast<uint8_t>(noisy<kNoiseShift8>(r, i, 255));
}

template <SampleOrder Order>
void noisy16From(uint8_t* out, const Run& r, int i) {
    for (; i < r.count; ++i) store16<Order>(out + 2 * i, noisy<kNoiseShift16>(r, i, 4095));
}

void addObjectFrom(int16_t* levels, const int16_t* from, const int16_t* profile, int16_t weight, int count, int i) {
    for (; i < count; ++i) levels[i] = objectSample(from[i], weight, profile[i]);
}

void noisy8Plain(uint8_t* out, const Run& r) { noisy8From(out, r, 0); }

template <SampleOrder Order>
void noisy16Plain(uint8_t* out, const Run& r) {
    noisy16From<Order>(out, r, 0);
}

void addObjectPlain(int16_t* levels, const int16_t* from, const int16_t* profile, int16_t weight, int count) {
    addObjectFrom(levels, from, profile, weight, count, 0);
}

// Samples [x0, x1) of block b as a run.
inline Run runOf(const Blocks& k, int b, int x0, int x1) {
    const int c = k.classes[b];
    return {k.levels(x0, c), {k.even[0], k.even[1]}, k.noise + x0, k.gains[c & 3], x1 - x0};
}

template <void (*Kernel)(uint8_t*, const Run&), int Bytes>
void blocksPlain(uint8_t* out, const Blocks& k, int x0, int x1) {
    for (int b = x0 / kBlock; b * kBlock < x1; ++b, out += kBlock * Bytes)
        Kernel(out, runOf(k, b, b * kBlock, std::min(x1, (b + 1) * kBlock)));
}

#if EZ_ROWS_X86
inline __m128i load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The row level in every pair of 16-bit lanes, even samples low, plus bias.
inline int rowPair(const int16_t even[2], int bias) {
    return static_cast<int>(static_cast<uint16_t>(even[0] + bias) |
                            static_cast<uint32_t>(static_cast<uint16_t>(even[1] + bias)) << 16);
}

// SSE2, part of every x86-64. Unit noise: bytes to words with their sign
// (each byte high in its word, shifted down), scaled by the gain.
template <int Shift>
[[gnu::always_inline]] inline void noiseSse2(const int8_t* p, __m128i gain, __m128i& low, __m128i& high) {
    const __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // round(a x gain / 2^15) as SSSE3's pmulhrsw does it: bits 14 and up of
    // the product, plus one, halved.
    auto scale = [gain](__m128i a) {
        a = _mm_slli_epi16(_mm_srai_epi16(a, 8), Shift);
        const __m128i hi = _mm_mulhi_epi16(a, gain), lo = _mm_mullo_epi16(a, gain);
        const __m128i t = _mm_or_si128(_mm_slli_epi16(hi, 2), _mm_srli_epi16(lo, 14));
        return _mm_srai_epi16(_mm_add_epi16(t, _mm_set1_epi16(1)), 1);
    };
    low = scale(_mm_unpacklo_epi8(n, n));
    high = scale(_mm_unpackhi_epi8(n, n));
}

// 8-bit: the levels stay far below the saturation of the 16-bit lanes, and
// the pack clips to 0..255.
[[gnu::always_inline]] inline int noisy8Sse2(uint8_t* out, const int16_t* src, const int8_t* noise, int i, int count,
                                             __m128i level, __m128i gain) {
    for (; i + 16 <= count; i += 16) {
        __m128i nLow, nHigh;
        noiseSse2<kNoiseShift8>(noise + i, gain, nLow, nHigh);
        const __m128i a = _mm_adds_epi16(_mm_adds_epi16(load(src + i), level), nLow);
        const __m128i b = _mm_adds_epi16(_mm_adds_epi16(load(src + i + 8), level), nHigh);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
    }
    return i;
}

// 16-bit: levels shifted down by 32768, so that the saturating add clips at
// zero and the shift by 4 drops the shift again.
template <SampleOrder Order>
[[gnu::always_inline]] inline __m128i store16Sse2(__m128i v) {
    if constexpr (Order == SampleOrder::MsbFirst) {
        const __m128i w = _mm_slli_epi16(v, 4);
        return _mm_or_si128(_mm_slli_epi16(w, 8), _mm_srli_epi16(w, 8));
    } else if constexpr (Order == SampleOrder::Host) {
        return _mm_slli_epi16(v, 4);
    } else {
        const __m128i u = _mm_xor_si128(v, _mm_set1_epi16(-32768));
        return _mm_or_si128(_mm_srli_epi16(u, 4), _mm_slli_epi16(_mm_and_si128(u, _mm_set1_epi16(15)), 8));
    }
}

template <SampleOrder Order>
[[gnu::always_inline]] inline int noisy16Sse2(uint8_t* out, const int16_t* src, const int8_t* noise, int i, int count,
                                              __m128i level, __m128i gain) {
    const __m128i top = _mm_set1_epi16(4095 - 32768);
    for (; i + 16 <= count; i += 16) {
        __m128i nLow, nHigh;
        noiseSse2<kNoiseShift16>(noise + i, gain, nLow, nHigh);
        const __m128i a = _mm_min_epi16(_mm_adds_epi16(_mm_add_epi16(load(src + i), level), nLow), top);
        const __m128i b = _mm_min_epi16(_mm_adds_epi16(_mm_add_epi16(load(src + i + 8), level), nHigh), top);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), store16Sse2<Order>(a));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), store16Sse2<Order>(b));
    }
    return i;
}

void runSse2(uint8_t* out, const Run& r) {
    const int i = noisy8Sse2(out, r.src, r.noise, 0, r.count, _mm_set1_epi32(rowPair(r.even, 0)), _mm_set1_epi16(r.gain));
    noisy8From(out, r, i);
}

template <SampleOrder Order>
void runSse2(uint8_t* out, const Run& r) {
    const __m128i level = _mm_set1_epi32(rowPair(r.even, -32768));
    noisy16From<Order>(out, r, noisy16Sse2<Order>(out, r.src, r.noise, 0, r.count, level, _mm_set1_epi16(r.gain)));
}

// The description of the blocks is copied first: stores through the output
// may alias it, and the compiler would read it again for every block.
void blocksSse2(uint8_t* out, const Blocks& k, int x0, int x1) {
    const __m128i level = _mm_set1_epi32(rowPair(k.even, 0));
    const int16_t *columns = k.columns, *objects = k.objects;
    const int from = k.objectsFrom;
    const uint8_t* classes = k.classes;
    const int8_t* noise = k.noise;
    const int16_t gains[4] = {k.gains[0], k.gains[1], k.gains[2], k.gains[3]};
    int b = x0 / kBlock;
    for (; (b + 1) * kBlock <= x1; ++b, out += kBlock) {
        const int x = b * kBlock, c = classes[b];
        noisy8Sse2(out, c & kFromObjects ? objects + (x - from) : columns + x, noise + x, 0, kBlock, level,
                   _mm_set1_epi16(gains[c & 3]));
    }
    if (b * kBlock < x1) runSse2(out, runOf(k, b, b * kBlock, x1));
}

template <SampleOrder Order>
void blocksSse2(uint8_t* out, const Blocks& k, int x0, int x1) {
    const __m128i level = _mm_set1_epi32(rowPair(k.even, -32768));
    const int16_t *columns = k.columns, *objects = k.objects;
    const int from = k.objectsFrom;
    const uint8_t* classes = k.classes;
    const int8_t* noise = k.noise;
    const int16_t gains[4] = {k.gains[0], k.gains[1], k.gains[2], k.gains[3]};
    int b = x0 / kBlock;
    for (; (b + 1) * kBlock <= x1; ++b, out += 2 * kBlock) {
        const int x = b * kBlock, c = classes[b];
        noisy16Sse2<Order>(out, c & kFromObjects ? objects + (x - from) : columns + x, noise + x, 0, kBlock, level,
                           _mm_set1_epi16(gains[c & 3]));
    }
    if (b * kBlock < x1) runSse2<Order>(out, runOf(k, b, b * kBlock, x1));
}

void addObjectSse2(int16_t* levels, const int16_t* from, const int16_t* profile, int16_t weight, int count) {
    const __m128i w = _mm_set1_epi16(weight);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i c = _mm_mulhi_epi16(w, load(profile + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(levels + i), _mm_adds_epi16(load(from + i), c));
    }
    addObjectFrom(levels, from, profile, weight, count, i);
}

// AVX2: the same in lanes twice as wide, with the rounding multiply of the
// noise in one instruction. The loops are written out in each function: a
// lambda would not take the function's instruction set.
[[gnu::target("avx2")]] inline __m256i load256(const int16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

template <int Shift>
[[gnu::target("avx2")]] inline __m256i noiseAvx2(const int8_t* p, __m256i gain) {
    const __m256i unit = _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    return _mm256_mulhrs_epi16(Shift ? _mm256_slli_epi16(unit, Shift) : unit, gain);
}

[[gnu::target("avx2"), gnu::always_inline]] inline int noisy8Avx2(uint8_t* out, const int16_t* src, const int8_t* noise,
                                                                int i, int count, __m256i level, __m256i gain) {
    for (; i + 32 <= count; i += 32) {
        const __m256i a = _mm256_adds_epi16(_mm256_adds_epi16(load256(src + i), level), noiseAvx2<kNoiseShift8>(noise + i, gain));
        const __m256i b =
            _mm256_adds_epi16(_mm256_adds_epi16(load256(src + i + 16), level), noiseAvx2<kNoiseShift8>(noise + i + 16, gain));
        // The pack interleaves the halves of a and b; put them back in order.
        const __m256i p = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), _MM_SHUFFLE(3, 1, 2, 0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), p);
    }
    return i;
}

template <SampleOrder Order>
[[gnu::target("avx2"), gnu::always_inline]] inline int noisy16Avx2(uint8_t* out, const int16_t* src, const int8_t* noise,
                                                                 int i, int count, __m256i level, __m256i gain) {
    const __m256i top = _mm256_set1_epi16(4095 - 32768);
    const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5, 4, 7,
                                          6, 9, 8, 11, 10, 13, 12, 15, 14);
    for (; i + 16 <= count; i += 16) {
        const __m256i a = _mm256_add_epi16(load256(src + i), level);
        const __m256i v = _mm256_min_epi16(_mm256_adds_epi16(a, noiseAvx2<kNoiseShift16>(noise + i, gain)), top);
        __m256i w;
        if constexpr (Order == SampleOrder::MsbFirst) {
            w = _mm256_shuffle_epi8(_mm256_slli_epi16(v, 4), swap);
        } else if constexpr (Order == SampleOrder::Host) {
            w = _mm256_slli_epi16(v, 4);
        } else {
            const __m256i u = _mm256_xor_si256(v, _mm256_set1_epi16(-32768));
            w = _mm256_or_si256(_mm256_srli_epi16(u, 4), _mm256_slli_epi16(_mm256_and_si256(u, _mm256_set1_epi16(15)), 8));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i), w);
    }
    return i;
}

// The upper halves are cleared before SSE code runs again: mixing the two
// with them set costs dearly.
[[gnu::target("avx2")]] void runAvx2(uint8_t* out, const Run& r) {
    const __m256i level = _mm256_set1_epi32(rowPair(r.even, 0));
    const int i = noisy8Avx2(out, r.src, r.noise, 0, r.count, level, _mm256_set1_epi16(r.gain));
    _mm256_zeroupper();
    runSse2(out + i, {r.src + i, {r.even[0], r.even[1]}, r.noise + i, r.gain, r.count - i});
}

template <SampleOrder Order>
[[gnu::target("avx2")]] void runAvx2(uint8_t* out, const Run& r) {
    const __m256i level = _mm256_set1_epi32(rowPair(r.even, -32768));
    const int i = noisy16Avx2<Order>(out, r.src, r.noise, 0, r.count, level, _mm256_set1_epi16(r.gain));
    _mm256_zeroupper();
    runSse2<Order>(out + 2 * i, {r.src + i, {r.even[0], r.even[1]}, r.noise + i, r.gain, r.count - i});
}

[[gnu::target("avx2")]] void blocksAvx2(uint8_t* out, const Blocks& k, int x0, int x1) {
    const __m256i level = _mm256_set1_epi32(rowPair(k.even, 0));
    const int16_t *columns = k.columns, *objects = k.objects;
    const int from = k.objectsFrom;
    const uint8_t* classes = k.classes;
    const int8_t* noise = k.noise;
    const int16_t gains[4] = {k.gains[0], k.gains[1], k.gains[2], k.gains[3]};
    int b = x0 / kBlock;
    for (; (b + 1) * kBlock <= x1; ++b, out += kBlock) {
        const int x = b * kBlock, c = classes[b];
        noisy8Avx2(out, c & kFromObjects ? objects + (x - from) : columns + x, noise + x, 0, kBlock, level,
                   _mm256_set1_epi16(gains[c & 3]));
    }
    _mm256_zeroupper();
    if (b * kBlock < x1) runAvx2(out, runOf(k, b, b * kBlock, x1));
}

template <SampleOrder Order>
[[gnu::target("avx2")]] void blocksAvx2(uint8_t* out, const Blocks& k, int x0, int x1) {
    const __m256i level = _mm256_set1_epi32(rowPair(k.even, -32768));
    const int16_t *columns = k.columns, *objects = k.objects;
    const int from = k.objectsFrom;
    const uint8_t* classes = k.classes;
    const int8_t* noise = k.noise;
    const int16_t gains[4] = {k.gains[0], k.gains[1], k.gains[2], k.gains[3]};
    int b = x0 / kBlock;
    for (; (b + 1) * kBlock <= x1; ++b, out += 2 * kBlock) {
        const int x = b * kBlock, c = classes[b];
        noisy16Avx2<Order>(out, c & kFromObjects ? objects + (x - from) : columns + x, noise + x, 0, kBlock, level,
                           _mm256_set1_epi16(gains[c & 3]));
    }
    _mm256_zeroupper();
    if (b * kBlock < x1) runAvx2<Order>(out, runOf(k, b, b * kBlock, x1));
}

[[gnu::target("avx2")]] void addObjectAvx2(int16_t* levels, const int16_t* from, const int16_t* profile, int16_t weight,
                                           int count) {
    const __m256i w = _mm256_set1_epi16(weight);
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i c = _mm256_mulhi_epi16(w, load256(profile + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(levels + i), _mm256_adds_epi16(load256(from + i), c));
    }
    _mm256_zeroupper();
    addObjectFrom(levels, from, profile, weight, count, i);
}
#endif

const Kernels kPlain{noisy8Plain,
                     {noisy16Plain<SampleOrder::MsbFirst>, noisy16Plain<SampleOrder::Host>,
                      noisy16Plain<SampleOrder::Packed12>},
                     blocksPlain<noisy8Plain, 1>,
                     {blocksPlain<noisy16Plain<SampleOrder::MsbFirst>, 2>, blocksPlain<noisy16Plain<SampleOrder::Host>, 2>,
                      blocksPlain<noisy16Plain<SampleOrder::Packed12>, 2>},
                     addObjectPlain};
#if EZ_ROWS_X86
const Kernels kSse2{runSse2,
                    {runSse2<SampleOrder::MsbFirst>, runSse2<SampleOrder::Host>, runSse2<SampleOrder::Packed12>},
                    blocksSse2,
                    {blocksSse2<SampleOrder::MsbFirst>, blocksSse2<SampleOrder::Host>, blocksSse2<SampleOrder::Packed12>},
                    addObjectSse2};
const Kernels kAvx2{runAvx2,
                    {runAvx2<SampleOrder::MsbFirst>, runAvx2<SampleOrder::Host>, runAvx2<SampleOrder::Packed12>},
                    blocksAvx2,
                    {blocksAvx2<SampleOrder::MsbFirst>, blocksAvx2<SampleOrder::Host>, blocksAvx2<SampleOrder::Packed12>},
                    addObjectAvx2};
#endif

}  // namespace

bool runs(Isa isa) {
#if EZ_ROWS_X86
    __builtin_cpu_init();
    return isa != Isa::Avx2 || __builtin_cpu_supports("avx2");
#else
    return isa == Isa::Plain;
#endif
}

const Kernels& kernels(Isa isa) {
#if EZ_ROWS_X86
    if (isa == Isa::Avx2 && runs(Isa::Avx2)) return kAvx2;
    if (isa != Isa::Plain) return kSse2;
#endif
    (void)isa;
    return kPlain;
}

const Kernels& bestKernels() {
    static const Kernels& best = kernels(Isa::Avx2);
    return best;
}

}  // namespace sim::rows
