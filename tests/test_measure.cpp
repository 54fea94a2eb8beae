// Means, white-balance measurement, intensity readouts and the buffer calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>

#include "ezcam.h"
#include "image_fixture.h"
#include "processing/measure.h"
#include "processing/pixels.h"
#include "processing/tone.h"

namespace {
// A caller's buffer: record, then pixels at offset 512, the whole buffer
// shifted by `misalign` bytes off the record's natural alignment.
struct FrameBuffer {
    std::vector<unsigned char> bytes;
    unsigned char* start;
    FrameBuffer(int w, int h, int channels, int depth, int decoded, size_t misalign = 0)
        : bytes(misalign + 512 + size_t(w) * h * channels * depth / 8), start(bytes.data() + misalign) {
        _ezImage r{};
        ezInitImageHeader(&r, w, h, channels, depth, 512, start + 512, 0, decoded);
        r.bayer = 1;
        std::memcpy(start, &r, sizeof r);
    }
    unsigned char* pixels() { return start + 512; }
    _ezImage record() const {
        _ezImage r;
        std::memcpy(&r, start, sizeof r);
        return r;
    }
};

std::array<int, 3> balance(TestImage& img) {
    std::array<int, 3> gains{-7, -7, -7};
    EXPECT_EQ(__white_balance(img.get(), gains.data()), 0);
    return gains;
}
template <typename F> std::array<int, 3> balance(int w, int h, int channels, F f) {
    TestImage img(w, h, channels, 8);
    img.fill(f);
    return balance(img);
}
unsigned rgb(unsigned a, unsigned b, unsigned c, int k) { return std::array{a, b, c}[k]; }
}  // namespace

TEST(Means, GrayAndChannelMeans) {
    TestImage mono(4, 2, 1, 16), colour(2, 1, 3, 8), empty(0, 3, 1, 8), img(3, 2, 3, 8), deep(2, 1, 1, 16);
    mono.fill([](int x, int, int) { return (10u * x) << 8 | 0xff; });
    colour.bytes = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(std::tuple(__calc_gray(mono.get()), __calc_gray(colour.get())), std::tuple(15.0f, 1.5f));
    EXPECT_TRUE(std::isnan(__calc_gray(empty.get())));

    img.bytes = {0, 10, 20, 0, 10, 20, 0, 10, 20, 3, 10, 20, 0, 40, 20, 0, 10, 0};
    ASSERT_EQ(__calc_avg(img.get(), 1), 0);
    EXPECT_EQ(std::count(img.bytes.begin(), img.bytes.end(), 0), 0) << "zeros become ones";
    EXPECT_EQ(std::tuple(img.record.channel_mean[0], img.record.channel_mean[1], img.record.channel_mean[2]),
              std::tuple(1, 15, 16));
    __calc_avg(img.get(), 2);
    EXPECT_EQ(img.record.channel_mean[1], 0);
    deep.set(0, 0, 0, 0x00ab);
    deep.set(1, 0, 0, 0x0900);
    __calc_avg(deep.get(), 0);
    EXPECT_EQ(std::tuple(deep.at(0, 0), deep.record.channel_mean[2]), std::tuple(0x01abu, 5));
}

