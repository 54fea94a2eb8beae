// The BMP, TIFF, PNG and JPEG writers: byte layouts, and every file read back
// by an independent reader (libtiff, libpng, libjpeg; BMP parsed by hand).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>

#include "ezImage/grfmt_bmp.h"
#include "ezImage/grfmt_jpeg.h"
#include "ezImage/grfmt_png.h"
#include "ezImage/grfmt_raw.h"
#include "ezImage/grfmt_tiff.h"
#include "ezImage/registry.h"
#include "image_files_support.h"

namespace {

class Formats : public testing::Test {
  protected:
    void SetUp() override { ezInitGrfmt(); }
    void TearDown() override { exExitGrfmt(); }
    std::string save(const _ezImage* image, const std::string& name) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(ezSaveImage(path.c_str(), image)) << name;
        return path;
    }
    ScratchDir dir;
};

// A pixel of the image as red, green, blue, scaled to 8 bits.
struct Rgb {
    int r, g, b;
};
Rgb highBytes(const _ezImage* image, int x, int y) {
    const int shift = image->depth == 16 ? 8 : 0;
    const int last = image->channels == 1 ? 0 : 1;
    return {sampleAt(image, x, y, 0) >> shift, sampleAt(image, x, y, last) >> shift,
            sampleAt(image, x, y, 2 * last) >> shift};
}

TEST_F(Formats, BmpPadsRowsStoresBottomUpAndReversesColour) {
    struct Case {
        int width, height, depth, channels;
        uint32_t fileSize, offset;
    };
    for (const Case& c : {Case{5, 2, 8, 1, 8 * 2 + 1078, 1078},
                          Case{5, 2, 16, 1, 8 * 2 + 1078, 1078}, Case{5, 3, 8, 3, 16 * 3 + 54, 54},
                          Case{3, 2, 16, 3, 12 * 2 + 54, 54}, Case{3, 2, 8, 4, 12 * 2 + 54, 54}}) {
        SCOPED_TRACE(testing::Message()
                     << c.width << "x" << c.height << " d" << c.depth << " ch" << c.channels);
        ImagePtr image = patternImage(c.width, c.height, c.depth, c.channels);
        const auto b = readBytes(save(image.get(), "a.bmp"));
        ASSERT_EQ(b.size(), c.fileSize);
        EXPECT_EQ(b[0], 'B');
        EXPECT_EQ(b[1], 'M');
        EXPECT_EQ(le32(b, 2), c.fileSize);
        EXPECT_EQ(le32(b, 10), c.offset);
        EXPECT_EQ(le32(b, 14), 40u);
        EXPECT_EQ(le32(b, 18), static_cast<uint32_t>(c.width));
        EXPECT_EQ(le32(b, 22), static_cast<uint32_t>(c.height));
        EXPECT_EQ(le16(b, 28), 8 * c.channels);
        if (c.channels == 1) {
            EXPECT_EQ(le32(b, 54 + 4 * 200), 0x00c8c8c8u);  // grey palette
        }
        const size_t row = c.width * c.channels, padded = (row + 3) & ~size_t{3};
        for (int y = 0; y < c.height; ++y) {
            const size_t at = c.offset + (c.height - 1 - y) * padded;  // bottom row first
            for (int x = 0; x < c.width; ++x) {
                const Rgb want = highBytes(image.get(), x, y);
                const unsigned char* p = &b[at + x * c.channels];
                if (c.channels == 1) {
                    ASSERT_EQ(p[0], want.r);
                } else {
                    ASSERT_EQ(p[2], want.r) << x << "," << y;
                    ASSERT_EQ(p[1], want.g);
                    ASSERT_EQ(p[0], want.b);
                }
            }
            for (size_t i = row; i < padded; ++i) ASSERT_EQ(b[at + i], 0);
        }
    }
}

// The directory of a written TIFF: tag -> {type, count, value}.
std::map<int, std::array<uint32_t, 3>> tiffDirectory(const std::vector<unsigned char>& b) {
    std::map<int, std::array<uint32_t, 3>> tags;
    const uint32_t at = le32(b, 4);
    const int count = le16(b, at);
    for (int i = 0; i < count; ++i) {
        const size_t e = at + 2 + 12 * i;
        tags[le16(b, e)] = {le16(b, e + 2), le32(b, e + 4), le32(b, e + 8)};
    }
    EXPECT_EQ(le32(b, at + 2 + 12 * count), 0u);
    return tags;
}

void expectReadsBack(const ReadBack& file, const _ezImage* image, int tolerance = 0) {
    ASSERT_TRUE(file.ok);
    ASSERT_EQ(file.width, image->width);
    ASSERT_EQ(file.height, image->height);
    const int shift = file.depth == 8 && image->depth == 16 ? 8 : 0;
    const int channels = std::min(file.channels, static_cast<int>(image->channels));
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x)
            for (int c = 0; c < channels; ++c)
                ASSERT_NEAR(file.at(x, y, c), sampleAt(image, x, y, c) >> shift, tolerance)
                    << "x " << x << " y " << y << " c " << c;
}

