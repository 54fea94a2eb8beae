// The registry and the call surface on simulated cameras: names and counters,
// hot-plug events, not-found results, and sensor control and frames as the
// simulated wire sees them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "device/registry.h"
#include "sim_session.h"

using simsession::Session;
using simsession::Transfer;

namespace {
// Reads until a frame arrives (a mode change may cost a frame); the result.
int readFrame(const std::string& name, std::vector<unsigned char>& buffer) {
    int result = -3;
    for (int attempt = 0; attempt < 4 && result == -3; ++attempt)
        result = GetRawData(buffer.data(), static_cast<int>(buffer.size()), name.c_str());
    return result;
}
const _ezImage& record(const std::vector<unsigned char>& buffer) {
    return *reinterpret_cast<const _ezImage*>(buffer.data());
}
}  // namespace

// ---- Names, counters and events ----------------------------------------------

using Names = Session;

TEST_F(Names, CountersAdvanceAndReplugGetsANewName) {
    const std::string first = plug(0xc004);
    const int firstId = lastId;
    ASSERT_EQ(first.substr(0, 6), "QC500.");
    ASSERT_EQ(first.size(), 7u);
    const std::string second = plug(0xc004);
    EXPECT_EQ(second, first.substr(0, 6) + static_cast<char>(first.back() + 1));
    const std::string mono = plug(0xc006);
    EXPECT_EQ(mono.substr(0, 7), "QC500M.");
    EXPECT_EQ(DeviceCount(), 3);
    EXPECT_EQ(events.size(), 3u);
    for (const auto& event : events) EXPECT_EQ(event.event, EZ_DEVICE_ARRIVED);

    // Byte order: '.' sorts before 'M'.
    EXPECT_EQ(std::string(DeviceName(0)), first);
    EXPECT_EQ(std::string(DeviceName(1)), second);
    EXPECT_EQ(std::string(DeviceName(2)), mono);
    EXPECT_STREQ(DeviceName(3), "");
    EXPECT_STREQ(DeviceName(-1), "");

    EXPECT_EQ(unplug(firstId), first);
    EXPECT_EQ(DeviceCount(), 2);
    EXPECT_EQ(GetResolution(first.c_str()), -1);
    EXPECT_EQ(std::string(DeviceName(0)), second);

    const std::string again = plug(0xc004);
    EXPECT_EQ(again, first.substr(0, 6) + static_cast<char>(first.back() + 2));
}

TEST_F(Names, UnsupportedDevicesArriveSilently) {
    // Watched but unknown to the catalogue; not watched; another vendor.
    EXPECT_EQ(plug(0xd002), "");
    EXPECT_EQ(plug(0xa00c), "");
    EXPECT_EQ(plug(0xc004, 0xa000, 0x8020), "");
    EXPECT_EQ(DeviceCount(), 0);
    EXPECT_TRUE(events.empty());
}

// Pairs of the creation table outside the default list arrive when listed;
// pairs no model drives and malformed items are reported and ignored.
TEST_F(Names, ExtraIdsClaimCatalogueCamerasOutsideTheDefaultList) {
    EXPECT_EQ(plug(0x6401, 0xa000, 0x4b56), "");
    setenv("EZCAM_EXTRA_IDS", " 4b56:6401,8020:C004,0547:d002,zz:1,0547:ac11,4b56:6401", 1);
    testing::internal::CaptureStderr();
    ExitDevice();
    InitDevice(&Session::hotPlug, this, "");
    const std::string complaints = testing::internal::GetCapturedStderr();
    unsetenv("EZCAM_EXTRA_IDS");
    EXPECT_NE(complaints.find("0547:d002"), std::string::npos);
    EXPECT_NE(complaints.find("\"zz:1\""), std::string::npos);
    EXPECT_EQ(std::count(complaints.begin(), complaints.end(), '\n'), 2);
    // The camera plugged before arrives now, once; the others when plugged.
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].name.substr(0, 8), "Miravel.");
    EXPECT_EQ(plug(0xc004, 0xa000, 0x8020).substr(0, 6), "QC500.");
    EXPECT_EQ(plug(0xac11).substr(0, 5), "QU5M.");
    EXPECT_EQ(plug(0xd002), "");
    EXPECT_EQ(DeviceCount(), 3);
    // Without the variable the default list holds again.
    ExitDevice();
    InitDevice(&Session::hotPlug, this, "");
    EXPECT_EQ(DeviceCount(), 0);
}

