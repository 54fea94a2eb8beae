// Calibration corrections: flat field, hot pixels, smoothing and bit shift.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <tuple>

#include "image_fixture.h"
#include "processing/corrections.h"
#include "processing/tone.h"

namespace {
std::mt19937 rng(12345);
unsigned randomSample(int, int, int) { return rng() & 0xffff; }

// Sort-based 3 x 3 median of `src` at (x, y) over the 8-bit values, rows
// beyond the edge repeating the edge row.
unsigned sortedMedian(const TestImage& src, int x, int y, int k, int shift) {
    std::array<unsigned, 9> v;
    for (int i = 0; i < 9; ++i) v[i] = src.at(x + i % 3 - 1, std::clamp(y + i / 3 - 1, 0, src.record.height - 1), k) >> shift;
    std::sort(v.begin(), v.end());
    return v[4];
}
}  // namespace

TEST(FlatField, FlattensClampsAndDividesExactly) {
    for (int depth : {8, 16}) {  // a reference equal to the frame flattens it; low bytes stay
        TestImage frame(33, 17, 3, depth), reference(33, 17, 3, 8);
        frame.fill(randomSample);
        const auto before = frame.bytes;
        reference.fill([&](int x, int y, int k) { return frame.at(x, y, k) >> (depth - 8) | 1; });
        __calc_avg(reference.get(), 0);
        __flat_field(frame.get(), reference.get());
        for (int i = 0; i < 33 * 17 * 3; ++i) {
            const unsigned v = before[i * depth / 8 + depth / 8 - 1], mean = reference.record.channel_mean[i % 3];
            ASSERT_EQ(frame.bytes[i * depth / 8 + depth / 8 - 1], v & 1 ? mean : std::min(mean * v / (v | 1), 255u));
            if (depth == 16) {
                ASSERT_EQ(frame.bytes[2 * i], before[2 * i]);
            }
        }
    }
    // Every value against every reference value (0 counts as 1), small and large means.
    TestImage frame(256, 256, 1, 8), reference(256, 256, 1, 8), other(255, 256, 1, 8);
    reference.fill([](int, int y, int) { return y; });
    for (unsigned mean : {1u, 77u, 100u, 255u, 65535u}) {
        frame.fill([](int x, int, int) { return x; });
        reference.record.channel_mean[1] = static_cast<uint16_t>(mean);
        __flat_field(frame.get(), reference.get());
        for (unsigned r = 0; r < 256; ++r)
            for (unsigned v = 0; v < 256; ++v) ASSERT_EQ(frame.at(v, r), std::min(mean * v / std::max(r, 1u), 255u));
    }
    EXPECT_EQ(frame.at(200, 50), 255u) << "200 at reference 50, mean 100 (and more)";
    other.fill([](int, int, int) { return 9; });
    __flat_field(other.get(), reference.get());  // size mismatch: refused
    EXPECT_EQ(other.at(254, 255), 9u);
}

TEST(Defects, DetectionLimitsFullListAndRepair) {
    TestImage small(640, 480, 1, 8), frame(800, 400, 1, 8), deep(800, 400, 1, 16);
    std::vector<_ezPoint> list(16);
    EXPECT_EQ(std::tuple(__calc_defects(small.get(), list.data(), 16), __calc_defects(frame.get(), list.data(), 2),
                         __calc_defects(frame.get(), list.data(), 16)), std::tuple(-3, -3, 0));
    // (row, column, value, left, right): over 3 x 60; at the limit; too dark;
    // over 0; limit capped at 255; limit 252; then rows and columns never scanned.
    for (auto [r, c, v, left, right] : {std::tuple{10, 10, 200, 60, 50}, {20, 20, 180, 60, 50}, {30, 30, 32, 0, 0},
                                        {40, 40, 33, 0, 0}, {60, 60, 255, 85, 0}, {70, 70, 253, 0, 84},
                                        {397, 797, 255, 0, 0}, {1, 50, 255, 0, 0}, {398, 50, 255, 0, 0}}) {
        frame.set(c, r, 0, v);
        frame.set(c - 2, r, 0, left);
        frame.set(c + 2, r, 0, right);
    }
    frame.set(798, 50, 0, 255);
    ASSERT_EQ(__calc_defects(frame.get(), list.data(), 7), 4);
    const std::vector<std::pair<int, int>> expected{{10, 10}, {40, 40}, {70, 70}, {397, 797}};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(std::pair(int{list[i].row}, int{list[i].column}), expected[i]);
    EXPECT_EQ(__calc_defects(frame.get(), list.data(), 6), -3) << "full once the fourth is stored";
    for (auto [c, v] : {std::pair{100, 8192}, {200, 8193}, {300, 30000}, {302, 10000}, {400, 30001}, {402, 10000}})
        deep.set(c, 5, 0, v);
    ASSERT_EQ(__calc_defects(deep.get(), list.data(), 16), 2);
    EXPECT_EQ(std::tuple(list[0].column, list[1].column), std::tuple(200, 400));

    // Repair copies the sample two columns left; positions off the frame are skipped.
    deep.fill([](int x, int y, int) { return 1000 + 10 * y + x; });
    const _ezPoint points[] = {{1, 2}, {2, 799}, {0, 1}, {400, 2}, {1, 800}};
    __defects_correction(deep.get(), points, 5);
    EXPECT_EQ(std::tuple(deep.at(2, 1), deep.at(799, 2), deep.at(1, 0)), std::tuple(1010u, 1817u, 1001u));
}

