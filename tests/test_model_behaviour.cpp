// What each model does of its own, through the call surface on simulated
// cameras: where a region of interest is programmed, the readers of V3h5MC1
// and VSi400M1, the monochrome finishing filter, re-timing and resume
// orders, as the frames and the requests on the wire show them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "camera/cam_bayer.h"
#include "device/registry.h"
#include "processing/image_record.h"
#include "sim_session.h"

using simsession::Session;
using simsession::Transfer;

namespace {
// Every camera of the creation table arrives, the ones outside the default
// list through EZCAM_EXTRA_IDS.
class Models : public Session {
  protected:
    void SetUp() override {
        setenv("EZCAM_EXTRA_IDS", "4b56:6401,0547:ac11,0547:a00b,0547:c00b,0547:a006,0547:c811", 1);
        Session::SetUp();
        unsetenv("EZCAM_EXTRA_IDS");
    }

    struct Grab {
        std::vector<unsigned char> buffer;
        int result = -9;
        const _ezImage* image() const { return reinterpret_cast<const _ezImage*>(buffer.data()); }
        int width() const { return result >= 0 ? image()->width : -1; }
    };
    static Grab grab(const std::string& name) {
        Grab g;
        g.buffer.assign(static_cast<size_t>(RecvMemSize(name.c_str())), 0x55);
        g.result = GetRawData(g.buffer.data(), static_cast<int>(g.buffer.size()), name.c_str());
        return g;
    }
    // The next good frame; a mode change may cost one.
    static Grab frame(const std::string& name) {
        Grab g;
        for (int i = 0; i < 4 && g.result != 0 && g.result != 1; ++i) g = grab(name);
        return g;
    }
    // The requests since the last clear as "request value index" in hex,
    // bulk reads as "bulk asked received".
    std::vector<std::string> wire(int id) {
        std::vector<std::string> out;
        for (const std::string& line : camera(id).trace()) {
            int who = 0, type = 0, request = 0, value = 0, index = 0, asked = 0, got = 0, pipe = 0;
            char word[80];
            if (std::sscanf(line.c_str(), "%d ctrl %x %x %x %x", &who, &type, &request, &value,
                            &index) == 5)
                std::snprintf(word, sizeof word, "%02x %x %x", request, value, index);
            else if (std::sscanf(line.c_str(), "%d bulk %d %d %d", &who, &pipe, &asked, &got) == 4)
                std::snprintf(word, sizeof word, "bulk %d %d", asked, got);
            else
                continue;
            out.push_back(word);
        }
        return out;
    }
    static bool holds(const std::vector<std::string>& words, const std::string& word) {
        for (const std::string& w : words)
            if (w == word) return true;
        return false;
    }
    // Request codes only, reads left out.
    std::vector<std::string> requests(int id) {
        std::vector<std::string> out;
        for (const std::string& w : wire(id))
            if (w.rfind("bulk", 0) != 0) out.push_back(w.substr(0, 2));
        return out;
    }
};

using V = std::vector<std::string>;

// Samples of a 16-bit record: 12 significant bits aligned to the top leave
// the low four bits of each clear when the byte order was handled right.
bool topAligned(const _ezImage* image) {
    for (size_t i = 0; i < static_cast<size_t>(image->width) * image->height; i += 97)
        if ((image->data[2 * i] & 0x0f) != 0) return false;
    return true;
}
}  // namespace

