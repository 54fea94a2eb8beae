// The loops closed on a simulated camera: automatic exposure settles the
// raw level, white balance evens the colour cast, the flat field removes the
// vignetting and the defect step removes the hot pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "camera/cam_bayer.h"
#include "sim/sim_bus.h"
#include "sim_session.h"
#include "sim_test_util.h"

using simsession::Session;

namespace {

constexpr int kTarget = 110;

// Frames of one camera through the call surface.
struct Live {
    std::string name;
    std::vector<unsigned char> raw, image;

    explicit Live(std::string camera) : name(std::move(camera)) {
        raw.resize(static_cast<size_t>(RecvMemSize(name.c_str())));
        image.resize(raw.size() * 3 + 8192);
    }
    _ezImage* rawRecord() { return reinterpret_cast<_ezImage*>(raw.data()); }
    _ezImage* imageRecord() { return reinterpret_cast<_ezImage*>(image.data()); }
    bool grab() {
        for (int attempt = 0; attempt < 8; ++attempt)
            if (GetRawData(raw.data(), static_cast<int>(raw.size()), name.c_str()) == 0)
                return true;
        return false;
    }
    bool finish() { return grab() && DecodeRaw2Image(raw.data(), image.data(), name.c_str()) == 0; }
    // The raw level as automatic exposure measures it.
    int rawMean() {
        const _ezImage* r = rawRecord();
        const size_t n = size_t(r->width) * r->height;
        uint64_t sum = 0;
        for (size_t i = 0; i < n; ++i) sum += r->data[i];
        return static_cast<int>(sum / n);
    }
    // Mean of channel k over a square of the finished image.
    double mean(int k, int x0, int y0, int side) {
        const _ezImage* r = imageRecord();
        double sum = 0;
        for (int y = y0; y < y0 + side; ++y)
            for (int x = x0; x < x0 + side; ++x) sum += r->data[(size_t(y) * r->width + x) * 3 + k];
        return sum / (side * side);
    }
    double wholeMean(int k) {
        const _ezImage* r = imageRecord();
        return mean(k, 0, 0, std::min<int>(r->width, r->height));
    }
    // The four corners against the centre, channel k.
    double cornerToCentre(int k) {
        const _ezImage* r = imageRecord();
        const int s = 32, w = r->width, h = r->height;
        const double corners = mean(k, 0, 0, s) + mean(k, w - s, 0, s) + mean(k, 0, h - s, s) +
                               mean(k, w - s, h - s, s);
        return corners / 4 / mean(k, (w - s) / 2, (h - s) / 2, s);
    }
};

// Lets automatic exposure run for `frames` frames; the level of the next.
int settle(Live& live, int frames) {
    for (int i = 0; i < frames; ++i)
        if (!live.grab()) return -1;
    return live.grab() ? live.rawMean() : -1;
}

}  // namespace

using ClosedLoop = Session;

TEST_F(ClosedLoop, AutoExposureSettlesFromFourTimesTooDarkOrTooBright) {
    const std::string name = plug(0xc004);
    ASSERT_FALSE(name.empty());
    const char* c = name.c_str();
    SetResolution(2, c);
    Live live(name);
    SetAETarget(kTarget, c);
    SetAutoExposure(true, c);
    ASSERT_NEAR(settle(live, 40), kTarget, 16);
    const float settled = GetExposure(c);
    for (float factor : {0.25f, 4.0f}) {
        SetAutoExposure(false, c);
        SetExposure(settled * factor, c);
        ASSERT_TRUE(live.grab());
        ASSERT_GT(std::abs(live.rawMean() - kTarget), 16) << factor;
        SetAutoExposure(true, c);
        // One measured frame in three: ten measurements.
        EXPECT_NEAR(settle(live, 30), kTarget, 16) << factor;
        EXPECT_NEAR(GetExposure(c), settled, settled * 0.2) << factor;
    }
}

