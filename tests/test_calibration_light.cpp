// Darks and biases need the lens covered: through the call surface on the
// simulated physical sensor, covered ones are stored at several exposures,
// gains and temperatures and lit ones refused with EZ_ELIT and the reason;
// a sequence of masters; FinishMaster's reasons; and the rules on frames
// made to show one kind of evidence each.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "calibration/light_check.h"
#include "sim_session.h"

namespace {
namespace fs = std::filesystem;

std::string tempDir() {
    std::string dir = fs::temp_directory_path() / "ezcam-light-XXXXXX";
    return mkdtemp(dir.data()) ? dir : std::string();
}

int mastersIn(const std::string& dir) {
    int n = 0;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(dir, ec)) n += f.path().extension() == ".fits";
    return n;
}

struct Taken {
    int refusedAt = 0;  // the frame AddMasterFrame refused (from 1); 0 none
    int finish = EZ_OK;
    std::string text;   // FinishMaster's path or reason
};

class CoveredMasters : public simsession::Session {
  protected:
    std::string name, library = tempDir();
    std::vector<unsigned char> raw;

    void TearDown() override {
        Session::TearDown();
        fs::remove_all(library);
    }
    void start(int product, int resolution, int depth, int gain, double celsius) {
        name = plug(product);
        ASSERT_FALSE(name.empty());
        camera(lastId).setFlatScene(true);
        camera(lastId).setThermal(celsius, -10, 20);
        const char* n = name.c_str();
        ASSERT_EQ(SetResolution(resolution, n), 0);
        ASSERT_EQ(SetRawDepth(depth, n), 0);
        ASSERT_EQ(SetAnaloggain(gain, n), 0);
        ASSERT_EQ(ResumeDevice(n), 0);
        ASSERT_EQ(SetCalibrationLibrary(library.c_str(), n), 0);
        raw.resize(static_cast<size_t>(RecvMemSize(n)));
    }
    bool read(EzFrameInfo& info) {
        for (int tries = 0; tries < 10; ++tries) {
            const int r = GetRawDataInfo(raw.data(), static_cast<int>(raw.size()), &info, name.c_str());
            if (r == 0 || r == 1) return true;
        }
        return false;
    }
    // Exposure 0: the shortest.
    void expose(double ms) {
        float low = 0, high = 0, step = 0;
        ASSERT_EQ(GetExposureRange(&low, &high, &step, name.c_str()), 0);
        ASSERT_EQ(SetExposure(ms > 0 ? static_cast<float>(ms) : low, name.c_str()), 0);
        EzFrameInfo info{};
        for (int i = 0; i < 2; ++i) ASSERT_TRUE(read(info));  // frames under way
    }
    Taken take(int kind, const char* sensor, double ms, int frames = 4) {
        Taken t;
        EXPECT_EQ(SimSetSensor(lastId, sensor), 0);
        expose(ms);
        const char* n = name.c_str();
        EXPECT_EQ(BeginMaster(kind, "", n), EZ_OK);
        EzFrameInfo info{};
        for (int i = 0; i < frames; ++i) {
            EXPECT_TRUE(read(info));
            const int r = AddMasterFrame(raw.data(), &info, n);
            if (r != EZ_OK) {
                EXPECT_EQ(r, EZ_ELIT);
                t.refusedAt = i + 1;
                break;
            }
        }
        char path[4096] = "";
        t.finish = FinishMaster(path, sizeof path, n);
        t.text = path;
        return t;
    }
};