// Where a requested region goes: cut out of every frame in memory, or
// programmed into the sensor (0xbd, 0xbe) with that frame dropped or kept.
TEST_F(Models, EachModelPlacesItsRegionOfInterestByItsRule) {
    enum Rule { Memory, ProgramKeep, ProgramDrop };
    struct Case {
        int vendor, product, release, resolution;
        Rule rule;
    };
    const Case cases[] = {
        {0x0547, 0xa811, 0xa000, 0, Memory},       // VAh200C1: the A h readers
        {0x0547, 0xe006, 0xa000, 0, Memory},       // VDh285M1: the D family
        {0x0547, 0xd006, 0xa000, 0, Memory},       // VDo285M1
        {0x0547, 0xc005, 0xa000, 0, Memory},       // VSo035C1
        {0x0547, 0xc00c, 0xa000, 0, Memory},       // VS200C1
        {0x0547, 0xa007, 0xa000, 0, ProgramKeep},  // VAh300C1 at 2048 wide
        {0x0547, 0xa007, 0xa000, 1, Memory},
        {0x0547, 0xa007, 0xb002, 0, ProgramDrop},  // its padded-trailer board
        {0x0547, 0xa004, 0xa000, 0, ProgramKeep},  // VAh500C1 at 2592 wide
        {0x0547, 0xac11, 0xa000, 0, ProgramKeep},  // V3h5MC1 at 2592 wide
        {0x0547, 0xac11, 0xa000, 2, Memory},
        {0x4b56, 0x6401, 0xa000, 1, ProgramKeep},  // VSi400M1, any mode
        {0x0547, 0xf008, 0xa000, 0, ProgramDrop},  // VAg131C1 at 1280 wide
        {0x0547, 0xc004, 0xa000, 0, ProgramDrop},  // the base rule
        {0x0547, 0xc004, 0xa000, 1, Memory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << c.product << "@" << c.release << " mode " << c.resolution);
        const std::string name = plug(c.product, c.release, c.vendor);
        ASSERT_FALSE(name.empty());
        ASSERT_EQ(SetResolution(c.resolution, name.c_str()), 0);
        const int full = frame(name).width();
        ASSERT_GT(full, 0);
        camera(lastId).clearTrace();
        ASSERT_EQ(SetRoi(16, 8, 200, 100, name.c_str()), 0);
        const Grab first = grab(name);
        const std::vector<std::string> sent = requests(lastId);
        const bool programmed = holds(sent, "bd") && holds(sent, "be");
        EXPECT_EQ(programmed, c.rule != Memory);
        EXPECT_EQ(first.result, c.rule == ProgramDrop ? -3 : 0);
        if (c.rule != ProgramDrop) {
            EXPECT_EQ(first.width(), c.rule == Memory ? 208 : full);
        }
        const Grab next = grab(name);
        ASSERT_EQ(next.result, 0);
        EXPECT_EQ(next.image()->width, 208);
        EXPECT_EQ(next.image()->height, 108);
        unplug(lastId);
    }
}

