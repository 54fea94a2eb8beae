// Model classes through the call surface on simulated cameras: what their
// gain mappings and claim-time choices put on the simulated wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "models/products.h"
#include "sim_session.h"

using simsession::Session;
using simsession::Transfer;

namespace {
using ModelsOnTheWire = Session;

// The cooled cameras' switch requests (0xb8) and temperature reads, in
// order, as "value/index" and "T".
std::vector<std::string> switches(const std::vector<Transfer>& transfers) {
    std::vector<std::string> out;
    for (const Transfer& t : transfers) {
        if (t.kind != "ctrl") continue;
        if (t.request == 0xb8)
            out.push_back(std::to_string(t.value) + "/" + std::to_string(t.index));
        else if (t.request == 0xb6 && t.type == 0xc0 && t.index == 1)
            out.push_back("T");
    }
    return out;
}

// Reads one frame, which sends a resolution request left for the next read.
int grabOne(const std::string& name) {
    std::vector<unsigned char> buffer(static_cast<size_t>(RecvMemSize(name.c_str())));
    return GetRawData(buffer.data(), static_cast<int>(buffer.size()), name.c_str());
}

std::vector<std::string> firstOf(std::vector<std::string> all, size_t n) {
    all.resize(std::min(all.size(), n));
    return all;
}
}  // namespace

TEST_F(ModelsOnTheWire, GainExamplesReachTheSensorRegister) {
    struct Case {
        int product, gain, value, reg, stored;
    };
    const Case cases[] = {
        {0xc003, 300, 0x1dc0 + 44, 0x305e, 300},
        {0xc003, 310, 0x1dc0 + 54, 0x305e, 310},
        {0xc007, 159, 30304, 0x35, 159},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.product << std::dec << " gain " << c.gain);
        const std::string name = plug(c.product);
        ASSERT_FALSE(name.empty());
        camera(lastId).clearTrace();
        EXPECT_EQ(SetAnaloggain(c.gain, name.c_str()), 0);
        const std::vector<Transfer> sent = transfers(lastId);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ((std::vector<int>{sent[0].type, sent[0].request, sent[0].value, sent[0].index}),
                  (std::vector<int>{0x40, 0xb7, c.value, c.reg}));
        EXPECT_EQ(GetAnaloggain(name.c_str()), c.stored);
    }
}

TEST_F(ModelsOnTheWire, VDh694M1ClaimAndShiftOperator) {
    const std::string newer = plug(0xe00c, 0xa001);
    ASSERT_EQ(newer.substr(0, 6), "R-694.");
    // Cooler on, then edge inhibition off, as the device is claimed.
    EXPECT_EQ(firstOf(switches(transfers(lastId)), 2), (std::vector<std::string>{"1/1", "0/0"}));
    EXPECT_STREQ(GetResItemName(0, newer.c_str()), "2728*2192");
    EXPECT_STREQ(GetPixclkItemName(0, newer.c_str()), "Higher");
    bool cooled = false;
    EXPECT_EQ(GetCooled(&cooled, newer.c_str()), 0);
    EXPECT_TRUE(cooled);

    // The shift operator is clamped to 0..8 although its range tops at 4.
    camera(lastId).clearTrace();
    int range[3] = {-1, -1, -1};
    EXPECT_EQ(GetShiftOperatorRange(&range[0], &range[1], &range[2], newer.c_str()), 0);
    EXPECT_EQ((std::vector<int>{range[0], range[1], range[2]}), (std::vector<int>{0, 4, 1}));
    std::vector<int> stored;
    for (int shift : {9, -3, 5}) {
        EXPECT_EQ(SetShiftOperator(shift, newer.c_str()), 0);
        stored.push_back(GetShiftOperator(newer.c_str()));
    }
    EXPECT_EQ(stored, (std::vector<int>{8, 0, 5}));
    EXPECT_EQ(switches(transfers(lastId)), (std::vector<std::string>{"8/3", "0/3", "5/3"}));

    // Older hardware keeps the tables the camera was built with, and the
    // release 0xa106 has the newer ones.
    const std::string older = plug(0xe00c, 0xa000);
    EXPECT_STREQ(GetResItemName(2, older.c_str()), "332X248 4x4Bin");
    EXPECT_EQ(GetPixelclock(older.c_str()), 0);
    EXPECT_EQ(firstOf(switches(transfers(lastId)), 2), (std::vector<std::string>{"1/1", "0/0"}));
    int min = 0, max = 0, step = 0;
    EXPECT_EQ(GetAnaloggainRange(&min, &max, &step, older.c_str()), 0);
    EXPECT_EQ(min, 143);
    const std::string a106 = plug(0xe00c, 0xa106);
    EXPECT_STREQ(GetResItemName(1, a106.c_str()), "1360*1072 Bin");
}

