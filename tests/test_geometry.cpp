// Geometry and binning: pixel mappings, sizes, clamping and in-place safety.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "image_fixture.h"
#include "processing/geometry.h"

namespace {
unsigned pattern(int x, int y, int k) { return (x * 7 + y * 13 + k * 5) & 0xff; }
unsigned pattern16(int x, int y, int k) { return (x * 977 + y * 4099 + k * 131) & 0xffff; }
}  // namespace

TEST(Flip, HalfTurnMirrorAndUpsideDown) {
    for (int depth : {8, 16}) {
        TestImage a(67, 31, 3, depth), b(67, 31, 3, depth), orig(67, 31, 3, depth);
        for (TestImage* t : {&a, &b, &orig}) t->fill(pattern16);
        __flip(a.get(), 3);
        __rotate(b.get(), 2);
        __rotate(b.get(), 2);
        EXPECT_EQ(a.bytes, b.bytes) << "code 3 is a half turn";
        for (int y = 0; y < 31; ++y)
            for (int x = 0; x < 67; ++x)
                ASSERT_EQ(a.at(x, y, 2), orig.at(66 - x, 30 - y, 2) & (depth == 8 ? 0xff : 0xffff));
        __flip(a.get(), 2);  // back to mirrored only
        __flip(a.get(), 1);
        EXPECT_EQ(a.bytes, orig.bytes);
    }
}

TEST(Rotate, CornersMappingAndScratchTiles) {
    TestImage small(4, 2, 1, 8);
    small.fill([](int x, int y, int) { return 1 + x + 4 * y; });
    __rotate(small.get(), 2);
    EXPECT_EQ(small.record.width, 2);
    EXPECT_EQ(small.record.height, 4);
    EXPECT_EQ(small.record.stride, 2);
    EXPECT_EQ(small.at(1, 0), 1u) << "clockwise: top-left goes to top-right";
    __rotate(small.get(), 1);
    __rotate(small.get(), 1);
    EXPECT_EQ(small.at(0, 3), 1u) << "counter-clockwise from the original: bottom-left";

    // Larger than one tile in both directions, 16-bit colour.
    const int w = 150, h = 70;
    TestImage img(w, h, 3, 16);
    img.fill(pattern16);
    __rotate(img.get(), 1);
    ASSERT_EQ(img.record.width, h);
    ASSERT_EQ(img.record.stride, h * 6);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(img.at(y, w - 1 - x, 1), pattern16(x, y, 1));
    const auto before = img.bytes;
    __rotate(img.get(), 0);
    __rotate(img.get(), 3);
    EXPECT_EQ(img.bytes, before);
}

TEST(Roi, IdentityBorderAndRefusedRegions) {
    TestImage img(40, 30, 3, 8);
    img.fill(pattern);
    const auto orig = img.bytes;
    __roi(img.get(), 0, 0, 40, 30);
    EXPECT_EQ(img.bytes, orig);
    // Regions reaching outside are left alone.
    __roi(img.get(), 1, 0, 40, 29);
    __roi(img.get(), 0, 25, 10, 6);
    __roi(img.get(), -1, 0, 10, 10);
    EXPECT_EQ(img.record.width, 40);
    EXPECT_EQ(img.bytes, orig);
    __roi(img.get(), 4, 4, 32, 22);
    ASSERT_EQ(img.record.width, 32);
    ASSERT_EQ(img.record.height, 22);
    EXPECT_EQ(img.record.stride, 96);
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(img.at(x, y, 1), pattern(x + 4, y + 4, 1));
}

TEST(Resize, ConstantCopyRampAndEdges) {
    for (int depth : {8, 16}) {
        const unsigned value = depth == 8 ? 201 : 51234;
        TestImage src(32, 24, 3, depth);
        src.fill([&](int, int, int) { return value; });
        // Weights that are exact binary fractions keep a constant exactly; others
        // may lose one level to single-precision rounding before truncation.
        for (auto [w, h, loss] : {std::tuple{16, 12, 0u}, {64, 48, 0u}, {128, 96, 0u}, {2, 2, 0u},
                                  {1, 1, 0u}, {12, 9, 1u}, {100, 61, 1u}}) {
            TestImage dst(w, h, 3, depth);
            __resize(src.get(), dst.get());
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    ASSERT_LE(dst.at(x, y, 0), value) << w << "x" << h;
                    ASSERT_GE(dst.at(x, y, 2), value - loss) << w << "x" << h;
                }
        }
        TestImage same(32, 24, 3, depth);
        src.fill(pattern);
        __resize(src.get(), same.get());
        EXPECT_EQ(same.bytes, src.bytes) << "same size copies";
    }
    // Fixed single-precision grouping: a constant 201 becomes 200 exactly where
    // the weighted sum rounds just below 201.
    TestImage c201(32, 24, 1, 8), out(12, 9, 1, 8);
    c201.fill([](int, int, int) { return 201; });
    __resize(c201.get(), out.get());
    EXPECT_EQ(std::count(out.bytes.begin(), out.bytes.end(), 200), 3);
    EXPECT_EQ(out.at(7, 1), 200u);
    EXPECT_EQ(out.at(10, 1), 200u);
    EXPECT_EQ(out.at(1, 2), 200u);
    // Horizontal ramp 0, 40, 80, 120 enlarged to 8 columns; the bottom three
    // rows interpolate towards the left neighbour, which column 0 clamps.
    TestImage ramp(4, 8, 1, 8);
    ramp.fill([](int x, int, int) { return 40 * x; });
    TestImage big(8, 8, 1, 8);
    __resize(ramp.get(), big.get());
    const unsigned top[8] = {0, 20, 40, 60, 80, 100, 120, 120};
    const unsigned bottom[8] = {0, 0, 40, 20, 80, 60, 120, 100};
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(big.at(x, 0), top[x]) << x;
        EXPECT_EQ(big.at(x, 7), bottom[x]) << x;
    }
    // Mismatched layouts are refused rather than overrun.
    TestImage wide(8, 8, 3, 8), deep(8, 8, 1, 16);
    __resize(ramp.get(), wide.get());
    __resize(ramp.get(), deep.get());
    EXPECT_EQ(std::count(wide.bytes.begin(), wide.bytes.end(), 0), 192);
    EXPECT_EQ(std::count(deep.bytes.begin(), deep.bytes.end(), 0), 128);
}