TEST(WhiteBalance, GainsFromTheWellExposedPixels) {
    // 100, 50, 25 spreads beyond 250/64: the darkest channel gets 250.
    EXPECT_EQ(balance(64, 48, 3, [](int, int, int k) { return 100u >> k; }), (std::array{62, 125, 250}));
    EXPECT_EQ(balance(600, 40, 3, [](int, int, int k) { return rgb(80, 64, 40, k); }), (std::array{64, 80, 128}));
    // Saturated pixels never count; a mono image counts samples up to 252.
    EXPECT_EQ(balance(40, 40, 3, [](int x, int, int k) { return x < 20 ? 255u : 100u >> k; }), (std::array{62, 125, 250}));
    EXPECT_EQ(balance(30, 30, 1, [](int x, int, int) { return x < 3 ? 255u : 90u; }), (std::array{64, 64, 64}));
    TestImage white(40, 40, 3, 8);
    white.fill([](int x, int, int k) { return 251u + (x + k) % 5; });
    int gains[3] = {1, 2, 3};
    EXPECT_EQ(__white_balance(white.get(), gains), -1);
    EXPECT_EQ(gains[2], 3);

    // Reduced to 512 x 512 first; the threshold then drops the dark, red band.
    EXPECT_EQ(balance(1024, 768, 3, [](int x, int, int k) { return x < 342 ? rgb(30, 0, 0, k) : x < 684 ? 100u : 200u; }),
              (std::array{64, 64, 64}));
    // Grey bands 20, 60, 100, 140, 200 in widths 5:1:1:3:3, the one at 100
    // tinted: the second threshold pass continues the first one's count and
    // sum, which puts the threshold at 100.
    EXPECT_EQ(balance(104, 10, 3, [](int x, int, int k) {
                  const unsigned g = x < 40 ? 20 : x < 48 ? 60 : x < 56 ? 100 : x < 80 ? 140 : 200;
                  return g == 100 ? rgb(120, 100, 40, k) : g;
              }),
              (std::array{64, 64, 68}));

    TestImage img(4, 4, 3, 8), mask(4, 4, 1, 8);
    img.fill([](int, int, int k) { return rgb(200, 100, 40, k); });
    mask.fill([](int x, int, int) { return x < 3; });
    EXPECT_EQ(_color_temperature(img.get(), mask.get(), gains), 0);
    EXPECT_EQ(std::tuple(gains[0], gains[1], gains[2]), std::tuple(50, 100, 250));
    mask.fill([](int x, int, int) { return x < 2; });  // 8 pixels are too few
    EXPECT_EQ(_color_temperature(img.get(), mask.get(), gains), -1);
}

TEST(Intensity, BayerPositionsInRedGreenGreenBlueOrder) {
    // Tile 10 20 / 30 40 read as red, green beside red, green beside blue, blue.
    const std::array<std::array<float, 4>, 5> expected = {
        {{10, 20, 30, 40}, {10, 20, 30, 40}, {20, 10, 40, 30}, {40, 30, 20, 10}, {30, 40, 10, 20}}};
    for (int depth : {8, 16}) {
        TestImage raw(6, 5, 1, depth, 0);
        raw.fill([](int x, int y, int) { return 10u * (1 + (x & 1) + 2 * (y & 1)); });
        for (int code = 0; code <= 4; ++code) {
            raw.record.bayer = static_cast<uint8_t>(code);
            std::array<float, 4> m{};
            float mean = 0;
            ASSERT_EQ(__image_intensity(raw.get(), &mean, &m[0], &m[1], &m[2], &m[3]), 0);
            EXPECT_EQ(m, expected[code]) << "code " << code;
            EXPECT_EQ(mean, 25.0f);
        }
        raw.record.decoded = 1;
        EXPECT_EQ(__image_intensity(raw.get(), nullptr, nullptr, nullptr, nullptr, nullptr), -4);
    }
    TestImage odd(1, 8, 1, 8, 0);
    EXPECT_EQ(__image_intensity(odd.get(), nullptr, nullptr, nullptr, nullptr, nullptr), -2) << "no whole tile";
}

