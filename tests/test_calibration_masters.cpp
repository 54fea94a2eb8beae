// Calibration masters on a simulated physical sensor: the library's choice
// over a table of settings, masters that take the fixed pattern away, and a
// calibrated flat scene that is flat within its noise.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fitsio.h>

#include "calibration/library.h"
#include "processing/bayer.h"
#include "sim_session.h"

namespace {

std::string tempDir(const char* what) {
    std::string dir = std::filesystem::temp_directory_path() / ("ezcam-calib-" + std::string(what) + "-XXXXXX");
    return mkdtemp(dir.data()) ? dir : std::string();
}

calib::Master master(calib::Kind kind, int width, int gain, double ms, double celsius,
                     const std::string& label = "") {
    calib::Master m;
    m.kind = kind;
    m.at.model = "M";
    m.at.release = 0x100;
    m.at.width = width;
    m.at.height = 4;
    m.at.depth = 16;
    m.at.gain = gain;
    m.at.exposureMs = ms;
    m.at.hasTemperature = true;
    m.at.temperature = celsius;
    m.frames = 2;
    m.date = "2026-01-01T00:00:00";
    m.label = label;
    m.pixels.assign(static_cast<size_t>(width) * 4, kind == calib::Kind::Flat ? 1.0f : 100.0f);
    return m;
}

TEST(CalibrationLibrary, ChoosesTheMasterForTheSettings) {
    const std::string dir = tempDir("library");
    calib::Library library(dir);
    std::string file, error;
    using calib::Kind;
    // Darks at 10 and 100 ms, a bias, flats for two objectives, a cold dark.
    for (const calib::Master& m :
         {master(Kind::Dark, 8, 30, 10, 20), master(Kind::Dark, 8, 30, 100, 20),
          master(Kind::Bias, 8, 30, 0.1, 20), master(Kind::Dark, 8, 30, 10, -10),
          master(Kind::Flat, 8, 30, 5, 20, "10x"), master(Kind::Flat, 8, 30, 5, 20, "40x"),
          master(Kind::Dark, 8, 60, 10, 20)})
        ASSERT_TRUE(library.add(m, file, error)) << error;
    ASSERT_TRUE(calib::Library(dir).refresh(error)) << error;

    struct Row {
        int width, gain;
        double ms, celsius;
        const char* label;
        double darkMs;  // 0: no dark
        bool scaled;
        const char* flat;  // "" none
    } rows[] = {
        {8, 30, 10, 20, "10x", 10, false, "10x"},
        {8, 30, 10, 21.5, "40x", 10, false, "40x"},  // within the tolerance
        {8, 30, 10, -9, "", 10, false, ""},          // the cold dark; no unlabelled flat
        {8, 30, 50, 20, "10x", 100, true, "10x"},    // scaled over the bias
        {8, 60, 10, 20, "", 10, false, ""},          // the other gain's dark
        {8, 45, 10, 20, "10x", 0, false, ""},        // no dark or bias: no flat either
        {8, 30, 10, 5, "", 0, false, ""},            // too warm and too cold
        {16, 30, 10, 20, "10x", 0, false, ""},       // another geometry: nothing
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.width) + " gain " + std::to_string(r.gain) + " " +
                     std::to_string(r.ms) + " ms " + std::to_string(r.celsius) + " C " + r.label);
        calib::Conditions now = master(Kind::Dark, r.width, r.gain, r.ms, r.celsius).at;
        calib::Library lib(dir);
        ASSERT_TRUE(lib.refresh(error));
        const calib::Selection s = lib.select(now, {r.label, 2.0});
        EXPECT_EQ(s.dark.has_value(), r.darkMs > 0);
        if (s.dark) {
            EXPECT_DOUBLE_EQ(s.dark->master.at.exposureMs, r.darkMs);
            EXPECT_EQ(s.dark->master.at.gain, r.gain);
            EXPECT_NEAR(s.dark->master.at.temperature, r.celsius, 2.0);
        }
        EXPECT_EQ(s.scaled, r.scaled);
        EXPECT_EQ(s.bias.has_value(), r.scaled);
        if (r.scaled) {
            EXPECT_NEAR(s.darkScale, (50 - 0.1) / (100 - 0.1), 1e-9);
        }
        EXPECT_EQ(s.flat ? s.flat->master.label : std::string(), r.flat);
    }
    // A mismatched geometry is refused with its reason.
    EXPECT_EQ(calib::Library::refusal(master(Kind::Dark, 8, 30, 10, 20),
                                      master(Kind::Dark, 16, 30, 10, 20).at, {}),
              "8x4 frames, not 16x4");
    std::filesystem::remove_all(dir);
}

