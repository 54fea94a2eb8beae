// The simulated sensor's picture below the camera: the row kernels give the
// plain loops' numbers on every instruction set, a frame written in pieces is
// the frame written at once, and the noise is fresh over the whole frame,
// zero on average and independent between neighbouring samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "processing/bayer.h"
#include "processing/colour_chart.h"
#include "processing/kernel_set.h"
#include "sim/scene.h"
#include "sim/scene_rows.h"
#include "sim/sim_camera.h"

using sim::SampleOrder;
using sim::Scene;
namespace rows = sim::rows;

namespace {

constexpr SampleOrder kOrders[] = {SampleOrder::MsbFirst, SampleOrder::Host, SampleOrder::Packed12};

// The row kernels of every instruction set this processor runs.
std::vector<const rows::Kernels*> vectorKernels() {
    std::vector<const rows::Kernels*> sets;
    for (const kernels::Set* set : {&kernels::kSse2, &kernels::kAvx2, &kernels::kAvx512})
        if (kernels::runs(*set)) sets.push_back(&rows::kernelsFor(*set));
    return sets;
}

// Levels anywhere from zero to far past the top of either depth.
int16_t randomLevel(std::mt19937& rng) {
    static constexpr int kRanges[][2] = {{0, 40}, {200, 320}, {4000, 4200}, {0, 8191}};
    const auto& r = kRanges[rng() % 4];
    return static_cast<int16_t>(r[0] + static_cast<int>(rng() % static_cast<unsigned>(r[1] - r[0] + 1)));
}

}  // namespace

TEST(SimRows, EveryInstructionSetGivesThePlainLoopsNumbers) {
    std::mt19937 rng(11);
    const rows::Kernels& plain = rows::plainKernels();
    std::vector<int16_t> src(1200), objects(1200), from(1200), profile(1200);
    std::vector<int8_t> noise(1200);
    std::vector<uint8_t> classes(1200 / rows::kBlock + 1), want(2400), got(2400);
    for (const rows::Kernels* vector : vectorKernels()) {
        const rows::Kernels& fast = *vector;
        for (int trial = 0; trial < 300; ++trial) {
            for (size_t i = 0; i < src.size(); ++i) {
                src[i] = randomLevel(rng);
                objects[i] = randomLevel(rng);
                noise[i] = static_cast<int8_t>(static_cast<int>(rng() % 255) - 127);
                from[i] = static_cast<int16_t>(rng() % 32768);
                profile[i] = static_cast<int16_t>(rng() % 32768);
            }
            for (uint8_t& c : classes) c = static_cast<uint8_t>(rng() % 4 | (rng() % 2 ? rows::kFromObjects : 0));
            const int16_t even[2] = {randomLevel(rng), randomLevel(rng)};
            int16_t gains[4];
            for (int16_t& gain : gains) gain = static_cast<int16_t>(rng() % 32768);
            // Runs at any start and of any length, vectors or not.
            const int at = static_cast<int>(rng() % 37), count = static_cast<int>(rng() % 300);
            const rows::Run run{src.data() + at, {even[0], even[1]}, noise.data() + at, gains[trial % 4], count};
            plain.noisy8(want.data(), run);
            fast.noisy8(got.data(), run);
            ASSERT_TRUE(std::equal(want.begin(), want.begin() + count, got.begin())) << "8-bit run, trial " << trial;
            for (int o = 0; o < 3; ++o) {
                plain.noisy16[o](want.data(), run);
                fast.noisy16[o](got.data(), run);
                ASSERT_TRUE(std::equal(want.begin(), want.begin() + 2 * count, got.begin()))
                    << "16-bit run, order " << o << ", trial " << trial;
            }
            // Whole blocks with their own classes and sources, and a piece at the end.
            const int x0 = rows::kBlock * static_cast<int>(rng() % 4);
            const int x1 = x0 + static_cast<int>(rng() % 700);
            const rows::Blocks blocks{src.data(),    objects.data() + 5, 5, classes.data(), noise.data() + 3,
                                      {gains[0], gains[1], gains[2], gains[3]}, {even[0], even[1]}};
            plain.blocks8(want.data(), blocks, x0, x1);
            fast.blocks8(got.data(), blocks, x0, x1);
            ASSERT_TRUE(std::equal(want.begin(), want.begin() + (x1 - x0), got.begin())) << "8-bit blocks";
            for (int o = 0; o < 3; ++o) {
                plain.blocks16[o](want.data(), blocks, x0, x1);
                fast.blocks16[o](got.data(), blocks, x0, x1);
                ASSERT_TRUE(std::equal(want.begin(), want.begin() + 2 * (x1 - x0), got.begin()))
                    << "16-bit blocks, order " << o;
            }
            // Objects onto levels, into another row or in place, up to saturation.
            const int16_t weight = static_cast<int16_t>(rng() % 12288);
            std::vector<int16_t> a(count), b(count), c(from.begin() + at, from.begin() + at + count), d = c;
            plain.addObject(a.data(), from.data() + at, profile.data() + at, weight, count);
            fast.addObject(b.data(), from.data() + at, profile.data() + at, weight, count);
            plain.addObject(c.data(), c.data(), profile.data() + at, weight, count);
            fast.addObject(d.data(), d.data(), profile.data() + at, weight, count);
            ASSERT_EQ(a, b);
            ASSERT_EQ(c, d);
            ASSERT_EQ(a, c);
        }
    }
}

