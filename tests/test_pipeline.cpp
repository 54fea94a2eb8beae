// The frame pipeline built on its own: decoding, the tone and colour passes
// against per-pixel references, stretch, and the hand-over of the setters'
// tables.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "calibration/colour_profile.h"
#include "pipeline_fixture.h"
#include "processing/colour_matrix.h"
#include "processing/geometry.h"

namespace {

std::array<unsigned char, 256> table(void (*build)(int, unsigned char*, int), int value) {
    std::array<unsigned char, 256> t{};
    build(value, t.data(), 256);
    return t;
}

// What the decoder alone makes of a frame (optionally cut like the pipeline).
std::vector<unsigned char> decodedOnly(Frames& f, int channels, bool crop, bool corrected = false) {
    Frames copy = f;
    _ezImage* raw = copy.rawRecord();
    _ezImage* image = copy.imageRecord();
    ezInitImageHeader(image, f.width, f.height, channels, f.depth, 512, copy.image.data() + 512, 0,
                      0);
    ezInitImageHeader(raw, f.width, f.height, 1, f.depth, 512, copy.raw.data() + 512, 0, 0);
    (corrected ? __decode_rawdata : __decode_rawdatafast)(raw, image, channels == 3 ? 1 : 0);
    if (crop) __roi(image, 4, 4, f.width - 8, f.height - 8);
    return copy.pixels();
}

using Pipeline = ::testing::Test;

}  // namespace

TEST_F(Pipeline, DefaultSettingsLeaveTheDecodedImageUnchanged) {
    for (bool colour : {true, false})
        for (int depth : {8, 16})
            for (bool crop : {false, true}) {
                TestPipeline camera(colour);
                Frames f(40, 24, depth, [&](int x, int y) { return testPattern(x, y, depth); });
                const auto expected = decodedOnly(f, colour ? 3 : 1, crop);
                ASSERT_EQ(f.run(camera, crop), 0);
                EXPECT_EQ(f.pixels(), expected) << colour << depth << crop;
                EXPECT_EQ(f.imageRecord()->width, crop ? 32 : 40);
            }
    TestPipeline camera;
    camera.setColorEnhancement(true);
    Frames f(40, 24, 8, [](int x, int y) { return testPattern(x, y, 8); });
    const auto expected = decodedOnly(f, 3, true, true);
    ASSERT_EQ(f.run(camera, true), 0);
    EXPECT_EQ(f.pixels(), expected);
}

// A colour profile puts every decoded pixel, and nothing else, through its
// matrix, in the one-pass path (cut or not) and in the step-by-step path
// that a quarter turn takes; a matrix past the vector lanes' range too.
TEST_F(Pipeline, AProfilesMatrixGoesOnEveryDecodedPixelOnEitherPath) {
    calib::ProfileMatrix measured, large;
    measured.q12 = {6636, -1966, -573, -860, 5775, -819, -205, -2130, 6431};
    large.q12 = {40000, -20000, -15000, 0, 4096, 0, -5000, -5000, 14000};
    struct Path {
        bool crop;
        int rotate;
    };
    for (const calib::ProfileMatrix* matrix : {&measured, &large})
        for (int depth : {8, 16})
            for (const Path path : {Path{false, 0}, Path{true, 0}, Path{true, 1}}) {
                SCOPED_TRACE(std::to_string(depth) + "-bit, crop " + std::to_string(path.crop) +
                             ", rotate " + std::to_string(path.rotate) + ", q12 " +
                             std::to_string(matrix->q12[0]));
                const auto sample = [depth](int x, int y) {
                    // Saturated sites among the ramp, so the clamps work.
                    return (x * 5 + y * 3) % 17 == 0 ? (1u << depth) - 1 : testPattern(x, y, depth);
                };
                TestPipeline plain, profiled;
                plain.setRotate(path.rotate);
                profiled.setRotate(path.rotate);
                profiled.setColorEnhancement(true);
                profiled.setColourProfile(std::make_shared<const calib::ProfileMatrix>(*matrix));
                Frames expected(40, 24, depth, sample), got(40, 24, depth, sample);
                ASSERT_EQ(expected.run(plain, path.crop), 0);
                ASSERT_EQ(got.run(profiled, path.crop), 0);
                const _ezImage* image = expected.imageRecord();
                // Uncut, the decoder leaves the outer rows and columns alone.
                const int edge = path.crop ? 0 : 1;
                for (int y = edge; y < image->height - 2 * edge; ++y) {
                    unsigned char* row = image->data + size_t(y) * image->stride;
                    const size_t count = image->width - 2 * edge;
                    if (depth == 8)
                        colour::matrixPixels(matrix->q12.data(), row + 3 * edge, count);
                    else
                        colour::matrixPixels(matrix->q12.data(),
                                             reinterpret_cast<uint16_t*>(row) + 3 * edge, count);
                }
                EXPECT_EQ(got.pixels(), expected.pixels());
            }
}

