// Parameter sets on simulated cameras: the bytes of the files, loading them
// back in order, missing and damaged sets, interrupted saves, and the sets
// surviving an unplug and a replug.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camera/cam_bayer.h"
#include "device/registry.h"
#include "processing/tone.h"
#include "sim_session.h"

using simsession::Session;
using simsession::Transfer;

namespace {
using Bytes = std::vector<unsigned char>;

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}
int le16(const Bytes& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8;
}
Bytes table(void (*build)(int, unsigned char*, int), int value) {
    Bytes t(256);
    build(value, t.data(), 256);
    return t;
}
Bytes staged(const SoftWareValue& setting) {
    return Bytes(setting.lut2, setting.lut2 + 256);
}

class Sets : public Session {
  protected:
    void SetUp() override {
        Session::SetUp();
        char pattern[] = "/tmp/ezcam-sets-XXXXXX";
        dir = std::string(mkdtemp(pattern)) + "/";
        InitDevice(&Session::hotPlug, this, dir.c_str());
    }
    void TearDown() override {
        Session::TearDown();
        std::filesystem::remove_all(dir);
    }
    std::shared_ptr<CamBayer> object(const std::string& name) {
        return ezcam::findCamera(name.c_str());
    }
    // The directory's files and their sizes.
    std::map<std::string, uintmax_t> files() {
        std::map<std::string, uintmax_t> out;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            out[entry.path().filename().string()] = entry.file_size();
        return out;
    }
    // A camera whose every saved setting differs from what a fresh one has.
    void changeEverything(const std::string& name) {
        const char* c = name.c_str();
        SetMonochrome(true, c);
        SetAutoExposure(true, c);
        SetColorEnhancement(true, c);
        SetAETarget(150, c);
        SetFlip(2, c);
        ASSERT_EQ(object(name)->_set_resolution(2, true), 0);  // on the sensor at once
        ASSERT_EQ(SetPixelclock(2, c), 0);
        ASSERT_EQ(SetAnaloggain(50, c), 0);
        ASSERT_EQ(SetExposure(20.0f, c), 0);
        ASSERT_EQ(SetRoi(40, 24, 320, 200, c), 0);
        SetImageFormat(11, c);
        processing(name, {120, 80, 140}, 150, 130, {70, 60, 90});
    }
    void processing(const std::string& name, std::array<int, 3> gamma, int contrast, int saturation,
                    std::array<int, 3> gains) {
        const char* c = name.c_str();
        for (int i = 0; i < 3; ++i) SetGammaEx(gamma[i], i, c);
        SetContrast(contrast, c);
        SetSaturation(saturation, c);
        SetChannelGain(gains[0], gains[1], gains[2], c);
    }
    // A frame processed with the camera's settings in force.
    Bytes process(const std::string& name) {
        Bytes raw(512 + 64 * 48), image(512 + 64 * 48 * 3 + kStatisticsBytes);
        for (size_t i = 512; i < raw.size(); ++i) raw[i] = static_cast<unsigned char>(i * 37 % 251);
        ezInitImageHeader(reinterpret_cast<_ezImage*>(raw.data()), 64, 48, 1, 8, 512,
                          raw.data() + 512, 0, 0);
        EXPECT_EQ(DecodeRaw2Image(raw.data(), image.data(), name.c_str()), 0);
        return Bytes(image.begin() + 512, image.end() - kStatisticsBytes);
    }
    // Everything a set holds, as the camera object and the sensor have it.
    std::vector<int> snapshot(const std::string& name, int id) {
        auto cam = object(name);
        sim::SimCamera& sensor = camera(id);
        bool roi = false;
        cam->_roi_state(&roi);
        return {cam->pipeline().monochrome,
                cam->exposureLoop().on,
                cam->pipeline().colorEnhancement,
                roi,
                cam->pipeline().gamma[0].value,
                cam->pipeline().gamma[1].value,
                cam->pipeline().gamma[2].value,
                cam->pipeline().contrast.value,
                cam->exposureLoop().target.value,
                cam->pipeline().saturation.value,
                cam->pipeline().digitalGain[0].value,
                cam->pipeline().digitalGain[1].value,
                cam->pipeline().digitalGain[2].value,
                cam->pipeline().flip,
                cam->sensorControl().resolution.value,
                cam->sensorControl().pixelClock.value,
                cam->sensorControl().rawDepth.value,
                cam->sensorControl().blackLevel.value,
                cam->sensorControl().exposure.value,
                cam->sensorControl().longExposure.value,
                cam->sensorControl().urbRoiOrigin.value,
                cam->sensorControl().urbRoiOrigin.index,
                cam->sensorControl().urbRoiSize.value,
                cam->sensorControl().urbRoiSize.index,
                cam->stills().format,
                cam->sensorControl().analogGain.value,
                sensor.resolutionMode(),
                sensor.clockMode(),
                static_cast<int>(sensor.exposureLines())};
    }