TEST_F(CoveredMasters, CoveredOnesAreStoredAndLitOnesRefusedWithTheEvidence) {
    constexpr int kMono = 0xc00a, kColour = 0xc009, kColourDeep = 0xc005;
    struct Row {
        int product, resolution, depth, gain;
        double celsius;
        bool biasFirst;  // a covered bias in the library first
        int kind;
        double ms;
        const char* sensor;
        int refusedAt;         // -1: stored; 0: refused by FinishMaster only
        const char* evidence;  // in the reason
    } rows[] = {
        // The shortest exposure with the light on: 55 DN of light, shaded.
        {kMono, 3, 16, 30, 25, false, EZ_MASTER_BIAS, 0, "light=1", 1, "the centre is"},
        {kMono, 3, 16, 30, 25, false, EZ_MASTER_BIAS, 0, "light=0", -1, ""},
        {kMono, 3, 16, 119, 45, true, EZ_MASTER_DARK, 20, "light=0", -1, ""},
        {kMono, 3, 8, 30, 25, true, EZ_MASTER_DARK, 20, "light=0", -1, ""},
        // Long on a warm sensor: 5600 electrons of dark current, hot pixels full.
        {kMono, 2, 16, 30, 60, true, EZ_MASTER_DARK, 3000, "light=0", -1, ""},
        {kMono, 2, 16, 30, 25, false, EZ_MASTER_DARK, 3000, "light=0.001", 1, "the centre is"},
        // Saturated at the full well, flat: only the series' noise shows it.
        {kMono, 2, 16, 30, 25, true, EZ_MASTER_DARK, 200, "light=1", 0, "vary by only"},
        {kColour, 2, 16, 30, 25, false, EZ_MASTER_BIAS, 0, "light=1", 1, "colour channels differ"},
        {kColour, 2, 16, 140, 50, true, EZ_MASTER_DARK, 29, "light=0", -1, ""},
        {kColourDeep, 2, 16, 30, 25, false, EZ_MASTER_DARK, 20, "light=1", 1, "top of the range"},
        {kColourDeep, 2, 16, 30, 25, true, EZ_MASTER_DARK, 20, "light=0", -1, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.product) + " res " + std::to_string(r.resolution) + " " +
                     std::to_string(r.depth) + "-bit gain " + std::to_string(r.gain) + " " +
                     std::to_string(r.celsius) + " C kind " + std::to_string(r.kind) + " " +
                     std::to_string(r.ms) + " ms " + r.sensor);
        start(r.product, r.resolution, r.depth, r.gain, r.celsius);
        if (r.biasFirst) {
            const Taken bias = take(EZ_MASTER_BIAS, "light=0", 0);
            ASSERT_EQ(bias.finish, EZ_OK) << bias.text;
        }
        const int before = mastersIn(library);
        const Taken t = take(r.kind, r.sensor, r.ms);
        if (r.refusedAt < 0) {
            EXPECT_EQ(t.finish, EZ_OK) << t.text;
            EXPECT_EQ(t.refusedAt, 0);
            EXPECT_TRUE(fs::exists(t.text)) << t.text;
        } else {
            EXPECT_EQ(t.finish, EZ_ELIT) << t.text;
            EXPECT_EQ(t.refusedAt, r.refusedAt);
            EXPECT_NE(t.text.find(r.evidence), std::string::npos) << t.text;
            EXPECT_NE(t.text.find("cover the lens"), std::string::npos) << t.text;
            EXPECT_EQ(mastersIn(library), before);
        }
        SuspendDevice(name.c_str());
        unplug(lastId);
        fs::remove_all(library);
    }
}

TEST_F(CoveredMasters, ALitDarkBetweenCoveredMastersIsRefusedAndTheRestIsUsed) {
    start(0xc00a, 3, 16, 30, 25);
    const char* n = name.c_str();
    ASSERT_EQ(take(EZ_MASTER_BIAS, "light=0", 0).finish, EZ_OK);

    // Lit: refused at its first frame, at every frame after it, and at the end.
    ASSERT_EQ(SimSetSensor(lastId, "light=1"), 0);
    expose(10);
    ASSERT_EQ(BeginMaster(EZ_MASTER_DARK, "", n), EZ_OK);
    EzFrameInfo info{};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(read(info));
        EXPECT_EQ(AddMasterFrame(raw.data(), &info, n), EZ_ELIT) << "frame " << i + 1;
    }
    char text[512];
    EXPECT_EQ(FinishMaster(text, sizeof text, n), EZ_ELIT);
    EXPECT_EQ(std::string(text).rfind("Dark refused at frame 1, its frames show light: the centre is", 0), 0u)
        << text;
    EXPECT_EQ(FinishMaster(text, sizeof text, n), EZ_ERANGE) << "the refused master is gone";
    EXPECT_EQ(mastersIn(library), 1);

    const Taken dark = take(EZ_MASTER_DARK, "light=0", 10);
    ASSERT_EQ(dark.finish, EZ_OK) << dark.text;

    // At 20 ms the covered dark of 10 ms is scaled over the covered bias.
    expose(20);
    ASSERT_EQ(SetCalibrationState(true, n), 0);
    char darkFile[4096], biasFile[4096];
    ASSERT_EQ(GetCalibrationMaster(EZ_MASTER_DARK, darkFile, sizeof darkFile, n), 0);
    ASSERT_EQ(GetCalibrationMaster(EZ_MASTER_BIAS, biasFile, sizeof biasFile, n), 0);
    EXPECT_EQ(std::string(darkFile), dark.text);
    EXPECT_NE(std::string(biasFile).find("/bias_"), std::string::npos) << biasFile;
    std::vector<char> report(1 << 16);
    ASSERT_EQ(GetCalibrationReport(report.data(), static_cast<int>(report.size()), n), 0);
    const std::string listing = report.data();
    EXPECT_NE(listing.find("the dark is scaled: the library has no dark of 19.97"), std::string::npos) << listing;
    EXPECT_NE(listing.find("as bias + (dark - bias) x 2.0"), std::string::npos) << listing;
}

