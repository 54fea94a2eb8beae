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
void noisy8From(uint8_t* out, const Run8& r, int i) {
    for (; i < r.count; ++i) out[i] = static_cast<uint8_t>(noisy(r, i, 255));
}

template <SampleOrder Order>
void noisy16From(uint8_t* out, const Run16& r, int i) {
    for (; i < r.count; ++i) store16<Order>(out + 2 * i, noisy(r, i, 4095));
}

void addObjectFrom(int16_t* levels, const int16_t* from, const int16_t* profile, int16_t weight, int count, int i) {
    for (; i < count; ++i) levels[i] = objectSample(from[i], weight, profile[i]);
}

void noisy8Plain(uint8_t* out, const Run8& r) { noisy8From(out, r, 0); }

template <SampleOrder Order>
void noisy16Plain(uint8_t* out, const Run16& r) {
    noisy16From<Order>(out, r, 0);
}

void addObjectPlain(int16_t* levels, const int16_t* from, const int16_t* profile, int16_t weight, int count) {
    addObjectFrom(levels, from, profile, weight, count, 0);
}

// Block b as a run.
template <typename Noise>
inline RunOf<Noise> runOf(const BlocksOf<Noise>& k, int b, int count = kBlock) {
    const int x = b * kBlock;
    const int c = k.classes[b];
    return {k.levels(x, c), {k.even[0], k.even[1]}, k.noise[c & 3] + x, count};
}

template <auto Kernel, int Bytes, typename Noise>
void blocksOf(uint8_t* out, const BlocksOf<Noise>& k, int x0, int x1) {
    for (int b = x0 / kBlock; b * kBlock < x1; ++b, out += kBlock * Bytes)
        Kernel(out, runOf(k, b, std::min(kBlock, x1 - b * kBlock)));
}

#if EZ_ROWS_X86
inline __m128i load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

[[gnu::target("avx2")]] inline __m256i load256(const int16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Sixteen bytes to words with their sign.
[[gnu::target("avx2")]] inline __m256i widen256(const int8_t* p) {
    return _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// The row level in every pair of 16-bit lanes, even samples low, plus bias.
template <typename Noise>
uint32_t rowPair(const RunOf<Noise>& r, int bias) {
    return static_cast<uint16_t>(r.even[0] + bias) | static_cast<uint32_t>(static_cast<uint16_t>(r.even[1] + bias))
                                                         << 16;
}

// SSE2, part of every x86-64. 8-bit: the levels stay far below the
// saturation of the 16-bit lanes, and the pack clips to 0..255.
[[gnu::always_inline]] inline int noisy8Sse2Body(uint8_t* out, const Run8& r, int i) {
    const __m128i level = _mm_set1_epi32(static_cast<int>(rowPair(r, 0)));
    const int16_t* src = r.src;
    const int8_t* noise = r.noise;
    const int count = r.count;
    for (; i + 16 <= count; i += 16) {
        // Bytes to words with their sign: each byte high in its word, shifted down.
        const __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i*>(noise + i));
        const __m128i nLow = _mm_srai_epi16(_mm_unpacklo_epi8(n, n), 8);
        const __m128i nHigh = _mm_srai_epi16(_mm_unpackhi_epi8(n, n), 8);
        const __m128i a = _mm_adds_epi16(_mm_adds_epi16(load(src + i), level), nLow);
        const __m128i b = _mm_adds_epi16(_mm_adds_epi16(load(src + i + 8), level), nHigh);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
    }
    return i;
}

// 16-bit: levels shifted down by 32768, so that the saturating add clips at
// zero and the shift by 4 drops the shift again.
template <SampleOrder Order>
[[gnu::always_inline]] inline int noisy16Sse2Body(uint8_t* out, const Run16& r, int i) {
    const __m128i level = _mm_set1_epi32(static_cast<int>(rowPair(r, -32768)));
    const __m128i top = _mm_set1_epi16(4095 - 32768);
    const int16_t *src = r.src, *noise = r.noise;
    const int count = r.count;
    for (; i + 8 <= count; i += 8) {
        const __m128i a = _mm_add_epi16(load(src + i), level);
        const __m128i v = _mm_min_epi16(_mm_adds_epi16(a, load(noise + i)), top);
        __m128i w;
        if constexpr (Order == SampleOrder::MsbFirst) {
            w = _mm_slli_epi16(v, 4);
            w = _mm_or_si128(_mm_slli_epi16(w, 8), _mm_srli_epi16(w, 8));
        } else if constexpr (Order == SampleOrder::Host) {
            w = _mm_slli_epi16(v, 4);
        } else {
            const __m128i u = _mm_xor_si128(v, _mm_set1_epi16(-32768));
            w = _mm_or_si128(_mm_srli_epi16(u, 4), _mm_slli_epi16(_mm_and_si128(u, _mm_set1_epi16(15)), 8));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), w);
    }
    return i;
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

void noisy8Sse2(uint8_t* out, const Run8& r) { noisy8From(out, r, noisy8Sse2Body(out, r, 0)); }

template <SampleOrder Order>
void noisy16Sse2(uint8_t* out, const Run16& r) {
    noisy16From<Order>(out, r, noisy16Sse2Body<Order>(out, r, 0));
}

// Whole blocks: loops of a fixed count, nothing left over.
void blocks8Sse2(uint8_t* out, const Blocks8& k, int x0, int x1) {
    int b = x0 / kBlock;
    for (; (b + 1) * kBlock <= x1; ++b, out += kBlock) noisy8Sse2Body(out, runOf(k, b), 0);
    if (b * kBlock < x1) noisy8Sse2(out, runOf(k, b, x1 - b * kBlock));
}

template <SampleOrder Order>
void blocks16Sse2(uint8_t* out, const Blocks16& k, int x0, int x1) {
    int b = x0 / kBlock;
    for (; (b + 1) * kBlock <= x1; ++b, out += 2 * kBlock) noisy16Sse2Body<Order>(out, runOf(k, b), 0);
    if (b * kBlock < x1) noisy16Sse2<Order>(out, runOf(k, b, x1 - b * kBlock));
}

// AVX2: the same in lanes twice as wide.
[[gnu::target("avx2"), gnu::always_inline]] inline int noisy8Avx2Body(uint8_t* out, const Run8& r, int i) {
    const __m256i level = _mm256_set1_epi32(static_cast<int>(rowPair(r, 0)));
    const int16_t* src = r.src;
    const int8_t* noise = r.noise;
    const int count = r.count;
    for (; i + 32 <= count; i += 32) {
        const __m256i a = _mm256_adds_epi16(_mm256_adds_epi16(load256(src + i), level), widen256(noise + i));
        const __m256i b = _mm256_adds_epi16(_mm256_adds_epi16(load256(src + i + 16), level), widen256(noise + i + 16));
        // The pack interleaves the halves of a and b; put them back in order.
        const __m256i p = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), _MM_SHUFFLE(3, 1, 2, 0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), p);
    }
    return i;
}