// A master keeps the camera it was taken with, index and all, in its file
// name and header, and reads it back from the index and from the file alone.
TEST(CalibrationLibrary, MastersKeepTheCamerasIndex) {
    const std::string dir = tempDir("camera");
    std::string file, error;
    calib::Master m = master(calib::Kind::Flat, 8, 30, 5, 20, std::string(80, 'L'));
    m.at.model = "QC500.";
    m.at.camera = "QC500.1";
    {
        calib::Library library(dir);
        ASSERT_TRUE(library.add(m, file, error)) << error;
    }
    EXPECT_NE(std::filesystem::path(file).filename().string().find("flat_QC500.1_8x4_"),
              std::string::npos)
        << file;
    // An 80-character label takes the long-string convention, which
    // fitsverify accepts once LONGSTRN announces it.
    EXPECT_EQ(std::system(("fitsverify -q '" + file + "' | grep -q 'verification OK'").c_str()), 0);
    for (bool withIndex : {true, false}) {
        SCOPED_TRACE(withIndex ? "from the index" : "from the file");
        if (!withIndex) std::filesystem::remove(dir + "/index.tsv");
        calib::Library library(dir);
        ASSERT_TRUE(library.refresh(error)) << error;
        ASSERT_EQ(library.entries().size(), 1u);
        const calib::Conditions& c = library.entries()[0].master.at;
        EXPECT_EQ(c.model, "QC500.");
        EXPECT_EQ(c.camera, "QC500.1");
        EXPECT_EQ(library.entries()[0].master.label, m.label);
    }
    std::filesystem::remove_all(dir);
}

// The pattern a master names is the filters' own; masters written before
// the name said so (no CFANAMES) named it as the decoders do and still read
// back as the code they were taken with.
TEST(CalibrationMaster, BayerPatternNamesTheFiltersAndOldNamesStillRead) {
    const std::string dir = tempDir("bayer");
    struct Row {
        int code;
        const char* filters;
    } rows[] = {{1, "BGGR"}, {2, "GBRG"}, {3, "RGGB"}, {4, "GRBG"}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.code);
        calib::Master m = master(calib::Kind::Bias, 8, 30, 0.1, 20);
        m.at.bayer = r.code;
        const std::string path = dir + "/m" + std::to_string(r.code) + ".fits";
        std::string error;
        ASSERT_TRUE(calib::writeMaster(path, m, error)) << error;
        fitsfile* f = nullptr;
        int status = 0;
        char pattern[FLEN_VALUE] = {};
        ASSERT_EQ(fits_open_diskfile(&f, path.c_str(), READWRITE, &status), 0);
        fits_read_key(f, TSTRING, "BAYERPAT", pattern, nullptr, &status);
        EXPECT_STREQ(pattern, r.filters);
        calib::Master back;
        ASSERT_TRUE(calib::readMaster(path, back, false, error)) << error;
        EXPECT_EQ(back.at.bayer, r.code);

        // The same file as written before: the decoders' name, no CFANAMES.
        fits_delete_key(f, "CFANAMES", &status);
        fits_update_key_str(f, "BAYERPAT", const_cast<char*>(bayer::codeName(r.code)), nullptr, &status);
        fits_close_file(f, &status);
        ASSERT_EQ(status, 0);
        ASSERT_TRUE(calib::readMaster(path, back, false, error)) << error;
        EXPECT_EQ(back.at.bayer, r.code);
    }
    std::filesystem::remove_all(dir);
}

// ---- Closed loop on the simulated sensor ------------------------------------------------

class CalibrationLoop : public simsession::Session {
  protected:
    static constexpr double kDnPerElectron = 0.1 * 16;  // k at 16 bits
    std::string name;
    std::vector<unsigned char> raw, image;

