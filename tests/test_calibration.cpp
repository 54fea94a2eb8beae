// Calibration corrections: flat field, hot pixels, smoothing and bit shift.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "image_fixture.h"
#include "processing/calibration.h"
#include "processing/tone.h"

namespace {
std::mt19937 rng(12345);
unsigned randomSample(int, int, int) { return rng() & 0xffff; }

// Straightforward in-place 3 x 3 median over the 8-bit values (high bytes),
// walking rows and columns in the same order as the filter.
void referenceMedian(TestImage& t) {
    const int w = t.record.width, h = t.record.height, n = t.record.channels, shift = t.record.depth - 8;
    for (int y = 0; y < h; ++y)
        for (int x = 1; x + 1 < w; ++x)
            for (int k = 0; k < n; ++k) {
                std::array<unsigned, 9> v;
                int i = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        v[i++] = t.at(x + dx, std::clamp(y + dy, 0, h - 1), k) >> shift;
                std::sort(v.begin(), v.end());
                const unsigned low = shift ? t.at(x, y, k) & 0xff : 0;
                t.set(x, y, k, (v[4] << shift) | low);
            }
}
}  // namespace

TEST(FlatField, ReferenceEqualToFrameFlattensIt) {
    for (int depth : {8, 16}) {
        TestImage frame(33, 17, 3, depth), reference(33, 17, 3, 8);
        frame.fill(randomSample);
        const auto before = frame.bytes;
        reference.fill([&](int x, int y, int k) { return frame.at(x, y, k) >> (depth - 8); });
        ASSERT_EQ(__calc_avg(reference.get(), 0), 0);
        __flat_field(frame.get(), reference.get());
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 33; ++x)
                for (int k = 0; k < 3; ++k) {
                    // Zero reference values became 1; the frame's value there is 0 or 1.
                    if (reference.at(x, y, k) == 1) continue;
                    ASSERT_EQ(frame.at(x, y, k) >> (depth - 8), reference.record.channel_mean[k]);
                    const size_t low = frame.index(x, y, k) * 2;  // low byte of a 16-bit sample
                    if (depth == 16) {
                        ASSERT_EQ(frame.record.data[low], before[low]);
                    }
                }
    }
}

TEST(FlatField, ExactQuotientsClampAndZeroReference) {
    // Every value against every reference value, at small and large means.
    TestImage frame(256, 256, 1, 8), reference(256, 256, 1, 8);
    reference.fill([](int, int y, int) { return y; });
    for (unsigned mean : {1u, 77u, 100u, 255u, 65535u}) {
        frame.fill([](int x, int, int) { return x; });
        reference.record.channel_mean[1] = static_cast<uint16_t>(mean);
        __flat_field(frame.get(), reference.get());
        for (unsigned r = 0; r < 256; ++r)
            for (unsigned v = 0; v < 256; ++v)
                ASSERT_EQ(frame.at(v, r), std::min(mean * v / std::max(r, 1u), 255u)) << mean << " " << r << " " << v;
    }
    TestImage one(2, 1, 1, 16), ref(2, 1, 1, 8);
    one.set(0, 0, 0, 200 << 8 | 0x5a);
    one.set(1, 0, 0, 100 << 8 | 0x11);
    ref.bytes = {50, 50};
    ref.record.channel_mean[1] = 100;
    __flat_field(one.get(), ref.get());
    EXPECT_EQ(one.at(0, 0), 255u << 8 | 0x5a) << "400 clamped, low byte kept";
    EXPECT_EQ(one.at(1, 0), 200u << 8 | 0x11);
    TestImage other(255, 256, 1, 8);
    other.fill([](int, int, int) { return 9; });
    __flat_field(other.get(), reference.get());  // size mismatch: refused
    EXPECT_EQ(other.at(254, 255), 9u);
}

TEST(Defects, DetectionLimitsAndFullList) {
    TestImage small(640, 480, 1, 8), frame(800, 400, 1, 8);
    std::vector<_ezPoint> list(16);
    EXPECT_EQ(__calc_defects(small.get(), list.data(), 16), -3);
    EXPECT_EQ(__calc_defects(frame.get(), list.data(), 2), -3);
    EXPECT_EQ(__calc_defects(frame.get(), nullptr, 16), -3);
    EXPECT_EQ(__calc_defects(frame.get(), list.data(), 16), 0);

    auto hot = [&](int row, int col, unsigned v, unsigned left, unsigned right) {
        frame.set(col, row, 0, v);
        frame.set(col - 2, row, 0, left);
        frame.set(col + 2, row, 0, right);
    };
    hot(10, 10, 200, 60, 50);   // above 3 x 60
    hot(20, 20, 180, 60, 50);   // at the limit
    hot(30, 30, 32, 0, 0);      // too dark to count
    hot(40, 40, 33, 0, 0);
    hot(60, 60, 255, 85, 0);    // limit capped at 255
    hot(70, 70, 253, 0, 84);    // limit 252
    for (auto [row, col] : {std::pair{1, 50}, {398, 50}, {50, 798}, {50, 1}})  // never scanned
        frame.set(col, row, 0, 255);
    hot(397, 797, 255, 0, 0);
    const std::vector<std::pair<int, int>> expected = {{10, 10}, {40, 40}, {70, 70}, {397, 797}};
    ASSERT_EQ(__calc_defects(frame.get(), list.data(), 7), 4);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(list[i].row, expected[i].first);
        EXPECT_EQ(list[i].column, expected[i].second);
    }
    EXPECT_EQ(__calc_defects(frame.get(), list.data(), 6), -3) << "no room left after the fourth";

    TestImage deep(800, 400, 1, 16);
    deep.set(100, 5, 0, 8192);
    deep.set(200, 5, 0, 8193);
    deep.set(300, 5, 0, 30000);
    deep.set(302, 5, 0, 10000);
    deep.set(400, 5, 0, 30001);
    deep.set(402, 5, 0, 10000);
    ASSERT_EQ(__calc_defects(deep.get(), list.data(), 16), 2);
    EXPECT_EQ(list[0].column, 200);
    EXPECT_EQ(list[1].column, 400);
}