TEST(Smooth, MediansAgainstSortingAndInPlaceMean) {
    for (auto [channels, depth] : {std::pair{3, 8}, {1, 16}}) {
        // The filter works in place: compare against a sorted median over the
        // partly filtered copy, walked in the same order.
        TestImage img(23, 19, channels, depth), expected(23, 19, channels, depth);
        img.fill(randomSample);
        expected.bytes = img.bytes;
        const int shift = depth - 8;
        for (int y = 0; y < 19; ++y)
            for (int x = 1; x < 22; ++x)
                for (int k = 0; k < channels; ++k)
                    expected.set(x, y, k, sortedMedian(expected, x, y, k, shift) << shift | (expected.at(x, y, k) & (shift ? 0xff : 0)));
        __smooth(img.get(), 1);
        EXPECT_EQ(img.bytes, expected.bytes);
    }
    TestImage row(4, 1, 1, 8), narrow(2, 5, 1, 8);  // the left neighbour is already filtered: 16 -> 8, then 2
    row.set(1, 0, 0, 16);
    __smooth(row.get(), 2);
    __smooth(row.get(), 3);
    narrow.fill(randomSample);
    const auto before = narrow.bytes;
    __smooth(narrow.get(), 1);
    EXPECT_EQ(row.bytes, (std::vector<unsigned char>{0, 8, 2, 0}));
    EXPECT_EQ(narrow.bytes, before);

    TestImage src(17, 9, 1, 16), dst(17, 9, 1, 16), src8(5, 5, 1, 8), dst8(5, 5, 1, 8);
    src.fill(randomSample);
    __smooth_middle(src.get(), dst.get());
    for (int y = 0; y < 9; ++y) {
        for (int x = 1; x < 16; ++x) ASSERT_EQ(dst.at(x, y), sortedMedian(src, x, y, 0, 0)) << x << "," << y;
        EXPECT_EQ(std::tuple(dst.at(0, y), dst.at(16, y)), std::tuple(src.at(0, std::max(y - 1, 0)), dst.at(15, y)));
    }
    src8.fill([](int, int, int) { return 7; });
    __smooth_middle(src8.get(), dst8.get());
    EXPECT_EQ(dst8.at(2, 2), 0u);
}

TEST(Shift, SaturatesLeftAndDropsRight) {
    TestImage img(2, 1, 1, 8), deep(2, 1, 1, 16);
    img.bytes = {100, 60};
    EXPECT_EQ(__shift_operation(img.get(), 2), 0);
    EXPECT_EQ(img.bytes, (std::vector<unsigned char>{255, 240}));
    img.bytes = {100, 60};
    EXPECT_EQ(std::tuple(__shift_operation(img.get(), -2), __shift_operation(img.get(), 9), __shift_operation(img.get(), -9),
                         __shift_operation(img.get(), 0)), std::tuple(0, -2, -2, 0));
    EXPECT_EQ(img.bytes, (std::vector<unsigned char>{25, 15}));
    deep.set(0, 0, 0, 1000);
    deep.set(1, 0, 0, 0x4000);
    __shift_operation(deep.get(), 2);
    EXPECT_EQ(std::tuple(deep.at(0, 0), deep.at(1, 0)), std::tuple(4000u, 65535u));
    __shift_operation(deep.get(), -8);
    EXPECT_EQ(deep.at(0, 0), 15u);
}
