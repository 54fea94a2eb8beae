// The simulated sensor's picture below the camera: the row kernels give the
// plain loops' numbers on every instruction set, a frame written in pieces is
// the frame written at once, and the noise is fresh over the whole frame,
// zero on average and independent between neighbouring samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "processing/kernel_set.h"
#include "sim/scene.h"
#include "sim/scene_rows.h"

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