TEST(Defects, CorrectionCopiesTwoColumnsLeft) {
    for (int depth : {8, 16}) {
        TestImage frame(6, 3, 1, depth);
        frame.fill([](int x, int y, int) { return 1000 + 10 * y + x; });
        const _ezPoint points[] = {{1, 2}, {2, 5}, {0, 1}, {3, 2}, {1, 6}};  // the last three lie outside
        __defects_correction(frame.get(), points, 5);
        const unsigned mask = depth == 8 ? 0xff : 0xffff;
        EXPECT_EQ(frame.at(2, 1), (1000u + 10) & mask);
        EXPECT_EQ(frame.at(5, 2), (1000u + 23) & mask);
        EXPECT_EQ(frame.at(1, 0), (1000u + 1) & mask);
    }
}

TEST(Smooth, MedianAndWeightedMeanInPlace) {
    for (auto [channels, depth] : {std::pair{3, 8}, {1, 16}}) {
        TestImage img(23, 19, channels, depth), expected(23, 19, channels, depth);
        img.fill(randomSample);
        expected.bytes = img.bytes;
        referenceMedian(expected);
        __smooth(img.get(), 1);
        EXPECT_EQ(img.bytes, expected.bytes);
    }
    // The left neighbour is read after it was filtered: 16 spreads to 8, then 2.
    TestImage row(4, 1, 1, 8);
    row.bytes = {0, 16, 0, 0};
    __smooth(row.get(), 2);
    EXPECT_EQ(row.bytes, (std::vector<unsigned char>{0, 8, 2, 0}));
    __smooth(row.get(), 3);
    TestImage narrow(2, 5, 1, 8);
    narrow.fill([](int x, int y, int) { return 50 * x + y; });
    const auto before = narrow.bytes;
    __smooth(narrow.get(), 1);
    __smooth(narrow.get(), 2);
    EXPECT_EQ(row.bytes, (std::vector<unsigned char>{0, 8, 2, 0}));
    EXPECT_EQ(narrow.bytes, before);
}

TEST(Smooth, MiddleIntoSecondImage) {
    TestImage src(17, 9, 1, 16), dst(17, 9, 1, 16);
    src.fill(randomSample);
    __smooth_middle(src.get(), dst.get());
    for (int y = 0; y < 9; ++y) {
        for (int x = 1; x < 16; ++x) {
            std::array<unsigned, 9> v;
            int i = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) v[i++] = src.at(x + dx, std::clamp(y + dy, 0, 8));
            std::nth_element(v.begin(), v.begin() + 4, v.end());
            ASSERT_EQ(dst.at(x, y), v[4]) << x << "," << y;
        }
        EXPECT_EQ(dst.at(0, y), src.at(0, std::max(y - 1, 0)));
        EXPECT_EQ(dst.at(16, y), dst.at(15, y));
    }
    TestImage src8(5, 5, 1, 8), dst8(5, 5, 1, 8);
    src8.fill([](int, int, int) { return 7; });
    __smooth_middle(src8.get(), dst8.get());
    EXPECT_EQ(dst8.at(2, 2), 0u);
}

TEST(Shift, SaturatesLeftAndDropsRight) {
    TestImage img(2, 1, 1, 8);
    img.bytes = {100, 60};
    EXPECT_EQ(__shift_operation(img.get(), 2), 0);
    EXPECT_EQ(img.bytes, (std::vector<unsigned char>{255, 240}));
    img.bytes = {100, 60};
    EXPECT_EQ(__shift_operation(img.get(), -2), 0);
    EXPECT_EQ(img.bytes, (std::vector<unsigned char>{25, 15}));
    EXPECT_EQ(__shift_operation(img.get(), 9), -2);
    EXPECT_EQ(__shift_operation(img.get(), -9), -2);
    EXPECT_EQ(__shift_operation(img.get(), 0), 0);
    EXPECT_EQ(img.bytes, (std::vector<unsigned char>{25, 15}));
    TestImage deep(2, 1, 1, 16);
    deep.set(0, 0, 0, 1000);
    deep.set(1, 0, 0, 0x4000);
    EXPECT_EQ(__shift_operation(deep.get(), 2), 0);
    EXPECT_EQ(deep.at(0, 0), 4000u);
    EXPECT_EQ(deep.at(1, 0), 65535u);
    EXPECT_EQ(__shift_operation(deep.get(), -8), 0);
    EXPECT_EQ(deep.at(0, 0), 15u);
}