    void start(const char* sensor) {
        name = plug(0xc00a);  // monochrome, 16-bit raw
        ASSERT_FALSE(name.empty());
        ASSERT_EQ(SimSetSensor(lastId, sensor), 0);
        camera(lastId).setFlatScene(true);
        const char* n = name.c_str();
        ASSERT_EQ(SetResolution(3, n), 0);
        ASSERT_EQ(SetRawDepth(16, n), 0);
        ASSERT_EQ(SetExposure(10, n), 0);
        ASSERT_EQ(ResumeDevice(n), 0);
        raw.resize(static_cast<size_t>(RecvMemSize(n)));
        image.resize(raw.size() * 3);
        EzFrameInfo info{};
        for (int i = 0; i < 2; ++i) read(info);  // frames under way
    }
    void read(EzFrameInfo& info) {
        int result = -3;
        for (int tries = 0; tries < 10 && result != 0 && result != 1; ++tries)
            result = GetRawDataInfo(raw.data(), static_cast<int>(raw.size()), &info, name.c_str());
        ASSERT_TRUE(result == 0 || result == 1) << result;
    }
    void takeMaster(int kind, const char* light) {
        ASSERT_EQ(SimSetSensor(lastId, light), 0);
        EzFrameInfo info{};
        read(info);
        ASSERT_EQ(BeginMaster(kind, "", name.c_str()), EZ_OK);
        for (int i = 0; i < 16; ++i) {
            read(info);
            ASSERT_EQ(AddMasterFrame(raw.data(), &info, name.c_str()), EZ_OK);
        }
        char path[4096];
        ASSERT_EQ(FinishMaster(path, sizeof path, name.c_str()), EZ_OK);
    }
    // The samples of one 16-bit monochrome frame, without `cut` pixels around.
    static std::vector<double> samples(const unsigned char* buffer, int cut, int& width, int& height) {
        const auto* from = reinterpret_cast<const _ezImage*>(buffer);
        width = from->width - 2 * cut;
        height = from->height - 2 * cut;
        std::vector<double> out(static_cast<size_t>(width) * height);
        const unsigned char* data = buffer + from->header_size;
        for (int y = 0; y < height; ++y) {
            const auto* row =
                reinterpret_cast<const uint16_t*>(data + static_cast<size_t>(y + cut) * from->stride) + cut;
            for (int x = 0; x < width; ++x) out[static_cast<size_t>(y) * width + x] = row[x];
        }
        return out;
    }
    // The mean of 8 frames' samples, raw or through the pipeline (a
    // monochrome 16-bit frame comes out as its samples).
    std::vector<double> average(bool processed, int& width, int& height) {
        std::vector<double> sum;
        EzFrameInfo info{};
        for (int i = 0; i < 8; ++i) {
            read(info);
            const auto* r = reinterpret_cast<const _ezImage*>(raw.data());
            const _ezImage* from = r;
            if (processed) {
                EXPECT_EQ(DecodeRaw2Image(raw.data(), image.data(), name.c_str()), 0);
                from = reinterpret_cast<const _ezImage*>(image.data());
            }
            // The pipeline cuts the 4-pixel border away; so does the raw side.
            const int cut = processed ? 0 : 4;
            width = from->width - 2 * cut;
            height = from->height - 2 * cut;
            sum.resize(static_cast<size_t>(width) * height);
            for (int y = 0; y < height; ++y) {
                const auto* row = reinterpret_cast<const uint16_t*>(
                                      from->data + static_cast<size_t>(y + cut) * from->stride) + cut;
                for (int x = 0; x < width; ++x) sum[static_cast<size_t>(y) * width + x] += row[x] / 8.0;
            }
        }
        return sum;
    }
    // Fixed pattern of an averaged frame: the spread of each sample about
    // its neighbours' mean (slow shading left out); and its mean.
    static double pattern(const std::vector<double>& f, int w, int h, double& mean) {
        double s = 0, q = 0, m = 0;
        size_t n = 0;
        for (int y = 8; y + 8 < h; ++y)
            for (int x = 8; x + 8 < w; ++x) {
                const size_t i = static_cast<size_t>(y) * w + x;
                const double r = f[i] - (f[i - 1] + f[i + 1] + f[i - w] + f[i + w]) / 4;
                s += r, q += r * r, m += f[i], ++n;
            }
        mean = m / static_cast<double>(n);
        return std::sqrt(q / static_cast<double>(n) - (s / n) * (s / n));
    }
};