template <SampleOrder Order>
[[gnu::target("avx2"), gnu::always_inline]] inline int noisy16Avx2Body(uint8_t* out, const Run16& r, int i) {
    const __m256i level = _mm256_set1_epi32(static_cast<int>(rowPair(r, -32768)));
    const __m256i top = _mm256_set1_epi16(4095 - 32768);
    const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5, 4, 7,
                                          6, 9, 8, 11, 10, 13, 12, 15, 14);
    const int16_t *src = r.src, *noise = r.noise;
    const int count = r.count;
    for (; i + 16 <= count; i += 16) {
        const __m256i a = _mm256_add_epi16(load256(src + i), level);
        const __m256i v = _mm256_min_epi16(_mm256_adds_epi16(a, load256(noise + i)), top);
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
[[gnu::target("avx2")]] void noisy8Avx2(uint8_t* out, const Run8& r) {
    const int i = noisy8Avx2Body(out, r, 0);
    _mm256_zeroupper();
    noisy8From(out, r, noisy8Sse2Body(out, r, i));
}

template <SampleOrder Order>
[[gnu::target("avx2")]] void noisy16Avx2(uint8_t* out, const Run16& r) {
    const int i = noisy16Avx2Body<Order>(out, r, 0);
    _mm256_zeroupper();
    noisy16From<Order>(out, r, noisy16Sse2Body<Order>(out, r, i));
}

[[gnu::target("avx2")]] void blocks8Avx2(uint8_t* out, const Blocks8& k, int x0, int x1) {
    int b = x0 / kBlock;
    for (; (b + 1) * kBlock <= x1; ++b, out += kBlock) noisy8Avx2Body(out, runOf(k, b), 0);
    _mm256_zeroupper();
    if (b * kBlock < x1) noisy8Avx2(out, runOf(k, b, x1 - b * kBlock));
}

template <SampleOrder Order>
[[gnu::target("avx2")]] void blocks16Avx2(uint8_t* out, const Blocks16& k, int x0, int x1) {
    int b = x0 / kBlock;
    for (; (b + 1) * kBlock <= x1; ++b, out += 2 * kBlock) noisy16Avx2Body<Order>(out, runOf(k, b), 0);
    _mm256_zeroupper();
    if (b * kBlock < x1) noisy16Avx2<Order>(out, runOf(k, b, x1 - b * kBlock));
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
                     blocksOf<noisy8Plain, 1, int8_t>,
                     {blocksOf<noisy16Plain<SampleOrder::MsbFirst>, 2, int16_t>,
                      blocksOf<noisy16Plain<SampleOrder::Host>, 2, int16_t>,
                      blocksOf<noisy16Plain<SampleOrder::Packed12>, 2, int16_t>},
                     addObjectPlain};
#if EZ_ROWS_X86
const Kernels kSse2{noisy8Sse2,
                    {noisy16Sse2<SampleOrder::MsbFirst>, noisy16Sse2<SampleOrder::Host>,
                     noisy16Sse2<SampleOrder::Packed12>},
                    blocks8Sse2,
                    {blocks16Sse2<SampleOrder::MsbFirst>, blocks16Sse2<SampleOrder::Host>,
                     blocks16Sse2<SampleOrder::Packed12>},
                    addObjectSse2};
const Kernels kAvx2{noisy8Avx2,
                    {noisy16Avx2<SampleOrder::MsbFirst>, noisy16Avx2<SampleOrder::Host>,
                     noisy16Avx2<SampleOrder::Packed12>},
                    blocks8Avx2,
                    {blocks16Avx2<SampleOrder::MsbFirst>, blocks16Avx2<SampleOrder::Host>,
                     blocks16Avx2<SampleOrder::Packed12>},
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