// VSi400M1 does on the camera what others do on the host: its settings are
// register writes taken as given, its exposure restart is the start request,
// and its frames arrive in host order with four bytes after them.
TEST_F(Models, VSi400M1SettingsRestartAndFrames) {
    const std::string name = plug(0x6401, 0xa000, 0x4b56);
    ASSERT_EQ(name.substr(0, 8), "Miravel.");
    const char* n = name.c_str();
    camera(lastId).clearTrace();
    int range[3] = {};
    EXPECT_EQ(GetSharpness(n), 3600);
    EXPECT_EQ(GetDenoise(n), 576);
    EXPECT_EQ(SetSharpness(5000, n) + SetDenoise(700, n) + SetShiftOperator(9, n), 0);
    EXPECT_EQ(SetHDR(true, n), 0);
    SetFlip(1, n);
    EXPECT_EQ(wire(lastId), (V{"b7 1388 47", "b7 2bc 48", "b7 9 49", "b7 1 46", "b7 1 45"}));
    EXPECT_EQ((std::vector<int>{GetSharpness(n), GetDenoise(n), GetShiftOperator(n), GetFlip(n)}),
              (std::vector<int>{5000, 700, 9, 1}));
    bool hdr = false;
    EXPECT_EQ(GetHDR(&hdr, n), 0);
    EXPECT_TRUE(hdr);
    EXPECT_EQ(GetSharpnessRange(&range[0], &range[1], &range[2], n), 0);
    EXPECT_EQ(range[1], 4096);
    EXPECT_EQ(GetDenoiseRange(&range[0], &range[1], &range[2], n), 0);
    EXPECT_EQ(range[1], 1024);
    EXPECT_EQ(GetShiftOperatorRange(&range[0], &range[1], &range[2], n), 0);
    EXPECT_EQ(range[1], 8);
    float celsius = -1000;
    EXPECT_EQ(GetTemperature(&celsius, n), 0);
    EXPECT_NEAR(celsius, 25.0f, 1.0f);
    // A reading that does not come is no temperature: -3, the value untouched.
    camera(lastId).stallNextControl();
    celsius = -1000;
    EXPECT_EQ(GetTemperature(&celsius, n), -3);
    EXPECT_EQ(celsius, -1000);
    EXPECT_EQ(GetTemperature(&celsius, n), 0);
    EXPECT_NEAR(celsius, 25.0f, 1.0f);

    // Restart: the start request alone. A mode change carries no line count
    // (every mode has one timing) and writes no exposure.
    camera(lastId).clearTrace();
    EXPECT_EQ(ResetSupport(n), 0);
    EXPECT_EQ(ResetDevice(n), 0);
    ASSERT_EQ(SetResolution(1, n), 0);
    ASSERT_EQ(SetRawDepth(16, n), 0);
    Grab g = frame(n);
    ASSERT_EQ(g.result, 0);
    // The frame ends in a part packet: a header area more is asked.
    EXPECT_EQ(wire(lastId), (V{"ba 0 0", "b9 5 0", "b4 1 0", "bulk 2097668 2097156", "b3 0 0"}));
    EXPECT_EQ(g.image()->width, 1024);
    EXPECT_TRUE(topAligned(g.image()));  // no byte swap
    // Exactly the samples and the four bytes are asked for: one byte less is
    // no frame.
    camera(lastId).resizeNextFrame(-1);
    EXPECT_EQ(grab(n).result, -3);
    CalcDefectCorrection(n);  // the defect step runs in this reader
    EXPECT_EQ(grab(n).result, 5);

    // Finishing: no border cut, no flip on the host.
    g = frame(n);
    std::vector<unsigned char> flipped(g.buffer.size()), upright(g.buffer.size());
    ASSERT_EQ(DecodeRaw2Image(g.buffer.data(), flipped.data(), n), 0);
    SetFlip(0, n);
    ASSERT_EQ(DecodeRaw2Image(g.buffer.data(), upright.data(), n), 0);
    const auto* image = reinterpret_cast<const _ezImage*>(upright.data());
    EXPECT_EQ(image->width, 1024);
    EXPECT_EQ(image->height, 1024);
    EXPECT_EQ(0, std::memcmp(flipped.data() + image->header_size,
                             upright.data() + image->header_size, size_t{1024} * 1024 * 2));

    // A still at this mode is its full 1024 x 1024: written from the next frame.
    const std::string still = testing::TempDir() + "vsi400m1_still";
    std::remove((still + ".raw").c_str());
    SetImageFormat(1, n);
    ASSERT_EQ(SaveImage(still.c_str(), 1, n), 0);
    g = frame(n);
    ASSERT_EQ(DecodeRaw2Image(g.buffer.data(), upright.data(), n), 0);
    FILE* written = std::fopen((still + ".raw").c_str(), "rb");
    EXPECT_NE(written, nullptr);
    if (written) std::fclose(written);
    std::remove((still + ".raw").c_str());
}

// V3h5MC1: four bytes after the samples (the marker, one byte, the capture
// flag, one byte), exactly; samples in host order; automatic exposure every
// fourth frame; the defect step.
TEST_F(Models, V3h5MC1ReadsItsFourByteTrailer) {
    const std::string name = plug(0xac11);
    ASSERT_EQ(name.substr(0, 5), "QU5M.");
    const char* n = name.c_str();
    ASSERT_EQ(SetRawDepth(16, n), 0);
    camera(lastId).clearTrace();
    Grab g = frame(n);
    ASSERT_EQ(g.result, 0);
    EXPECT_TRUE(holds(wire(lastId), "bulk 10081280 10080260"));
    EXPECT_TRUE(topAligned(g.image()));
    ASSERT_EQ(SetRawDepth(8, n), 0);
    frame(n);

    camera(lastId).resizeNextFrame(-1);  // the samples and three bytes
    EXPECT_EQ(grab(n).result, -3);
    camera(lastId).corruptNextFrameMarker();
    EXPECT_EQ(grab(n).result, -3);
    camera(lastId).pressCapture();
    EXPECT_EQ(grab(n).result, 1);
    EXPECT_EQ(grab(n).result, 0);

    // Automatic exposure: one step, then three frames without.
    const auto exposureWrites = [&] {
        int writes = 0;
        for (const std::string& w : wire(lastId))
            writes += w.rfind("b7 ", 0) == 0 && w.back() == '9';
        return writes;
    };
    SetAutoExposure(true, n);
    std::vector<int> writes;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(SetExposure(0.2f, n), 0);  // far too dark: every step writes
        camera(lastId).clearTrace();
        ASSERT_EQ(grab(n).result, 0);
        writes.push_back(exposureWrites());
    }
    EXPECT_EQ(writes, (std::vector<int>{1, 0, 0, 0, 1}));
    SetAutoExposure(false, n);

    // The defect search: 5 on its frame; too small a frame to search, -5.
    CalcDefectCorrection(n);
    EXPECT_EQ(grab(n).result, 5);
    EXPECT_EQ(grab(n).result, 0);
    ASSERT_EQ(SetResolution(2, n), 0);
    frame(n);
    CalcDefectCorrection(n);
    EXPECT_EQ(grab(n).result, -5);
}

