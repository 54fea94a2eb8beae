// Tone and colour tables and the histogram with its automatic bounds.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "processing/image_record.h"
#include "processing/tone.h"

namespace {

using Table = std::array<unsigned char, 256>;

template <typename Build>
Table table(Build build) {
    Table t;
    t.fill(0xA5);
    build(t.data());
    return t;
}

Table identity() {
    Table t;
    for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
    return t;
}

// ---- Tables -------------------------------------------------------------------

TEST(ToneTables, NeutralSettingsAreIdentities) {
    EXPECT_EQ(table([](unsigned char* t) { __matrix_gamma(100, t, 256); }), identity());
    EXPECT_EQ(table([](unsigned char* t) { __matrix_channel(64, t, 256); }), identity());
    EXPECT_EQ(table([](unsigned char* t) { __matrix_stretch(0, 255, t, 256); }), identity());
    std::vector<unsigned char> s(256 * 256);
    __matrix_saturation(100, s.data(), 256);
    for (int r = 0; r < 256; ++r)
        for (int v = 0; v < 256; ++v) ASSERT_EQ(s[r * 256 + v], v) << "reference " << r;
}

TEST(ToneTables, GammaCurves) {
    for (int value = 20; value <= 150; ++value) {
        const Table t = table([&](unsigned char* p) { __matrix_gamma(value, p, 256); });
        EXPECT_EQ(t[0], 0);
        // Rounding leaves some tops one short.
        EXPECT_GE(t[255], 254) << "gamma " << value;
        const bool shortTop = value == 22 || value == 60 || value == 105;
        const bool fullTop = value == 20 || value == 100 || value == 150;
        EXPECT_TRUE(!shortTop || t[255] == 254) << "gamma " << value;
        EXPECT_TRUE(!fullTop || t[255] == 255) << "gamma " << value;
        for (int i = 1; i < 255; ++i) {
            ASSERT_LE(t[i - 1], t[i]) << "gamma " << value << " entry " << i;
            // Above 100 the curve brightens, below it darkens.
            if (value > 100) {
                ASSERT_GE(t[i], i - 1) << "gamma " << value << " entry " << i;
            } else if (value < 100) {
                ASSERT_LE(t[i], i) << "gamma " << value << " entry " << i;
            }
        }
    }
    // Exponent 2: entry i is i * i / 255, truncated.
    const Table square = table([](unsigned char* p) { __matrix_gamma(50, p, 256); });
    EXPECT_EQ(square[16], 1);
    EXPECT_EQ(square[128], 64);
    EXPECT_EQ(square[200], 156);

    // Settings without a finite exponent still give a defined, darkest curve.
    const Table darkest = table([](unsigned char* p) { __matrix_gamma(1, p, 256); });
    for (int value : {0, -7, INT_MIN})
        EXPECT_EQ(table([&](unsigned char* p) { __matrix_gamma(value, p, 256); }), darkest);
}

TEST(ToneTables, ContrastSlopes) {
    const Table flat = table([](unsigned char* t) { __matrix_contrast(0, t, 256); });
    EXPECT_EQ(flat[0], 130);
    EXPECT_EQ(flat[255], 126);
    for (int i = 1; i < 256; ++i) EXPECT_LE(flat[i], flat[i - 1]);

    // 128 is a slope of 0.9657, not the identity.
    const Table neutral = table([](unsigned char* t) { __matrix_contrast(128, t, 256); });
    EXPECT_EQ(neutral[0], 4);
    EXPECT_EQ(neutral[128], 128);
    EXPECT_EQ(neutral[255], 251);
    EXPECT_NE(neutral, identity());

    // Steep slopes clamp at both ends, and truncation is toward zero.
    const Table steep = table([](unsigned char* t) { __matrix_contrast(255, t, 256); });
    EXPECT_EQ(steep[0], 0);
    EXPECT_EQ(steep[127], 86);  // -42.38 + 128.5
    EXPECT_EQ(steep[128], 128);
    EXPECT_EQ(steep[255], 255);

    // The setter does not range-check: far-out values give defined tables.
    const Table beyond = table([](unsigned char* t) { __matrix_contrast(300, t, 256); });
    EXPECT_EQ(beyond[0], 255);
    EXPECT_EQ(beyond[255], 0);
    for (int value : {INT_MIN, -1000, INT_MAX}) {
        const Table t = table([&](unsigned char* p) { __matrix_contrast(value, p, 256); });
        EXPECT_EQ(t[128], 128) << value;
    }
}

TEST(ToneTables, StretchRampsAndThresholds) {
    const Table ramp = table([](unsigned char* t) { __matrix_stretch(10, 20, t, 256); });
    for (int i = 0; i < 10; ++i) EXPECT_EQ(ramp[i], 0);
    EXPECT_EQ(ramp[10], 0);
    EXPECT_EQ(ramp[15], 127);
    EXPECT_EQ(ramp[19], 229);
    for (int i = 20; i < 256; ++i) EXPECT_EQ(ramp[i], 255);

    const Table threshold = table([](unsigned char* t) { __matrix_stretch(100, 100, t, 256); });
    for (int i = 0; i < 256; ++i) EXPECT_EQ(threshold[i], i < 100 ? 0 : 255) << i;

    // Bounds the wrong way round: the full part, written last, wins.
    const Table crossed = table([](unsigned char* t) { __matrix_stretch(150, 100, t, 256); });
    for (int i = 0; i < 256; ++i) EXPECT_EQ(crossed[i], i < 100 ? 0 : 255) << i;

    // Bounds beyond the table stay inside it.
    std::array<unsigned char, 260> guarded;
    guarded.fill(0xA5);
    __matrix_stretch(-20, 400, guarded.data(), 256);
    EXPECT_EQ(guarded[0], 12);     // 20 * 255 / 420
    EXPECT_EQ(guarded[255], 166);  // 275 * 255 / 420
    for (int i = 256; i < 260; ++i) EXPECT_EQ(guarded[i], 0xA5);
}

TEST(ToneTables, SaturationAroundTheReference) {
    std::vector<unsigned char> s(256 * 256);
    auto at = [&](int r, int v) { return static_cast<int>(s[r * 256 + v]); };
    __matrix_saturation(0, s.data(), 256);
    EXPECT_EQ(at(40, 200), 40);
    EXPECT_EQ(at(200, 3), 200);

    __matrix_saturation(200, s.data(), 256);
    EXPECT_EQ(at(100, 200), 255);  // 300 clamped
    EXPECT_EQ(at(100, 0), 0);      // -100 clamped
    EXPECT_EQ(at(100, 120), 140);

    __matrix_saturation(150, s.data(), 256);
    EXPECT_EQ(at(10, 9), 9);   // -1.5 truncates to -1
    EXPECT_EQ(at(9, 10), 10);  // +1.5 truncates to +1
    EXPECT_EQ(at(0, 255), 255);
}

TEST(ToneTables, ChannelGain) {
    const Table twice = table([](unsigned char* t) { __matrix_channel(128, t, 256); });
    EXPECT_EQ(twice[127], 254);
    EXPECT_EQ(twice[128], 255);
    EXPECT_EQ(twice[255], 255);
    const Table quarter = table([](unsigned char* t) { __matrix_channel(16, t, 256); });
    EXPECT_EQ(quarter[255], 63);
    EXPECT_EQ(quarter[3], 0);
    const Table most = table([](unsigned char* t) { __matrix_channel(240, t, 256); });
    EXPECT_EQ(most[17], 63);  // 63.75
    EXPECT_EQ(most[68], 255);
}

// ---- Histogram ----------------------------------------------------------------

struct Block {
    std::vector<int32_t> bins;
    int32_t low, high;
};

Block block(const _ezImage* image, int index) {
    int32_t raw[kHistogramBlock];
    std::memcpy(raw, image->extra + size_t(index) * sizeof raw, sizeof raw);
    return {std::vector<int32_t>(raw, raw + 256), raw[kHistogramLow], raw[kHistogramHigh]};
}

// Fills every sample of every pixel; 16-bit samples get a busy low byte so
// that only the high byte can count.
void fill(_ezImage* image, std::initializer_list<int> pixel) {
    const size_t pixels = size_t(image->width) * image->height;
    for (size_t p = 0; p < pixels; ++p) {
        int c = 0;
        for (int v : pixel) {
            const size_t i = p * image->channels + c++;
            if (image->depth == 8) {
                image->data[i] = static_cast<unsigned char>(v);
            } else {
                const auto s = static_cast<uint16_t>(v << 8 | 0xC3);
                std::memcpy(image->data + 2 * i, &s, 2);
            }
        }
    }
}

void setSample(_ezImage* image, size_t index, int v) {
    if (image->depth == 8)
        image->data[index] = static_cast<unsigned char>(v);
    else
        image->data[2 * index + 1] = static_cast<unsigned char>(v);
}

std::vector<int32_t> only(std::initializer_list<std::pair<int, int32_t>> counts) {
    std::vector<int32_t> bins(256, 0);
    for (auto [bin, count] : counts) bins[bin] = count;
    return bins;
}

TEST(Histogram, UniformColourImage) {
    for (int depth : {8, 16}) {
        ImagePtr image = makeImage(40, 25, depth, 3);  // N = 1000
        fill(image.get(), {10, 20, 30});
        std::memset(image->extra, 0xFF, kStatisticsBytes);
        ASSERT_EQ(__calc_histogram(image.get()), 0);
        const int values[3] = {10, 20, 30};
        for (int c = 0; c < 3; ++c) {
            const Block b = block(image.get(), c + 1);
            EXPECT_EQ(b.bins, only({{values[c], 1000}})) << "channel " << c << " depth " << depth;
            EXPECT_EQ(b.low, values[c]);
            EXPECT_EQ(b.high, values[c]);
        }
        const Block mixture = block(image.get(), 0);
        EXPECT_EQ(mixture.bins, only({{10, 100}, {20, 600}, {30, 300}}));
        EXPECT_EQ(mixture.low, 10);
        EXPECT_EQ(mixture.high, 30);
    }
}

TEST(Histogram, UniformGreyImage) {
    for (int depth : {8, 16}) {
        ImagePtr image = makeImage(33, 7, depth, 1);
        fill(image.get(), {77});
        ASSERT_EQ(__calc_histogram(image.get()), 0);
        const Block b = block(image.get(), 0);
        EXPECT_EQ(b.bins, only({{77, 231}}));
        EXPECT_EQ(b.low, 77);
        EXPECT_EQ(b.high, 77);
    }
}

TEST(Histogram, BrightestTenthOfAPercentIsClipped) {
    // N = 10000, so more than 10 samples must lie at or above the high bound.
    for (int depth : {8, 16}) {
        ImagePtr grey = makeImage(100, 100, depth, 1);
        fill(grey.get(), {50});
        for (int i = 0; i < 10; ++i) setSample(grey.get(), i, 250);
        for (int i = 10; i < 20; ++i) setSample(grey.get(), i, 200);
        ASSERT_EQ(__calc_histogram(grey.get()), 0);
        EXPECT_EQ(block(grey.get(), 0).high, 200);
        EXPECT_EQ(block(grey.get(), 0).low, 50);

        setSample(grey.get(), 20, 250);  // now 11 at the top: it stays
        ASSERT_EQ(__calc_histogram(grey.get()), 0);
        EXPECT_EQ(block(grey.get(), 0).high, 250);

        // Colour: channel 1 alone has a bright tail; its block and the mixture clip.
        ImagePtr colour = makeImage(100, 100, depth, 3);
        fill(colour.get(), {60, 60, 60});
        for (int i = 0; i < 10; ++i) setSample(colour.get(), size_t(i) * 3 + 1, 240);
        ASSERT_EQ(__calc_histogram(colour.get()), 0);
        EXPECT_EQ(block(colour.get(), 2).high, 60);
        EXPECT_EQ(block(colour.get(), 2).bins[240], 10);
        EXPECT_EQ(block(colour.get(), 1).high, 60);
        EXPECT_EQ(block(colour.get(), 0).bins[240], 6);  // 6 * 10 / 10
        EXPECT_EQ(block(colour.get(), 0).high, 60);
    }
}

TEST(Histogram, MixtureLowNeedsAWeightOfTen) {
    ImagePtr image = makeImage(10, 10, 8, 3);
    fill(image.get(), {100, 100, 100});
    image->data[0] = 5;  // one pixel with channel 0 at 5: weight 1
    image->data[4] = 7;  // one pixel with channel 1 at 7: weight 6
    image->data[8] = 9;  // one pixel with channel 2 at 9: weight 3
    ASSERT_EQ(__calc_histogram(image.get()), 0);
    EXPECT_EQ(block(image.get(), 1).low, 5);
    EXPECT_EQ(block(image.get(), 2).low, 7);
    EXPECT_EQ(block(image.get(), 3).low, 9);
    const Block mixture = block(image.get(), 0);
    EXPECT_EQ(mixture.low, 100);
    EXPECT_EQ(mixture.bins[7], 0);  // 6 / 10
    EXPECT_EQ(mixture.bins[100], (99 + 6 * 99 + 3 * 99) / 10);

    // Two pixels at 7 in channel 1 weigh 12.
    image->data[13] = 7;
    ASSERT_EQ(__calc_histogram(image.get()), 0);
    EXPECT_EQ(block(image.get(), 0).low, 7);
    EXPECT_EQ(block(image.get(), 0).bins[7], 1);
}

TEST(Histogram, BlackAndEmptyImages) {
    ImagePtr black = makeImage(20, 20, 8, 1);
    fill(black.get(), {0});
    ASSERT_EQ(__calc_histogram(black.get()), 0);
    EXPECT_EQ(block(black.get(), 0).low, 0);
    EXPECT_EQ(block(black.get(), 0).high, 0);

    ImagePtr empty = makeImage(0, 0, 8, 1);
    ASSERT_TRUE(empty);
    ASSERT_EQ(__calc_histogram(empty.get()), 0);
    EXPECT_EQ(block(empty.get(), 0).low, 255);
    EXPECT_EQ(block(empty.get(), 0).high, 0);
    EXPECT_EQ(block(empty.get(), 0).bins, std::vector<int32_t>(256, 0));

    ImagePtr emptyColour = makeImage(0, 0, 16, 3);
    std::memset(emptyColour->extra, 0x7F, kStatisticsBytes);
    ASSERT_EQ(__calc_histogram(emptyColour.get()), 0);
    for (int b = 0; b < 4; ++b) {
        EXPECT_EQ(block(emptyColour.get(), b).low, 0);
        EXPECT_EQ(block(emptyColour.get(), b).high, 0);
        EXPECT_EQ(block(emptyColour.get(), b).bins, std::vector<int32_t>(256, 0));
    }
}

TEST(Histogram, RefusesWhatItCannotMeasure) {
    EXPECT_EQ(__calc_histogram(nullptr), -3);
    ImagePtr image = makeImage(4, 4, 8, 3);
    std::memset(image->extra, 0x11, kStatisticsBytes);
    image->channels = 2;
    EXPECT_EQ(__calc_histogram(image.get()), -3);
    image->channels = 3;
    image->depth = 12;
    EXPECT_EQ(__calc_histogram(image.get()), -3);
    for (int i = 0; i < kStatisticsBytes; ++i) ASSERT_EQ(image->extra[i], 0x11);
}

TEST(Histogram, StatisticsAreaNeedNotBeAligned) {
    // 5 x 3 one-channel pixels put the area at an odd address.
    std::vector<unsigned char> buffer(56 + 15 + 1032);
    _ezImage image{};
    ezInitImageHeader(&image, 5, 3, 1, 8, 56, buffer.data() + 56, 0, 0);
    for (int i = 0; i < 15; ++i) image.data[i] = static_cast<unsigned char>(10 * i);
    ASSERT_EQ(__calc_histogram(&image), 0);
    const Block b = block(&image, 0);
    EXPECT_EQ(b.low, 0);
    EXPECT_EQ(b.high, 140);
    EXPECT_EQ(b.bins[70], 1);
}

}  // namespace

