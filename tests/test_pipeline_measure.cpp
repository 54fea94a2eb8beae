// The measurements that act on the camera: automatic exposure, white
// balance, the automatic gain of the fluorescence guide, the flat-field
// reference and the defect step, on synthetic frames.
#include <gtest/gtest.h>

#include <cmath>

#include "camera/cam_bayer.h"
#include "pipeline_fixture.h"

namespace {

// A colour camera (Bayer code 1) or a monochrome one, without a bus. One
// line lasts 0.01 ms.
class MeasureCamera : public CamBayer {
  public:
    explicit MeasureCamera(bool colour = true) {
        SensorControl& s = sensorControl();
        s.channels = colour ? 3 : 1;
        s.bayerPattern = colour ? 1 : 0;
        if (colour) pipeline().enableColour(100, 100);
        s.lineLength = 480;
        s.pixelRate = 48000;
        s.exposure.value = 2000;
        s.exposure.min = 1;
        s.exposure.max = 65535;
        s.analogGain.min = 1;
        s.analogGain.max = 400;
        s.analogGain.value = 30;
    }
    int _set_analog_gain(int gain) override {
        SensorSetting& g = sensorControl().analogGain;
        g.value = static_cast<uint16_t>(std::clamp<int>(gain, g.min, g.max));
        return 0;
    }
    int finish(Frames& f, bool crop) { return _raw2image(f.raw.data(), f.image.data(), crop); }
};

Frames uniform(int w, int h, unsigned value, int depth = 8) {
    return Frames(w, h, depth, [=](int, int) { return value; });
}

// A Bayer code 1 mosaic (R G / G B; red is channel 2 once decoded) of
// three flat planes.
Frames mosaic(int w, int h, unsigned red, unsigned green, unsigned blue) {
    return Frames(w, h, 8, [=](int x, int y) {
        return (y % 2 == 0) ? (x % 2 == 0 ? red : green) : (x % 2 == 0 ? green : blue);
    });
}

}  // namespace

TEST(AutoExposure, DeadBandBlackFrameAndLongestExposure) {
    struct Case {
        unsigned mean;
        int linesBefore, linesAfter;
    };
    // 0.01 ms per line; target 110.
    const Case cases[] = {
        {126, 2000, 2000},   // within the dead band
        {94, 2000, 2000},    // its other edge
        {127, 2000, 1732},   // 20 ms x 110 / 127
        {0, 2000, 22000},    // a black frame counts as 10: 220 ms
        {44, 18000, 30000},  // 450 ms asked, 300 ms sent
        {250, 2000, 880},    // bright: shortened
    };
    for (const Case& c : cases) {
        MeasureCamera camera;
        camera.sensorControl().exposure.value = static_cast<uint16_t>(c.linesBefore);
        Frames f = uniform(16, 8, c.mean);
        camera._calc_auto_exposure(f.rawRecord(), 0);
        EXPECT_EQ(camera.sensorControl().exposure.value, c.linesAfter) << c.mean;
    }
    // 16-bit frames are measured by their high bytes.
    MeasureCamera camera;
    Frames deep = uniform(16, 8, 127 << 8 | 0xff, 16);
    camera._calc_auto_exposure(deep.rawRecord(), 0);
    EXPECT_EQ(camera.sensorControl().exposure.value, 1732);
}

TEST(AutoExposure, MeasuresTheFirstFrameThenEveryIntervalth) {
    MeasureCamera camera;
    Frames f = uniform(16, 8, 200);
    std::vector<int> measured;
    for (int frame = 1; frame <= 10; ++frame) {
        const uint16_t before = camera.sensorControl().exposure.value;
        camera._calc_auto_exposure(f.rawRecord(), 3);
        if (camera.sensorControl().exposure.value != before) measured.push_back(frame);
    }
    EXPECT_EQ(measured, (std::vector<int>{1, 4, 7, 10}));
}