TEST_F(Names, SupportTableAndVersionTexts) {
    EXPECT_EQ(tabCamSupport().size(), 36u);
    EXPECT_EQ(tabCamSupport()[0].product, 0xc003u);
    EXPECT_EQ(tabCamSupport()[35].product, 0xa811u);
    for (const SupportedCamera& entry : tabCamSupport()) EXPECT_EQ(entry.vendor, 0x0547u);

    const std::string before = VersionInf(0);
    EXPECT_EQ(std::string(VersionInf(0)), before);  // other kinds change nothing
    EXPECT_STREQ(VersionInf(2), "4.0.0.0");
    EXPECT_STREQ(VersionInf(2), "4.0.0.0");
    EXPECT_STREQ(VersionInf(1), "2014/07/24");
    EXPECT_STREQ(VersionInf(3), "(CHINA_kelvan)");
    EXPECT_STREQ(VersionInf(7), "(CHINA_kelvan)");
}

TEST_F(Names, CamerasPresentAtStartArriveDuringInit) {
    const std::string name = plug(0xc006);
    ExitDevice();
    EXPECT_EQ(DeviceCount(), 0);
    events.clear();
    InitDevice(&Session::hotPlug, this, "");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, EZ_DEVICE_ARRIVED);
    EXPECT_EQ(events[0].name.substr(0, 7), "QC500M.");
    EXPECT_NE(events[0].name, name);
    EXPECT_EQ(DeviceCount(), 1);
    // After shutdown nothing arrives any more.
    ExitDevice();
    events.clear();
    plug(0xc006);
    EXPECT_TRUE(events.empty());
    InitDevice(&Session::hotPlug, this, "");  // for TearDown
}

// ---- Not-found results ------------------------------------------------------------

using NotFound = Session;

TEST_F(NotFound, EveryFunctionAnswersAnUnknownOrRemovedName) {
    const std::string gone = plug(0xc004);
    ASSERT_FALSE(gone.empty());
    ASSERT_EQ(unplug(lastId), gone);

    int i1 = 111, i2 = 222, i3 = 333, i4 = 444;
    float f1 = 1.5f, f2 = 2.5f, f3 = 3.5f;
    bool b = true;
    char text[16] = "keep";
    unsigned char bytes[64] = {7};
    __IMG_RECT rect{0, 0, 8, 8};
    using Call = std::function<double(const char*)>;
    // One function of each family, and every function with a result of its own.
    const std::vector<std::pair<double, Call>> calls = {
        {0, [&](const char* n) { return DataHeadLen(n); }},
        {0, [&](const char* n) { return RecvMemSize(n); }},
        {0, [&](const char* n) { return DeviceVersion(n); }},
        {-1, [&](const char* n) { return SetResolution(0, n); }},
        {0, [&](const char* n) { return GetResItemName(0, n) != nullptr; }},
        {-2, [&](const char* n) { return GetResWidth(0, n); }},
        {-2, [&](const char* n) { return GetResHeight(0, n); }},
        {0, [&](const char* n) { return GetPixclkItemName(0, n) != nullptr; }},
        {-1, [&](const char* n) { return GetRawSize(&i1, &i2, n); }},
        {-1, [&](const char* n) { return GetRawData(bytes, sizeof bytes, n); }},
        {-1, [&](const char* n) { return DecodeRaw2Image(bytes, bytes, n); }},
        {-1, [&](const char* n) { return GetAnaloggainRange(&i1, &i2, &i3, n); }},
        {-1, [&](const char* n) { return GetExposureRange(&f1, &f2, &f3, n); }},
        {-1, [&](const char* n) { return GetExposure(n); }},
        {-1, [&](const char* n) { return ResetDevice(n); }},
        {-1, [&](const char* n) { return GetRoi(&i1, &i2, &i3, &i4, n); }},
        {-1, [&](const char* n) { return GetRoiState(&b, n); }},
        {-1, [&](const char* n) { return ReadInf(text, 4, n); }},
        {-1, [&](const char* n) { return SetEdgeInhibition(true, n); }},
        {-1, [&](const char* n) { return GetTemperature(&f1, n); }},
        {-1, [&](const char* n) { return GetGammaEx(1, n); }},
        {-2, [&](const char* n) { return GetGammaEx(3, n); }},
        {-2, [&](const char* n) { return SetStretchEx(0, 255, false, -1, n); }},
        {-1, [&](const char* n) { return GetStretch(&i1, &i2, &b, n); }},
        {-1, [&](const char* n) { return GetFlip(n); }},
        {-1, [&](const char* n) { return CalcFlatfield(bytes, false, n); }},
        {-1, [&](const char* n) { return CalcWhiteBalance(bytes, &rect, n); }},
        {-1, [&](const char* n) { return FluorescenceGuide(1, 0, n); }},
        {-2, [&](const char* n) { return FluorescenceGuide(3, 0, n); }},
        {-1, [&](const char* n) { return SaveImage("/nonexistent/x", 0, n); }},
        {-1, [&](const char* n) { return UpdateFirmware("/nonexistent/x", n); }},
        {-1, [&](const char* n) { return SaveConfiguration(0, n); }},
        {-1, [&](const char* n) { return SetDefaultConfiguration(n); }},
        {-1, [&](const char* n) { return ResumeDevice(n); }},
        {-1, [&](const char* n) { return SuspendDevice(n); }},
    };
    for (const char* name : {"nope", gone.c_str(), "", static_cast<const char*>(nullptr)}) {
        for (size_t k = 0; k < calls.size(); ++k)
            EXPECT_EQ(calls[k].second(name), calls[k].first)
                << "call " << k << " with " << (name ? name : "null");
        // The functions without a result must simply do nothing.
        SetGamma(100, name);
        SetGammaEx(100, 3, name);
        SetFlip(1, name);
        CalcDefectCorrection(name);
    }
    // No out-parameter was touched.
    EXPECT_EQ(std::vector<int>({i1, i2, i3, i4}), std::vector<int>({111, 222, 333, 444}));
    EXPECT_EQ(std::vector<float>({f1, f2, f3}), std::vector<float>({1.5f, 2.5f, 3.5f}));
    EXPECT_TRUE(b);
    EXPECT_STREQ(text, "keep");

    // The channel checks come before the lookup, for registered names too.
    const std::string live = plug(0xc006);
    EXPECT_EQ(GetGammaEx(3, live.c_str()), -2);
    EXPECT_EQ(GetGammaRangeEx(&i1, &i2, &i3, -1, live.c_str()), -2);
    SetGammaEx(150, 3, live.c_str());
    EXPECT_EQ(GetGammaEx(0, live.c_str()), 100);
    EXPECT_EQ(FluorescenceGuide(-1, 0, live.c_str()), -2);
}

