// Bayer decoders and the colour correction, checked against a plain
// per-pixel reference and the correction formula evaluated directly.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "processing/decode.h"
#include "processing/image_record.h"
#include "processing/kernel_set.h"

namespace {

constexpr unsigned char kSentinel = 0xA5;
constexpr uint16_t kSentinel16 = 0xA5A5;

// ---- Reference: the colour correction, straight from its formula ----------

struct Rgb {
    int r, g, b;
};

int truncClamp(double v) {
    const int t = static_cast<int>(v);
    return t < 0 ? 0 : t > 255 ? 255 : t;
}

Rgb correctByFormula(int r, int g, int b) {
    const double a00 = 1.6259973472, a01 = 0.5043470233, a02 = 0.0019609669;
    const double a10 = 0.5418708657, a11 = 1.6784839334, a12 = 0.2271528925;
    const double a20 = 0.0612704825, a21 = 0.3185587856, a22 = 1.3442191098;
    auto f = [](int x) { return x / 180 == 0 ? 0.0 : (x - 180) / 75.0; };
    const double fr = f(r), fg = f(g), fb = f(b);
    return {truncClamp((a00 + (1 - a00) * fr) * r - a01 * (1 - fr) * g - a02 * (1 - fr) * b),
            truncClamp((a11 + (1 - a11) * fg) * g - a10 * (1 - fg) * r - a12 * (1 - fg) * b),
            truncClamp((a22 + (1 - a22) * fb) * b - a20 * (1 - fb) * r - a21 * (1 - fb) * g)};
}

// ---- Reference: the decoders, one pixel at a time --------------------------

enum Colour { Red, Green, Blue };

Colour siteColour(int bayer, int y, int x) {
    static const Colour tiles[5][2][2] = {{{Green, Green}, {Green, Green}},
                                          {{Red, Green}, {Green, Blue}},
                                          {{Green, Red}, {Blue, Green}},
                                          {{Blue, Green}, {Green, Red}},
                                          {{Green, Blue}, {Red, Green}}};
    return tiles[bayer][y % 2][x % 2];
}

// Expected output: samples per pixel (channel 0 blue, 2 red) for rows
// 1..h-3 and columns 1..w-2; every other pixel must be untouched.
struct Expected {
    int width, height;
    std::vector<int> samples;  // 3 per pixel, -1 where nothing is written
};

Expected referenceDecode(const std::vector<int>& raw, int width, int height, int bayer,
                         bool corrected, int depth) {
    Expected e{width, height, std::vector<int>(size_t(width) * height * 3, -1)};
    auto at = [&](int y, int x) { return raw[size_t(y) * width + x]; };
    for (int y = 1; y <= height - 3; ++y) {
        for (int x = 1; x <= width - 2; ++x) {
            const int c = at(y, x);
            const int n = at(y - 1, x), s = at(y + 1, x), w = at(y, x - 1), ea = at(y, x + 1);
            const int diag =
                at(y - 1, x - 1) + at(y - 1, x + 1) + at(y + 1, x - 1) + at(y + 1, x + 1);
            const Colour site = siteColour(bayer, y, x);
            int r, g, b;
            bool paired;
            if (site == Green) {
                paired = x >= 2;  // column 1 is decoded on its own
                const int across = (w + ea + 1) >> 1, along = (n + s + 1) >> 1;
                if (siteColour(bayer, y, x - 1) == Red) {
                    r = across;
                    b = along;
                } else {
                    b = across;
                    r = along;
                }
                g = paired ? (4 * c + diag) >> 3 : c;
            } else {
                paired = x + 1 <= width - 2;  // a red/blue site needs its green partner
                const int other = (diag + 2) >> 2;
                g = (n + s + w + ea + 2) >> 2;
                r = site == Red ? c : other;
                b = site == Blue ? c : other;
            }
            if (corrected && paired) {
                const int shift = depth - 8;
                const Rgb k = correctByFormula(r >> shift, g >> shift, b >> shift);
                const int low = depth == 16 ? 0xff : 0;
                r = (k.r << shift) | (r & low);
                g = (k.g << shift) | (g & low);
                b = (k.b << shift) | (b & low);
            }
            int* out = &e.samples[(size_t(y) * width + x) * 3];
            out[0] = b;
            out[1] = g;
            out[2] = r;
        }
    }
    return e;
}

// ---- Frames -----------------------------------------------------------------

struct Frame {
    ImagePtr raw;
    ImagePtr image;
    std::vector<int> samples;
};

Frame randomFrame(int width, int height, int depth, unsigned seed) {
    Frame f{makeImage(width, height, depth, 1, 512), makeImage(width, height, depth, 3), {}};
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(0, depth == 16 ? 65535 : 255);
    f.samples.resize(size_t(width) * height);
    for (size_t i = 0; i < f.samples.size(); ++i) {
        f.samples[i] = dist(rng);
        if (depth == 16) {
            const auto v = static_cast<uint16_t>(f.samples[i]);
            std::memcpy(f.raw->data + 2 * i, &v, 2);
        } else {
            f.raw->data[i] = static_cast<unsigned char>(f.samples[i]);
        }
    }
    std::memset(f.image->data, kSentinel, size_t(width) * height * 3 * depth / 8);
    return f;
}

int sampleAt(const _ezImage* image, size_t index) {
    if (image->depth == 8) return image->data[index];
    uint16_t v;
    std::memcpy(&v, image->data + 2 * index, 2);
    return v;
}

// Compares every sample: computed ones with the reference, the rest with the sentinel.
void expectMatches(const Expected& e, const _ezImage* image, const std::string& what) {
    const int sentinel = image->depth == 16 ? kSentinel16 : kSentinel;
    int failures = 0;
    for (int y = 0; y < e.height && failures < 5; ++y)
        for (int x = 0; x < e.width && failures < 5; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (size_t(y) * e.width + x) * 3 + c;
                const int want = e.samples[i] < 0 ? sentinel : e.samples[i];
                const int got = sampleAt(image, i);
                if (want != got) {
                    ADD_FAILURE() << what << " at row " << y << " column " << x << " channel " << c
                                  << ": expected " << want << ", got " << got;
                    ++failures;
                }
            }
}

using Decode = ::testing::Test;

// ---- The colour correction ---------------------------------------------------

// Runs a kernel set's correction, as the decoders apply it, over the colours
// of one red plane whose green and blue lie below `bound`, and counts the
// results that differ from `want` (indexed by 256 green + blue). The
// decoders correct whole vectors of pixels at a time and choose the form by
// the brightest: `withWhite` puts a white pixel before every three colours,
// so that each vector (of four pixels or more) takes the form for bright
// inputs; without it every vector of dark colours takes the form for dark
// inputs. 16-bit samples carry a varying low byte, which must stay.
template <typename T>
int planeMismatches(const kernels::Set& set, int r, int bound, bool withWhite,
                    const std::vector<Rgb>& want) {
    std::vector<T> pixels;
    const auto low = [](int r, int g, int b) { return sizeof(T) == 1 ? 0 : (r + 3 * g + b) & 0xff; };
    const int shift = sizeof(T) == 1 ? 0 : 8;
    for (int g = 0, n = 0; g < bound; ++g)
        for (int b = 0; b < bound; ++b, ++n) {
            if (withWhite && n % 3 == 0)
                pixels.insert(pixels.end(), 3, static_cast<T>(sizeof(T) == 1 ? 255 : 0xffff));
            for (int v : {b, g, r}) pixels.push_back(static_cast<T>(v << shift | low(r, g, b)));
        }
    if constexpr (sizeof(T) == 1)
        set.correct8(pixels.data(), pixels.size() / 3);
    else
        set.correct16(pixels.data(), pixels.size() / 3);
    int mismatches = 0;
    const T* p = pixels.data();
    for (int g = 0, n = 0; g < bound; ++g)
        for (int b = 0; b < bound; ++b, ++n, p += 3) {
            if (withWhite && n % 3 == 0) p += 3;
            const Rgb w = want[256 * g + b];
            const int l = low(r, g, b);
            const bool right = p[0] == (w.b << shift | l) && p[1] == (w.g << shift | l) &&
                               p[2] == (w.r << shift | l);
            if (!right && ++mismatches <= 5)
                ADD_FAILURE() << set.name << " " << 8 * sizeof(T) << "-bit colour (" << r << ","
                              << g << "," << b << ")" << (withWhite ? " among bright" : "");
        }
    return mismatches;
}

// Every kernel set this processor runs corrects all 2^24 colours exactly as
// the formula (and so the former 48 MiB table) does, at both depths, in
// either form: in vectors with bright pixels and, for the colours below 180
// where the other form applies, in vectors of dark pixels.
TEST(ColourCorrection, EveryKernelSetMatchesTheFormulaForAllInputs) {
    std::vector<Rgb> want(256 * 256);
    int mismatches = 0;
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) want[256 * g + b] = correctByFormula(r, g, b);
        for (const kernels::Set* set : {&kernels::kSse2, &kernels::kAvx2, &kernels::kAvx512}) {
            if (!kernels::runs(*set)) continue;
            mismatches += planeMismatches<unsigned char>(*set, r, 256, true, want);
            mismatches += planeMismatches<uint16_t>(*set, r, 256, true, want);
            if (r >= 180) continue;
            mismatches += planeMismatches<unsigned char>(*set, r, 180, false, want);
            mismatches += planeMismatches<uint16_t>(*set, r, 180, false, want);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// Known corrections, one pixel at a time.
TEST(ColourCorrection, KnownColoursInEveryKernelSet) {
    const std::vector<Rgb> inputs = {{255, 255, 255}, {0, 0, 0}, {100, 100, 100}, {200, 100, 50}};
    const std::vector<Rgb> known = {{255, 255, 255}, {0, 0, 0}, {111, 90, 96}, {254, 48, 23}};
    for (const kernels::Set* set : {&kernels::kSse2, &kernels::kAvx2, &kernels::kAvx512}) {
        if (!kernels::runs(*set)) continue;
        for (size_t k = 0; k < inputs.size(); ++k) {
            unsigned char p[3] = {static_cast<unsigned char>(inputs[k].b),
                                  static_cast<unsigned char>(inputs[k].g),
                                  static_cast<unsigned char>(inputs[k].r)};
            set->correct8(p, 1);
            EXPECT_EQ((std::vector<int>{p[2], p[1], p[0]}),
                      (std::vector<int>{known[k].r, known[k].g, known[k].b}))
                << set->name;
        }
    }
}

// ---- Both decoders against the reference ------------------------------------

struct Size {
    int width, height;
};

TEST_F(Decode, EveryCodeAndDepthMatchesThePerPixelReference) {
    // Wide enough for several vector runs plus a scalar tail, odd and even.
    const Size sizes[] = {{53, 12}, {50, 9}, {17, 12}, {16, 13}, {10, 10}, {9, 9},
                          {5, 4},   {4, 5},  {3, 6},   {6, 3},   {2, 6}};
    unsigned seed = 1;
    for (int depth : {8, 16})
        for (int bayer = 1; bayer <= 4; ++bayer)
            for (const Size& size : sizes)
                for (bool corrected : {false, true}) {
                    Frame f = randomFrame(size.width, size.height, depth, seed++);
                    ASSERT_TRUE(f.raw && f.image);
                    if (corrected)
                        __decode_rawdata(f.raw.get(), f.image.get(), bayer);
                    else
                        __decode_rawdatafast(f.raw.get(), f.image.get(), bayer);
                    EXPECT_EQ(f.image->decoded, 1);
                    const std::string what =
                        std::string(corrected ? "corrected" : "plain") + " depth " +
                        std::to_string(depth) + " bayer " + std::to_string(bayer) + " size " +
                        std::to_string(size.width) + "x" + std::to_string(size.height);
                    expectMatches(referenceDecode(f.samples, size.width, size.height, bayer,
                                                  corrected, depth),
                                  f.image.get(), what);
                }
}

// A frame of one value decodes to that value wherever the plain decoder writes.
Frame flatFrame(int width, int height, int depth) {
    Frame f{makeImage(width, height, depth, 1, 512), makeImage(width, height, depth, 3), {}};
    std::memset(f.raw->data, 0x10, size_t(width) * height * depth / 8);
    std::memset(f.image->data, kSentinel, size_t(width) * height * 3 * depth / 8);
    return f;
}

// Which pixels the decoder wrote: 1 for each pixel whose samples changed.
std::vector<int> writtenMap(const _ezImage* image) {
    const int bytes = 3 * image->depth / 8;
    std::vector<int> map(size_t(image->width) * image->height);
    for (size_t p = 0; p < map.size(); ++p)
        for (int b = 0; b < bytes; ++b) {
            const unsigned char v = image->data[p * bytes + b];
            EXPECT_TRUE(v == kSentinel || v == 0x10) << "pixel " << p;
            map[p] |= v != kSentinel;
        }
    return map;
}

TEST_F(Decode, FrameSizeDecidesTheWrittenPixels) {
    for (int depth : {8, 16})
        for (int bayer = 1; bayer <= 4; ++bayer) {
            Frame four = flatFrame(8, 4, depth);
            __decode_rawdatafast(four.raw.get(), four.image.get(), bayer);
            std::vector<int> want(32, 0);
            for (int x = 1; x <= 6; ++x) want[8 + x] = 1;  // row 1 only
            EXPECT_EQ(writtenMap(four.image.get()), want) << "4 rows, bayer " << bayer;

            Frame three = flatFrame(8, 3, depth);
            three.image->decoded = 0;
            __decode_rawdatafast(three.raw.get(), three.image.get(), bayer);
            EXPECT_EQ(three.image->decoded, 1);
            EXPECT_EQ(writtenMap(three.image.get()), std::vector<int>(24, 0)) << "3 rows";

            Frame narrow = flatFrame(4, 6, depth);
            __decode_rawdatafast(narrow.raw.get(), narrow.image.get(), bayer);
            want.assign(24, 0);
            for (int y = 1; y <= 3; ++y) want[y * 4 + 1] = want[y * 4 + 2] = 1;
            EXPECT_EQ(writtenMap(narrow.image.get()), want) << "width 4, bayer " << bayer;
        }
}

TEST_F(Decode, ColumnOneGreenSiteIsTheSameInBothDecoders) {
    for (int depth : {8, 16})
        for (int bayer = 1; bayer <= 4; ++bayer) {
            Frame plain = randomFrame(12, 10, depth, 20 + bayer);
            Frame corrected = randomFrame(12, 10, depth, 20 + bayer);
            __decode_rawdatafast(plain.raw.get(), plain.image.get(), bayer);
            __decode_rawdata(corrected.raw.get(), corrected.image.get(), bayer);
            int greenRows = 0;
            for (int y = 1; y <= 7; ++y) {
                if (siteColour(bayer, y, 1) != Green) continue;
                ++greenRows;
                for (int c = 0; c < 3; ++c) {
                    const size_t i = (size_t(y) * 12 + 1) * 3 + c;
                    EXPECT_EQ(sampleAt(plain.image.get(), i), sampleAt(corrected.image.get(), i));
                }
            }
            EXPECT_GT(greenRows, 0);
        }
}

TEST_F(Decode, SixteenBitCorrectionUsesHighBytesAndKeepsLowBytes) {
    // A flat frame interpolates to (100, 100, 100) with low byte 7 everywhere.
    ImagePtr raw = makeImage(8, 6, 16, 1, 512);
    ImagePtr image = makeImage(8, 6, 16, 3);
    const uint16_t flat = 100 * 256 + 7;
    for (int i = 0; i < 48; ++i) std::memcpy(raw->data + 2 * i, &flat, 2);
    __decode_rawdata(raw.get(), image.get(), 4);
    // Row 2 of code 4 has a blue site at column 1: columns 1..6 are pairs.
    for (int x = 1; x <= 6; ++x) {
        const size_t i = (16 + x) * 3;
        EXPECT_EQ(sampleAt(image.get(), i + 0), 96 * 256 + 7);
        EXPECT_EQ(sampleAt(image.get(), i + 1), 90 * 256 + 7);
        EXPECT_EQ(sampleAt(image.get(), i + 2), 111 * 256 + 7);
    }
    // Row 1 has a green site at column 1: it and the lone red site at 6 stay flat.
    for (int x : {1, 6})
        for (int c = 0; c < 3; ++c) EXPECT_EQ(sampleAt(image.get(), (8 + x) * 3 + c), flat);
}

// ---- Monochrome copy and refused inputs -------------------------------------

TEST_F(Decode, MonochromeCopiesTheSamplesUnchanged) {
    for (int depth : {8, 16}) {
        Frame f = randomFrame(7, 5, depth, 30);
        const size_t bytes = size_t(7) * 5 * depth / 8;
        f.image->decoded = 0;
        __decode_rawdatafast(f.raw.get(), f.image.get(), 0);
        EXPECT_EQ(f.image->decoded, 1);
        EXPECT_EQ(0, std::memcmp(f.image->data, f.raw->data, bytes));
        EXPECT_EQ(f.image->data[bytes], kSentinel);  // nothing beyond width x height samples

        // A one-channel destination, as a monochrome camera uses, and the
        // corrected decoder, which copies alike.
        ImagePtr mono = makeImage(7, 5, depth, 1);
        __decode_rawdata(f.raw.get(), mono.get(), 0);
        EXPECT_EQ(0, std::memcmp(mono->data, f.raw->data, bytes));
    }
}

TEST_F(Decode, UnsupportedInputWritesNothingButMarksDecoded) {
    // Every frame below is 8 x 6 pixels of 8 bits, whatever its record claims.
    auto untouched = [](const _ezImage* image) {
        for (size_t i = 0; i < 8 * 6 * 3; ++i)
            if (image->data[i] != kSentinel) return false;
        return true;
    };
    // The records are copies, so that the frames are still released whole.
    auto check = [&](const char* what, auto mutate, int bayer = 1) {
        for (bool corrected : {false, true}) {
            Frame f = randomFrame(8, 6, 8, 40);
            _ezImage raw = *f.raw, image = *f.image;
            mutate(raw, image);
            image.decoded = 0;
            if (corrected)
                __decode_rawdata(&raw, &image, bayer);
            else
                __decode_rawdatafast(&raw, &image, bayer);
            EXPECT_EQ(image.decoded, 1) << what;
            EXPECT_TRUE(untouched(f.image.get())) << what << (corrected ? " (corrected)" : "");
        }
    };
    using R = _ezImage&;
    check("depth 12", [](R raw, R) { raw.depth = 12; });
    check(
        "depth 12 monochrome", [](R raw, R image) { raw.depth = image.depth = 12; }, 0);
    check(
        "code 5", [](R, R) {}, 5);
    check(
        "code -1", [](R, R) {}, -1);
    check("destination wider than source", [](R raw, R) { raw.width = 7; });
    check("destination taller than source", [](R raw, R) { raw.height = 5; });
    check("one-channel destination", [](R, R image) { image.channels = 1; });
    check("destination of another depth", [](R, R image) { image.depth = 16; });
    check("destination stride too short", [](R, R image) { image.stride = 20; });
    check("source stride too short", [](R raw, R) { raw.stride = 4; });
    check("source without pixels", [](R raw, R) { raw.data = nullptr; });
    check("destination without pixels", [](R, R image) { image.data = nullptr; });

    // 16-bit samples off an even address are not read as words.
    std::vector<unsigned char> buffer(2 * 8 * 6 + 1);
    _ezImage odd{};
    ezInitImageHeader(&odd, 8, 6, 1, 16, 512, buffer.data() + 1, 0, 0);
    Frame g = randomFrame(8, 6, 16, 42);
    __decode_rawdatafast(&odd, g.image.get(), 1);
    const size_t bytes = size_t(8) * 6 * 6;
    for (size_t i = 0; i < bytes; ++i) ASSERT_EQ(g.image->data[i], kSentinel);

    __decode_rawdatafast(nullptr, g.image.get(), 1);
    __decode_rawdata(g.raw.get(), nullptr, 1);
}

}  // namespace
