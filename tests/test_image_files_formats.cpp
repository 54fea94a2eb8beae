// The BMP, TIFF, PNG and JPEG writers: byte layouts, and every file read back
// by an independent reader (libtiff, libpng, libjpeg; BMP parsed by hand).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>

#include "ezImage/grfmt_tiff.h"
#include "ezImage/registry.h"
#include "image_files_support.h"

namespace {

class Formats : public testing::Test {
  protected:
    void SetUp() override { ezInitGrfmt(); }
    void TearDown() override { exExitGrfmt(); }
    std::string save(const _ezImage* image, const std::string& name) {
        EXPECT_TRUE(ezSaveImage(dir.file(name).c_str(), image)) << name;
        return dir.file(name);
    }
    ScratchDir dir;
};

// Every sample the file holds equals the image's (its high byte for an 8-bit
// file of a 16-bit image), within tolerance; four-channel images may lose
// their fourth sample.
void expectSamples(const ReadBack& file, const _ezImage* image, int tolerance = 0) {
    ASSERT_TRUE(file.ok);
    ASSERT_EQ(file.width, image->width);
    ASSERT_EQ(file.height, image->height);
    ASSERT_EQ(file.samples.size(), size_t{image->width} * image->height * file.channels);
    const int shift = image->depth - file.depth;
    for (size_t i = 0; i < file.samples.size(); ++i) {
        const size_t source = i / file.channels * image->channels + i % file.channels;
        ASSERT_NEAR(file.samples[i], sampleAt(image, source) >> shift, tolerance) << "sample " << i;
    }
}

TEST_F(Formats, BmpPadsRowsStoresBottomUpAndReversesColour) {
    for (auto [width, height, depth, channels] :
         {std::array{5, 2, 8, 1}, {5, 2, 16, 1}, {5, 3, 8, 3}, {3, 2, 16, 3}, {3, 2, 8, 4}}) {
        SCOPED_TRACE(testing::Message()
                     << width << "x" << height << " d" << depth << " ch" << channels);
        ImagePtr image = testImage(width, height, depth, channels);
        const Bytes b = readBytes(save(image.get(), "a.bmp"));
        const uint32_t row = width * channels, padded = (row + 3) & ~3u,
                       offset = channels == 1 ? 1078 : 54;
        ASSERT_EQ(b.size(), padded * height + offset);  // 5x2 grey: 8 * 2 + 1078 = 1094
        EXPECT_EQ(le16(b, 0), 'B' | 'M' << 8);
        EXPECT_EQ(le32(b, 2), b.size());
        EXPECT_EQ(le32(b, 10), offset);
        EXPECT_EQ(le32(b, 22), uint32_t(height));  // positive: bottom-up
        EXPECT_EQ(le16(b, 28), 8u * channels);
        if (channels == 1) {
            EXPECT_EQ(le32(b, 54 + 4 * 200), 0x00c8c8c8u);  // grey palette
        }
        const int shift = depth - 8, order[4] = {2, 1, 0, 3};
        for (int y = 0; y < height; ++y) {
            const size_t at = offset + (height - 1 - y) * padded;
            for (uint32_t i = 0; i < row; ++i) {
                const int c = channels == 1 ? 0 : order[i % channels];
                ASSERT_EQ(
                    b[at + i],
                    sampleAt(image.get(), (y * width + i / channels) * channels + c) >> shift);
            }
            for (uint32_t i = row; i < padded; ++i) ASSERT_EQ(b[at + i], 0);
        }
    }
}

TEST_F(Formats, TiffStripLayoutsAndLibtiffReadsEveryPixel) {
    struct Case {
        int width, height, depth, channels;
        uint32_t rowsPerStrip, strips;
    };
    for (const Case& c : {Case{10, 10, 8, 3, 10, 1},
                          {100, 100, 8, 1, 81, 2},
                          {100, 300, 8, 1, 81, 4},
                          {9, 7, 16, 1, 7, 1},
                          {2592, 1944, 16, 3, 1, 1944},
                          {4, 3, 8, 4, 3, 1}}) {
        SCOPED_TRACE(testing::Message()
                     << c.width << "x" << c.height << " d" << c.depth << " ch" << c.channels);
        ImagePtr image = testImage(c.width, c.height, c.depth, c.channels);
        const std::string path = save(image.get(), "a.tif");
        const Bytes b = readBytes(path);
        ASSERT_EQ(0, std::memcmp(b.data(), "II*\0", 4));
        std::map<uint32_t, std::array<uint32_t, 3>> tag;  // tag -> type, count, value
        const uint32_t ifd = le32(b, 4);
        ASSERT_EQ(le16(b, ifd), 9u);
        for (uint32_t e = ifd + 2; e < ifd + 2 + 9 * 12; e += 12)
            tag[le16(b, e)] = {le16(b, e + 2), le32(b, e + 4), le32(b, e + 8)};
        EXPECT_EQ(le32(b, ifd + 2 + 9 * 12), 0u);
        EXPECT_EQ(tag[278][2], c.rowsPerStrip);
        EXPECT_EQ(tag[273][1], c.strips);
        const uint32_t row = c.width * c.channels * c.depth / 8;
        auto count = [&](uint32_t k) {
            return std::min(c.rowsPerStrip, c.height - k * c.rowsPerStrip) * row;
        };
        if (c.strips == 1) {
            EXPECT_EQ(tag[273][2], 8u);
            EXPECT_EQ(tag[279], (std::array<uint32_t, 3>{4, 1, count(0)}));
        } else if (c.strips ==
                   2) {  // 100 x 100 grey: SHORT counts 8100 and 1900 packed in the value
            EXPECT_EQ(tag[279], (std::array<uint32_t, 3>{3, 2, count(0) | count(1) << 16}));
            EXPECT_EQ(le32(b, tag[273][2] + 4), 8 + count(0));
        } else {  // offset array, then SHORT count array
            EXPECT_EQ(tag[279][0], 3u);
            EXPECT_EQ(tag[279][2], tag[273][2] + 4 * c.strips);
            for (uint32_t k = 0; k < c.strips; ++k) {
                ASSERT_EQ(le32(b, tag[273][2] + 4 * k), 8 + k * c.rowsPerStrip * row);
                ASSERT_EQ(le16(b, tag[279][2] + 2 * k), count(k));
            }
        }
        for (int i = 0; i < (c.channels == 1 ? 0 : c.channels); ++i)
            EXPECT_EQ(le16(b, tag[258][2] + 2 * i), uint32_t(c.depth));
        if (c.channels == 1) {
            EXPECT_EQ(tag[258][2], uint32_t(c.depth));
        }
        if (c.channels == 4) continue;  // RGB plus an unnamed sample: libtiff objects
        const ReadBack file = readTiff(path);
        EXPECT_EQ(file.kind, c.channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
        EXPECT_EQ(file.depth, c.depth);
        expectSamples(file, image.get());
    }
}

TEST_F(Formats, PngAndJpegKeepSizeKindAndSamples) {
    for (int depth : {8, 16}) {
        for (int channels : {1, 3, 4}) {
            SCOPED_TRACE(testing::Message() << "d" << depth << " ch" << channels);
            ImagePtr image = testImage(37, 11, depth, channels),
                     smooth = testImage(40, 24, depth, channels, true);
            const ReadBack png = readPng(save(image.get(), "a.png"));
            EXPECT_EQ(png.depth, depth);  // 16-bit grey stays 16-bit, exact
            EXPECT_EQ(png.kind, channels == 1   ? PNG_COLOR_TYPE_GRAY
                                : channels == 3 ? PNG_COLOR_TYPE_RGB
                                                : PNG_COLOR_TYPE_RGB_ALPHA);
            ASSERT_EQ(png.channels, channels);
            expectSamples(png, image.get());

            const std::string path = save(smooth.get(), "a.jpg");
            const ReadBack jpg = readJpeg(path);
            EXPECT_EQ(jpg.kind, channels == 1 ? JCS_GRAYSCALE : JCS_YCbCr);
            EXPECT_EQ(jpg.channels, channels == 1 ? 1 : 3);
            expectSamples(jpg, smooth.get(), 4);
            const Bytes b = readBytes(path), baseline = {0xff, 0xc0};
            EXPECT_NE(std::search(b.begin(), b.end(), baseline.begin(), baseline.end()), b.end());
        }
    }
}

TEST_F(Formats, ChannelZeroIsRedInEveryFormat) {
    for (int depth : {8, 16}) {
        SCOPED_TRACE(depth);
        ImagePtr image = testImage(16, 16, depth, 3);
        for (size_t i = 0; i < sampleCount(image.get()); ++i)
            setSample(image.get(), i, sampleAt(image.get(), i % 3));
        for (const char* name : {"a.png", "a.tif", "a.jpg"}) {
            const std::string path = save(image.get(), name);
            const ReadBack file = name[2] == 'p'   ? readPng(path)
                                  : name[2] == 't' ? readTiff(path)
                                                   : readJpeg(path);
            const int shift = file.depth == 16 ? 8 : 0, tolerance = name[2] == 'j' ? 2 : 0;
            EXPECT_NEAR(file.samples.at(3 * 50 + 0) >> shift, 200, tolerance) << name;
            EXPECT_NEAR(file.samples.at(3 * 50 + 1) >> shift, 100, tolerance) << name;
            EXPECT_NEAR(file.samples.at(3 * 50 + 2) >> shift, 50, tolerance) << name;
        }
        const Bytes bmp = readBytes(save(image.get(), "a.bmp")),
                    raw = readBytes(save(image.get(), "a.raw"));
        EXPECT_EQ((std::array{bmp.at(56), bmp.at(55), bmp.at(54)}),
                  (std::array<unsigned char, 3>{200, 100, 50}));
        const size_t hi = depth / 8 - 1, step = depth / 8;
        EXPECT_EQ((std::array{raw.at(56 + hi), raw.at(56 + step + hi), raw.at(56 + 2 * step + hi)}),
                  (std::array<unsigned char, 3>{200, 100, 50}));
    }
}

TEST_F(Formats, RefusedImagesAndFailedWritesReportFalse) {
    ImagePtr good = testImage(300, 200, 8, 3), tiny = testImage(2, 2, 8, 1);
    _ezImage shortStride = *good, noPixels = *good, empty = *good, twelve = *good;
    shortStride.stride = 899;
    noPixels.data = nullptr;
    empty.height = 0;
    twelve.depth = 12;  // stride 1350 matches 12 bits
    twelve.stride = 1350;
    for (const char* ext : {".raw", ".bmp", ".tif", ".png", ".jpg"}) {
        SCOPED_TRACE(ext);
        const std::string bad = dir.file(std::string("bad") + ext);
        for (const _ezImage* image : {&shortStride, &noPixels, &empty, &twelve}) {
            EXPECT_FALSE(ezSaveImage(bad.c_str(), image));
            EXPECT_FALSE(std::filesystem::exists(bad));
        }
        EXPECT_FALSE(ezSaveImage(dir.file(std::string("no/dir") + ext).c_str(), good.get()));
        // A full disk met in mid-file, or only when closing.
        std::unique_ptr<BaseImageEncoder> encoder = findEncoder(ext)->newEncoder();
        ASSERT_TRUE(encoder->setDestination("/dev/full"));
        EXPECT_FALSE(encoder->write(good.get()));
        EXPECT_FALSE(encoder->write(tiny.get()));
    }
    // An error raised inside libjpeg (too wide for JPEG) returns cleanly.
    ImagePtr wide = testImage(65535, 1, 8, 1);
    EXPECT_FALSE(ezSaveImage(dir.file("wide.jpg").c_str(), wide.get()));
    EXPECT_EQ(readPng(save(wide.get(), "wide.png")).width, 65535);
}

}  // namespace