TEST_F(ModelsOnTheWire, VDh674M1NewerHardwareAnnouncesItselfAndReadsItsTemperature) {
    const std::string name = plug(0xe00a, 0xa004);
    ASSERT_EQ(name.substr(0, 6), "R-674.");
    EXPECT_EQ(firstOf(switches(transfers(lastId)), 4),
              (std::vector<std::string>{"1/2", "1/1", "T", "0/0"}));
    float celsius = -1000.0f;
    EXPECT_EQ(GetTemperature(&celsius, name.c_str()), 0);
    EXPECT_GT(celsius, -60.0f);
    EXPECT_LT(celsius, 60.0f);

    EXPECT_STREQ(GetResItemName(1, name.c_str()), "952X720 Bin");

    // Older hardware: no temperature sensor, so no read.
    const std::string older = plug(0xe00a, 0xa000);
    EXPECT_EQ(firstOf(switches(transfers(lastId)), 2), (std::vector<std::string>{"1/1", "0/0"}));
    EXPECT_EQ(GetTemperature(&celsius, older.c_str()), -4);
    EXPECT_STREQ(GetResItemName(1, older.c_str()), "952X720 sBin");
}

// The families whose exposure travels in the mode requests keep a long
// exposure across clock and mode changes: the camera gets the whole line
// count, periods included, scaled to the new timing.
TEST_F(ModelsOnTheWire, LongExposuresSurviveClockAndModeChanges) {
    struct Case {
        int product, release, clock, mode;
    };
    const Case cases[] = {
        {0xe00c, 0xa001, 2, 1},  // VDh694M1: 2261 / 1129 lines per period
        {0xd004, 0xa000, 1, 0},  // VDo205M1
        {0xe006, 0xa000, 3, 2},  // VDh285M1: only the clock scales
        {0xc00a, 0xa000, 1, 2},  // VSo035M1: 860 lines per period
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.product);
        const std::string name = plug(c.product, c.release);
        ASSERT_FALSE(name.empty());
        float low = 0, high = 0, step = 0;
        ASSERT_EQ(GetExposureRange(&low, &high, &step, name.c_str()), 0);
        const float wanted = std::min(2000.0f, high / 2);
        ASSERT_EQ(SetExposure(wanted, name.c_str()), 0);
        ASSERT_EQ(SetPixelclock(c.clock, name.c_str()), 0);
        ASSERT_EQ(SetResolution(c.mode, name.c_str()), 0);
        grabOne(name);
        const float kept = GetExposure(name.c_str());
        EXPECT_NEAR(kept, wanted, 0.01 * wanted);
        // What the camera exposes is what the host reports.
        EXPECT_NEAR(camera(lastId).exposureMs(), kept, 0.01 * kept);
        unplug(lastId);
    }
}

TEST_F(ModelsOnTheWire, ModeLimitsAndTheClockGainFloor) {
    // VSo035M1 in mode 0xc2 allows no long exposure: at most 539 lines.
    const std::string mono = plug(0xc00a);
    ASSERT_FALSE(mono.empty());
    ASSERT_EQ(SetExposure(5000.0f, mono.c_str()), 0);
    ASSERT_EQ(SetResolution(1, mono.c_str()), 0);  // mode 0xc2
    grabOne(mono);
    EXPECT_EQ(camera(lastId).exposureLines(), 539u);
    float low = 0, high = 0, step = 0;
    ASSERT_EQ(GetExposureRange(&low, &high, &step, mono.c_str()), 0);
    EXPECT_NEAR(high / step, 539.0f, 0.5f);

    // VSo036C1: the "Lower" clock raises the gain floor to 31.
    const std::string colour = plug(0xc009);
    ASSERT_FALSE(colour.empty());
    ASSERT_EQ(SetAnaloggain(20, colour.c_str()), 0);
    ASSERT_EQ(SetPixelclock(3, colour.c_str()), 0);  // 0xa3
    int min = 0, max = 0;
    EXPECT_EQ(GetAnaloggain(colour.c_str()), 31);
    EXPECT_EQ(camera(lastId).reg(1), 31);
    ASSERT_EQ(GetAnaloggainRange(&min, &max, nullptr, colour.c_str()), 0);
    EXPECT_EQ(min, 31);
    ASSERT_EQ(SetPixelclock(1, colour.c_str()), 0);  // back to "High"
    ASSERT_EQ(GetAnaloggainRange(&min, &max, nullptr, colour.c_str()), 0);
    EXPECT_EQ(min, 8);
    EXPECT_EQ(GetAnaloggain(colour.c_str()), 31);
}