// Automatic exposure takes one step on every third frame, on VDh674M1,
// VDh694M1 and VDh694C1 on every second: with the scene far too dark,
// every step writes the exposure registers and no other frame does.
TEST_F(Models, AutomaticExposureStepsEveryThirdFrameOrEverySecond) {
    struct Case {
        int product, release, interval;
    };
    const Case cases[] = {
        {0xe00a, 0xa000, 2},  // VDh674M1
        {0xe00a, 0xa001, 2},  // VDh674M1, newer tables
        {0xe00c, 0xa000, 2},  // VDh694M1
        {0xe00c, 0xa001, 2},  // VDh694M1, newer tables
        {0xe80c, 0xa001, 2},  // VDh694C1
        {0xe00b, 0xa000, 3},  // VDh687M1, built on VDh674M1
        {0xe80a, 0xa000, 3},  // VDh674C1
        {0xd006, 0xa000, 3},  // VDo285M1
        {0xe001, 0xa000, 3},  // VDh282C1
        {0xc00a, 0xa000, 3},  // VSo035M1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.product << "@" << c.release);
        const std::string name = plug(c.product, c.release);
        ASSERT_FALSE(name.empty());
        const char* n = name.c_str();
        ASSERT_EQ(frame(n).result, 0);
        // The exposure's register writes (request 0xb7 to regExposure or
        // regLongExposure) of the last grab.
        const std::string rest = " " + [&] {
            char reg[8];
            std::snprintf(reg, sizeof reg, "%x", ezcam::findCamera(n)->sensorControl().regExposure);
            return std::string(reg);
        }();
        const auto stepped = [&] {
            for (const std::string& w : wire(lastId))
                if (w.rfind("b7 ", 0) == 0 && w.size() > rest.size() &&
                    w.compare(w.size() - rest.size(), rest.size(), rest) == 0)
                    return 1;
            return 0;
        };
        SetAutoExposure(true, n);
        std::vector<int> steps, expected;
        for (int i = 0; i < 7; ++i) {
            ASSERT_EQ(SetExposure(0.2f, n), 0);
            camera(lastId).clearTrace();
            ASSERT_EQ(grab(n).result, 0);
            steps.push_back(stepped());
            expected.push_back(i % c.interval == 0 ? 1 : 0);
        }
        EXPECT_EQ(steps, expected);
        unplug(lastId);
    }
}

// The 1.3-megapixel monochrome cameras finish a frame with their pattern
// filter and a 3 x 3 median, always cutting the border. Worked by hand from
// the filter's two formulas: an edge from 40 to 200 at raw row 500 moves up
// one row and steps 40, 80, 160, 200; a line of 250 one pixel wide on 40
// spreads into three columns of 92 or 93.
TEST_F(Models, TheMonochrome131FamilyFiltersItsCheckerboard) {
    constexpr int kWidth = 1280, kHeight = 1024, kEdge = 500, kLine = 641;
    for (const int product : {0xc00b, 0xf00b, 0xa00b}) {
        SCOPED_TRACE(testing::Message() << std::hex << product);
        const std::string name = plug(product);
        ASSERT_FALSE(name.empty());
        std::vector<unsigned char> raw(512 + kWidth * kHeight), image(raw.size() + 4096);
        auto* record = reinterpret_cast<_ezImage*>(raw.data());
        ezInitImageHeader(record, kWidth, kHeight, 1, 8, 512, raw.data() + 512, 0, 0);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                record->data[y * kWidth + x] =
                    static_cast<unsigned char>(x == kLine && y < kEdge ? 250
                                               : y < kEdge             ? 40
                                                                       : 200);
        ASSERT_EQ(DecodeRaw2Image(raw.data(), image.data(), name.c_str()), 0);
        const auto* out = reinterpret_cast<const _ezImage*>(image.data());
        ASSERT_EQ(out->width, kWidth - 8);
        ASSERT_EQ(out->height, kHeight - 8);
        const auto at = [&](int x, int y) { return int{out->data[y * out->stride + x]}; };
        // The border of 4 is cut: raw column c, row r land at c - 4, r - 4.
        const int edge = kEdge - 4;
        EXPECT_EQ((std::vector<int>{at(100, edge - 3), at(100, edge - 2), at(100, edge - 1),
                                    at(100, edge)}),
                  (std::vector<int>{40, 80, 160, 200}));
        const int line = kLine - 4;
        EXPECT_EQ(at(line - 2, 300), 40);
        EXPECT_EQ(at(line + 2, 300), 40);
        for (int x = line - 1; x <= line + 1; ++x) {
            EXPECT_GE(at(x, 300), 92) << x;
            EXPECT_LE(at(x, 300), 93) << x;
        }
        unplug(lastId);
    }
}