// ---- Models on the wire -------------------------------------------------------------

using Wire = Session;

TEST_F(Wire, ModelConstantsAfterOpening) {
    testing::internal::CaptureStdout();
    const std::string colour = plug(0xc004, 0xa100);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // the library never prints
    const char* c = colour.c_str();
    EXPECT_EQ(DeviceProduct(c), 0xc004);
    EXPECT_EQ(DeviceVendor(c), 0x0547);
    EXPECT_EQ(DeviceBcd(c), 0xa100);
    EXPECT_EQ(DataHeadLen(c), 512);
    EXPECT_EQ(RecvMemSize(c), 2 * 512 + 10245226);
    EXPECT_EQ(GetImageChannles(c), 3);
    EXPECT_EQ(GetRawBayernPattern(c), 3);
    EXPECT_EQ(GetResolutionCount(c), 5);
    EXPECT_EQ(GetPixelclockCount(c), 3);
    EXPECT_STREQ(GetResItemName(3, c), "1272X952 Bin");
    EXPECT_EQ(GetResWidth(0, c), 2584);
    EXPECT_EQ(GetResHeight(4, c), 472);
    EXPECT_EQ(GetResWidth(5, c), -2);
    int min = 0, max = 0, step = 0;
    GetAnaloggainRange(&min, &max, &step, c);
    EXPECT_EQ(std::vector<int>({min, max, step}), std::vector<int>({7, 174, 1}));
    EXPECT_EQ(GetBlacklevelRange(&min, &max, &step, c), -4);
    EXPECT_EQ(SetRawDepth(16, c), -4);
    EXPECT_EQ(ResetSupport(c), -4);
    // Release 0xa100 runs its clocks at 48 MHz, others at 36 MHz.
    EXPECT_NEAR(GetExposure(c), 300 * 3492 / 48000.0, 1e-3);
    const std::string older = plug(0xc004, 0xa000);
    EXPECT_NEAR(GetExposure(older.c_str()), 300 * 3492 / 36000.0, 1e-3);

    const std::string mono = plug(0xc006);
    EXPECT_EQ(GetImageChannles(mono.c_str()), 1);
    EXPECT_EQ(RecvMemSize(mono.c_str()), 2 * (5121536 + 512) + 4096);
    EXPECT_EQ(GetSaturation(mono.c_str()), -4);
    float fmin = 0, fmax = 0, fstep = 0;
    GetExposureRange(&fmin, &fmax, &fstep, mono.c_str());
    EXPECT_NEAR(fmax, 65499 * 3492 / 36000.0, 1e-2);
}