TEST_F(ModelsOnTheWire, VAh500C1DrivesItsThreeOutputs) {
    const std::string name = plug(0xa004);
    ASSERT_FALSE(name.empty());
    camera(lastId).clearTrace();
    EXPECT_EQ(SetGpio(4, true, name.c_str()), -2);
    EXPECT_EQ(SetGpio(0, true, name.c_str()), -2);
    EXPECT_TRUE(transfers(lastId).empty());

    EXPECT_EQ(SetGpio(2, true, name.c_str()), 0);
    const std::vector<Transfer> sent = transfers(lastId);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ((std::vector<int>{sent[0].type, sent[0].request, sent[0].value, sent[0].index}),
              (std::vector<int>{0x40, 0xb8, 0x0161, 0}));
    EXPECT_TRUE(camera(lastId).gpio(2));
    bool on = false;
    EXPECT_EQ(Gpio(2, &on, name.c_str()), 0);
    EXPECT_TRUE(on);
    EXPECT_EQ(SetGpio(2, false, name.c_str()), 0);
    EXPECT_FALSE(camera(lastId).gpio(2));
    EXPECT_EQ(Gpio(2, &on, name.c_str()), 0);
    EXPECT_FALSE(on);
    EXPECT_EQ(Gpio(3, &on, name.c_str()), 0);
    EXPECT_FALSE(on);

    // Cameras without outputs say so.
    const std::string other = plug(0xc004);
    EXPECT_EQ(SetGpio(1, true, other.c_str()), -4);
}

// On firmware 0xa101 and 0xa102 edge inhibition follows the exposure:
// a frame taken at 20 s turns it on, the next one at 1 s off again.
TEST_F(ModelsOnTheWire, EdgeInhibitionFollowsTheExposureOnItsFirmware) {
    const std::string name = plug(0xe00c, 0xa101);
    ASSERT_FALSE(name.empty());
    bool on = true;
    ASSERT_EQ(GetEdgeInhibition(&on, name.c_str()), 0);
    EXPECT_FALSE(on);  // switched off at claim
    ASSERT_EQ(SetExposure(20000.0f, name.c_str()), 0);
    camera(lastId).clearTrace();
    ASSERT_EQ(grabOne(name), 0);
    ASSERT_EQ(GetEdgeInhibition(&on, name.c_str()), 0);
    EXPECT_TRUE(on);
    EXPECT_EQ(switches(transfers(lastId)), (std::vector<std::string>{"17/0"}));
    ASSERT_EQ(SetExposure(1000.0f, name.c_str()), 0);
    ASSERT_EQ(grabOne(name), 0);
    ASSERT_EQ(GetEdgeInhibition(&on, name.c_str()), 0);
    EXPECT_FALSE(on);

    // Other firmware leaves the switch to the user.
    const std::string older = plug(0xe00c, 0xa001);
    ASSERT_EQ(SetExposure(20000.0f, older.c_str()), 0);
    ASSERT_EQ(grabOne(older), 0);
    ASSERT_EQ(GetEdgeInhibition(&on, older.c_str()), 0);
    EXPECT_FALSE(on);
}

namespace {
// Every creatable pair outside the default watch list, so that each
// product's camera arrives.
std::string extraIds() {
    std::string list;
    for (const ProductRow& row : productTable()) {
        if (!row.create) continue;
        for (uint16_t vendor : vendorIds(row.vendors)) {
            char pair[16];
            std::snprintf(pair, sizeof pair, "%s%04x:%04x", list.empty() ? "" : ",", vendor,
                          row.product);
            list += pair;
        }
    }
    return list;
}

// The releases whose claim gives a product other tables, and one none names.
std::vector<uint16_t> claimReleases(const ProductRow& row) {
    std::set<uint16_t> releases{0xa000};
    for (const ClaimRow& claim : row.claim)
        for (uint16_t r : claim.releases.releases)
            if (r) releases.insert(r);
    return {releases.begin(), releases.end()};
}

class LongExposures : public Session {
  protected:
    void SetUp() override {
        setenv("EZCAM_EXTRA_IDS", extraIds().c_str(), 1);
        Session::SetUp();
        unsetenv("EZCAM_EXTRA_IDS");
    }
    // Mean sample of the next good frame, in units of its full scale.
    double level(const std::string& name) {
        int result = -3;
        for (int i = 0; i < 4 && result != 0 && result != 1; ++i)
            result = GetRawData(raw.data(), static_cast<int>(raw.size()), name.c_str());
        EXPECT_TRUE(result == 0 || result == 1) << result;
        const auto* r = reinterpret_cast<const _ezImage*>(raw.data());
        const size_t samples = static_cast<size_t>(r->width) * r->height;
        double sum = 0;
        size_t n = 0;
        for (size_t i = 0; i < samples; i += 53, ++n)
            sum += r->depth == 16 ? (r->data[2 * i] | r->data[2 * i + 1] << 8) / 65535.0
                                  : r->data[i] / 255.0;
        return n ? sum / n : 0;
    }
    std::vector<unsigned char> raw;
};

void dimTo(sim::SimCamera& device, double light) {
    std::string error;
    ASSERT_TRUE(device.setSensor("light=" + std::to_string(light), error)) << error;
}
}  // namespace