TEST_F(CoveredMasters, FinishMasterSaysWhyOnEveryFailure) {
    start(0xc00a, 3, 16, 30, 25);
    const char* n = name.c_str();
    char text[512];
    EXPECT_EQ(FinishMaster(text, sizeof text, "no such camera"), EZ_ENOCAM);
    EXPECT_STREQ(text, "No camera is called 'no such camera'.");
    EXPECT_EQ(FinishMaster(text, sizeof text, n), EZ_ERANGE);
    EXPECT_STREQ(text, "No master is being taken: BeginMaster comes first.");

    ASSERT_EQ(SimSetSensor(lastId, "light=0"), 0);
    expose(10);
    EzFrameInfo info{};
    ASSERT_EQ(BeginMaster(EZ_MASTER_DARK, "", n), EZ_OK);
    ASSERT_TRUE(read(info));
    ASSERT_EQ(AddMasterFrame(raw.data(), &info, n), EZ_OK);
    EXPECT_EQ(FinishMaster(text, sizeof text, n), EZ_ERANGE);
    EXPECT_STREQ(text, "A dark needs at least 2 frames; it has 1.");

    // A flat with no offset in the library; the reason cut to the buffer.
    ASSERT_EQ(SimSetSensor(lastId, "light=1"), 0);
    ASSERT_EQ(BeginMaster(EZ_MASTER_FLAT, "10x", n), EZ_OK);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(read(info));
        ASSERT_EQ(AddMasterFrame(raw.data(), &info, n), EZ_OK) << "a flat needs light";
    }
    char shortText[24];
    EXPECT_EQ(FinishMaster(shortText, sizeof shortText, n), EZ_EIO);
    EXPECT_STREQ(shortText, "The flat could not be m");
    EXPECT_EQ(FinishMaster(text, sizeof text, n), EZ_EIO) << "the frames are kept";
    EXPECT_NE(std::string(text).find("take one before the flat."), std::string::npos) << text;
    EXPECT_STREQ(StatusName(EZ_ELIT), "EZ_ELIT");
}

// ---- The rules on frames made for them --------------------------------------------------

// A covered monochrome sensor: offset, pixel offsets, noise and hot pixels;
// `glow` DN more towards the corners (amplifier glow).
std::vector<float> coveredFrame(int w, int h, double offset, double noise, double glow, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> unit;
    std::vector<float> f(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double dx = 2.0 * x / w - 1, dy = 2.0 * y / h - 1;
            double v = offset + noise * unit(rng) + glow * dx * dx * dy * dy;
            if (rng() % 5000 == 0) v += 4000;  // hot
            f[static_cast<size_t>(y) * w + x] = static_cast<float>(v);
        }
    return f;
}