    std::string dir;
};
}  // namespace

TEST_F(Sets, SavedBytesFollowTheLayout) {
    const std::string name = plug(0xc004, 0xa100);
    changeEverything(name);
    auto cam = object(name);
    EXPECT_EQ(SaveConfiguration(2, name.c_str()), 0);

    EXPECT_EQ(files(), (std::map<std::string, uintmax_t>{{"QC500.", 4}, {"QC500.c.txt", 38}}));
    EXPECT_EQ(readBytes(dir + "QC500."), (Bytes{2, 0, 0, 0}));
    const Bytes b = readBytes(dir + "QC500.c.txt");
    ASSERT_EQ(b.size(), 38u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 12),
              (Bytes{1, 1, 1, 1, 120, 150, 150, 130, 70, 60, 90, 2}));
    EXPECT_EQ(le16(b, 12), 2);  // resolution index
    EXPECT_EQ(le16(b, 14), 2);  // clock index
    EXPECT_EQ(le16(b, 16), 8);
    EXPECT_EQ(le16(b, 18), cam->sensorControl().blackLevel.value);
    EXPECT_EQ(le16(b, 20), cam->sensorControl().exposure.value);
    EXPECT_EQ(le16(b, 22), 0);
    EXPECT_EQ(le16(b, 24), 40);
    EXPECT_EQ(le16(b, 26), 24);
    EXPECT_EQ(le16(b, 28), 328);
    EXPECT_EQ(le16(b, 30), 208);
    EXPECT_EQ(le16(b, 32), 11);
    EXPECT_EQ(le16(b, 34), 50);
    EXPECT_EQ(b[36], 80);
    EXPECT_EQ(b[37], 140);
    EXPECT_EQ(GetCurrentConfiguration(name.c_str()), 2);

    // Indices without a letter are refused: nothing is written.
    EXPECT_EQ(SaveConfiguration(26, name.c_str()), -2);
    EXPECT_EQ(SaveConfiguration(-1, name.c_str()), -2);
    EXPECT_EQ(LoadConfiguration(-3, name.c_str()), -2);
    EXPECT_EQ(files().size(), 2u);
    EXPECT_EQ(GetCurrentConfiguration(name.c_str()), 2);
    EXPECT_EQ(SaveConfiguration(0, "nobody"), -1);
    EXPECT_EQ(LoadConfiguration(0, "nobody"), -1);
    EXPECT_EQ(GetCurrentConfiguration("nobody"), -1);
}

TEST_F(Sets, LoadRestoresEverythingInOrder) {
    const std::string name = plug(0xc004, 0xa100);
    const char* c = name.c_str();
    changeEverything(name);
    auto cam = object(name);
    const std::vector<int> saved = snapshot(name, lastId);
    ASSERT_EQ(SaveConfiguration(4, c), 0);
    ASSERT_EQ(SaveConfiguration(1, c), 0);  // another set becomes current

    // Back to a fresh camera's settings, then the set again.
    SetMonochrome(false, c);
    SetAutoExposure(false, c);
    SetColorEnhancement(false, c);
    SetAETarget(110, c);
    SetFlip(0, c);
    SetRoi(0, 0, 100, 100, c);
    SetRoiState(false, c);
    SetImageFormat(8, c);
    SetResolution(0, c);
    SetPixelclock(0, c);
    SetAnaloggain(30, c);
    SetExposure(5.0f, c);
    processing(name, {100, 100, 100}, 128, 100, {64, 64, 64});
    const Bytes neutral = process(name);
    camera(lastId).clearTrace();

    ASSERT_EQ(LoadConfiguration(4, c), 0);
    EXPECT_EQ(snapshot(name, lastId), saved);
    EXPECT_EQ(GetCurrentConfiguration(c), 4);

    // The next frame is processed as with the same settings made by hand.
    const Bytes loaded = process(name);
    EXPECT_NE(loaded, neutral);
    processing(name, {100, 100, 100}, 128, 100, {64, 64, 64});
    process(name);
    processing(name, {120, 80, 140}, 150, 130, {70, 60, 90});
    EXPECT_EQ(process(name), loaded);

    // On the wire: gain, clock, resolution at once, then the exposure.
    std::vector<std::string> steps;
    for (const Transfer& t : transfers(lastId)) {
        if (t.request == 0xb7 && t.index == 0x35) steps.push_back("gain");
        if (t.request == 0xb5) steps.push_back("clock");
        if (t.request == 0xb4) steps.push_back("resolution");
        if (t.request == 0xb7 && t.index == 9) steps.push_back("exposure");
    }
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.front(), "gain");
    EXPECT_EQ(steps.back(), "exposure");
    steps.erase(std::remove(steps.begin(), steps.end(), "exposure"), steps.end());
    EXPECT_EQ(steps, (std::vector<std::string>{"gain", "clock", "resolution"}));
}