TEST_F(Pipeline, RefusedFramesLeaveTheImageAlone) {
    TestPipeline pipeline;
    Frames f(16, 8, 8, [](int x, int y) { return testPattern(x, y, 8); });
    const std::vector<unsigned char> untouched = f.image;
    f.rawRecord()->depth = 12;
    EXPECT_EQ(f.run(pipeline), -2);
    f.rawRecord()->depth = 8;
    f.rawRecord()->header_size = 8;  // pixels would overlap the image's record
    EXPECT_EQ(f.run(pipeline), -2);
    EXPECT_EQ(f.image, untouched);
    EXPECT_EQ(pipeline.run(f.raw.data(), f.raw.data(), true, pipeline.sensor), -2);
}

// Every combination of the four colour switches against the per-pixel
// definition, at both depths; the last two pixels keep their decoded values,
// and a channel whose own gamma and gain stay neutral (green here) changes
// only through the steps shared by all channels.
TEST_F(Pipeline, ColourPassFollowsTheDefinitionForEverySwitchCombination) {
    const auto gain0 = table(__matrix_channel, 90), gain2 = table(__matrix_channel, 40);
    const auto gamma0 = table(__matrix_gamma, 60), gamma2 = table(__matrix_gamma, 140);
    const auto con = table(__matrix_contrast, 170);
    std::vector<unsigned char> sat(65536);
    __matrix_saturation(160, sat.data(), 256);
    for (int depth : {8, 16})
        for (int mask = 0; mask < 16; ++mask) {
            TestPipeline camera;
            if (mask & 1) camera.setDigitalGain(90, 64, 40);
            if (mask & 2) camera.setSaturation(160);
            if (mask & 4) {
                camera.setGamma(60, 0, 3);
                camera.setGamma(140, 2, 3);
            }
            if (mask & 8) camera.setContrast(170);
            Frames f(24, 12, depth, [&](int x, int y) { return testPattern(x, y, depth); });
            const auto decoded = decodedOnly(f, 3, false);
            ASSERT_EQ(f.run(camera), 0);
            const int bps = depth / 8;
            const size_t pixels = 24 * 12;
            for (size_t i = 0; i < pixels; ++i) {
                unsigned hi[3], lo[3];
                for (int k = 0; k < 3; ++k) {
                    hi[k] = decoded[(3 * i + k) * bps + bps - 1];
                    lo[k] = bps == 2 ? decoded[(3 * i + k) * 2] : 0;
                }
                if (i < pixels - 2) {
                    const unsigned char* gains[3] = {gain0.data(), nullptr, gain2.data()};
                    const unsigned char* gammas[3] = {gamma0.data(), nullptr, gamma2.data()};
                    for (int k = 0; k < 3; ++k)
                        if ((mask & 1) && gains[k])
                            hi[k] = gains[k][hi[k]], lo[k] = gains[k][lo[k]];
                    if (mask & 2) {
                        const unsigned x = hi[1];
                        for (unsigned& c : hi) c = sat[x * 256 + c];
                    }
                    for (int k = 0; k < 3; ++k) {
                        if ((mask & 4) && gammas[k]) hi[k] = gammas[k][hi[k]];
                        if (mask & 8) hi[k] = con[hi[k]], lo[k] = con[lo[k]];
                    }
                }
                for (int k = 0; k < 3; ++k) {
                    ASSERT_EQ(f.image[512 + (3 * i + k) * bps + bps - 1], hi[k])
                        << depth << mask << i << k;
                    if (bps == 2) {
                        ASSERT_EQ(f.image[512 + (3 * i + k) * 2], lo[k]) << mask << i << k;
                    }
                }
            }
        }
}