// Random samples at widths that end inside a round of counting, both depths
// and channel counts: every channel's bins are its plain counts.
TEST(Histogram, CountsEverySampleOfOddSizes) {
    uint32_t noise = 99;
    struct Size {
        int width, height;
    };
    for (const Size size : {Size{1, 1}, Size{5, 3}, Size{7, 13}, Size{131, 9}, Size{640, 2}})
        for (int depth : {8, 16})
            for (int channels : {1, 3}) {
                SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) + ", " +
                             std::to_string(depth) + " bits, " + std::to_string(channels));
                ImagePtr image = makeImage(size.width, size.height, depth, channels);
                const size_t samples = size_t(size.width) * size.height * channels;
                std::vector<std::vector<int32_t>> want(channels, std::vector<int32_t>(256, 0));
                for (size_t i = 0; i < samples; ++i) {
                    noise = noise * 1664525u + 1013904223u;
                    // Runs of equal values as well as noise.
                    const int v = (noise >> 30) == 0 ? 200 : static_cast<int>(noise >> 24);
                    if (depth == 16) image->data[2 * i] = static_cast<unsigned char>(noise >> 8);
                    setSample(image.get(), i, v);
                    ++want[i % channels][v];
                }
                ASSERT_EQ(__calc_histogram(image.get()), 0);
                for (int c = 0; c < channels; ++c)
                    EXPECT_EQ(block(image.get(), channels == 3 ? c + 1 : 0).bins, want[c]) << c;
            }
}