TEST_F(Sets, RegionFlagOnLoad) {
    const std::string name = plug(0xc004, 0xa100);
    const char* c = name.c_str();
    auto cam = object(name);
    // A region saved at another resolution than the one in force comes back
    // after the switch, as saved.
    SetResolution(1, c);
    SetRoi(16, 8, 200, 100, c);
    SaveConfiguration(0, c);
    SetResolution(0, c);
    LoadConfiguration(0, c);
    EXPECT_EQ(GetResolution(c), 1);
    EXPECT_EQ(cam->sensorControl().roiRequested, 1);
    int x = 0, y = 0, width = 0, height = 0;
    GetRoi(&x, &y, &width, &height, c);
    EXPECT_EQ(std::vector<int>({x, y, width, height}), std::vector<int>({16, 8, 200, 100}));

    // Flag 0 loaded while the sensor runs a region: the window is switched
    // off by the set's own resolution, sent again before the next frame
    // (not by falling back to the first resolution, which the set never named).
    SetRoiState(false, c);
    SaveConfiguration(1, c);
    cam->sensorControl().roiActive = 1;
    cam->sensorControl().resolutionPending = 0;
    LoadConfiguration(1, c);
    EXPECT_EQ(cam->sensorControl().roiActive, 0);
    EXPECT_EQ(cam->sensorControl().roiRequested, 0);
    EXPECT_EQ(GetResolution(c), 1);
    EXPECT_EQ(cam->sensorControl().resolutionPending, 1);
}

TEST_F(Sets, MonochromeModelsStoreButDoNotBuildColourTables) {
    const std::string name = plug(0xc006);
    auto cam = object(name);
    Bytes set(38, 0);
    set[4] = 110;  // gamma
    set[5] = 128;
    set[6] = 110;
    set[7] = 140;  // saturation
    set[8] = set[9] = set[10] = 80;
    set[16] = 8;
    set[20] = 44;  // 300 lines
    set[21] = 1;
    set[34] = 30;
    set[36] = set[37] = 100;
    writeBytes(dir + "QC500M.b.txt", set);
    ASSERT_EQ(LoadConfiguration(1, name.c_str()), 0);
    EXPECT_EQ(cam->pipeline().saturation.value, 140);
    EXPECT_EQ(cam->pipeline().digitalGain[0].value, 80);
    EXPECT_EQ(cam->pipeline().saturation.changed, 0);
    EXPECT_EQ(cam->pipeline().digitalGain[0].changed, 0);
    EXPECT_EQ(cam->pipeline().gamma[0].changed, 1);
    EXPECT_EQ(staged(cam->pipeline().gamma[0]), table(__matrix_gamma, 110));
    EXPECT_EQ(cam->sensorControl().exposure.value, 300);
    EXPECT_EQ(readBytes(dir + "QC500M."), (Bytes{1, 0, 0, 0}));
}