TEST(LightRules, LevelsAndNoiseAgainstTheLibrarysCoveredMasters) {
    constexpr int w = 256, h = 192;
    using calib::CappedReference;
    const auto seen = [&](const std::vector<float>& f) { return calib::measureLevels(f, w, h, 16, 0); };
    const auto master = [&](calib::Kind kind, double ms, double level) {
        return CappedReference::Master{kind, ms, kind == calib::Kind::Bias ? "bias.fits" : "dark.fits",
                                       {level, 0.1}};
    };
    const CappedReference none;
    CappedReference underBias;  // frames longer than the bias
    underBias.bias = master(calib::Kind::Bias, 0.04, 1024);
    CappedReference biasOnly = underBias;  // another bias
    biasOnly.ceilings = {*biasOnly.bias};
    CappedReference darkAt20 = underBias;
    darkAt20.ceilings = {master(calib::Kind::Dark, 20, 1100)};
    CappedReference darkWithoutBias;
    darkWithoutBias.ceilings = {master(calib::Kind::Dark, 20, 1100)};

    struct Row {
        const char* what;
        double offset, noise, glow;
        double temporal;  // frame-to-frame noise; 0: the frame's own
        const CappedReference* library;
        const char* shown;  // "" nothing
    } rows[] = {
        {"covered, hot pixels and corner glow", 1024, 32, 600, 0, &none, ""},
        {"a flat level of light seen alone", 1100, 32, 0, 0, &none, ""},
        {"that level over the library's bias", 1100, 32, 0, 0, &biasOnly, "above the 1024 DN of the bias"},
        {"a bias level within a quarter of the noise", 1030, 32, 0, 0, &biasOnly, ""},
        {"twice the dark signal of the dark at 20 ms", 1176, 32, 0, 0, &darkAt20, ""},
        {"three times it", 1254, 32, 0, 0, &darkAt20, "above the 1100 DN of the dark of 20 ms"},
        {"three times it, no bias to tell the dark signal", 1254, 32, 0, 0, &darkWithoutBias, ""},
        {"48000 DN over the bias with its shot noise", 49024, 620, 0, 620, &underBias, ""},
        {"48000 DN over the bias with read noise only", 49024, 32, 0, 32, &underBias, "vary by only 32"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const calib::FrameLevels f = seen(coveredFrame(w, h, r.offset, r.noise, r.glow, 7));
        const std::string shown =
            calib::lightShown(f, r.temporal > 0 ? r.temporal : f.noise, r.temporal > 0, 16, *r.library);
        if (*r.shown)
            EXPECT_NE(shown.find(r.shown), std::string::npos) << shown;
        else
            EXPECT_EQ(shown, "");
    }
}

TEST(LightRules, ColourAndShadingOfRawSamples) {
    // 8- and 16-bit raw frames: a colour cast and a vignetted light, each
    // refused alone; quantised covered 8-bit samples pass.
    constexpr int w = 128, h = 96;
    for (int depth : {8, 16}) {
        SCOPED_TRACE(depth);
        const int bytes = depth / 8;
        const double scale = depth == 16 ? 16 : 1 / 16.0;  // the 12-bit converter's unit
        std::mt19937 rng(3);
        std::normal_distribution<double> unit;
        const auto frame = [&](double red, double vignette) {
            std::vector<unsigned char> raw(static_cast<size_t>(w) * h * bytes);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const double dx = 2.0 * x / w - 1, dy = 2.0 * y / h - 1;
                    const double light = ((x & 1) == 0 && (y & 1) == 0 ? red : 0) +
                                         vignette * (1 - 0.3 * (dx * dx + dy * dy));
                    const double v = std::clamp(std::lround((64 + light + 2 * unit(rng)) * scale) * 1.0, 0.0,
                                                depth == 16 ? 65535.0 : 255.0);
                    const size_t i = static_cast<size_t>(y) * w + x;
                    if (depth == 16) {
                        const uint16_t s = static_cast<uint16_t>(v);
                        std::memcpy(raw.data() + 2 * i, &s, 2);
                    } else {
                        raw[i] = static_cast<unsigned char>(v);
                    }
                }
            const calib::FrameLevels f = calib::measureLevels(raw.data(), w, h, depth, 1);
            return calib::lightShown(f, f.noise, false, depth, {});
        };
        EXPECT_EQ(frame(0, 0), "");
        EXPECT_NE(frame(40, 0).find("colour channels differ"), std::string::npos);
        EXPECT_NE(frame(0, 200).find("the centre is"), std::string::npos);
    }
}

}  // namespace