TEST_F(Pipeline, GreyPassesToneEachStepOnlyWhenItIsNotNeutral) {
    const auto gamma = table(__matrix_gamma, 60), con = table(__matrix_contrast, 170);
    for (int depth : {8, 16})
        for (bool withContrast : {false, true}) {
            TestPipeline mono(false);
            mono.setGamma(60, 1);
            if (withContrast) mono.setContrast(170);
            Frames f(20, 10, depth, [&](int x, int y) { return testPattern(x, y, depth); });
            ASSERT_EQ(f.run(mono), 0);
            for (int i = 0; i < 200; ++i) {
                const unsigned raw = testPattern(i % 20, i / 20, depth);
                unsigned expected = raw;
                if (i < 198) {
                    const unsigned hi = depth == 16 ? raw >> 8 : raw, lo = raw & 0xff;
                    if (depth == 8)
                        expected = gamma[withContrast ? con[hi] : hi];
                    else
                        expected = (withContrast ? con[gamma[hi]] : gamma[hi]) << 8 |
                                   (withContrast ? con[lo] : lo);
                }
                ASSERT_EQ(f.at(i % 20, i / 20), expected) << depth << withContrast << i;
            }
        }
    // The grey view of a colour camera: green, toned, in every channel.
    TestPipeline colour;
    colour.setMonochrome(true);
    Frames f(20, 10, 8, [](int x, int y) { return testPattern(x, y, 8); });
    const auto decoded = decodedOnly(f, 3, false);
    ASSERT_EQ(f.run(colour), 0);
    for (int i = 0; i < 200; ++i)
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(f.image[512 + 3 * i + k], i < 198 ? decoded[3 * i + 1] : decoded[3 * i + k]);
    colour.setGamma(60, 3);
    ASSERT_EQ(f.run(colour), 0);
    EXPECT_EQ(f.at(5, 5, 0), gamma[decoded[3 * 105 + 1]]);
    EXPECT_EQ(f.at(5, 5, 2), gamma[decoded[3 * 105 + 1]]);
}

TEST_F(Pipeline, StretchRefusesEmptyRangesAndSkipsTheFullRange) {
    TestPipeline camera;
    Frames f(24, 12, 8, [](int x, int y) { return testPattern(x, y, 8); });
    const auto decoded = decodedOnly(f, 3, false);
    EXPECT_EQ(camera.setStretch(20, 200, false, 1, 3), 0);
    EXPECT_EQ(camera.setStretch(10, 10, false, 1, 3), -2);
    EXPECT_EQ(camera.setStretch(-1, 100, false, 1, 3), -2);
    EXPECT_EQ(camera.setStretch(0, 256, false, 1, 3), -2);
    EXPECT_EQ(camera.stretch[1].min, 20);
    EXPECT_EQ(camera.stretch[1].max, 200);
    EXPECT_EQ(camera.stretch[1].value, 0);
    ASSERT_EQ(f.run(camera), 0);
    std::array<unsigned char, 256> ramp{};
    __matrix_stretch(20, 200, ramp.data(), 256);
    for (size_t i = 0; i < 24 * 12; ++i) {
        ASSERT_EQ(f.image[512 + 3 * i + 1], ramp[decoded[3 * i + 1]]);
        ASSERT_EQ(f.image[512 + 3 * i], decoded[3 * i]);
    }
    EXPECT_EQ(camera.setStretch(0, 255, false, 3), 0);
    Frames again(24, 12, 8, [](int x, int y) { return testPattern(x, y, 8); });
    ASSERT_EQ(again.run(camera), 0);
    EXPECT_EQ(again.pixels(), decoded);
    EXPECT_EQ(camera.setStretch(0, 255, false, 3, 3), -2);
}

TEST_F(Pipeline, AutomaticStretchTakesThisFramesHistogramBounds) {
    for (bool all : {true, false}) {
        TestPipeline camera;
        Frames f(40, 24, 8, [](int x, int y) { return 30 + testPattern(x, y, 8) / 2; });
        Frames reference = f;
        ASSERT_EQ(reference.run(camera), 0);
        __calc_histogram(reference.imageRecord());
        const auto* stats = reinterpret_cast<const int32_t*>(reference.imageRecord()->extra);
        if (all)
            camera.setStretch(0, 0, true, 3);
        else
            camera.setStretch(0, 0, true, 2, 3);
        ASSERT_EQ(f.run(camera), 0);
        for (int k = 0; k < 3; ++k) {
            const int block = all ? 0 : k + 1;
            std::array<unsigned char, 256> ramp{};
            __matrix_stretch(stats[block * 258 + 256], stats[block * 258 + 257], ramp.data(), 256);
            for (int i = 0; i < 40 * 24; ++i) {
                const unsigned before = reference.image[512 + 3 * i + k];
                ASSERT_EQ(f.image[512 + 3 * i + k], (all || k == 2) ? ramp[before] : before)
                    << all << k << i;
            }
        }
    }
}

