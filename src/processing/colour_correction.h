// Colour correction of decoded pixels, computed per pixel instead of looked
// up in a 256 x 256 x 256 table, with exactly the table's results.
//
// Each output channel k, of its own input x and the other two inputs y, z:
//   X = (m_kk + (1 - m_kk) f(x)) x - m_ky (1 - f(x)) y - m_kz (1 - f(x)) z,
//   f(x) = 0 below 180, (x - 180) / 75 from 180 on;
// stored as trunc(X) clamped to 0..255, evaluated in double precision in
// the order of the table's definition (correctExact). Over all 2^24 inputs
// that equals the floor of the exact rational value, which lies at least
// 4.7e-9 from any integer unless it is one; so any computation within a
// known error bound of X whose floor is unambiguous has the table's result.
// The vector kernels compute X in fixed point where every input of a vector
// lies below 180 (kFixed), else in single precision (error below 6e-5); the
// rare pixels either form leaves within its band of an integer go to
// single precision and from there, within kAmbiguity, to correctExact.
#pragma once

#include <array>
#include <cstdint>

namespace colour {

// Channel order of the decoders: 0 blue, 1 green, 2 red. Row k holds the
// magnitudes of output channel k's coefficients on red, green, blue inputs
// (the diagonal adds, the others subtract).
constexpr double kMatrix[3][3] = {
    {0.0612704825, 0.3185587856, 1.3442191098},  // blue: m20, m21, m22
    {0.5418708657, 1.6784839334, 0.2271528925},  // green: m10, m11, m12
    {1.6259973472, 0.5043470233, 0.0019609669},  // red: m00, m01, m02
};
// Input index (0 red, 1 green, 2 blue) of the own channel and of the two
// others, in the order the definition subtracts them, per output channel
// (0 blue, 1 green, 2 red).
constexpr int kOwn[3] = {2, 1, 0};
constexpr int kFirst[3] = {0, 0, 1};
constexpr int kSecond[3] = {1, 2, 2};

constexpr double fade(int x) {
    return x / 180 ? (x - 180) / 75.0 : 0.0;
}

// Per output channel and own input value: the own term and the two
// factors of the subtracted terms, each computed as the definition does.
struct ExactTables {
    double own[3][256];
    double first[3][256];
    double second[3][256];
};
constexpr ExactTables makeExactTables() {
    ExactTables t{};
    for (int k = 0; k < 3; ++k) {
        const double* m = kMatrix[k];
        const double diagonal = m[kOwn[k]];
        for (int x = 0; x < 256; ++x) {
            const double f = fade(x);
            t.own[k][x] = (diagonal + (1 - diagonal) * f) * x;
            t.first[k][x] = m[kFirst[k]] * (1 - f);
            t.second[k][x] = m[kSecond[k]] * (1 - f);
        }
    }
    return t;
}
inline constexpr ExactTables kExact = makeExactTables();

// One output channel as the table holds it.
inline unsigned correctExact(int k, unsigned b, unsigned g, unsigned r) {
    const unsigned in[3] = {r, g, b};
    const unsigned x = in[kOwn[k]];
    const double v = (kExact.own[k][x] - kExact.first[k][x] * in[kFirst[k]]) -
                     kExact.second[k][x] * in[kSecond[k]];
    const int t = static_cast<int>(v);  // |v| stays well below 1000
    return static_cast<unsigned>(t < 0 ? 0 : t > 255 ? 255 : t);
}

// Single-precision form for the vector kernels, per output channel:
//   X = x (own - fade v) - w (first y + second z), v = max(x - 180, 0), w = 75 - v.
struct Approximate {
    float own, fade, first, second;
};
constexpr std::array<Approximate, 3> makeApproximate() {
    std::array<Approximate, 3> a{};
    for (int k = 0; k < 3; ++k) {
        const double* m = kMatrix[k];
        const double diagonal = m[kOwn[k]];
        a[k] = {static_cast<float>(diagonal), static_cast<float>((diagonal - 1) / 75),
                static_cast<float>(m[kFirst[k]] / 75), static_cast<float>(m[kSecond[k]] / 75)};
    }
    return a;
}
inline constexpr std::array<Approximate, 3> kApproximate = makeApproximate();
// Four times the largest error of the single-precision form over all inputs.
constexpr float kAmbiguity = 1.0f / 4096;

// Fixed-point form for pixels whose three inputs all lie below 180, where the
// fade is 0 and X = m_kk x - m_ky y - m_kz z: the integer
//   T = C_kk x - C_ky y - C_kz z,  C = round(m 2^21),
// computed exactly in 32 bits. |T - 2^21 X| <= 179 (sum of |C - m 2^21|),
// below kFixedBand in every channel, so T >> 21 is trunc(X) unless T lies
// within kFixedBand of a multiple of 2^21 (or X < 1, which stores 0 anyway).
// Each coefficient is split as C = 128 high + low (0 <= low < 128), so one
// multiply-add of 16-bit pairs (128 u, u) by (high, low) forms C u exactly.
constexpr int kFixedShift = 21;
constexpr int kFixedBand = 256;  // 2^21 units; the worst bound is 220
// The pair (high, low) of one signed coefficient as a 32-bit lane of two
// 16-bit words, high in the low word.
constexpr int32_t fixedPair(double m, bool subtracted) {
    const long long magnitude = static_cast<long long>(m * (1 << kFixedShift) + 0.5);
    const long long c = subtracted ? -magnitude : magnitude;
    const long long high = c >> 7, low = c & 127;  // c = 128 high + low
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(high)) |
                                static_cast<uint32_t>(low) << 16);
}
struct FixedPairs {
    int32_t own, first, second;
};
constexpr std::array<FixedPairs, 3> makeFixed() {
    std::array<FixedPairs, 3> f{};
    for (int k = 0; k < 3; ++k) {
        const double* m = kMatrix[k];
        f[k] = {fixedPair(m[kOwn[k]], false), fixedPair(m[kFirst[k]], true),
                fixedPair(m[kSecond[k]], true)};
    }
    return f;
}
inline constexpr std::array<FixedPairs, 3> kFixed = makeFixed();
// Largest rounding error of the fixed-point form over inputs below 180, in
// 2^-21 units; checked against the band when compiling.
constexpr double fixedError(int k) {
    double e = 0;
    for (int i : {kOwn[k], kFirst[k], kSecond[k]}) {
        const double exact = kMatrix[k][i] * (1 << kFixedShift);
        const double rounded = static_cast<double>(static_cast<long long>(exact + 0.5));
        e += (rounded > exact ? rounded - exact : exact - rounded) * 179;
    }
    return e;
}
static_assert(fixedError(0) < kFixedBand && fixedError(1) < kFixedBand &&
              fixedError(2) < kFixedBand);

}  // namespace colour
