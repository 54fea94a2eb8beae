// The hot kernels, compiled once per instruction set (SSE2, the baseline of
// every x86-64 processor; AVX2; AVX-512), and the one set in use: the best
// the processor has, chosen once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kernels {

// Columns first..last of one decoded row from source rows up, cur, dn,
// written from out on; red: the row's non-green sites are red; greenFirst:
// column 1 is green; corrected: pairs get the colour correction; matrix:
// null, or the Q12 colour matrix (colour_matrix.h) that every decoded pixel
// goes through in place of the correction.
template <typename T>
using DecodeRow = void (*)(const T* up, const T* cur, const T* dn, T* out, int width, int first,
                           int last, bool red, bool greenFirst, bool corrected,
                           const int32_t* matrix);

struct Set {
    const char* name;
    DecodeRow<uint8_t> decode8;
    DecodeRow<uint16_t> decode16;
    // Colour-corrects `count` pixels (blue, green, red) in place as the
    // decoders do: 8-bit samples, and 16-bit samples by their high bytes.
    void (*correct8)(unsigned char* pixels, size_t count);
    void (*correct16)(uint16_t* pixels, size_t count);
    // The Q12 colour matrix on `count` interleaved pixels in place.
    void (*matrix8)(unsigned char* pixels, size_t count, const int32_t* matrix);
    void (*matrix16)(uint16_t* pixels, size_t count, const int32_t* matrix);
};

extern const Set kSse2;
extern const Set kAvx2;
extern const Set kAvx512;

// Whether this processor runs the set.
bool runs(const Set& set);

// The set in use: the widest the processor runs, no wider than the
// environment variable EZCAM_SIMD allows ("sse2", "avx2", "avx512").
const Set& active();

}  // namespace kernels
