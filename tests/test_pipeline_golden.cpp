// Golden outputs of the frame pipeline: a hash of the finished image (its
// record's sizes, every pixel, borders the decoder leaves unwritten
// included, and the statistics area when measured) over a grid of settings,
// recorded from the straightforward one-step-at-a-time pipeline.
// Any faster pipeline must reproduce every one bit for bit.
// EZCAM_GOLDEN_DUMP=1 prints the hash of every frame, for bisecting a change.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pipeline_fixture.h"

namespace {

struct Settings {
    bool enhance = false, monochrome = false, histogram = false, flatField = false;
    int gamma[3] = {100, 100, 100};
    int contrast = 128, saturation = 100;
    int gains[3] = {64, 64, 64};
    int stretchLow = 0, stretchHigh = 255, stretchChannel = -1;  // -1: all channels
    bool stretchAuto = false;
    int rotate = 0, flip = 0;
};

struct Case {
    const char* name;
    Settings settings;
    uint64_t expected;
};

uint64_t fnv(uint64_t h, const void* data, size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

// A vignetted grey card, for the flat-field reference.
unsigned card(int x, int y, int w, int h, int depth) {
    const int dx = 2 * x - w, dy = 2 * y - h;
    const unsigned v = 200 - static_cast<unsigned>((dx * dx + dy * dy) * 120 / (w * w + h * h));
    return depth == 16 ? (v << 8 | 0x5a) : v;
}

int gThreads = 1;  // threads finishing each frame

uint64_t runOne(const Settings& s, int bayer, int depth, bool crop, int w, int h) {
    TestPipeline p(bayer != 0);
    p.setThreads(gThreads);
    p.sensor.bayer = bayer;
    const int channels = p.sensor.channels;
    p.setColorEnhancement(s.enhance);
    p.setMonochrome(s.monochrome);
    p.setHistogram(s.histogram);
    for (int c = 0; c < 3; ++c) p.setGamma(s.gamma[c], c, channels);
    p.setContrast(s.contrast);
    p.setSaturation(s.saturation);
    p.setDigitalGain(s.gains[0], s.gains[1], s.gains[2]);
    if (s.stretchChannel < 0)
        p.setStretch(s.stretchLow, s.stretchHigh, s.stretchAuto, channels);
    else
        p.setStretch(s.stretchLow, s.stretchHigh, s.stretchAuto, s.stretchChannel, channels);
    p.setRotate(s.rotate);
    p.setFlip(s.flip);
    if (s.flatField) {
        Frames reference(w + 6, h + 4, depth,
                         [&](int x, int y) { return card(x, y, w + 6, h + 4, depth); });
        EXPECT_EQ(p.captureFlatField(reference.rawRecord(), p.sensor), 0);
        p.setFlatFieldOn(true);
    }
    Frames f(w, h, depth, [&](int x, int y) { return testPattern(x, y, depth); });
    if (f.run(p, crop) != 0) return 0;
    const _ezImage* r = f.imageRecord();
    uint64_t hash = 0xcbf29ce484222325ull;
    const uint16_t fields[] = {r->width, r->height, r->depth, r->channels, r->stride, r->decoded};
    hash = fnv(hash, fields, sizeof fields);
    hash = fnv(hash, r->data, size_t{r->stride} * r->height);
    if (s.histogram || s.stretchAuto)
        hash = fnv(hash, r->extra, r->channels == 3 ? kStatisticsBytes : kStatisticsBytes / 4);
    return hash;
}

// Every Bayer code (0: a monochrome camera), both depths, with and without
// the border cut, at even and odd sizes, narrow and wide enough for the
// widest vector loops.
constexpr std::pair<int, int> kSizes[] = {{38, 26}, {37, 23}, {150, 14}, {133, 9}};

uint64_t runGrid(const Settings& s, const char* name) {
    const bool dump = std::getenv("EZCAM_GOLDEN_DUMP") != nullptr;
    uint64_t hash = 0xcbf29ce484222325ull;
    for (int bayer = 0; bayer <= 4; ++bayer)
        for (int depth : {8, 16})
            for (bool crop : {false, true})
                for (const auto& [w, h] : kSizes) {
                    const uint64_t one = runOne(s, bayer, depth, crop, w, h);
                    if (dump)
                        std::printf("%s bayer %d depth %d crop %d %dx%d %016llx\n", name, bayer,
                                    depth, crop, w, h, static_cast<unsigned long long>(one));
                    hash = fnv(hash, &one, sizeof one);
                }
    return hash;
}

Settings with(void (*change)(Settings&)) {
    Settings s;
    change(s);
    return s;
}

void everyTone(Settings& s) {
    s.gamma[0] = 60, s.gamma[1] = 100, s.gamma[2] = 140;
    s.contrast = 170, s.saturation = 160;
    s.gains[0] = 90, s.gains[1] = 64, s.gains[2] = 40;
}

const Case kCases[] = {
    {"neutral", {}, 0x550fbf3be2438492},
    {"enhance", with([](Settings& s) { s.enhance = true; }), 0xd99f963f4738166d},
    {"gamma", with([](Settings& s) { s.gamma[0] = s.gamma[1] = s.gamma[2] = 60; }),
     0x61d8e2432c27fca},
    {"gammaPerChannel", with([](Settings& s) { s.gamma[0] = 60, s.gamma[2] = 140; }),
     0x9e7dce89d53ba71a},
    {"contrast", with([](Settings& s) { s.contrast = 170; }), 0x1b882a5ae8eb08f7},
    {"saturation", with([](Settings& s) { s.saturation = 160; }), 0x19a284fbd4c67dbf},
    {"gains", with([](Settings& s) { s.gains[0] = 90, s.gains[2] = 40; }), 0x9edccd1ef2f5792d},
    {"everyTone", with(everyTone), 0x508b16a8050d99b8},
    {"everyToneEnhanced", with([](Settings& s) { everyTone(s), s.enhance = true; }),
     0xb81070c8e5d2e62a},
    {"greyView", with([](Settings& s) { s.monochrome = true, s.gamma[0] = 60, s.contrast = 170; }),
     0xe9924d1accea7ead},
    {"histogram", with([](Settings& s) { s.histogram = true; }), 0x1f91148c5b5a1698},
    {"stretch", with([](Settings& s) { s.stretchLow = 20, s.stretchHigh = 200; }),
     0x53dc5fb985c03c4f},
    {"stretchOne",
     with([](Settings& s) { s.stretchLow = 30, s.stretchHigh = 90, s.stretchChannel = 1; }),
     0x73876505e9c455c7},
    {"stretchAuto", with([](Settings& s) { s.stretchAuto = true; }), 0x634119dea3576e},
    {"stretchAutoOne", with([](Settings& s) { s.stretchAuto = true, s.stretchChannel = 2; }),
     0xffddb1fd7e949bf7},
    {"rotate1", with([](Settings& s) { s.rotate = 1; }), 0x5270749795570156},
    {"rotate2", with([](Settings& s) { s.rotate = 2; }), 0xd27b272242050163},
    {"rotate3", with([](Settings& s) { s.rotate = 3; }), 0x550fbf3be2438492},
    {"flip1", with([](Settings& s) { s.flip = 1; }), 0xc97c1853d06246c1},
    {"flip2", with([](Settings& s) { s.flip = 2; }), 0x22acac21c36dd07},
    {"flip3", with([](Settings& s) { s.flip = 3; }), 0xa7a5f46f8d5c0dfa},
    {"turnedAndToned",
     with([](Settings& s) { everyTone(s), s.rotate = 2, s.flip = 1, s.histogram = true; }),
     0x3f12b1bf26b32ff5},
    {"flippedAutoStretch",
     with([](Settings& s) { everyTone(s), s.flip = 3, s.stretchAuto = true; }), 0xc4a8372a4b99fe72},
    {"flatField", with([](Settings& s) { s.flatField = true; }), 0xd93d8aa64e4c19b7},
    {"everything", with([](Settings& s) {
         everyTone(s), s.enhance = s.flatField = s.histogram = s.stretchAuto = true;
         s.rotate = 1, s.flip = 2;
     }),
     0x4af9e41ab4e4772d},
};

}  // namespace

// On one thread and on stripes over several.
TEST(PipelineGolden, EveryOutputMatchesItsRecordedHash) {
    for (int threads : {1, 2, 3}) {
        gThreads = threads;
        for (const Case& c : kCases) {
            const uint64_t hash = runGrid(c.settings, c.name);
            EXPECT_EQ(hash, c.expected) << c.name << " 0x" << std::hex << hash << " " << threads;
        }
    }
}