TEST(WhiteBalance, RectangleGainsAndRefusals) {
    MeasureCamera camera;
    __IMG_RECT inside{4, 4, 28, 20};
    Frames cast = mosaic(32, 24, 40, 100, 200);  // channel means 200, 100, 40
    EXPECT_EQ(camera._calc_white_balance(cast.raw.data(), &inside), 0);
    int g[3] = {};
    camera._digital_gain(&g[0], &g[1], &g[2]);
    EXPECT_EQ(g[0], 48);
    EXPECT_EQ(g[1], 96);
    EXPECT_EQ(g[2], 240);
    EXPECT_EQ(camera.pipeline().digitalGain[2].changed, 1);

    MeasureCamera grey;
    Frames card = mosaic(32, 24, 90, 90, 90);
    EXPECT_EQ(grey._calc_white_balance(card.raw.data(), &inside), 0);
    grey._digital_gain(&g[0], &g[1], &g[2]);
    EXPECT_EQ(g[0] + g[1] + g[2], 3 * 64);
    EXPECT_EQ(grey.pipeline().digitalGain[0].changed, 0);  // unchanged gains are not staged again

    __IMG_RECT left{-20, 0, 0, 24};
    EXPECT_EQ(camera._calc_white_balance(card.raw.data(), &left), -2);
    camera._digital_gain(&g[0], &g[1], &g[2]);
    EXPECT_EQ(g[2], 240);
    MeasureCamera mono(false);
    EXPECT_EQ(mono._calc_white_balance(card.raw.data(), nullptr), -4);
    Frames white = uniform(32, 24, 252);
    EXPECT_EQ(camera._calc_white_balance(white.raw.data(), nullptr), -3);
    Frames bad = card;
    bad.rawRecord()->signature[0] = 'X';
    EXPECT_EQ(camera._calc_white_balance(bad.raw.data(), nullptr), -2);
}

// The rectangle is given in the image as displayed: after a quarter turn it
// may reach below the unturned frame's height.
TEST(WhiteBalance, RectangleOfATurnedImage) {
    MeasureCamera camera;
    camera._set_rotate(1);
    Frames cast = mosaic(48, 16, 40, 100, 200);
    __IMG_RECT lower{2, 30, 14, 46};  // the turned image is 16 wide, 48 high
    EXPECT_EQ(camera._calc_white_balance(cast.raw.data(), &lower), 0);
    int g[3] = {};
    camera._digital_gain(&g[0], &g[1], &g[2]);
    EXPECT_EQ(g[0], 48);
    EXPECT_EQ(g[2], 240);
}

TEST(WhiteBalance, AutomaticMeasurementEvensACast) {
    MeasureCamera camera;
    Frames cast = Frames(64, 48, 8, [](int x, int y) {
        const unsigned level = 60 + x + 2 * y;  // a ramp: enough spread for a threshold
        const unsigned r = level * 8 / 10, g = level, b = level * 62 / 100;
        return (y % 2 == 0) ? (x % 2 == 0 ? r : g) : (x % 2 == 0 ? g : b);
    });
    ASSERT_EQ(camera._calc_white_balance(cast.raw.data(), nullptr), 0);
    int g[3] = {};
    camera._digital_gain(&g[0], &g[1], &g[2]);
    EXPECT_EQ(g[1], 64);
    EXPECT_NEAR(g[0], 64 / 0.62, 3);  // blue
    EXPECT_NEAR(g[2], 64 / 0.80, 3);  // red
}

