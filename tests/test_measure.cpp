// Means, white-balance measurement, intensity readouts and the buffer calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "ezcam.h"
#include "image_fixture.h"
#include "processing/measure.h"
#include "processing/pixels.h"
#include "processing/tone.h"

namespace {
// A caller's frame buffer: record, then pixels at offset 512; `misalign`
// shifts the whole buffer off the record's natural alignment.
struct FrameBuffer {
    std::vector<unsigned char> bytes;
    unsigned char* start;
    FrameBuffer(int w, int h, int channels, int depth, int decoded, int bayer = 1, size_t misalign = 0)
        : bytes(misalign + 512 + static_cast<size_t>(w) * h * channels * depth / 8) {
        start = bytes.data() + misalign;
        _ezImage r{};
        ezInitImageHeader(&r, w, h, channels, depth, 512, start + 512, 0, decoded);
        r.bayer = static_cast<uint8_t>(bayer);
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
}  // namespace

TEST(Means, GrayAndChannelMeans) {
    TestImage mono(4, 2, 1, 16);
    mono.fill([](int x, int, int) { return (10u * x) << 8 | 0xff; });
    EXPECT_FLOAT_EQ(__calc_gray(mono.get()), 15.0f) << "high bytes only";
    TestImage colour(2, 1, 3, 8);
    colour.bytes = {1, 2, 3, 4, 5, 6};
    EXPECT_FLOAT_EQ(__calc_gray(colour.get()), 1.5f) << "the first width x height samples";
    TestImage empty(0, 3, 1, 8);
    EXPECT_TRUE(std::isnan(__calc_gray(empty.get())));

    TestImage img(3, 2, 3, 8);
    img.bytes = {0, 10, 20, 0, 10, 20, 0, 10, 20, 3, 10, 20, 0, 40, 20, 0, 10, 0};
    ASSERT_EQ(__calc_avg(img.get(), 1), 0);
    EXPECT_EQ(std::count(img.bytes.begin(), img.bytes.end(), 0), 0);
    EXPECT_EQ(img.record.channel_mean[0], 1);  // (1 + 1 + 1 + 3 + 1 + 1) / 6
    EXPECT_EQ(img.record.channel_mean[1], 15);
    EXPECT_EQ(img.record.channel_mean[2], 16);  // (5 x 20 + 1) / 6
    EXPECT_EQ(__calc_avg(img.get(), 2), 0);
    EXPECT_EQ(img.record.channel_mean[1], 0);

    TestImage deep(2, 1, 1, 16);
    deep.set(0, 0, 0, 0x00ab);
    deep.set(1, 0, 0, 0x0900);
    __calc_avg(deep.get(), 0);
    EXPECT_EQ(deep.at(0, 0), 0x01abu) << "a zero high byte becomes 1, the low byte stays";
    EXPECT_EQ(deep.record.channel_mean[0], 5);
    EXPECT_EQ(deep.record.channel_mean[2], 5);
}

TEST(WhiteBalance, GainsFromTheWellExposedPixels) {
    TestImage cast(64, 48, 3, 8);
    cast.fill([](int, int, int k) { return 100u >> k; });  // 100, 50, 25: spread above 250/64
    EXPECT_EQ(balance(cast), (std::array<int, 3>{62, 125, 250}));
    TestImage mild(600, 40, 3, 8);
    mild.fill([](int, int, int k) { return std::array{80u, 64u, 40u}[k]; });
    EXPECT_EQ(balance(mild), (std::array<int, 3>{64, 80, 128}));

    // Saturated pixels never count; with nothing else left the measurement fails.
    TestImage half(40, 40, 3, 8);
    half.fill([](int x, int, int k) { return x < 20 ? 255u : 100u >> k; });
    EXPECT_EQ(balance(half), (std::array<int, 3>{62, 125, 250}));
    TestImage white(40, 40, 3, 8);
    white.fill([](int x, int, int k) { return 251u + (x + k) % 5; });
    int gains[3] = {1, 2, 3};
    EXPECT_EQ(__white_balance(white.get(), gains), -1);
    EXPECT_EQ(gains[2], 3);

    // Reduced to 512 x 512 first; the threshold then drops the dark, red band.
    TestImage bands(1024, 768, 3, 8);
    bands.fill([](int x, int, int k) {
        if (x < 342) return k == 0 ? 30u : 0u;
        return x < 684 ? 100u : 200u;
    });
    EXPECT_EQ(balance(bands), (std::array<int, 3>{64, 64, 64}));
    // Grey bands 20, 60, 100, 140, 200 in widths 5:1:1:3:3; the band at 100 is
    // tinted. The second threshold pass continues the first one's running count
    // and sum, which puts the threshold at 100: bands 100 to 200 count.
    TestImage otsu(104, 10, 3, 8);
    otsu.fill([](int x, int, int k) {
        const unsigned g = x < 40 ? 20 : x < 48 ? 60 : x < 56 ? 100 : x < 80 ? 140 : 200;
        return g == 100 ? std::array{120u, 100u, 40u}[k] : g;
    });
    EXPECT_EQ(balance(otsu), (std::array<int, 3>{64, 64, 68}));
    TestImage mono(30, 30, 1, 8);
    mono.fill([](int x, int, int) { return x < 3 ? 255u : 90u; });
    EXPECT_EQ(balance(mono), (std::array<int, 3>{64, 64, 64}));
}

TEST(WhiteBalance, GainComputation) {
    TestImage img(4, 4, 3, 8), mask(4, 4, 1, 8);
    img.fill([](int, int, int k) { return std::array{200u, 100u, 40u}[k]; });
    mask.fill([](int x, int, int) { return x < 3 ? 1u : 0u; });
    int gains[3] = {0, 0, 0};
    EXPECT_EQ(_color_temperature(img.get(), mask.get(), gains), 0);
    EXPECT_EQ(gains[0], 50);
    EXPECT_EQ(gains[1], 100);
    EXPECT_EQ(gains[2], 250);
    mask.fill([](int x, int, int) { return x < 2 ? 1u : 0u; });  // 8 pixels
    gains[0] = 9;
    EXPECT_EQ(_color_temperature(img.get(), mask.get(), gains), -1);
    EXPECT_EQ(gains[0], 9);
}

TEST(Intensity, BayerPositionsInRedGreenGreenBlueOrder) {
    // Tile 10 20 / 30 40. Outputs: red, green beside red, green beside blue, blue.
    const std::array<std::array<float, 4>, 5> expected = {{
        {10, 20, 30, 40}, {10, 20, 30, 40}, {20, 10, 40, 30}, {40, 30, 20, 10}, {30, 40, 10, 20}}};
    for (int depth : {8, 16}) {
        TestImage raw(6, 5, 1, depth, 0);
        raw.fill([](int x, int y, int) { return 10u * (1 + (x & 1) + 2 * (y & 1)); });
        for (int code = 0; code <= 4; ++code) {
            raw.record.bayer = static_cast<uint8_t>(code);
            float mean = 0, m[4] = {};
            ASSERT_EQ(__image_intensity(raw.get(), &mean, &m[0], &m[1], &m[2], &m[3]), 0);
            for (int i = 0; i < 4; ++i) EXPECT_EQ(m[i], expected[code][i]) << "code " << code;
            EXPECT_EQ(mean, 25.0f);
        }
        raw.record.decoded = 1;
        EXPECT_EQ(__image_intensity(raw.get(), nullptr, nullptr, nullptr, nullptr, nullptr), -4);
    }
    TestImage odd(1, 8, 1, 8, 0);
    EXPECT_EQ(__image_intensity(odd.get(), nullptr, nullptr, nullptr, nullptr, nullptr), -2) << "no whole tile";
}

TEST(BufferCalls, PointIntensity) {
    FrameBuffer colour(4, 3, 3, 8, 1);
    unsigned char* p = colour.pixels() + (2 * 4 + 1) * 3;
    p[0] = 10, p[1] = 20, p[2] = 30;
    std::memset(colour.start + 16, 0, 8);  // the stored pointer is not used
    EXPECT_EQ(GetPointIntensity(1, 2, colour.start), 22);
    EXPECT_EQ(GetPointIntensity(4, 2, colour.start), -1);
    EXPECT_EQ(GetPointIntensity(1, -1, colour.start), -1);
    EXPECT_EQ(GetPointIntensity(0, 0, nullptr), -1);
    colour.start[0] = 'X';
    EXPECT_EQ(GetPointIntensity(1, 2, colour.start), -1);
    FrameBuffer deep(2, 2, 1, 16, 0, 1, 1);
    deep.pixels()[6] = 0x34, deep.pixels()[7] = 0x12;
    EXPECT_EQ(GetPointIntensity(1, 1, deep.start), 0x1234);
    deep.start[8] = 12;
    EXPECT_EQ(GetPointIntensity(1, 1, deep.start), -1);
}

TEST(BufferCalls, RegionIntensity) {
    FrameBuffer raw(16, 12, 1, 8, 0);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) raw.pixels()[y * 16 + x] = static_cast<unsigned char>(x + 100 * (y & 1));
    float mean, m0, m1, m2, m3;
    // w = 7 measures 4 columns; x = 5 starts at column 4.
    ASSERT_EQ(GetImageIntensity(raw.start, 5, 0, 7, 4, &mean, &m0, &m1, &m2, &m3), 0);
    EXPECT_EQ(m0, 5.0f);
    EXPECT_EQ(m1, 6.0f);
    EXPECT_EQ(m2, 105.0f);
    EXPECT_EQ(mean, 55.5f);
    // Cut to the frame: columns 12..15.
    ASSERT_EQ(GetImageIntensity(raw.start, 12, 8, 40, 40, &mean, &m0, &m1, &m2, &m3), 0);
    EXPECT_EQ(m0, 13.0f);
    EXPECT_EQ(GetImageIntensity(raw.start, -2, 0, 8, 8, &mean, &m0, &m1, &m2, &m3), -2);
    EXPECT_EQ(GetImageIntensity(raw.start, 0, 0, 3, 8, &mean, &m0, &m1, &m2, &m3), -2);
    EXPECT_EQ(GetImageIntensity(raw.start, 18, 0, 8, 8, &mean, &m0, &m1, &m2, &m3), -2);
    EXPECT_EQ(GetImageIntensity(raw.start, 16, 0, 8, 8, &mean, &m0, &m1, &m2, &m3), -2) << "empty region";
    EXPECT_EQ(GetImageIntensity(nullptr, 0, 0, 8, 8, &mean, &m0, &m1, &m2, &m3), -4);
    FrameBuffer decoded(16, 12, 1, 8, 1);
    EXPECT_EQ(GetImageIntensity(decoded.start, 0, 0, 8, 8, &mean, &m0, &m1, &m2, &m3), -4);
    raw.start[8] = 10;
    EXPECT_EQ(GetImageIntensity(raw.start, 0, 0, 8, 8, &mean, &m0, &m1, &m2, &m3), -2);
}

TEST(BufferCalls, AverageShiftAndResize) {
    FrameBuffer img(3, 2, 3, 8, 1, 1, 3);
    for (int i = 0; i < 18; ++i) img.pixels()[i] = static_cast<unsigned char>(i % 3 == 0 ? 0 : 20 * (i % 3));
    ASSERT_EQ(CalcAverage(img.start), 0);
    EXPECT_EQ(img.record().channel_mean[0], 1);
    EXPECT_EQ(img.record().channel_mean[2], 40);
    EXPECT_EQ(ShiftOperation(img.start, 1), 0);
    EXPECT_EQ(img.pixels()[1], 40);
    EXPECT_EQ(ShiftOperation(img.start, 9), -2);
    EXPECT_EQ(CalcAverage(nullptr), -4);
    EXPECT_EQ(ShiftOperation(nullptr, 1), -4);

    // A copy of the buffer carries a pointer to the original's pixels: refused.
    FrameBuffer copy(3, 2, 3, 8, 1);
    std::memcpy(copy.start, img.start, 512 + 18);
    EXPECT_EQ(CalcAverage(copy.start), -4);
    EXPECT_EQ(ShiftOperation(copy.start, 1), -4);
    img.start[1] = 'X';
    EXPECT_EQ(CalcAverage(img.start), -4);

    FrameBuffer src(8, 6, 3, 16, 1, 3), dst(1, 1, 1, 8, 0, 2, 1);
    for (int i = 0; i < 8 * 6 * 3; ++i) pixels::store16(src.pixels() + 2 * i, 40000);
    std::memset(src.start + 16, 0, 8);
    dst.bytes.resize(1 + 512 + 16 * 12 * 6);
    dst.start = dst.bytes.data() + 1;
    ASSERT_EQ(ResizeImage(src.start, dst.start, 16, 12), 0);
    const _ezImage r = dst.record();
    EXPECT_EQ(r.width, 16);
    EXPECT_EQ(r.height, 12);
    EXPECT_EQ(r.channels, 3);
    EXPECT_EQ(r.depth, 16);
    EXPECT_EQ(r.stride, 96);
    EXPECT_EQ(r.data, dst.start + 512);
    EXPECT_EQ(r.bayer, 2) << "the destination keeps its own camera fields";
    EXPECT_EQ(src.record().data, src.start + 512);
    EXPECT_EQ(pixels::load16(dst.start + 512 + 16 * 12 * 6 - 2), 40000);
    EXPECT_EQ(ResizeImage(src.start, dst.start, 0, 12), -2);
    EXPECT_EQ(ResizeImage(nullptr, dst.start, 16, 12), -4);
    EXPECT_EQ(ResizeImage(src.start, nullptr, 16, 12), -4);
}