TEST(SimRows, SamplesClipToTheConvertersRangeAndSaturatedOnesStayAtTheTop) {
    // Far past the top, the largest negative noise still reads the top; below
    // zero reads zero.
    // Levels as far past the top as the scene keeps them.
    const std::vector<int16_t> high(64, 255 + 200), high12(64, 4095 + 1100), zero(64, 0);
    const std::vector<int8_t> down(64, -127);
    std::vector<uint8_t> out(128);
    std::vector<const rows::Kernels*> every = vectorKernels();
    every.push_back(&rows::plainKernels());
    for (const rows::Kernels* set : every) {
        const rows::Kernels& k = *set;
        k.noisy8(out.data(), {high.data(), {0, 50}, down.data(), 32767, 64});
        EXPECT_EQ(std::count(out.begin(), out.begin() + 64, 255), 64);
        k.noisy8(out.data(), {zero.data(), {3, 0}, down.data(), 32767, 64});
        EXPECT_EQ(std::count(out.begin(), out.begin() + 64, 0), 64);
        k.noisy16[static_cast<int>(SampleOrder::MsbFirst)](out.data(), {high12.data(), {0, 0}, down.data(), 32767, 64});
        for (int i = 0; i < 64; ++i) EXPECT_EQ(out[2 * i] << 8 | out[2 * i + 1], 0xfff0);
        k.noisy16[static_cast<int>(SampleOrder::Packed12)](out.data(), {zero.data(), {5, 5}, down.data(), 32767, 64});
        EXPECT_EQ(std::count(out.begin(), out.end(), 0), 128);
    }
}

TEST(SimScene, AFrameWrittenInPiecesIsTheFrameWrittenAtOnce) {
    // A window at an odd origin, bright enough that objects saturate, with
    // hot pixels and dark samples past the image.
    Scene scene(3, 5);
    const sim::Geometry g{700, 520, 1000, 800, 151, 97};
    const size_t n = size_t{700} * 520, total = n + 777;
    std::mt19937 rng(3);
    for (int depth : {8, 16}) {
        scene.prepare(g, {depth, 65535.0f * 1.6f, 2048, 2.0f}, 42);
        for (SampleOrder order : kOrders) {
            if (depth == 8 && order != SampleOrder::MsbFirst) continue;
            const size_t bytes = static_cast<size_t>(depth / 8);
            std::vector<unsigned char> whole(total * bytes), pieces(total * bytes, 0xa5), other(total * bytes);
            scene.emit(whole.data(), 0, total, order, 1234);
            for (size_t at = 0; at < total;) {
                // One sample, a piece of a block, a few rows.
                static constexpr size_t kSizes[] = {1, 2, 7, 63, 64, 65, 700, 5000};
                const size_t count = std::min(total - at, kSizes[rng() % 8] + rng() % 3);
                scene.emit(pieces.data() + at * bytes, at, count, order, 1234);
                at += count;
            }
            ASSERT_EQ(whole, pieces) << depth << "-bit, order " << static_cast<int>(order);
            // Another seed, another frame; the same seed, the same frame.
            scene.emit(other.data(), 0, total, order, 1235);
            EXPECT_NE(whole, other);
            scene.emit(other.data(), 0, total, order, 1234);
            EXPECT_EQ(whole, other);
        }
    }
}