// Resuming re-sends the settings in each family's order; the D family and
// VSo035C1 have no start request, VS200C1 acknowledges and repeats its
// exposure registers.
TEST_F(Models, ResumeOrders) {
    struct Case {
        int product;
        V order;
    };
    // Each setter's own requests: the S and D re-timings build theirs, VS200C1's
    // writes its two registers, VAo300C1's the exposure register.
    const Case cases[] = {
        {0xd006, {"b9", "b5", "b7", "b7", "b4"}},        // VDo285M1
        {0xe00c, {"b9", "b5", "b7", "b7", "b4", "b5"}},  // VDh694M1: the clock after the mode
        {0xc005, {"b4", "b5", "b9", "b7", "b7"}},        // VSo035C1
        {0xa005, {"b4", "b7", "b5", "b9", "b7", "b7"}},  // VSh035C1: the gain again after the mode
        {0xc00c, {"ba", "b3", "b7", "b7", "b4", "b9", "b7", "b7", "b5", "b7", "b7", "b7", "b7"}},
        {0xc007, {"ba", "b7", "b5", "b7", "b7", "b4"}},  // VAo300C1: the base order
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.product);
        const std::string name = plug(c.product, 0xa001);
        ASSERT_FALSE(name.empty());
        camera(lastId).clearTrace();
        ASSERT_EQ(ResumeDevice(name.c_str()), 0);
        EXPECT_EQ(DeviceState(name.c_str()), 1);
        EXPECT_EQ(requests(lastId), c.order);
        unplug(lastId);
    }
}