TEST(Binning, MonochromeSizesSumsAndClamp) {
    TestImage img(1030, 1030, 1, 8);
    img.fill([](int, int, int) { return 100; });
    __mbin(img.get(), 2, 2);
    EXPECT_EQ(img.record.width, 512);
    EXPECT_EQ(img.record.height, 512);
    EXPECT_EQ(img.record.stride, 512);
    EXPECT_EQ(img.at(511, 511), 255u);

    TestImage w16(41, 22, 1, 16);
    w16.fill([](int x, int y, int) { return 1000 * x + 7 * y; });
    __mbin(w16.get(), 4, 2);  // 10 x 11 -> 8 x 8
    ASSERT_EQ(w16.record.width, 8);
    ASSERT_EQ(w16.record.height, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            unsigned sum = 0;
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 2; ++j) sum += 1000 * (4 * x + i) + 7 * (2 * y + j);
            ASSERT_EQ(w16.at(x, y), std::min(sum, 65535u)) << x << "," << y;
        }

    // Factor 1 across still repacks rows cut to a multiple of 4.
    TestImage cut(10, 9, 1, 8);
    cut.fill(pattern);
    __mbin(cut.get(), 1, 2);
    ASSERT_EQ(cut.record.width, 8);
    ASSERT_EQ(cut.record.height, 4);
    EXPECT_EQ(cut.at(5, 3), std::min(pattern(5, 6, 0) + pattern(5, 7, 0), 255u));
    EXPECT_EQ(cut.at(1, 0), pattern(1, 0, 0) + pattern(1, 1, 0));
}

TEST(Binning, BayerKeepsTheMosaic) {
    // R G / G B with position-dependent values.
    auto mosaic = [](int x, int y, int) { return 10 * (1 + (x & 1) + 2 * (y & 1)) + (x >> 1) % 3; };
    TestImage img(18, 13, 1, 8);
    img.fill(mosaic);
    __cbin(img.get(), 2, 1);
    ASSERT_EQ(img.record.width, 8);
    ASSERT_EQ(img.record.height, 12);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(img.at(x, y), mosaic(2 * (x & ~1) + (x & 1), y, 0) + mosaic(2 * (x & ~1) + 2 + (x & 1), y, 0));

    TestImage tall(16, 16, 1, 16);
    tall.fill([](int x, int y, int) { return 20000 * (x & 1) + 100 * (y & 1) + 1; });
    __cbin(tall.get(), 2, 2);
    ASSERT_EQ(tall.record.width, 8);
    ASSERT_EQ(tall.record.height, 8);
    EXPECT_EQ(tall.at(0, 0), 4u);
    EXPECT_EQ(tall.at(0, 1), 404u);
    EXPECT_EQ(tall.at(1, 1), 65535u) << "clamped";
}

TEST(Binning, SkipKeepsColumnPairs) {
    TestImage img(1280, 8, 1, 16);
    img.fill([](int x, int y, int) { return x + 2000 * y; });
    __skip(img.get(), 2, 2);
    ASSERT_EQ(img.record.width, 640);
    ASSERT_EQ(img.record.height, 4);
    const unsigned cols[] = {0, 1, 4, 5, 8, 9};
    const unsigned rows[] = {0, 1, 4, 5};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) ASSERT_EQ(img.at(x, y), cols[x] + 2000 * rows[y]);
    EXPECT_EQ(img.at(639, 3), 1277u + 2000 * 5);
}

TEST(Interlace, WeavesFieldsAndRefusesOverruns) {
    TestImage img(5, 8, 1, 8);
    img.fill([](int x, int y, int) { return 10 * y + x; });
    const auto orig = img.bytes;
    __interlace(img.get(), 0, 8);  // second field would lie below the frame
    __interlace(img.get(), 2, 4);  // first field outside the scratch rows
    EXPECT_EQ(img.bytes, orig);
    __interlace(img.get(), 0, 4);
    const unsigned from[] = {0, 4, 1, 5, 2, 6, 3, 7};
    for (int y = 0; y < 8; ++y) ASSERT_EQ(img.at(2, y), 10 * from[y] + 2);
}

TEST(ByteOrder, SwapAndTwelveBitUnpacking) {
    TestImage img(3, 1, 1, 16);
    const unsigned char raw[] = {0x12, 0x34, 0xab, 0x0c, 0x00, 0xff};
    std::memcpy(img.bytes.data(), raw, 6);
    __rmac(img.get(), 0);
    EXPECT_EQ(img.at(0, 0), 0x1234u);
    EXPECT_EQ(img.at(2, 0), 0x00ffu);
    std::memcpy(img.bytes.data(), raw, 6);
    __rmac(img.get(), 1);
    EXPECT_EQ(img.at(1, 0), 0xabc0u);
    EXPECT_EQ(img.at(2, 0), 0x00f0u);
    TestImage eight(2, 1, 1, 8);
    eight.bytes = {0x12, 0x34};
    eight.record.data = eight.bytes.data();
    __rmac(eight.get(), 0);
    EXPECT_EQ(eight.bytes[0], 0x12);
}