TEST_F(Wire, GainRegisterValues) {
    const std::string name = plug(0xc004);
    const int id = lastId;
    const std::vector<std::pair<int, int>> cases = {{7, 7},
                                                    {63, 63},
                                                    {64, 64 * 256 - 16065},
                                                    {174, 174 * 256 - 16065},
                                                    {500, 174 * 256 - 16065},
                                                    {0, 7}};
    for (auto [gain, value] : cases) {
        camera(id).clearTrace();
        EXPECT_EQ(SetAnaloggain(gain, name.c_str()), 0);
        const std::vector<Transfer> sent = transfers(id);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].request, 0xb7);
        EXPECT_EQ(sent[0].index, 0x35);
        EXPECT_EQ(sent[0].value, value) << "gain " << gain;
        EXPECT_EQ(GetAnaloggain(name.c_str()), std::min(std::max(gain, 7), 174));
    }
}

TEST_F(Wire, ResumeReappliesSettingsInOrder) {
    const std::string name = plug(0xc004);
    const int id = lastId;
    SetAnaloggain(40, name.c_str());
    camera(id).clearTrace();
    ASSERT_EQ(ResumeDevice(name.c_str()), 0);
    EXPECT_EQ(DeviceState(name.c_str()), 1);
    // Start; the clock (re-timing first: this product writes the exposure
    // register at once); the gain; the resolution, sent at once. Depth and
    // black level are not offered by this model.
    const std::vector<Transfer> sent = transfers(id);
    std::vector<std::pair<int, int>> seen;
    for (const Transfer& t : sent) seen.emplace_back(t.request, t.request == 0xb7 ? t.index : -1);
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{
                        {0xba, -1}, {0xb7, 9}, {0xb5, -1}, {0xb7, 0x35}, {0xb7, 9}, {0xb4, -1}}));
    EXPECT_EQ(sent[3].value, 40);
    EXPECT_EQ(sent[5].value, 0xc0);
    EXPECT_EQ(sent[5].index, sent[4].value);   // the line count rides along
    EXPECT_EQ(ResumeDevice(name.c_str()), 0);  // already streaming: nothing sent
    EXPECT_EQ(transfers(id).size(), sent.size());

    camera(id).clearTrace();
    EXPECT_EQ(SuspendDevice(name.c_str()), 0);
    EXPECT_EQ(codes(id), std::vector<std::string>({"bb"}));
    EXPECT_EQ(DeviceState(name.c_str()), 0);
    EXPECT_EQ(SuspendDevice(name.c_str()), 0);
    EXPECT_EQ(codes(id).size(), 1u);
}

TEST_F(Wire, ExposureSurvivesClockAndResolutionChanges) {
    const std::string name = plug(0xc004, 0xa100);
    const char* c = name.c_str();
    const int id = lastId;
    ResumeDevice(c);
    ASSERT_EQ(SetExposure(20.0f, c), 0);
    const float set = GetExposure(c);
    EXPECT_NEAR(set, 20.0f, 3492 / 48000.0);
    EXPECT_EQ(camera(id).reg(9), static_cast<int>(48000 * 20.0f / 3492));
    for (int clock : {1, 2, 0}) {
        ASSERT_EQ(SetPixelclock(clock, c), 0);
        // Within a line of the slowest clock: each change rounds once.
        EXPECT_NEAR(GetExposure(c), set, 3492 / 12000.0) << "clock " << clock;
        EXPECT_EQ(camera(id).clockMode(), 0xa0 + clock);
    }
    for (int resolution : {2, 4, 0}) {
        ASSERT_EQ(SetResolution(resolution, c), 0);
        EXPECT_NEAR(GetExposure(c), set, 3492 / 12000.0) << "resolution " << resolution;
    }
    // Out-of-range indexes change nothing.
    camera(id).clearTrace();
    EXPECT_EQ(SetPixelclock(3, c), -2);
    EXPECT_EQ(SetResolution(-1, c), -2);
    EXPECT_EQ(SetResolution(5, c), -2);
    EXPECT_TRUE(transfers(id).empty());
    EXPECT_EQ(GetResolution(c), 0);
}

