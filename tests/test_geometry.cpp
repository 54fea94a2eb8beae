// Geometry and binning: pixel mappings, sizes, clamping and in-place safety.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "image_fixture.h"
#include "processing/geometry.h"

namespace {
unsigned pattern(int x, int y, int k) { return (x * 977 + y * 4099 + k * 131) & 0xffff; }
}  // namespace

TEST(FlipRotate, HalfTurnsCornersAndTiles) {
    for (int depth : {8, 16}) {
        TestImage a(67, 31, 3, depth), b(67, 31, 3, depth);
        a.fill(pattern);
        b.fill(pattern);
        const auto orig = a.bytes;
        __flip(a.get(), 3);
        __rotate(b.get(), 2);
        __rotate(b.get(), 2);
        EXPECT_EQ(a.bytes, b.bytes) << "code 3 is a half turn";
        __flip(a.get(), 2);
        __flip(a.get(), 1);
        EXPECT_EQ(a.bytes, orig);
    }
    TestImage small(4, 2, 1, 8);
    small.fill([](int x, int y, int) { return 1 + x + 4 * y; });
    __rotate(small.get(), 2);
    EXPECT_EQ(std::tuple(small.record.width, small.record.height, small.record.stride), std::tuple(2, 4, 2));
    EXPECT_EQ(small.at(1, 0), 1u) << "clockwise: top-left to top-right";
    __rotate(small.get(), 1);
    __rotate(small.get(), 1);
    EXPECT_EQ(small.at(0, 3), 1u) << "counter-clockwise: top-left to bottom-left";
    // More than one scratch tile each way, 16-bit colour; codes 0 and 3 do nothing.
    TestImage img(150, 70, 3, 16);
    img.fill(pattern);
    __rotate(img.get(), 0);
    __rotate(img.get(), 3);
    __rotate(img.get(), 1);
    ASSERT_EQ(img.record.stride, 70 * 6);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 150; ++x) ASSERT_EQ(img.at(y, 149 - x, 1), pattern(x, y, 1));
}

TEST(Roi, IdentityBorderAndRefusedRegions) {
    TestImage img(40, 30, 3, 8);
    img.fill(pattern);
    const auto orig = img.bytes;
    __roi(img.get(), 0, 0, 40, 30);
    __roi(img.get(), 1, 0, 40, 29);  // regions reaching outside are left alone
    __roi(img.get(), 0, 25, 10, 6);
    __roi(img.get(), -1, 0, 10, 10);
    EXPECT_EQ(img.bytes, orig);
    __roi(img.get(), 4, 4, 32, 22);
    ASSERT_EQ(std::tuple(img.record.width, img.record.height, img.record.stride), std::tuple(32, 22, 96));
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(img.at(x, y, 1), pattern(x + 4, y + 4, 1) & 0xff);
}

TEST(Resize, ConstantsRoundingAndEdges) {
    for (int depth : {8, 16}) {
        const unsigned value = depth == 8 ? 201 : 51234;
        TestImage src(32, 24, 3, depth);
        src.fill([&](int, int, int) { return value; });
        // Weights that are binary fractions keep a constant exactly; others may
        // lose one level to single-precision rounding before truncation.
        for (auto [w, h, loss] : {std::tuple{16, 12, 0u}, {128, 96, 0u}, {1, 1, 0u}, {12, 9, 1u}, {100, 61, 1u}}) {
            TestImage dst(w, h, 3, depth);
            __resize(src.get(), dst.get());
            for (size_t i = 0; i < dst.bytes.size() / (depth / 8); ++i)
                ASSERT_LE(value - dst.at(int(i / 3) % w, int(i / 3) / w, int(i % 3)), loss) << w << "x" << h;
        }
    }
    TestImage c201(32, 24, 1, 8), out(12, 9, 1, 8);  // fixed grouping: these three round to 200
    c201.fill([](int, int, int) { return 201; });
    __resize(c201.get(), out.get());
    EXPECT_EQ(std::count(out.bytes.begin(), out.bytes.end(), 200), 3);
    EXPECT_EQ(out.at(7, 1) + out.at(10, 1) + out.at(1, 2), 600u);
    // Ramp 0..120 doubled in width: the right edge and the bottom rows' left
    // neighbour of column 0 are clamped into the row.
    TestImage ramp(4, 8, 1, 8), big(8, 8, 1, 8), wide(8, 8, 3, 8), deep(8, 8, 1, 16);
    ramp.fill([](int x, int, int) { return 40 * x; });
    __resize(ramp.get(), big.get());
    const std::vector<unsigned char> top{0, 20, 40, 60, 80, 100, 120, 120}, bottom{0, 0, 40, 20, 80, 60, 120, 100};
    EXPECT_EQ(std::vector(big.bytes.begin(), big.bytes.begin() + 8), top);
    EXPECT_EQ(std::vector(big.bytes.end() - 8, big.bytes.end()), bottom);
    __resize(ramp.get(), wide.get());  // mismatched layouts are refused
    __resize(ramp.get(), deep.get());
    EXPECT_EQ(std::count(wide.bytes.begin(), wide.bytes.end(), 0) + std::count(deep.bytes.begin(), deep.bytes.end(), 0), 320);
}