TEST_F(Formats, TiffStripLayoutsAndLibtiffReadsEveryPixel) {
    struct Case {
        int width, height, depth, channels;
        uint32_t rowsPerStrip, strips;
    };
    for (const Case& c :
         {Case{10, 10, 8, 3, 10, 1}, Case{100, 100, 8, 1, 81, 2}, Case{100, 300, 8, 1, 81, 4},
          Case{3000, 5, 16, 3, 1, 5}, Case{2592, 1944, 16, 3, 1, 1944}, Case{9, 7, 16, 1, 7, 1},
          Case{4, 3, 8, 4, 3, 1}}) {
        SCOPED_TRACE(testing::Message()
                     << c.width << "x" << c.height << " d" << c.depth << " ch" << c.channels);
        ImagePtr image = patternImage(c.width, c.height, c.depth, c.channels);
        const std::string path = save(image.get(), "a.tif");
        const auto b = readBytes(path);
        ASSERT_EQ(0, std::memcmp(b.data(), "II*\0", 4));
        auto tags = tiffDirectory(b);
        ASSERT_EQ(tags.size(), 9u);
        const uint32_t row = c.width * c.channels * c.depth / 8;
        EXPECT_EQ(tags[278][2], c.rowsPerStrip);
        EXPECT_EQ(tags[273][1], c.strips);
        EXPECT_EQ(tags[262][2], c.channels == 1 ? 1u : 2u);
        EXPECT_EQ(tags[259], (std::array<uint32_t, 3>{4, 1, 1}));
        auto countOf = [&](uint32_t k) {
            return std::min(c.rowsPerStrip, c.height - k * c.rowsPerStrip) * row;
        };
        if (c.strips == 1) {
            EXPECT_EQ(tags[273][2], 8u);
            EXPECT_EQ(tags[279], (std::array<uint32_t, 3>{4, 1, countOf(0)}));
        } else if (c.strips == 2) {  // two SHORT counts packed into the value
            EXPECT_EQ(tags[279], (std::array<uint32_t, 3>{3, 2, countOf(0) | countOf(1) << 16}));
            EXPECT_EQ(le32(b, tags[273][2] + 4), 8 + countOf(0));
        } else {  // offset array, then SHORT count array
            EXPECT_EQ(tags[279][0], 3u);
            EXPECT_EQ(tags[279][2], tags[273][2] + 4 * c.strips);
            for (uint32_t k = 0; k < c.strips; ++k) {
                ASSERT_EQ(le32(b, tags[273][2] + 4 * k), 8 + k * c.rowsPerStrip * row);
                ASSERT_EQ(le16(b, tags[279][2] + 2 * k), countOf(k));
            }
        }
        if (c.channels == 1) {
            EXPECT_EQ(tags[258][2], static_cast<uint32_t>(c.depth));
        } else {
            EXPECT_EQ(tags[258][1], static_cast<uint32_t>(c.channels));
            for (int i = 0; i < c.channels; ++i) EXPECT_EQ(le16(b, tags[258][2] + 2 * i), c.depth);
        }
        if (c.channels == 4) continue;  // RGB plus an unnamed sample: libtiff only warns about it
        const ReadBack file = readTiff(path);
        EXPECT_EQ(file.kind, c.channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
        EXPECT_EQ(file.depth, c.depth);
        expectReadsBack(file, image.get());
    }
}

TEST_F(Formats, PngKeepsDepthAndColourTypeExactly) {
    for (int depth : {8, 16}) {
        for (int channels : {1, 3, 4}) {
            SCOPED_TRACE(testing::Message() << "d" << depth << " ch" << channels);
            ImagePtr image = patternImage(37, 11, depth, channels);
            const ReadBack file = readPng(save(image.get(), "a.png"));
            EXPECT_EQ(file.depth, depth);
            EXPECT_EQ(file.kind, channels == 1   ? PNG_COLOR_TYPE_GRAY
                                 : channels == 3 ? PNG_COLOR_TYPE_RGB
                                                 : PNG_COLOR_TYPE_RGB_ALPHA);
            ASSERT_EQ(file.channels, channels);
            expectReadsBack(file, image.get());
        }
    }
}

TEST_F(Formats, JpegIsBaselineGreyOrRgbOfTheHighBytes) {
    for (int depth : {8, 16}) {
        for (int channels : {1, 3, 4}) {
            SCOPED_TRACE(testing::Message() << "d" << depth << " ch" << channels);
            // Smooth content, so that quality 95 stays within a few levels.
            ImagePtr image = makeImage(40, 24, depth, channels);
            for (int y = 0; y < 24; ++y)
                for (int x = 0; x < 40; ++x)
                    for (int c = 0; c < channels; ++c)
                        setSample(image.get(), x, y, c,
                                  (40 + x * 2 + y * 2 + c * 40) << (depth - 8));
            const std::string path = save(image.get(), "a.jpg");
            const ReadBack file = readJpeg(path);
            EXPECT_EQ(file.kind, channels == 1 ? JCS_GRAYSCALE : JCS_YCbCr);
            ASSERT_EQ(file.channels, channels == 1 ? 1 : 3);
            expectReadsBack(file, image.get(), 4);
            const auto b = readBytes(path);
            const unsigned char sof0[] = {0xff, 0xc0};
            EXPECT_NE(std::search(b.begin(), b.end(), sof0, sof0 + 2), b.end());
        }
    }
}

TEST_F(Formats, ChannelZeroIsRedInEveryFormat) {
    for (int depth : {8, 16}) {
        ImagePtr image = makeImage(16, 16, depth, 3);
        const int probe[3] = {200, 100, 50};
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                for (int c = 0; c < 3; ++c)
                    setSample(image.get(), x, y, c, probe[c] << (depth - 8) | (depth - 8));
        SCOPED_TRACE(depth);
        const ReadBack png = readPng(save(image.get(), "a.png")),
                       tif = readTiff(save(image.get(), "a.tif")),
                       jpg = readJpeg(save(image.get(), "a.jpg"));
        const int s = depth - 8;
        EXPECT_EQ(png.at(5, 5, 0) >> s, 200);
        EXPECT_EQ(png.at(5, 5, 1) >> s, 100);
        EXPECT_EQ(png.at(5, 5, 2) >> s, 50);
        EXPECT_EQ(tif.at(5, 5, 0) >> s, 200);
        EXPECT_EQ(tif.at(5, 5, 1) >> s, 100);
        EXPECT_EQ(tif.at(5, 5, 2) >> s, 50);
        EXPECT_NEAR(jpg.at(5, 5, 0), 200, 2);
        EXPECT_NEAR(jpg.at(5, 5, 1), 100, 2);
        EXPECT_NEAR(jpg.at(5, 5, 2), 50, 2);
        const auto bmp = readBytes(save(image.get(), "a.bmp"));
        EXPECT_EQ(bmp.at(54 + 2), 200);  // stored blue, green, red
        EXPECT_EQ(bmp.at(54 + 1), 100);
        EXPECT_EQ(bmp.at(54 + 0), 50);
        const auto raw = readBytes(save(image.get(), "a.raw"));
        EXPECT_EQ(raw.at(56 + (depth / 8) * 0 + s / 8), 200);
        EXPECT_EQ(raw.at(56 + (depth / 8) * 1 + s / 8), 100);
        EXPECT_EQ(raw.at(56 + (depth / 8) * 2 + s / 8), 50);
    }
}

TEST_F(Formats, RefusedImagesAndFailedWritesReportFalse) {
    ImagePtr good = patternImage(300, 200, 8, 3);
    std::vector<std::unique_ptr<BaseImageEncoder>> all;
    all.push_back(std::make_unique<RawEncoder>());
    all.push_back(std::make_unique<BmpEncoder>());
    all.push_back(std::make_unique<TiffEncoder>());
    all.push_back(std::make_unique<PngEncoder>());
    all.push_back(std::make_unique<JpegEncoder>());

    // Records whose fields do not describe readable pixels, and 12-bit depth.
    _ezImage shortStride = *good, noPixels = *good, empty = *good, twelve = *good;
    shortStride.stride = 899;
    noPixels.data = nullptr;
    empty.height = 0;
    twelve.depth = 12;
    twelve.stride = 300 * 3 * 12 / 8;
    for (auto& encoder : all) {
        SCOPED_TRACE(encoder->getDescription());
        for (const _ezImage* bad : {&shortStride, &noPixels, &empty, &twelve}) {
            const std::string path = dir.file("bad");
            ASSERT_TRUE(encoder->setDestination(path.c_str()));
            EXPECT_FALSE(encoder->write(bad));
            EXPECT_FALSE(std::filesystem::exists(path));
        }
        ASSERT_TRUE(encoder->setDestination(dir.file("no/such/dir").c_str()));
        EXPECT_FALSE(encoder->write(good.get()));
        // A full disk, reached in the middle of the data or only at closing.
        ASSERT_TRUE(encoder->setDestination("/dev/full"));
        EXPECT_FALSE(encoder->write(good.get()));
        ImagePtr tiny = patternImage(2, 2, 8, 1);
        EXPECT_FALSE(encoder->write(tiny.get()));
    }
    EXPECT_FALSE(all[1]->setDestination(nullptr));

    // A library error inside libjpeg (too wide for JPEG) returns cleanly.
    ImagePtr wide = makeImage(65535, 1, 8, 1);
    std::fill(wide->data, wide->data + 65535, 1);
    EXPECT_FALSE(ezSaveImage(dir.file("wide.jpg").c_str(), wide.get()));
    EXPECT_TRUE(ezSaveImage(dir.file("wide.png").c_str(), wide.get()));
    EXPECT_EQ(readPng(dir.file("wide.png")).width, 65535);
}

}  // namespace
