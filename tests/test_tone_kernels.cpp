// The vector tone kernels against the tables they replace: every green and
// value pair at saturations across the setter's range, and per-channel
// tables on interleaved samples, byte for byte.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "calibration/colour_profile.h"
#include "processing/tone.h"
#include "processing/tone_kernels.h"

namespace {

// 65536 pixels: every (green, value) pair, value in channels 0 and 2.
std::vector<unsigned char> everyPair() {
    std::vector<unsigned char> p(3 * 65536);
    for (int g = 0; g < 256; ++g)
        for (int v = 0; v < 256; ++v) {
            unsigned char* px = &p[3 * (static_cast<size_t>(g) * 256 + v)];
            px[0] = static_cast<unsigned char>(v);
            px[1] = static_cast<unsigned char>(g);
            px[2] = static_cast<unsigned char>(255 - v);
        }
    return p;
}

std::vector<unsigned char> ramp(int offset) {
    std::vector<unsigned char> t(256);
    for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>((i * 7 + offset) & 255);
    return t;
}

}  // namespace

TEST(ToneKernels, SaturationAndTablesMatchTheScalarSteps) {
    const tone::ColourBlocks colour = tone::colourBlocks();
    if (!colour) GTEST_SKIP() << "no byte-permute instructions here (or EZCAM_SIMD below avx512)";
    const std::vector<unsigned char> gain0 = ramp(3), gain1 = ramp(11), gain2 = ramp(29);
    const std::vector<unsigned char> after0 = ramp(101), after1 = ramp(5), after2 = ramp(77);
    std::vector<unsigned char> table(256 * 256);
    for (int s : {0, 1, 37, 99, 101, 150, 199, 255}) {
        SCOPED_TRACE(s);
        __matrix_saturation(s, table.data(), 256);
        for (bool steps : {false, true}) {
            std::vector<unsigned char> got = everyPair(), want = got;
            tone::ColourSteps t;
            t.saturation = s;
            if (steps) {
                t.before[0] = gain0.data(), t.before[1] = gain1.data(), t.before[2] = gain2.data();
                t.after[0] = after0.data(), t.after[1] = after1.data(), t.after[2] = after2.data();
            }
            colour(got.data(), 65536 / tone::kBlockPixels, t);
            for (size_t i = 0; i < 65536; ++i) {
                unsigned char* px = &want[3 * i];
                unsigned c[3] = {px[0], px[1], px[2]};
                if (steps) c[0] = gain0[c[0]], c[1] = gain1[c[1]], c[2] = gain2[c[2]];
                const unsigned char* row = &table[size_t{c[1]} << 8];
                c[0] = row[c[0]], c[2] = row[c[2]];
                if (steps) c[0] = after0[c[0]], c[1] = after1[c[1]], c[2] = after2[c[2]];
                px[0] = static_cast<unsigned char>(c[0]);
                px[1] = static_cast<unsigned char>(c[1]);
                px[2] = static_cast<unsigned char>(c[2]);
            }
            ASSERT_EQ(got, want) << (steps ? "with tables" : "saturation alone");
        }
    }

    // Tables alone, one and three channels.
    const tone::TableBlocks tables = tone::tableBlocks();
    ASSERT_NE(tables, nullptr);
    const unsigned char* three[3] = {after0.data(), after1.data(), after2.data()};
    for (int channels : {1, 3}) {
        std::vector<unsigned char> got = everyPair(), want = got;
        const size_t samples = got.size() / 3 * static_cast<size_t>(channels);
        tables(got.data(), samples / channels / tone::kBlockPixels, channels, three);
        for (size_t i = 0; i < samples; ++i) want[i] = three[i % channels][want[i]];
        EXPECT_EQ(got, want) << channels;
    }
}