TEST(FluorescenceGuide, GainSearchThenFinalMeasurement) {
    MeasureCamera plain;
    EXPECT_EQ(plain._fluorescence_guide(1, 0), -4);

    MeasureCamera camera(false);
    camera.sensorControl().longExposure.supported = 1;
    camera.sensorControl().longExposure.max = 100;
    camera.sensorControl().exposure.max = 1000;
    camera.sensorControl().analogGain.max = 600;
    camera._set_autoexposure(true);
    EXPECT_EQ(camera._fluorescence_guide(3, 7), 0);
    EXPECT_FALSE(camera.fluoGuide().running());
    EXPECT_EQ(camera._fluorescence_guide(1, 0), 0);
    EXPECT_EQ(camera.sensorControl().analogGain.value, 244);
    EXPECT_NEAR(camera.sensorControl().exposure.value, 990, 1);  // 9.9 ms, through single precision
    EXPECT_EQ(camera.exposureLoop().on, 0);
    const double lines = camera.sensorControl().exposure.value;

    // A dim sample: the gain climbs by 161 until it cannot, then the stretch
    // ends at the top level.
    Frames dim = uniform(80, 50, 20);
    std::vector<int> results;
    for (int i = 0; i < 4; ++i) results.push_back(camera._fluorescence(dim.rawRecord(), 1));
    EXPECT_EQ(results, (std::vector<int>{0, 0, 2, 0}));
    EXPECT_EQ(camera.sensorControl().analogGain.value, 566);
    int low = -1, high = -1;
    camera._stretch(&low, &high, nullptr);
    EXPECT_EQ(high, 20);

    // Final measurement: the lines x 80 / 20 (first top mean) x 255 / 20 (stretch top).
    Frames bright = uniform(80, 50, 80);
    EXPECT_EQ(camera._fluorescence_guide(2, 0), 0);
    EXPECT_EQ(camera._fluorescence(bright.rawRecord(), 1), 3);
    EXPECT_NEAR(camera._exposure(), lines * 51 * 0.01, 0.02);
    camera._stretch(&low, &high, nullptr);
    EXPECT_EQ(high, 255);
}

// A final measurement asked for on a record without pixels counts none:
// the exposure stays, the gain and stretch return as after any measurement.
TEST(FluorescenceGuide, FinalMeasurementOfAnEmptyRecord) {
    MeasureCamera camera(false);
    camera.sensorControl().longExposure.supported = 1;
    camera.sensorControl().longExposure.max = 100;
    camera.sensorControl().exposure.max = 1000;
    camera.exposureLoop().gainHistory[0] = 20;
    const float before = camera._exposure();
    Frames empty = uniform(8, 4, 50);
    ezInitImageHeader(empty.rawRecord(), 0, 0, 1, 8, 512, empty.raw.data() + 512, 0, 0);
    EXPECT_EQ(camera._fluorescence_guide(2, 0), 0);
    EXPECT_EQ(camera._fluorescence(empty.rawRecord(), 1), 3);
    EXPECT_FALSE(camera.fluoGuide().running());
    EXPECT_FLOAT_EQ(camera._exposure(), before);
    EXPECT_EQ(camera.sensorControl().analogGain.value, 244);
}

TEST(AutoGain, BrightEnoughStopsAtOnce) {
    MeasureCamera camera(false);
    Frames bright = uniform(80, 50, 200);
    EXPECT_EQ(camera._calc_auto_gain(bright.rawRecord(), 2), -3);  // not this frame
    EXPECT_EQ(camera._calc_auto_gain(bright.rawRecord(), 2), 0);
    EXPECT_EQ(camera.sensorControl().analogGain.value, 30);
    EXPECT_DOUBLE_EQ(camera.exposureLoop().gainHistory[0], 200.0);
}

TEST(FlatField, AReferenceEqualToTheFrameFlattensIt) {
    MeasureCamera camera;
    Frames f(40, 24, 8, [](int x, int y) { return 1 + testPattern(x, y, 8) % 250; });
    EXPECT_EQ(camera._calc_flat_field(f.raw.data(), true), -4);
    ASSERT_EQ(camera._calc_flat_field(f.raw.data(), false), 0);
    FramePipeline& pipeline = camera.pipeline();
    EXPECT_EQ(pipeline.flatFieldNew, 1);
    camera._set_ff_state(true);
    ASSERT_EQ(camera.finish(f, false), 0);
    EXPECT_EQ(pipeline.flatFieldNew, 0);
    for (int k = 0; k < 3; ++k) {
        const unsigned mean = pipeline.flatFieldReference->channel_mean[k];
        for (int y = 1; y < 24 - 2; ++y)  // what the decoder writes
            for (int x = 1; x < 40 - 1; ++x) ASSERT_EQ(f.at(x, y, k), mean) << x << y << k;
    }
    // A reference with zeros holds ones instead.
    Frames dark = uniform(40, 24, 0);
    ASSERT_EQ(camera._calc_flat_field(dark.raw.data(), false), 0);
    EXPECT_EQ(pipeline.flatFieldReference->data[100], 1);
}