TEST(SimScene, NoiseIsFreshEverywhereZeroOnAverageAndIndependentOfNeighbours) {
    // A colour sensor's full field at 16 bits, nothing clipped.
    constexpr int kW = 1280, kH = 960, kFrames = 24;
    Scene scene(1, 9);
    scene.prepare({kW, kH, kW, kH, 0, 0}, {16, 65535.0f * 0.9f, 4096, 1.0f}, 7);
    const size_t n = size_t{kW} * kH;
    std::vector<unsigned char> bytes(2 * n);
    std::vector<std::vector<int>> frames;
    std::vector<double> sum(n, 0.0);
    for (int f = 0; f < kFrames; ++f) {
        scene.emit(bytes.data(), 0, n, SampleOrder::Host, 1000 + static_cast<uint64_t>(f));
        std::vector<int> s(n);
        for (size_t i = 0; i < n; ++i) s[i] = bytes[2 * i] | bytes[2 * i + 1] << 8;
        for (size_t i = 0; i < n; ++i) sum[i] += s[i];
        if (f < 2) frames.push_back(std::move(s));
    }

    // Two frames differ in most samples of every 64 x 64 tile.
    for (int ty = 0; ty < kH; ty += 64)
        for (int tx = 0; tx < kW; tx += 64) {
            int differ = 0;
            for (int y = ty; y < ty + 64; ++y)
                for (int x = tx; x < tx + 64; ++x) differ += frames[0][size_t(y) * kW + x] != frames[1][size_t(y) * kW + x];
            EXPECT_GT(differ, 64 * 64 * 8 / 10) << "tile " << tx << "," << ty;
        }

    // Their difference is uncorrelated with its neighbours along and across
    // rows, and with the same colour two rows down.
    auto correlation = [&](int dx, int dy) {
        double sxy = 0, sxx = 0, syy = 0;
        for (int y = 0; y + dy < kH; ++y)
            for (int x = 0; x + dx < kW; ++x) {
                const size_t i = size_t(y) * kW + x, j = size_t(y + dy) * kW + x + dx;
                const double a = frames[0][i] - frames[1][i], b = frames[0][j] - frames[1][j];
                sxy += a * b;
                sxx += a * a;
                syy += b * b;
            }
        return sxy / std::sqrt(sxx * syy);
    };
    EXPECT_LT(std::abs(correlation(1, 0)), 0.02);
    EXPECT_LT(std::abs(correlation(2, 0)), 0.02);
    EXPECT_LT(std::abs(correlation(0, 1)), 0.02);
    EXPECT_LT(std::abs(correlation(0, 2)), 0.02);

    // Averaged over frames, every sample comes to its noise-free level:
    // objects, colours, vignetting and hot pixels are where the scene says.
    double bias = 0;
    int far = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const double d = sum[size_t(y) * kW + x] / kFrames - scene.level(x, y);
            bias += d;
            far += std::abs(d) > 16 * 24;  // 24 units of 12 bits, past 5 deviations of the mean
        }
    EXPECT_LT(std::abs(bias / static_cast<double>(n)), 16 * 0.3);
    EXPECT_LT(far, static_cast<int>(n / 2000));
}

// The chart: every site of every patch sees M x the patch's linear sRGB
// through the strength of the filter its pattern name gives it, in a window
// that shows its part of the chart; the chart written in pieces is the
// chart written at once.
TEST(SimScene, ChartPatchesAreTheReferenceThroughTheColourResponse) {
    static constexpr float kStrength[3] = {0.80f, 1.0f, 0.62f};  // red, green, blue filters
    const Scene::ColourMatrix m = {0.9f, 0.15f, -0.05f, 0.05f, 0.85f, 0.1f, -0.02f, 0.12f, 0.9f};
    const sim::Geometry whole{800, 600, 800, 600, 0, 0}, window{400, 300, 800, 600, 200, 150};
    const float scale = 3000.0f * 16;  // 12-bit levels of a unit radiance, in 16-bit units
    for (int code = 1; code <= 4; ++code) {
        for (const sim::Geometry& g : {whole, window}) {
            SCOPED_TRACE("code " + std::to_string(code) + " origin " + std::to_string(g.originX));
            Scene scene(code, 1);
            scene.setChart(true);
            scene.setColour(m);
            scene.prepare(g, {16, scale, 0, 1.0f}, 0);
            for (int patch = 0; patch < chart::kPatches; ++patch) {
                const chart::Box b = chart::patchBox(patch);
                const int fx = static_cast<int>((b.x0 + b.x1) / 2 * 800) & ~1;
                const int fy = static_cast<int>((b.y0 + b.y1) / 2 * 600) & ~1;
                const int x = fx - g.originX, y = fy - g.originY;
                if (x < 0 || y < 0 || x + 1 >= g.width || y + 1 >= g.height) continue;
                const chart::Rgb& rgb = chart::referenceRgb()[static_cast<size_t>(patch)];
                for (int site = 0; site < 4; ++site) {
                    const char name = bayer::patternName(code)[site];
                    const int f = name == 'R' ? 0 : name == 'G' ? 1 : 2;
                    const double seen = kStrength[f] * (m[3 * f] * rgb[0] + m[3 * f + 1] * rgb[1] +
                                                        m[3 * f + 2] * rgb[2]);
                    // Light outside the sRGB gamut (the cyan's red) can ask for less than
                    // nothing: the sensor sees none.
                    const double want = std::clamp(std::round(scale / 16 * seen), 0.0, 4095.0) * 16;
                    EXPECT_NEAR(scene.level(x + site % 2, y + site / 2), want, 16.5)
                        << chart::kPatchesD50[patch].name << " site " << site;
                }
            }
            // The surround, between the first two patches of the first row.
            const int sx = 160 - g.originX, sy = 100 - g.originY;
            if (sx >= 0 && sy >= 0) {
                EXPECT_LT(scene.level(sx, sy), 0.05 * scale);
            }
        }
    }
    // Pieces against the whole frame, at 8 bits with noise.
    Scene scene(2, 9);
    scene.setChart(true);
    scene.prepare({700, 520, 1000, 800, 151, 97}, {8, 65535.0f, 1024, 2.0f}, 3);
    const size_t n = size_t{700} * 520;
    std::vector<unsigned char> all(n), pieces(n);
    scene.emit(all.data(), 0, n, SampleOrder::MsbFirst, 77);
    for (size_t at = 0; at < n; at += 4999) scene.emit(pieces.data() + at, at, std::min<size_t>(4999, n - at), SampleOrder::MsbFirst, 77);
    EXPECT_EQ(all, pieces);
}