// Exposures past 65,536 lines reach the sensor whole, through the two
// exposure registers and the line count the mode requests carry: on every
// product, in every mode whose limit goes beyond (those with long exposure),
// the camera exposes (by its frames and by its own count) what the host
// reports.
TEST_F(LongExposures, PastSixteenBitsOfLinesTheSensorExposesWhatTheHostReports) {
    constexpr uint32_t kWrap = 65536;
    int checked = 0;
    for (const ProductRow& row : productTable()) {
        if (!row.create) continue;
        const uint16_t vendor = vendorIds(row.vendors)[0];
        for (const uint16_t release : claimReleases(row)) {
            const std::string name = plug(row.product, release, vendor);
            ASSERT_FALSE(name.empty()) << std::hex << row.product << "@" << release;
            const char* n = name.c_str();
            sim::SimCamera& device = camera(lastId);
            // Only the light and the shot noise: the level follows the exposure.
            std::string error;
            ASSERT_TRUE(device.setSensor("dark=0,hot=0,read=0,dsnu=0,prnu=0,well=1e7", error))
                << error;
            ASSERT_EQ(ResumeDevice(n), 0);
            SetRawDepth(16, n);  // where the camera offers it: finer levels
            for (int mode = 0; mode < GetResolutionCount(n); ++mode) {
                SCOPED_TRACE(testing::Message() << row.model << " " << std::hex << row.product
                                                << "@" << release << std::dec << " mode " << mode);
                ASSERT_EQ(SetResolution(mode, n), 0);
                raw.assign(static_cast<size_t>(RecvMemSize(n)), 0);
                float low = 0, high = 0, line = 0;
                ASSERT_EQ(GetExposureRange(&low, &high, &line, n), 0);
                const double longest = std::floor(high / line + 0.5);
                if (longest < kWrap + 100) continue;
                const double far = std::min<double>(3.0 * kWrap, longest);
                const double lines[] = {kWrap - 37, kWrap + 37, far};

                ASSERT_EQ(SetExposure(low, n), 0);
                const double black = level(n);
                // A light at which the longest of them stays well below full
                // scale (binned modes sum their samples, black level included).
                double light = 1.0, top = 0;
                for (int i = 0; i < 8; ++i) {
                    dimTo(device, light);
                    ASSERT_EQ(SetExposure(static_cast<float>((far + 0.5) * line), n), 0);
                    top = level(n) - black;
                    if (black + top < 0.6) break;
                    light /= 16;
                }
                dimTo(device, std::min(light * 0.5 * (1 - black) / std::max(top, 1e-6), 100.0));

                double refMs = 0, refSignal = 0;
                for (const double want : lines) {
                    ASSERT_EQ(SetExposure(static_cast<float>((want + 0.5) * line), n), 0);
                    const double signal = level(n) - black;
                    const double ms = GetExposure(n);
                    EXPECT_NEAR(ms, (want + 0.5) * line, line) << want << " lines";
                    EXPECT_NEAR(device.exposureMs(), ms, line) << want << " lines";
                    if (refMs == 0) {
                        refMs = ms;
                        refSignal = signal;
                        EXPECT_GT(signal, 0.01);
                        continue;
                    }
                    // A few per cent: the dim end of 8-bit frames is not
                    // quite linear. A count cut to 16 bits is off by far more.
                    EXPECT_NEAR(signal / refSignal, ms / refMs, 0.06 * ms / refMs)
                        << want << " lines";
                }
                ++checked;
            }
            unplug(lastId);
        }
    }
    // The D family's modes, the S family's 1.3-megapixel sensors in their
    // long-exposure modes and the 2048 x 2048 camera: 75 in all today.
    EXPECT_GE(checked, 60);
}