// A colour profile's matrix on 8-bit pixels, through the vector kernel where
// the processor has one and the loop for the rest: the same bytes as the
// definition, for matrices that clip at both ends, coefficients at the
// edges of what the kernel multiplies with and past them (the loop alone),
// and counts that end inside a block.
TEST(ToneKernels, AProfileMatrixGivesTheDefinitionsBytes) {
    std::mt19937 rng(7);
    const std::vector<std::array<double, 9>> matrices = {
        {1.62, -0.48, -0.14, -0.21, 1.41, -0.20, -0.05, -0.52, 1.57},
        {7.9997, -7.9997, 0.5, -8.0, 7.99, 0.0, 0.3, 0.3, 0.4},  // the kernel's limits
        {10.0, -3.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0},        // past them
        {0, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const auto& values : matrices) {
        calib::ColourProfile profile;
        profile.matrix = values;
        const calib::ProfileMatrix m = calib::ProfileMatrix::of(profile);
        for (size_t count : {size_t{0}, size_t{63}, size_t{64}, size_t{1000}, size_t{65536 + 17}}) {
            std::vector<unsigned char> got(3 * count);
            for (unsigned char& b : got) b = static_cast<unsigned char>(rng());
            std::vector<unsigned char> want = got;
            m.apply8(got.data(), count);
            for (size_t i = 0; i < count; ++i) {
                const int c[3] = {want[3 * i], want[3 * i + 1], want[3 * i + 2]};
                for (int k = 0; k < 3; ++k) {
                    int64_t v = 2048;
                    for (int j = 0; j < 3; ++j) v += int64_t{std::lround(values[3 * k + j] * 4096)} * c[j];
                    v = v >= 0 ? v / 4096 : -((-v + 4095) / 4096);  // floor
                    want[3 * i + k] = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
                }
            }
            ASSERT_EQ(got, want) << values[0] << " " << count;
        }
    }
}

// ---- Every kernel family against the scalar steps ----------------------------

namespace {

std::vector<unsigned char> randomBytes(std::mt19937& rng, size_t n) {
    std::vector<unsigned char> b(n);
    for (unsigned char& x : b) x = static_cast<unsigned char>(rng());
    return b;
}

// The steps on one pixel's 8-bit values, as the scalar colour pass takes them.
void colourStepsOn(unsigned* c, const tone::ColourSteps& t, const unsigned char* saturation) {
    for (int k = 0; k < 3; ++k)
        if (t.before[k]) c[k] = t.before[k][c[k]];
    if (t.saturation >= 0) {
        const unsigned char* row = &saturation[size_t{c[1]} << 8];
        c[0] = row[c[0]], c[2] = row[c[2]];
    }
    for (int k = 0; k < 3; ++k)
        if (t.after[k]) c[k] = t.after[k][c[k]];
}

struct StepsCase {
    const char* name;
    bool before;
    int saturation;  // -1: none
    bool after, low;
};

const StepsCase kStepsCases[] = {
    {"after alone", false, -1, true, false},
    {"after and low bytes", false, -1, true, true},
    {"saturation alone", false, 130, false, false},
    {"saturation to grey", false, 0, false, true},
    {"saturation at the top", false, 255, true, false},
    {"gains around saturation", true, 160, false, true},
    {"everything", true, 70, true, true},
};

}  // namespace

// Random tables and pixels, every combination of steps the pipeline hands
// over, runs of one and of several blocks, both depths.
TEST(ToneKernels, EveryFamilyGivesTheScalarStepsBytes) {
    const std::vector<tone::KernelFamily> families = tone::kernelFamilies();
    if (families.empty()) GTEST_SKIP() << "no vector tone kernels on this processor";
    std::mt19937 rng(11);
    std::vector<unsigned char> saturation(256 * 256);
    for (const tone::KernelFamily& family : families)
        for (const StepsCase& c : kStepsCases)
            for (size_t blocks : {size_t{1}, size_t{3}, size_t{40}}) {
                SCOPED_TRACE(std::string(family.name) + ", " + c.name + ", " +
                             std::to_string(blocks) + " blocks");
                std::vector<unsigned char> tables[9];
                for (auto& t : tables) t = randomBytes(rng, 256);
                tone::ColourSteps steps;
                for (int k = 0; k < 3; ++k) {
                    if (c.before) steps.before[k] = tables[k].data();
                    if (c.after) steps.after[k] = tables[3 + k].data();
                    if (c.low) steps.low[k] = tables[6 + k].data();
                }
                steps.saturation = c.saturation;
                if (c.saturation >= 0) __matrix_saturation(c.saturation, saturation.data(), 256);
                const size_t pixels = blocks * tone::kBlockPixels;

                // 8-bit pixels: the low tables play no part.
                std::vector<unsigned char> got = randomBytes(rng, 3 * pixels), want = got;
                family.colour(got.data(), blocks, steps);
                for (size_t i = 0; i < pixels; ++i) {
                    unsigned v[3] = {want[3 * i], want[3 * i + 1], want[3 * i + 2]};
                    colourStepsOn(v, steps, saturation.data());
                    for (int k = 0; k < 3; ++k) want[3 * i + k] = static_cast<unsigned char>(v[k]);
                }
                ASSERT_EQ(got, want) << "8-bit";

                // 16-bit pixels: the steps on the high bytes, the low tables on
                // the low ones.
                if (!family.colourWide) continue;
                got = randomBytes(rng, 6 * pixels), want = got;
                family.colourWide(got.data(), blocks, steps);
                for (size_t i = 0; i < pixels; ++i) {
                    unsigned char* px = &want[6 * i];
                    unsigned v[3] = {px[1], px[3], px[5]};
                    colourStepsOn(v, steps, saturation.data());
                    for (int k = 0; k < 3; ++k) {
                        px[2 * k + 1] = static_cast<unsigned char>(v[k]);
                        if (steps.low[k]) px[2 * k] = steps.low[k][px[2 * k]];
                    }
                }
                ASSERT_EQ(got, want) << "16-bit";
            }
}

TEST(ToneKernels, EveryFamilysTablesGiveTheLookupsBytes) {
    const std::vector<tone::KernelFamily> families = tone::kernelFamilies();
    if (families.empty()) GTEST_SKIP() << "no vector tone kernels on this processor";
    std::mt19937 rng(5);
    for (const tone::KernelFamily& family : families)
        for (size_t blocks : {size_t{1}, size_t{7}}) {
            SCOPED_TRACE(std::string(family.name) + ", " + std::to_string(blocks) + " blocks");
            const std::vector<unsigned char> t0 = randomBytes(rng, 256), t1 = randomBytes(rng, 256),
                                             t2 = randomBytes(rng, 256);
            const unsigned char* three[3] = {t0.data(), t1.data(), t2.data()};
            const size_t pixels = blocks * tone::kBlockPixels;
            for (int channels : {1, 3}) {
                std::vector<unsigned char> got = randomBytes(rng, pixels * channels), want = got;
                family.tables(got.data(), blocks, channels, three);
                for (size_t i = 0; i < want.size(); ++i) want[i] = three[i % channels][want[i]];
                EXPECT_EQ(got, want) << channels << " channels";
            }
            if (!family.tablesWide) continue;
            std::vector<unsigned char> got = randomBytes(rng, 6 * pixels), want = got;
            family.tablesWide(got.data(), blocks, 3, three);
            for (size_t i = 1; i < want.size(); i += 2) want[i] = three[i / 2 % 3][want[i]];
            EXPECT_EQ(got, want) << "16-bit";
        }
}