// The chart's reference: the neutral patches are grey in linear sRGB, the
// lightness is the published L*, and CIEDE2000 gives the published values.
TEST(ColourChart, ReferenceColoursAreTheirPublishedLightnessAndHue) {
    for (int patch = 0; patch < chart::kPatches; ++patch) {
        const chart::Lab& lab = chart::referenceLab()[static_cast<size_t>(patch)];
        // The adaptation keeps lightness to within a unit.
        EXPECT_NEAR(lab[0], chart::kPatchesD50[patch].lab[0], 1.0) << chart::kPatchesD50[patch].name;
    }
    for (int patch = 18; patch < 24; ++patch) {
        const chart::Rgb& rgb = chart::referenceRgb()[static_cast<size_t>(patch)];
        // The published neutrals are grey within a few percent (the white is
        // a little yellow).
        EXPECT_NEAR(rgb[0] / rgb[1], 1.0, 0.08);
        EXPECT_NEAR(rgb[2] / rgb[1], 1.0, 0.08);
    }
    const chart::Rgb& red = chart::referenceRgb()[14];
    EXPECT_GT(red[0], 5 * red[2]);
    // CIEDE2000 against pairs of Sharma, Wu and Dalal's table.
    struct Pair {
        chart::Lab a, b;
        double de;
    } pairs[] = {
        {{50.0, 2.6772, -79.7751}, {50.0, 0.0, -82.7485}, 2.0425},
        {{50.0, -1.3802, -84.2814}, {50.0, 0.0, -82.7485}, 1.0},
        {{50.0, 2.5, 0.0}, {73.0, 25.0, -18.0}, 27.1492},
        {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
        {{22.7233, 20.0904, -46.694}, {23.0331, 14.973, -42.5619}, 2.0373},
    };
    for (const Pair& p : pairs) EXPECT_NEAR(chart::deltaE2000(p.a, p.b), p.de, 1e-4);
}

TEST(SimColour, ResponseMatrixTakesNineNumbersInRange) {
    struct Row {
        const char* text;
        bool ok;
    } rows[] = {
        {"1,0,0,0,1,0,0,0,1", true},    {"0.7,0.2,0.1,-0.1,1.1,0,0,0.3,0.7", true},
        {"1,0,0,0,1,0,0,0", false},     {"1,0,0,0,1,0,0,0,1,0", false},
        {"1,0,0,0,1,0,0,0,x", false},   {"1,0,0,0,1,0,0,,1", false},
        {"9,0,0,0,1,0,0,0,1", false},   {"", false},
    };
    for (const Row& r : rows) {
        const auto m = sim::SimCamera::parseColour(r.text);
        EXPECT_EQ(m.has_value(), r.ok) << r.text;
    }
    const auto m = sim::SimCamera::parseColour("0.7,0.2,0.1,-0.1,1.1,0,0,0.3,0.7");
    ASSERT_TRUE(m);
    EXPECT_FLOAT_EQ((*m)[3], -0.1f);
    EXPECT_FLOAT_EQ((*m)[8], 0.7f);
}