TEST(BufferCalls, PointAndRegionIntensity) {
    FrameBuffer colour(4, 3, 3, 8, 1), deep(2, 2, 1, 16, 0, 1);
    std::copy_n("\x0a\x14\x1e", 3, colour.pixels() + (2 * 4 + 1) * 3);  // (10, 20, 30) at (1, 2)
    std::memset(colour.start + 16, 0, 8);                                // the stored pointer is not used
    EXPECT_EQ(std::tuple(GetPointIntensity(1, 2, colour.start), GetPointIntensity(4, 2, colour.start),
                         GetPointIntensity(1, -1, colour.start), GetPointIntensity(0, 0, nullptr)),
              std::tuple(22, -1, -1, -1));
    pixels::store16(deep.pixels() + 6, 0x1234);
    EXPECT_EQ(GetPointIntensity(1, 1, deep.start), 0x1234);
    deep.start[8] = 12;  // depth
    colour.start[0] = 'X';
    EXPECT_EQ(std::tuple(GetPointIntensity(1, 1, deep.start), GetPointIntensity(1, 2, colour.start)), std::tuple(-1, -1));

    FrameBuffer raw(16, 12, 1, 8, 0), decoded(16, 12, 1, 8, 1);
    for (int i = 0; i < 16 * 12; ++i) raw.pixels()[i] = static_cast<unsigned char>(i % 16 + 100 * (i / 16 % 2));
    float mean, m0, m1, m2, m3;
    auto region = [&](unsigned char* b, int x, int y, int w, int h) { return GetImageIntensity(b, x, y, w, h, &mean, &m0, &m1, &m2, &m3); };
    ASSERT_EQ(region(raw.start, 5, 0, 7, 4), 0);  // w = 7 measures 4 columns; x = 5 starts at column 4
    EXPECT_EQ(std::tuple(m0, m1, m2, mean), std::tuple(5.0f, 6.0f, 105.0f, 55.5f));
    ASSERT_EQ(region(raw.start, 12, 8, 40, 40), 0);  // cut to the frame: columns 12..15
    EXPECT_EQ(m0, 13.0f);
    EXPECT_EQ(std::tuple(region(raw.start, -2, 0, 8, 8), region(raw.start, 0, 0, 3, 8), region(raw.start, 18, 0, 8, 8),
                         region(raw.start, 16, 0, 8, 8), region(nullptr, 0, 0, 8, 8), region(decoded.start, 0, 0, 8, 8)),
              std::tuple(-2, -2, -2, -2, -4, -4));
}

TEST(BufferCalls, AverageShiftAndResize) {
    FrameBuffer img(3, 2, 3, 8, 1, 3), copy(3, 2, 3, 8, 1);
    for (int i = 0; i < 18; ++i) img.pixels()[i] = static_cast<unsigned char>(20 * (i % 3));
    ASSERT_EQ(CalcAverage(img.start), 0);
    EXPECT_EQ(std::tuple(img.record().channel_mean[0], img.record().channel_mean[2]), std::tuple(1, 40));
    EXPECT_EQ(std::tuple(ShiftOperation(img.start, 1), ShiftOperation(img.start, 9)), std::tuple(0, -2));
    EXPECT_EQ(img.pixels()[1], 40);
    // A copied buffer's record points at the original's pixels: refused.
    std::memcpy(copy.start, img.start, 512 + 18);
    EXPECT_EQ(std::tuple(CalcAverage(copy.start), ShiftOperation(copy.start, 1), CalcAverage(nullptr), ShiftOperation(nullptr, 1)),
              std::tuple(-4, -4, -4, -4));
    img.start[1] = 'X';
    EXPECT_EQ(CalcAverage(img.start), -4);

    FrameBuffer src(8, 6, 3, 16, 1), dst(16, 12, 3, 16, 0, 1);
    for (int i = 0; i < 8 * 6 * 3; ++i) pixels::store16(src.pixels() + 2 * i, 40000);
    std::memset(src.start + 16, 0, 8);
    dst.start[10] = 2;  // bayer
    ASSERT_EQ(ResizeImage(src.start, dst.start, 16, 12), 0);
    const _ezImage r = dst.record();
    EXPECT_EQ(std::tuple(r.width, r.height, r.channels, r.depth, r.stride, r.data, r.bayer),
              std::tuple(16, 12, 3, 16, 96, dst.start + 512, 2));
    EXPECT_EQ(src.record().data, src.start + 512);
    EXPECT_EQ(pixels::load16(dst.start + 512 + 16 * 12 * 6 - 2), 40000);
    EXPECT_EQ(std::tuple(ResizeImage(src.start, dst.start, 0, 12), ResizeImage(nullptr, dst.start, 16, 12),
                         ResizeImage(src.start, nullptr, 16, 12)), std::tuple(-2, -4, -4));
}