TEST_F(Wire, FramesFollowResolutionAndTheBufferIsChecked) {
    const std::string name = plug(0xc006);
    const char* c = name.c_str();
    const int id = lastId;
    ResumeDevice(c);
    std::vector<unsigned char> buffer(static_cast<size_t>(RecvMemSize(c)));
    for (int resolution = 4; resolution >= 0; --resolution) {
        SetResolution(resolution, c);
        EXPECT_EQ(GetResolution(c), resolution);
        // The request goes out only with the next read, before the transfer.
        camera(id).clearTrace();
        ASSERT_EQ(readFrame(name, buffer), 0) << "resolution " << resolution;
        const std::vector<std::string> sent = codes(id);
        ASSERT_GE(sent.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 3),
                  std::vector<std::string>({"b4", "bulk", "b3"}));
        const _ezImage& image = record(buffer);
        EXPECT_EQ(image.width, GetResWidth(resolution, c) + 8);
        EXPECT_EQ(image.height, GetResHeight(resolution, c) + 8);
        EXPECT_EQ(image.depth, 8);
        EXPECT_EQ(image.resolution, resolution);
        EXPECT_EQ(image.data, buffer.data() + 512);
        int width = 0, height = 0;
        GetRawSize(&width, &height, c);
        EXPECT_EQ(width, image.width);
        EXPECT_EQ(height, image.height);
    }
    // Full frame: 2592 x 1944 + 512 bytes, not one less.
    camera(id).clearTrace();
    EXPECT_EQ(GetRawData(buffer.data(), 2592 * 1944 + 511, c), -2);
    EXPECT_TRUE(transfers(id).empty());
    EXPECT_EQ(GetRawData(buffer.data(), 2592 * 1944 + 512, c), 0);
}

TEST_F(Wire, FramingFaultsAndTheRegionOfInterest) {
    const std::string name = plug(0xc004);
    const char* c = name.c_str();
    const int id = lastId;
    ResumeDevice(c);
    std::vector<unsigned char> buffer(static_cast<size_t>(RecvMemSize(c)));
    ASSERT_EQ(readFrame(name, buffer), 0);
    camera(id).corruptNextFrameMarker();
    EXPECT_EQ(GetRawData(buffer.data(), static_cast<int>(buffer.size()), c), -3);
    EXPECT_EQ(GetRawData(buffer.data(), static_cast<int>(buffer.size()), c), 0);
    camera(id).resizeNextFrame(-100000);  // marked, but short: no frame
    EXPECT_EQ(GetRawData(buffer.data(), static_cast<int>(buffer.size()), c), -3);

    // At resolution 0 the region is programmed and the frame in flight dropped.
    ASSERT_EQ(SetRoi(101, 51, 640, 480, c), 0);
    camera(id).clearTrace();
    EXPECT_EQ(GetRawData(buffer.data(), static_cast<int>(buffer.size()), c), -3);
    std::vector<Transfer> sent = transfers(id);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[2].request, 0xbd);
    EXPECT_EQ(std::pair(sent[2].value, sent[2].index), std::pair(100, 50));
    EXPECT_EQ(sent[3].request, 0xbe);
    EXPECT_EQ(std::pair(sent[3].value, sent[3].index), std::pair(648, 488));
    ASSERT_EQ(GetRawData(buffer.data(), static_cast<int>(buffer.size()), c), 0);
    EXPECT_EQ(record(buffer).width, 648);
    EXPECT_EQ(record(buffer).height, 488);
    // Off again: the full frame is programmed before the next read.
    SetRoiState(false, c);
    ASSERT_EQ(readFrame(name, buffer), 0);
    EXPECT_EQ(record(buffer).width, 2592);

    // At another resolution the frame is cut in memory, nothing is sent.
    SetResolution(1, c);
    SetRoi(-20, 8, 100000, 64, c);
    camera(id).clearTrace();
    ASSERT_EQ(readFrame(name, buffer), 0);
    for (const Transfer& t : transfers(id)) EXPECT_NE(t.request, 0xbd);
    EXPECT_EQ(record(buffer).width, 1280);
    EXPECT_EQ(record(buffer).height, 72);
    bool on = false;
    GetRoiState(&on, c);
    EXPECT_TRUE(on);
}

TEST_F(Wire, SettingsTakeNoEffectOnTheWireUntilTheNextRead) {
    const std::string name = plug(0xc004);
    const char* c = name.c_str();
    const int id = lastId;
    ResumeDevice(c);
    camera(id).clearTrace();
    ASSERT_EQ(SetResolution(3, c), 0);
    EXPECT_EQ(GetResolution(c), 3);
    EXPECT_NE(camera(id).resolutionMode(), 0xc9);
    std::vector<unsigned char> buffer(static_cast<size_t>(RecvMemSize(c)));
    ASSERT_EQ(readFrame(name, buffer), 0);
    EXPECT_EQ(camera(id).resolutionMode(), 0xc9);
    EXPECT_EQ(UpdateFirmware("/tmp/firmware.bin", c), -4);
    EXPECT_EQ(SetCooled(true, c), -4);
    EXPECT_EQ(SetEdgeInhibition(true, c), -4);
}