TEST(Binning, MonochromeBayerAndDecimation) {
    TestImage img(1030, 1030, 1, 8);
    img.fill([](int, int, int) { return 100; });
    __mbin(img.get(), 2, 2);
    EXPECT_EQ(std::tuple(img.record.width, img.record.height, img.record.stride), std::tuple(512, 512, 512));
    EXPECT_EQ(img.at(511, 511), 255u);
    TestImage w16(41, 22, 1, 16);  // 10 x 11 binned blocks, cut to 8 x 8
    w16.fill([](int x, int y, int) { return 1000 * x + 7 * y; });
    __mbin(w16.get(), 4, 2);
    ASSERT_EQ(std::tuple(w16.record.width, w16.record.height), std::tuple(8, 8));
    EXPECT_EQ(w16.at(1, 3), 8 * 5500u + 4 * 7 * 13);
    EXPECT_EQ(w16.at(7, 0), 65535u);
    TestImage cut(10, 9, 1, 8);  // a factor of 1 still repacks the cut rows
    cut.fill([](int x, int y, int) { return x + 20 * y; });
    __mbin(cut.get(), 1, 2);
    EXPECT_EQ(std::tuple(cut.record.width, cut.record.height, cut.at(5, 1)), std::tuple(8, 4, 5u * 2 + 20 * 5));

    // R G / G B mosaic: every output keeps its tile colour (tens) and sums
    // its own column pair (units).
    TestImage bayer(18, 13, 1, 8);
    bayer.fill([](int x, int y, int) { return 10 * (1 + (x & 1) + 2 * (y & 1)) + (x >> 1) % 4; });
    __cbin(bayer.get(), 2, 1);
    ASSERT_EQ(std::tuple(bayer.record.width, bayer.record.height), std::tuple(8, 12));
    EXPECT_EQ(std::tuple(bayer.at(0, 0), bayer.at(3, 0), bayer.at(6, 1), bayer.at(7, 11)), std::tuple(21u, 45u, 65u, 85u));
    TestImage tall(16, 16, 1, 16);
    tall.fill([](int x, int y, int) { return 20000 * (x & 1) + 100 * (y & 1) + 1; });
    __cbin(tall.get(), 2, 2);
    EXPECT_EQ(std::tuple(tall.record.height, tall.at(0, 0), tall.at(0, 1), tall.at(1, 1)), std::tuple(8, 4u, 404u, 65535u));

    TestImage skip(1280, 8, 1, 16);
    skip.fill([](int x, int y, int) { return x + 2000 * y; });
    __skip(skip.get(), 2, 2);
    ASSERT_EQ(std::tuple(skip.record.width, skip.record.height), std::tuple(640, 4));
    EXPECT_EQ(std::tuple(skip.at(1, 0), skip.at(2, 1), skip.at(5, 2), skip.at(639, 3)),
              std::tuple(1u, 2004u, 8009u, 11277u));  // columns 0 1 4 5 8 9 .., rows 0 1 4 5
}

TEST(Interlace, WeavesFieldsAndRefusesOverruns) {
    TestImage img(5, 8, 1, 8);
    img.fill([](int x, int y, int) { return 10 * y + x; });
    const auto orig = img.bytes;
    __interlace(img.get(), 0, 8);  // second field would lie below the frame
    __interlace(img.get(), 2, 4);  // first field outside the scratch rows
    EXPECT_EQ(img.bytes, orig);
    __interlace(img.get(), 0, 4);
    for (int y = 0; y < 8; ++y) ASSERT_EQ(img.at(2, y), 10u * (y % 2 ? 4 + y / 2 : y / 2) + 2);
}

TEST(ByteOrder, SwapAndTwelveBitUnpacking) {
    TestImage img(7, 1, 1, 16), eight(2, 1, 1, 8);  // one 4-sample word and a tail of 3
    const std::vector<unsigned char> raw{0x12, 0x34, 0xab, 0x0c, 0x00, 0xff, 0x56, 0x78, 0xab, 0x0c, 0x00, 0xff, 0x9a, 0xbc};
    img.bytes = raw;
    __rmac(img.get(), 0);
    for (size_t i = 0; i < raw.size(); ++i) ASSERT_EQ(img.bytes[i], raw[i ^ 1]);
    img.bytes = raw;
    __rmac(img.get(), 1);
    EXPECT_EQ(std::tuple(img.at(1, 0), img.at(2, 0), img.at(4, 0), img.at(5, 0)), std::tuple(0xabc0u, 0x00f0u, 0xabc0u, 0x00f0u));
    eight.set(0, 0, 0, 0x12);
    __rmac(eight.get(), 0);
    EXPECT_EQ(eight.at(0, 0), 0x12u);
}