TEST_F(Pipeline, SixteenBitManualStretchKeepsTwelveBits) {
    TestPipeline mono(false);
    EXPECT_EQ(mono.setStretch(0, 254, false, 1), 0);
    const unsigned samples[] = {65535, 32768, 0, 4096};
    Frames f(4, 1, 16, [&](int x, int) { return samples[x]; });
    ASSERT_EQ(f.run(mono), 0);
    EXPECT_EQ(f.at(0, 0), 65520u);
    EXPECT_EQ(f.at(1, 0), 33008u);
    EXPECT_EQ(f.at(2, 0), 0u);
    EXPECT_EQ(f.at(3, 0), 16u * (4095 * 256 / 4064));
}

TEST_F(Pipeline, AFrameTakesAStagedTableOverOnlyWhenItStarts) {
    TestPipeline camera;
    const auto before = table(__matrix_contrast, 128), after = table(__matrix_contrast, 200);
    camera.setContrast(200);
    EXPECT_EQ(camera.contrast.changed, 1);
    EXPECT_TRUE(std::equal(after.begin(), after.end(), camera.contrast.lut2));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), camera.contrast.lut));
    Frames f(16, 8, 8, [](int x, int y) { return testPattern(x, y, 8); });
    ASSERT_EQ(f.run(camera), 0);
    EXPECT_EQ(camera.contrast.changed, 0);
    EXPECT_TRUE(std::equal(after.begin(), after.end(), camera.contrast.lut));
    EXPECT_EQ(camera.contrast.live.value, 200);
}

// The histogram a frame stores, counted as each row is toned, is the
// finished image's own: the vector blocks, the rows' tails and the frame's
// last two pixels (left untoned) all counted, on one thread and on stripes.
TEST_F(Pipeline, AFramesHistogramIsItsFinishedImagesHistogram) {
    struct Size {
        int width, height;
    };
    for (const Size size : {Size{301, 23}, Size{138, 40}})
        for (int depth : {8, 16})
            for (bool crop : {false, true})
                for (int threads : {1, 2})
                    for (bool tone : {false, true}) {
                        SCOPED_TRACE(std::to_string(size.width) + " wide, " +
                                     std::to_string(depth) + " bits, crop " + std::to_string(crop) +
                                     ", threads " + std::to_string(threads) + ", tone " +
                                     std::to_string(tone));
                        TestPipeline p;
                        p.setThreads(threads);
                        p.setHistogram(true);
                        if (tone) {
                            p.setGamma(70, 3);
                            p.setContrast(160);
                            p.setSaturation(140);
                            p.setDigitalGain(100, 64, 50);
                        }
                        Frames f(size.width, size.height, depth,
                                 [&](int x, int y) { return testPattern(x, y, depth); });
                        ASSERT_EQ(f.run(p, crop), 0);
                        _ezImage* image = f.imageRecord();
                        const std::vector<unsigned char> stored(image->extra,
                                                                image->extra + kStatisticsBytes);
                        std::memset(image->extra, 0, kStatisticsBytes);
                        ASSERT_EQ(__calc_histogram(image), 0);
                        EXPECT_EQ(std::vector<unsigned char>(image->extra,
                                                             image->extra + kStatisticsBytes),
                                  stored);
                    }
}

// A manual stretch folded into the colour pass's tables gives the bytes of
// the stretch as its own pass (which a measured histogram keeps, since it
// counts the values before the stretch), the frame's untoned last two
// pixels included.
TEST_F(Pipeline, AManualStretchInTheColourPassGivesTheSeparatePassesBytes) {
    struct Tone {
        int gamma, contrast, saturation, gain0;
    };
    for (const Tone tone : {Tone{100, 128, 100, 64}, Tone{70, 160, 100, 64},
                            Tone{100, 128, 150, 90}, Tone{130, 90, 60, 40}})
        for (int depth : {8, 16})
            for (bool crop : {false, true})
                for (int threads : {1, 2}) {
                    SCOPED_TRACE(std::to_string(tone.gamma) + "/" +
                                 std::to_string(tone.saturation) + ", " + std::to_string(depth) +
                                 " bits, crop " + std::to_string(crop) + ", threads " +
                                 std::to_string(threads));
                    std::vector<unsigned char> out[2];
                    for (bool histogram : {false, true}) {
                        TestPipeline p;
                        p.setThreads(threads);
                        p.setHistogram(histogram);
                        p.setGamma(tone.gamma, 3);
                        p.setContrast(tone.contrast);
                        p.setSaturation(tone.saturation);
                        p.setDigitalGain(tone.gain0, 64, 64);
                        ASSERT_EQ(p.setStretch(35, 190, false, 3), 0);
                        Frames f(203, 19, depth,
                                 [&](int x, int y) { return testPattern(x, y, depth); });
                        ASSERT_EQ(f.run(p, crop), 0);
                        out[histogram] = f.pixels();
                    }
                    EXPECT_EQ(out[0], out[1]);
                }
}
