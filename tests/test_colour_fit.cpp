// CalcColorProfile on the simulator's colour chart: refused arguments and
// cameras, the chart not found, too dark or clipped, a second calibration
// on the same camera, and a fit that stores its profile, reports its
// progress and leaves the camera's settings as they were.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "sim_session.h"

namespace {

class ColourFit : public simsession::Session {
  protected:
    std::string dir;
    std::string name;
    void SetUp() override {
        // The scene and the sensor's colours are read when a camera is plugged.
        setenv("EZCAM_SIM_SCENE", "chart", 1);
        setenv("EZCAM_SIM_COLOUR", "0.70,0.25,0.05,0.15,0.75,0.10,0.05,0.30,0.65", 1);
        Session::SetUp();
        dir = std::filesystem::temp_directory_path() / "ezcam-colour-fit-XXXXXX";
        ASSERT_TRUE(mkdtemp(dir.data()));
        setenv("EZCAM_COLOUR_DIR", dir.c_str(), 1);
        name = colourCamera();
    }
    void TearDown() override {
        unsetenv("EZCAM_COLOUR_DIR");
        unsetenv("EZCAM_SIM_SCENE");
        unsetenv("EZCAM_SIM_COLOUR");
        std::filesystem::remove_all(dir);
        Session::TearDown();
    }
    // The colour camera at 640 x 480 raw, streaming, the chart well lit.
    std::string colourCamera(int product = 0xc004) {
        const std::string n = plug(product);
        SetResolution(2, n.c_str());
        SetAutoExposure(false, n.c_str());
        SetExposure(25, n.c_str());
        EXPECT_EQ(ResumeDevice(n.c_str()), EZ_OK);
        return n;
    }
    size_t profiles() const {
        size_t n = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) n += entry.is_regular_file();
        return n;
    }
};

TEST_F(ColourFit, RefusesArgumentsAndCamerasBeforeStoringAnything) {
    const char* c = name.c_str();
    EzColorFit fit;
    const __IMG_RECT outside = {600, 0, 700, 100}, tiny = {10, 10, 30, 20}, inverted = {300, 200, 100, 50},
                     negative = {-4, 0, 100, 100};
    const struct {
        const char* what;
        const __IMG_RECT* rect;
        const char* profile;
        int frames;
        const char* camera;
        int result;
        const char* why;  // a word the reason has
    } cases[] = {
        {"null camera", nullptr, "x", 0, nullptr, EZ_ENOCAM, "camera"},
        {"unknown camera", nullptr, "x", 0, "QC999.0", EZ_ENOCAM, "QC999.0"},
        {"rectangle beyond the frame", &outside, "x", 0, c, EZ_ERANGE, "640 x 480"},
        {"rectangle too small", &tiny, "x", 0, c, EZ_ERANGE, "24 x 16"},
        {"rectangle inside out", &inverted, "x", 0, c, EZ_ERANGE, "inside"},
        {"rectangle left of the frame", &negative, "x", 0, c, EZ_ERANGE, "inside"},
        {"name with a path", nullptr, "../up", 0, c, EZ_ERANGE, "name"},
        {"name off", nullptr, "off", 0, c, EZ_ERANGE, "name"},
        {"no frames", nullptr, "x", -1, c, EZ_ERANGE, "frames"},
        {"too many frames", nullptr, "x", 1001, c, EZ_ERANGE, "frames"},
    };
    for (const auto& t : cases) {
        std::memset(&fit, 0x55, sizeof fit);
        EXPECT_EQ(CalcColorProfile(t.rect, t.profile, t.frames, nullptr, nullptr, &fit, t.camera), t.result)
            << t.what;
        EXPECT_NE(std::string(fit.why).find(t.why), std::string::npos) << t.what << ": " << fit.why;
    }
    EXPECT_EQ(CalcColorProfile(nullptr, "x", 0, nullptr, nullptr, nullptr, c), EZ_ERANGE);
    EXPECT_EQ(profiles(), 0u);

    const std::string mono = colourCamera(0xc00a);
    EXPECT_EQ(CalcColorProfile(nullptr, "x", 0, nullptr, nullptr, &fit, mono.c_str()), EZ_ENOTSUP) << fit.why;
    EXPECT_STREQ(StatusName(EZ_ECHART), "EZ_ECHART");
    EXPECT_STREQ(StatusName(EZ_EBUSY), "EZ_EBUSY");
}