TEST_F(ClosedLoop, WhiteBalanceEvensTheColourCast) {
    const std::string name = plug(0xc004);
    const char* c = name.c_str();
    SetResolution(2, c);
    Live live(name);
    // Exposed so that the bright objects the measurement looks at do not clip.
    SetAETarget(70, c);
    SetAutoExposure(true, c);
    ASSERT_GT(settle(live, 20), 0);
    SetAutoExposure(false, c);
    ASSERT_TRUE(live.finish());
    const double before[3] = {live.wholeMean(0), live.wholeMean(1), live.wholeMean(2)};
    // The simulator's cast: red and blue weaker than green, blue the weakest
    // (channel 0 red, 2 blue, as every image shows them).
    EXPECT_LT(before[0], 0.9 * before[1]);
    EXPECT_LT(before[2], 0.7 * before[1]);
    EXPECT_GT(before[0], 1.15 * before[2]);
    ASSERT_TRUE(live.grab());
    ASSERT_EQ(CalcWhiteBalance(live.raw.data(), nullptr, c), 0);
    int gains[3] = {};
    ASSERT_EQ(GetChannelGain(&gains[0], &gains[1], &gains[2], c), 0);
    EXPECT_EQ(gains[1], 64);
    ASSERT_TRUE(live.finish());
    const double after[3] = {live.wholeMean(0), live.wholeMean(1), live.wholeMean(2)};
    const double hi = *std::max_element(std::begin(after), std::end(after));
    const double lo = *std::min_element(std::begin(after), std::end(after));
    EXPECT_LT(hi / lo, 1.05) << after[0] << " " << after[1] << " " << after[2];
}

TEST_F(ClosedLoop, FlatFieldRemovesTheVignetting) {
    const std::string name = plug(0xc004);
    const char* c = name.c_str();
    camera(lastId).setFlatScene(true);
    SetResolution(2, c);
    Live live(name);
    SetAutoExposure(true, c);
    ASSERT_GT(settle(live, 20), 0);
    SetAutoExposure(false, c);
    ASSERT_TRUE(live.finish());
    for (int k = 0; k < 3; ++k) EXPECT_LT(live.cornerToCentre(k), 0.85) << k;
    ASSERT_TRUE(live.grab());
    ASSERT_EQ(CalcFlatfield(live.raw.data(), false, c), 0);
    SetFlatfieldState(true, c);
    ASSERT_TRUE(live.finish());
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(live.cornerToCentre(k), 1.0, 0.05) << k;
}

namespace {

// The 5-megapixel colour camera with a frame reader that runs the defect step.
class DefectCamera : public CamBayer {
  public:
    int _claim_device() override {
        SensorControl& s = sensorControl();
        s.bayerPattern = 3;
        s.resolution.table = VAo500C1Res;
        s.resolution.max = static_cast<uint16_t>(std::size(VAo500C1Res));
        s.pixelClock.table = VAo500C1V0Clk;
        s.pixelClock.max = 3;
        s.pixelClock.value = 0;
        s.analogGain = {30, 7, 174, 1, 30, 1, {}, nullptr};
        s.exposure = {300, 1, 15464, 1, 30, 1, {}, nullptr};
        s.loadTiming();
        s.bodyLen = 2 * s.headLen + 10245226;
        return 0;
    }
    int _set_analog_gain(int gain) override {
        return sensorControl().applyAnalogGain(
            gain, [](int g) { return static_cast<uint16_t>(g < 64 ? g : g * 256 - 16065); });
    }

  protected:
    int frameFinish(_ezImage* image, int result) override {
        return pipeline().defects.step(image, result);
    }
};

}  // namespace

TEST(ClosedLoopDefects, DefectCorrectionRemovesTheHotPixels) {
    ASSERT_TRUE(simsession::kSimulated);
    sim::SimBus& bus = sim::simBus();
    const int id = bus.plug(0x0547, 0xc004, 0xa000);
    bus.camera(id)->setPaced(false);
    DefectCamera camera;
    ASSERT_EQ(camera.__open_driver(bus.device(id)), 0);
    camera._set_resolution(1, true);  // 1280 x 960: large enough for the search
    camera._set_aetarget(60);
    camera._set_autoexposure(true);
    std::vector<unsigned char> frame(static_cast<size_t>(camera._body()));
    const auto read = [&] {
        return camera._raw_data(frame.data(), static_cast<int>(frame.size()));
    };
    for (int i = 0; i < 15; ++i) read();
    camera._set_autoexposure(false);
    const auto* record = reinterpret_cast<const _ezImage*>(frame.data());
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(record->width, 1280);
    const int hot = simtest::hotSamples(record);
    EXPECT_GE(hot, 3);
    camera._calc_defect_correction();
    camera._set_dc_state(true);
    EXPECT_EQ(read(), 5);
    EXPECT_EQ(camera.pipeline().defects.count, hot);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(read(), 0);
        EXPECT_EQ(simtest::hotSamples(record), 0);
    }
    camera._set_dc_state(false);
    ASSERT_EQ(read(), 0);
    EXPECT_EQ(simtest::hotSamples(record), hot);
    bus.unplug(id);
}