// What single models add to sensor control, as the wire shows it.
TEST_F(Models, ModeChangesAndExposureWritesOfSingleModels) {
    // VAh200C1: once a deferred mode change has gone out, the exposure is
    // written again in the new mode's lines.
    std::string name = plug(0xa811);
    const float before = GetExposure(name.c_str());
    ASSERT_EQ(SetResolution(1, name.c_str()), 0);
    camera(lastId).clearTrace();
    frame(name);
    const std::vector<std::string> sent = wire(lastId);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0].substr(0, 5), "b4 c1");
    const int lines = static_cast<int>(camera(lastId).exposureLines());
    char write[32];
    std::snprintf(write, sizeof write, "b7 %x 9", lines);
    EXPECT_EQ(sent[1], write);
    EXPECT_NEAR(GetExposure(name.c_str()), before, 800.0 / 48000);
    EXPECT_NEAR(camera(lastId).exposureMs(), before, 800.0 / 48000);

    // VSh036C1 writes its exposure as rest and periods although it has no
    // long exposure, and nothing when neither changes; VSo036C1 one register.
    name = plug(0xa009);
    camera(lastId).clearTrace();
    ASSERT_EQ(SetExposure(10.0f, name.c_str()), 0);
    ASSERT_EQ(SetExposure(10.0f, name.c_str()), 0);
    V words = wire(lastId);
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0].substr(words[0].size() - 2), " 3");
    EXPECT_EQ(words[1], "b7 0 4");
    name = plug(0xc009);
    camera(lastId).clearTrace();
    ASSERT_EQ(SetExposure(10.0f, name.c_str()), 0);
    EXPECT_EQ(requests(lastId), (V{"b7"}));

    // VDh694M1 sends the clock after every mode request, and at 16 bits on
    // a clock of 24000 or more refuses full resolution, staying where it is.
    name = plug(0xe00c, 0xa001);
    const char* n = name.c_str();
    ASSERT_EQ(SetResolution(2, n), 0);
    ASSERT_EQ(SetPixelclock(1, n), 0);  // "High", 24000
    ASSERT_EQ(SetRawDepth(16, n), 0);
    frame(name);
    camera(lastId).clearTrace();
    EXPECT_EQ(SetResolution(0, n), -3);
    EXPECT_EQ(GetResolution(n), 2);
    EXPECT_EQ(SetResolution(1, n), 4);  // no 16-bit depth there on this clock either
    EXPECT_TRUE(requests(lastId).empty());  // deferred to the next read
    frame(name);
    words = wire(lastId);
    ASSERT_GE(words.size(), 3u);
    EXPECT_EQ(words[0].substr(0, 4), "b4 d");
    EXPECT_EQ(words[1].substr(0, 5), "b5 a1");
    EXPECT_EQ(words[2].substr(0, 4), "bulk");
    ASSERT_EQ(SetPixelclock(2, n), 0);  // "Normal", 12000: full resolution at 16 bits
    EXPECT_EQ(SetResolution(0, n), 0);
    Grab full = frame(name);
    ASSERT_EQ(full.result, 0);
    EXPECT_EQ(full.image()->width, 2736);

    // VDo282C1 does not examine its header: a frame without the marker is
    // still a frame, a short one is not.
    name = plug(0xd001);
    frame(name);
    camera(lastId).corruptNextFrameMarker();
    EXPECT_EQ(grab(name).result, 0);
    camera(lastId).resizeNextFrame(-512);
    EXPECT_EQ(grab(name).result, -3);
    // At 16 bits (its slowest clock) every mode arrives at its own size, in
    // a buffer of the size the camera asks for.
    ASSERT_EQ(SetPixelclock(2, name.c_str()), 0);
    ASSERT_EQ(SetRawDepth(16, name.c_str()), 0);
    for (int mode = 0; mode < GetResolutionCount(name.c_str()); ++mode) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(SetResolution(mode, name.c_str()), 0);
        const Grab g = frame(name);
        ASSERT_EQ(g.result, 0);
        EXPECT_EQ(g.image()->width, GetResWidth(mode, name.c_str()) + 8);
        EXPECT_EQ(g.image()->height, GetResHeight(mode, name.c_str()) + 8);
        EXPECT_EQ(g.image()->depth, 16);
        if (mode < 2) {
            EXPECT_TRUE(topAligned(g.image()));  // as sent, not summed
        }
    }
}

// VAh500C1's firmware has a 16-bit mode the catalogue does not offer; where
// it is used, the full mode carries one header area more, and the samples
// come in the board's byte order.
TEST_F(Models, VAh500C1SixteenBitFullModeCarriesAHeaderAreaMore) {
    const std::pair<int, int> cases[] = {{0xa000, 0}, {0xa000, 1}, {0xb002, 0}, {0xb002, 1}};
    for (const auto& [release, mode] : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << release << std::dec << " mode " << mode);
        const std::string name = plug(0xa004, release);
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(SetRawDepth(16, name.c_str()), -4);
        ezcam::findCamera(name.c_str())->sensorControl().rawDepth.supported = 1;
        ASSERT_EQ(SetRawDepth(16, name.c_str()), 0);
        ASSERT_EQ(SetResolution(mode, name.c_str()), 0);
        frame(name);
        camera(lastId).clearTrace();
        const Grab g = frame(name);
        ASSERT_EQ(g.result, 0);
        EXPECT_TRUE(topAligned(g.image()));
        const int pixels = (mode == 0 ? 5121536 : 1249280) * 2 + (mode == 0 ? 512 : 0);
        const int tail = release == 0xb002 ? 512 : 3;  // the padded trailer, or three bytes
        EXPECT_TRUE(holds(wire(lastId), "bulk " + std::to_string(pixels + tail + 512) + " " +
                                            std::to_string(pixels + tail)));
        unplug(lastId);
    }
}