TEST_F(CalibrationLoop, MastersRemoveTheFixedPatternAndFlattenTheScene) {
    const std::string dir = tempDir("loop");
    // Strong offsets and responses, little temporal noise, no hot pixels.
    start("k=0.1,read=1,dsnu=60,prnu=0.1,hot=0,well=40000");
    ASSERT_EQ(SetExposure(150, name.c_str()), 0);  // about 25000 electrons
    const char* n = name.c_str();
    ASSERT_EQ(SetCalibrationLibrary(dir.c_str(), n), 0);
    takeMaster(EZ_MASTER_DARK, "light=0");
    takeMaster(EZ_MASTER_FLAT, "light=1");

    for (const char* light : {"light=0", "light=1"}) {
        SCOPED_TRACE(light);
        ASSERT_EQ(SimSetSensor(lastId, light), 0);
        int w = 0, h = 0, wc = 0, hc = 0;
        double mean = 0, meanCal = 0;
        ASSERT_EQ(SetCalibrationState(false, n), 0);
        const std::vector<double> plain = average(false, w, h);
        const double before = pattern(plain, w, h, mean);
        ASSERT_EQ(SetCalibrationState(true, n), 0);
        const std::vector<double> calibrated = average(true, wc, hc);
        ASSERT_EQ(wc, w);
        const double after = pattern(calibrated, w, h, meanCal);
        char path[4096];
        ASSERT_EQ(GetCalibrationMaster(EZ_MASTER_DARK, path, sizeof path, n), 0);
        EXPECT_NE(std::string(path).find(dir), std::string::npos);
        EXPECT_GE(before / after, 10.0) << before << " -> " << after;
        if (std::string(light) == "light=1") {
            // Flat within the noise: the rows' means spread no more than
            // the shot noise of a row's average allows.
            const double rowNoise = std::sqrt(meanCal * kDnPerElectron) /
                                    std::sqrt(8.0 * w);
            std::vector<double> rows;
            for (int y = 0; y < h; ++y) {
                double s = 0;
                for (int x = 0; x < w; ++x) s += calibrated[static_cast<size_t>(y) * w + x];
                rows.push_back(s / w);
            }
            double mr = 0, vr = 0;
            for (double r : rows) mr += r / h;
            for (double r : rows) vr += (r - mr) * (r - mr) / h;
            EXPECT_LT(std::sqrt(vr), 3 * rowNoise + 0.5) << "mean " << meanCal;
        }
    }
    std::filesystem::remove_all(dir);
}

// A frame read, then held while the settings change and newer frames
// arrive, is calibrated with the masters of its own settings.
TEST_F(CalibrationLoop, AHeldFrameIsCalibratedByItsOwnSettings) {
    const std::string dir = tempDir("held");
    start("k=0.1,read=1,dsnu=60,prnu=0,hot=0,well=40000,light=0");
    const char* n = name.c_str();
    ASSERT_EQ(SetExposure(20, n), 0);
    ASSERT_EQ(SetCalibrationLibrary(dir.c_str(), n), 0);
    takeMaster(EZ_MASTER_DARK, "light=0");  // the only master
    ASSERT_EQ(SetCalibrationState(true, n), 0);

    EzFrameInfo info{};
    read(info);
    const int gain = info.analog_gain;
    const std::vector<unsigned char> held = raw;
    ASSERT_EQ(SetAnaloggain(gain + 10, n), 0);  // no master of this gain
    for (int i = 0; i < 10 && info.analog_gain == gain; ++i) read(info);
    ASSERT_NE(info.analog_gain, gain);
    char path[4096] = "x";
    GetCalibrationMaster(EZ_MASTER_DARK, path, sizeof path, n);
    EXPECT_STREQ(path, "");  // nothing fits the latest frame

    int w = 0, h = 0, wc = 0, hc = 0;
    double mean = 0, meanCal = 0;
    const std::vector<double> plain = samples(held.data(), 4, w, h);
    const double before = pattern(plain, w, h, mean);
    std::vector<unsigned char> decoded(held.size() * 3);
    std::vector<unsigned char> copy = held;
    ASSERT_EQ(DecodeRaw2Image(copy.data(), decoded.data(), n), 0);
    const std::vector<double> calibrated = samples(decoded.data(), 0, wc, hc);
    const double after = pattern(calibrated, wc, hc, meanCal);
    ASSERT_EQ(wc, w);
    EXPECT_GE(before / after, 5.0) << before << " -> " << after;
    std::filesystem::remove_all(dir);
}

}  // namespace
