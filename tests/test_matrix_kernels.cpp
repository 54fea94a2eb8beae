// The colour matrix of a profile in every kernel set this processor runs,
// alone on interleaved pixels and inside the Bayer row decoder, against the
// matrix computed here in plain 64-bit arithmetic: byte for byte, at the
// coefficient range's limits, past them, and on samples at 0 and the top.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "processing/kernel_set.h"

namespace {

using Matrix = std::array<int32_t, 9>;

// Sample k = clamp(floor((sum_j m[3k+j] c_j + 2048) / 4096), 0, top).
template <typename T>
void byDefinition(const Matrix& m, T* p, size_t count) {
    const int64_t top = sizeof(T) == 1 ? 255 : 65535;
    for (size_t i = 0; i < count; ++i, p += 3) {
        const int64_t c[3] = {p[0], p[1], p[2]};
        for (int k = 0; k < 3; ++k) {
            int64_t v = 2048;
            for (int j = 0; j < 3; ++j) v += int64_t{m[3 * k + j]} * c[j];
            v = v >= 0 ? v / 4096 : -((-v + 4095) / 4096);
            p[k] = static_cast<T>(v < 0 ? 0 : v > top ? top : v);
        }
    }
}

// Random samples, a quarter of them 0 and a quarter at the top.
template <typename T>
std::vector<T> samples(std::mt19937& rng, size_t n) {
    const unsigned top = sizeof(T) == 1 ? 255 : 65535;
    std::vector<T> v(n);
    for (T& s : v) {
        const unsigned r = rng();
        s = static_cast<T>((r & 3) == 0 ? 0 : (r & 3) == 1 ? top : (r >> 2) & top);
    }
    return v;
}

struct Case {
    const char* what;
    Matrix m;
};

const Case kCases[] = {
    {"a measured one", {6636, -1966, -573, -860, 5775, -819, -205, -2130, 6431}},
    {"identity", {4096, 0, 0, 0, 4096, 0, 0, 0, 4096}},
    {"the lanes' limits", {32767, -32768, 32767, -32768, 32767, -32768, 32767, 32767, 32767}},
    {"all at the lower limit", {-32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768}},
    {"negative off the diagonal", {4096, -4096, -4095, -1, 4097, -2048, -2049, -2047, 1}},
    {"rows at the 16-bit narrow limit", {16384, -16384, 0, -32768, 0, 0, 10000, 12768, -10000}},
    {"rows just past it", {16384, 16385, 0, -16385, -16384, 0, 1, 1, 1}},
    {"a zero row", {5000, -900, -100, 0, 0, 0, -300, -700, 5000}},
    {"all zero", {0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"rounding at halves", {2048, 2048, 2048, 1, 1, 1, -2048, 2048, -1}},
    {"one past the limit", {32768, 0, 0, 0, 4096, 0, 0, 0, 4096}},
    {"one below the limit", {4096, 0, 0, 0, -32769, 0, 0, 0, 4096}},
    {"profile coefficients of 16", {65536, -65536, 65536, -65536, 65536, -65536, 40000, -40000, 1}},
};

// The widths of the runs: odd and even, below, at and past each set's vector.
const size_t kLengths[] = {0, 1, 2, 7, 8, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 257, 1001};

template <typename T>
void checkSet(const kernels::Set& set, const Case& c, std::mt19937& rng) {
    const auto alone = [&set](T* p, size_t n, const int32_t* m) {
        if constexpr (sizeof(T) == 1)
            set.matrix8(p, n, m);
        else
            set.matrix16(p, n, m);
    };
    const kernels::DecodeRow<T> decode = [&set] {
        if constexpr (sizeof(T) == 1)
            return set.decode8;
        else
            return set.decode16;
    }();
    for (size_t n : kLengths) {
        SCOPED_TRACE(std::to_string(n) + " pixels");
        // Alone: the pixels in place, what lies behind them untouched.
        std::vector<T> got = samples<T>(rng, 3 * n + 3), want = got;
        alone(got.data(), n, c.m.data());
        byDefinition(c.m, want.data(), n);
        ASSERT_EQ(got, want) << "alone";

        // In the row decoder: the plain decoding, then the matrix on every
        // pixel decoded, columns first..last of a row of width n + 2 (and
        // a run cut by 3 columns each side where it is long enough).
        const int width = static_cast<int>(n) + 2;
        const std::vector<T> up = samples<T>(rng, n + 2), cur = samples<T>(rng, n + 2),
                             dn = samples<T>(rng, n + 2);
        for (int cut : {0, 3}) {
            const int first = 1 + cut, last = width - 2 - cut;
            if (last < first) continue;
            const size_t pixels = static_cast<size_t>(last - first + 1);
            for (int pattern = 0; pattern < 4; ++pattern) {
                const bool red = pattern & 1, greenFirst = pattern & 2;
                std::vector<T> through(3 * pixels + 3, 7), plain = through;
                decode(up.data(), cur.data(), dn.data(), through.data(), width, first, last, red,
                       greenFirst, false, c.m.data());
                decode(up.data(), cur.data(), dn.data(), plain.data(), width, first, last, red,
                       greenFirst, false, nullptr);
                byDefinition(c.m, plain.data(), pixels);
                ASSERT_EQ(through, plain) << "decoding, columns " << first << " to " << last
                                          << (red ? ", red sites" : ", blue sites")
                                          << (greenFirst ? ", green first" : "");
            }
        }
    }
}

TEST(ColourMatrixKernels, EverySetGivesTheDefinitionsBytes) {
    std::mt19937 rng(2024);
    int sets = 0;
    for (const kernels::Set* set : {&kernels::kSse2, &kernels::kAvx2, &kernels::kAvx512}) {
        if (!kernels::runs(*set)) continue;
        ++sets;
        for (const Case& c : kCases) {
            SCOPED_TRACE(std::string(set->name) + ", " + c.what);
            {
                SCOPED_TRACE("8-bit");
                checkSet<uint8_t>(*set, c, rng);
            }
            {
                SCOPED_TRACE("16-bit");
                checkSet<uint16_t>(*set, c, rng);
            }
        }
    }
    EXPECT_GE(sets, 1);
}

}  // namespace