TEST_F(Sets, MissingOrDamagedSetsChangeNothing) {
    const std::string name = plug(0xc004, 0xa100);
    const char* c = name.c_str();
    EXPECT_EQ(GetCurrentConfiguration(c), 0);  // no current-set file yet
    SetResolution(1, c);
    SetAnaloggain(60, c);
    SetExposure(12.0f, c);
    SetFlip(1, c);
    const float exposure = GetExposure(c);
    camera(lastId).clearTrace();

    // Missing: reported, nothing sent, nothing changed; the index is recorded.
    EXPECT_EQ(LoadConfiguration(5, c), -3);
    EXPECT_TRUE(transfers(lastId).empty());
    EXPECT_EQ(GetResolution(c), 1);
    EXPECT_EQ(GetPixelclock(c), 0);
    EXPECT_EQ(GetAnaloggain(c), 60);
    EXPECT_FLOAT_EQ(GetExposure(c), exposure);
    EXPECT_EQ(GetFlip(c), 1);
    EXPECT_EQ(GetCurrentConfiguration(c), 5);
    EXPECT_EQ(files(), (std::map<std::string, uintmax_t>{{"QC500.", 4}}));

    // Shorter or longer than a set: refused as missing.
    writeBytes(dir + "QC500.d.txt", Bytes(20, 0));
    EXPECT_EQ(LoadConfiguration(3, c), -3);
    writeBytes(dir + "QC500.d.txt", Bytes(39, 0));
    EXPECT_EQ(LoadConfiguration(3, c), -3);
    EXPECT_TRUE(transfers(lastId).empty());
    EXPECT_EQ(GetAnaloggain(c), 60);
    EXPECT_EQ(GetFlip(c), 1);

    // A current-set file that is short, long or names no set counts as set 0.
    writeBytes(dir + "QC500.", Bytes{3, 0});
    EXPECT_EQ(GetCurrentConfiguration(c), 0);
    writeBytes(dir + "QC500.", Bytes{3, 0, 0, 0, 0});
    EXPECT_EQ(GetCurrentConfiguration(c), 0);
    writeBytes(dir + "QC500.", Bytes{26, 0, 0, 0});
    EXPECT_EQ(GetCurrentConfiguration(c), 0);
    writeBytes(dir + "QC500.", Bytes{0xff, 0xff, 0xff, 0xff});
    EXPECT_EQ(GetCurrentConfiguration(c), 0);
    writeBytes(dir + "QC500.", Bytes{25, 0, 0, 0});
    EXPECT_EQ(GetCurrentConfiguration(c), 25);

    // A set whose values no table holds: indexes the setters refuse keep the
    // current ones; every other value is brought inside the camera's ranges.
    Bytes wild(38, 0xff);
    writeBytes(dir + "QC500.h.txt", wild);
    EXPECT_EQ(LoadConfiguration(7, c), 0);
    EXPECT_EQ(GetResolution(c), 1);
    EXPECT_EQ(GetPixelclock(c), 0);
    EXPECT_EQ(GetAnaloggain(c), 7);  // -1 read as signed, clamped to the minimum
    float low = 0, high = 0, step = 0;
    GetExposureRange(&low, &high, &step, c);
    EXPECT_LE(GetExposure(c), high);
    auto cam = object(name);
    int x = 0, y = 0, width = 0, height = 0, format = 0;
    GetRoi(&x, &y, &width, &height, c);
    GetImageFormat(&format, c);
    EXPECT_LE(x + width, GetResWidth(1, c));
    EXPECT_LE(y + height, GetResHeight(1, c));
    EXPECT_EQ((std::vector<int>{cam->pipeline().monochrome, cam->exposureLoop().on, cam->pipeline().colorEnhancement,
                                GetFlip(c), format, GetAETarget(c), cam->pipeline().digitalGain[0].value}),
              (std::vector<int>{1, 1, 1, 3, 31, 180, 240}));
}

TEST_F(Sets, LeftoversOfInterruptedSavesGoWhenTheDirectoryIsNextUsed) {
    // A writer killed between making its temporary file and renaming it.
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string dead = std::to_string(gone), alive = std::to_string(getpid());
    for (const std::string& leftover : std::vector<std::string>{
             "QC500.a.txt." + dead + ".3.tmp", "QC500.." + dead + ".12.tmp", "QC500.z.txt.1.tmp",
          "QC500.b.txt." + alive + ".4.tmp", "QC500.c.txt.1.5.tmp", "QC130.a.txt." + dead + ".3.tmp",
             "QC500.notes." + dead + ".1.tmp"})
        writeBytes(dir + leftover, Bytes(20, 1));
    plug(0xc004, 0xa100);  // its arrival reads the current set
    // Only this model's files whose writer is gone; a running writer's (this
    // process, process 1), another model's and other names stay.
    std::map<std::string, uintmax_t> left = files();
    left.erase("QC500.");
    EXPECT_EQ(left, (std::map<std::string, uintmax_t>{
                        {"QC500.z.txt.1.tmp", 20}, {"QC500.b.txt." + alive + ".4.tmp", 20},
                        {"QC500.c.txt.1.5.tmp", 20}, {"QC130.a.txt." + dead + ".3.tmp", 20},
                        {"QC500.notes." + dead + ".1.tmp", 20}}));
}