TEST(Defects, SearchOnRequestThenCorrectionWhileOn) {
    MeasureCamera camera(false);
    const DefectList& defects = camera.pipeline().defects;
    Frames f(800, 400, 8,
             [](int x, int y) { return x == 300 && y == 200 ? 200 : 40 + (x % 2) * 10; });
    camera._calc_defect_correction();
    EXPECT_EQ(camera.pipeline().defects.step(f.rawRecord(), 0), 5);
    EXPECT_EQ(defects.count, 1);
    EXPECT_EQ(f.raw[512 + 200 * 800 + 300], 200);  // correction is off
    camera._set_dc_state(true);
    EXPECT_EQ(camera.pipeline().defects.step(f.rawRecord(), 1), 1);
    EXPECT_EQ(f.raw[512 + 200 * 800 + 300], 40);  // the same-colour sample two to the left
    Frames small = uniform(640, 480, 40);
    camera._calc_defect_correction();
    EXPECT_EQ(camera.pipeline().defects.step(small.rawRecord(), 0), -5);
    EXPECT_EQ(defects.count, -3);
}

// The camera's operations around its pipeline: refusals when removed, the
// setters' ranges and support, the still served by a matching frame.
TEST(CameraProcessing, SettersKeepTheirRangesAndSupport) {
    MeasureCamera mono(false), colour;
    mono._set_saturation(120);
    EXPECT_EQ(mono._saturation(), -4);
    EXPECT_EQ(mono._digital_gain(nullptr, nullptr, nullptr), -4);
    bool on = true;
    EXPECT_EQ(mono._monochrome(&on), -4);
    EXPECT_EQ(mono._color_enhancement(&on), -4);

    colour._set_saturation(256);
    colour._set_digital_gain(15, 241, 200);  // only the third is in range
    colour._set_gamma(151, 0);
    colour._set_gamma(19, 1);
    colour._set_aetarget(181);
    int g0 = 0, g1 = 0, g2 = 0;
    colour._digital_gain(&g0, &g1, &g2);
    EXPECT_EQ(colour._saturation(), 100);
    EXPECT_EQ(g0, 64);
    EXPECT_EQ(g1, 64);
    EXPECT_EQ(g2, 200);
    EXPECT_EQ(colour._gamma(0), 100);
    EXPECT_EQ(colour._gamma(1), 100);
    EXPECT_EQ(colour._aetarget(), 110);
    EXPECT_EQ(colour.pipeline().gamma[0].changed, 0);
    EXPECT_EQ(colour._gamma(3), -2);
    // All-channel gamma and contrast take any value the record can hold.
    colour._set_gamma(0);
    colour._set_contrast(300);
    EXPECT_EQ(colour._gamma(), 1);
    EXPECT_EQ(colour._contrast(), 255);
    EXPECT_EQ(colour.pipeline().contrast.staged.value, 255);
    int low = 0, high = 0;
    bool automatic = true;
    EXPECT_EQ(colour._set_stretch(20, 200, false, 1), 0);
    EXPECT_EQ(colour._stretch(&low, &high, &automatic, 1), 0);
    EXPECT_EQ(low, 20);
    EXPECT_EQ(high, 200);
    EXPECT_FALSE(automatic);
}

TEST(CameraProcessing, RemovedCameraRefusesAndStillNeedsAMatchingCroppedFrame) {
    MeasureCamera camera;
    Frames f(24, 16, 8, [](int x, int y) { return testPattern(x, y, 8); });
    const std::vector<unsigned char> untouched = f.image;
    camera._set_state(3);
    EXPECT_EQ(camera.finish(f, true), -1);
    EXPECT_EQ(f.image, untouched);
    camera._set_state(1);
    camera.stills().format = 0;
    camera.stills().arm("", 24, 16, 0);
    ASSERT_EQ(camera.finish(f, false), 0);
    EXPECT_EQ(camera.stills().armed(), 1);
    ASSERT_EQ(camera.finish(f, true), 0);
    EXPECT_EQ(camera.stills().armed(), 0);
}
