// A 3 x 3 colour matrix of Q12 coefficients on interleaved pixels: the
// arithmetic that every path (the scalar loop, the vector kernels, the
// decoders) computes to the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace colour {

constexpr int kMatrixShift = 12;

// Sample k of the pixel (c0, c1, c2): (m[3k] c0 + m[3k+1] c1 + m[3k+2] c2
// + 2^11) >> 12, the shift flooring, clamped to 0 .. T's largest value.
// The sum is taken in 64 bits: 16-bit samples times coefficients of 16 and
// more overflow 32.
template <typename T>
inline void matrixPixel(const int32_t* m, T* d, int64_t c0, int64_t c1, int64_t c2) {
    constexpr int64_t kTop = sizeof(T) == 1 ? 255 : 65535;
    for (int k = 0; k < 3; ++k) {
        const int64_t v = (m[3 * k] * c0 + m[3 * k + 1] * c1 + m[3 * k + 2] * c2 +
                           (int64_t{1} << (kMatrixShift - 1))) >>
                          kMatrixShift;
        d[k] = static_cast<T>(v < 0 ? 0 : v > kTop ? kTop : v);
    }
}

template <typename T>
inline void matrixPixels(const int32_t* m, T* p, size_t count) {
    for (size_t i = 0; i < count; ++i, p += 3) matrixPixel(m, p, p[0], p[1], p[2]);
}

// Whether the vector kernels take the matrix: they multiply with 16-bit
// signed coefficients (-8 to just under 8); others run the scalar loop.
inline bool matrixInLanes(const int32_t* m) {
    for (int i = 0; i < 9; ++i)
        if (m[i] < -32768 || m[i] > 32767) return false;
    return true;
}

}  // namespace colour