TEST_F(Sets, AnInterruptedSaveLeavesTheOldFiles) {
    const std::string name = plug(0xc004, 0xa100);
    const char* c = name.c_str();
    SetAnaloggain(40, c);
    ASSERT_EQ(SaveConfiguration(0, c), 0);
    const Bytes before = readBytes(dir + "QC500.a.txt");
    SetAnaloggain(90, c);
    SaveConfiguration(1, c);

    // A disk that takes 16 bytes per file: neither set may come out cut short.
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit tiny = old;
    tiny.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    SetAnaloggain(120, c);
    SaveConfiguration(0, c);
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_EQ(readBytes(dir + "QC500.a.txt"), before);
    EXPECT_EQ(readBytes(dir + "QC500."), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(files(), (std::map<std::string, uintmax_t>{
                           {"QC500.", 4}, {"QC500.a.txt", 38}, {"QC500.b.txt", 38}}));
    LoadConfiguration(0, c);
    EXPECT_EQ(GetAnaloggain(c), 40);
}

TEST_F(Sets, SettingsSurviveUnplugAndReplug) {
    const std::string first = plug(0xc004, 0xa100);
    changeEverything(first);
    const std::vector<int> saved = snapshot(first, lastId);
    // Unplugging saves into the current set, 0 on a first use.
    ASSERT_EQ(unplug(lastId), first);
    EXPECT_EQ(files(), (std::map<std::string, uintmax_t>{{"QC500.", 4}, {"QC500.a.txt", 38}}));

    const std::string second = plug(0xc004, 0xa100);
    ASSERT_NE(second, first);
    EXPECT_EQ(snapshot(second, lastId), saved);
    const char* s = second.c_str();

    // Another set made current, then shutdown saves into it.
    SaveConfiguration(6, s);
    SetAnaloggain(33, s);
    ExitDevice();
    EXPECT_EQ(readBytes(dir + "QC500."), (Bytes{6, 0, 0, 0}));
    EXPECT_EQ(le16(readBytes(dir + "QC500.g.txt"), 34), 33);
    InitDevice(&Session::hotPlug, this, dir.c_str());
    const std::string third = events.back().name;
    EXPECT_EQ(GetAnaloggain(third.c_str()), 33);
}

TEST_F(Sets, NoDirectoryKeepsNoSets) {
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    InitDevice(&Session::hotPlug, this, "");
    const std::string name = plug(0xc004);
    SetAnaloggain(99, name.c_str());
    EXPECT_EQ(GetCurrentConfiguration(name.c_str()), 0);
    SaveConfiguration(2, name.c_str());
    unplug(lastId);
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(files().empty());
}

TEST_F(Sets, DefaultConfigurationResetsWithoutFiles) {
    const std::string name = plug(0xc004, 0xa100);
    const char* c = name.c_str();
    SetAutoExposure(true, c);
    SetFlip(2, c);
    SetMonochrome(true, c);
    SetAnaloggain(99, c);
    SetPixelclock(2, c);
    camera(lastId).clearTrace();
    const auto before = files();
    EXPECT_EQ(SetDefaultConfiguration(c), 0);
    bool on = true;
    EXPECT_FALSE((GetAutoExposure(&on, c), on));
    EXPECT_FALSE((GetMonochrome(&on, c), on));
    EXPECT_EQ(GetFlip(c), 0);
    EXPECT_EQ(GetAnaloggain(c), 30);
    EXPECT_EQ(GetPixelclock(c), 1);
    std::vector<int> requests;
    for (const Transfer& t : transfers(lastId))
        if (t.request != 0xb7 || t.index != 9) requests.push_back(t.request);
    EXPECT_EQ(requests, (std::vector<int>{0xb7, 0xb5}));  // gain, then clock
    EXPECT_EQ(files(), before);
    EXPECT_EQ(SetDefaultConfiguration("nobody"), -1);
}

TEST_F(Sets, LongExposuresReachTheSensor) {
    // A model whose exposure spans whole periods: the loaded line counts must
    // be written, not only stored.
    const std::string name = plug(0xd004);
    const char* c = name.c_str();
    float min = 0, max = 0, step = 0;
    GetExposureRange(&min, &max, &step, c);
    ASSERT_EQ(SetExposure(max / 3, c), 0);
    const uint32_t saved = camera(lastId).exposureLines();
    ASSERT_EQ(SaveConfiguration(0, c), 0);
    ASSERT_EQ(SetExposure(max / 7, c), 0);
    ASSERT_NE(camera(lastId).exposureLines(), saved);
    ASSERT_EQ(LoadConfiguration(0, c), 0);
    EXPECT_EQ(camera(lastId).exposureLines(), saved);
    EXPECT_NEAR(GetExposure(c), max / 3, max / 3 * 1e-3);
}