TEST_F(ColourFit, SaysWhenTheChartIsMissingTooDarkOrClipped) {
    const char* c = name.c_str();
    const __IMG_RECT background = {0, 0, 40, 50}, partly = {10, 10, 210, 110};
    const struct {
        const char* what;
        float exposure;
        const __IMG_RECT* rect;
        int result;
    } cases[] = {
        {"a corner of the background", 25, &background, EZ_ECHART},
        {"a few patches", 25, &partly, EZ_ECHART},
        {"a short exposure", 2, nullptr, EZ_EDARK},
        {"a long exposure", 100, nullptr, EZ_ECLIPPED},
    };
    for (const auto& t : cases) {
        SetExposure(t.exposure, c);
        const float exposure = GetExposure(c);
        EzColorFit fit;
        EXPECT_EQ(CalcColorProfile(t.rect, "x", 2, nullptr, nullptr, &fit, c), t.result) << t.what << ": " << fit.why;
        EXPECT_GT(std::strlen(fit.why), 10u) << t.what;
        EXPECT_EQ(GetExposure(c), exposure) << t.what;
    }
    EXPECT_EQ(profiles(), 0u);
}

struct Progress {
    std::vector<int> done;
    int total = 0;
    std::string camera;
    int nested = EZ_OK;
};

TEST_F(ColourFit, StoresTheFittedProfileAndRestoresTheSettings) {
    const char* c = name.c_str();
    SetColorEnhancement(false, c);
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    ASSERT_EQ(SaveColorProfile("before", identity, nullptr, 0, c), EZ_OK);
    ASSERT_EQ(SetColorProfile("before", c), EZ_OK);
    SetAutoExposure(true, c);
    SetExposure(25, c);
    const float exposure = GetExposure(c);

    Progress progress;
    progress.camera = name;
    // A second calibration asked for from inside the first is refused.
    auto report = [](int done, int total, void* user) {
        auto* p = static_cast<Progress*>(user);
        if (p->done.empty()) {
            EzColorFit other;
            p->nested = CalcColorProfile(nullptr, "other", 0, nullptr, nullptr, &other, p->camera.c_str());
        }
        p->done.push_back(done);
        p->total = total;
    };
    EzColorFit fit;
    const __IMG_RECT whole = {0, 0, 640, 480};
    ASSERT_EQ(CalcColorProfile(&whole, "LED 10x", 3, report, &progress, &fit, c), EZ_OK) << fit.why;
    EXPECT_EQ(progress.nested, EZ_EBUSY);
    EXPECT_EQ(progress.total, 2 * 3 + 5);
    ASSERT_EQ(progress.done.size(), static_cast<size_t>(progress.total));
    for (size_t i = 0; i < progress.done.size(); ++i) EXPECT_EQ(progress.done[i], static_cast<int>(i) + 1);

    EXPECT_STREQ(fit.profile, "LED 10x");
    EXPECT_EQ(std::filesystem::path(fit.path).filename(), "LED 10x.profile");
    EXPECT_TRUE(std::filesystem::exists(fit.path));
    EXPECT_EQ(fit.chart.right, 640);
    EXPECT_LT(fit.delta_e_mean_after, 1.5);
    EXPECT_LT(fit.delta_e_max_after, 5);
    EXPECT_GT(fit.delta_e_mean_before, 2 * fit.delta_e_mean_after);
    double mean = 0, max = 0;
    for (const EzColorPatch& p : fit.patches) {
        mean += p.delta_e_after / 24;
        max = std::max(max, p.delta_e_after);
        for (double v : p.reference_rgb) EXPECT_TRUE(v > -0.1 && v < 1);  // the chart lies about within sRGB
    }
    EXPECT_NEAR(mean, fit.delta_e_mean_after, 1e-9);
    EXPECT_EQ(max, fit.delta_e_max_after);
    // The white patch's colour, balanced, is grey.
    const double* white = fit.patches[18].camera_rgb;
    EXPECT_NEAR(white[0] * fit.white_gains[0] / (white[1] * fit.white_gains[1]), 1, 0.05);

    char names[256] = {}, inUse[64] = {};
    GetColorProfiles(names, sizeof names, c);
    EXPECT_STREQ(names, "LED 10x\nbefore\n");
    GetColorProfile(inUse, sizeof inUse, c);
    EXPECT_STREQ(inUse, "before");
    bool on = false;
    GetColorEnhancement(&on, c);
    EXPECT_FALSE(on);
    GetAutoExposure(&on, c);
    EXPECT_TRUE(on);
    EXPECT_EQ(GetExposure(c), exposure);
    // And it is the profile a program switches on.
    EXPECT_EQ(SetColorProfile("LED 10x", c), EZ_OK);
}

}  // namespace
