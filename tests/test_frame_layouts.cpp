// Frames of the cameras that send their samples after the header area,
// closed by a trailer or one extra byte, read through the call surface from
// simulated cameras: sizes on the wire, the capture flag, framing faults and
// the samples a transfer does not carry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ezcam.h"
#include "sim/sim_camera.h"
#include "sim_session.h"
#include "sim_test_util.h"

using simsession::Session;

namespace {
using FrameLayouts = Session;

struct Bulk {
    int requested = -1;
    int received = -1;
};

struct Grab {
    std::vector<unsigned char> buffer;
    int result = -9;
    const _ezImage* image() const { return reinterpret_cast<const _ezImage*>(buffer.data()); }
};

class Reader {
  public:
    Reader(const std::string& name, int id) : name_(name), id_(id) {}

    // Reads one frame into a buffer of RecvMemSize bytes filled with `fill`.
    Grab grab(unsigned char fill = 0x55) {
        Grab g;
        g.buffer.assign(static_cast<size_t>(RecvMemSize(name_.c_str())), fill);
        g.result = GetRawData(g.buffer.data(), static_cast<int>(g.buffer.size()), name_.c_str());
        return g;
    }
    // The last bulk read of the trace.
    Bulk lastBulk() const {
        Bulk b;
        for (const std::string& line : sim().trace()) {
            int who = 0, pipe = 0, requested = 0, received = 0;
            if (std::sscanf(line.c_str(), "%d bulk %d %d %d", &who, &pipe, &requested, &received) ==
                4)
                b = {requested, received};
        }
        return b;
    }
    sim::SimCamera& sim() const { return *sim::simBus().camera(id_); }

  private:
    std::string name_;
    int id_;
};

// Every sample byte the record describes, from its data pointer.
size_t sampleBytes(const _ezImage* image) {
    return static_cast<size_t>(image->width) * image->height * (image->depth / 8);
}
}  // namespace

TEST_F(FrameLayouts, EveryTrailerAndExtraByteCameraDeliversItsModes) {
    struct Case {
        int product;
        int release;
        int suffix;  // bytes after the samples
        int asked;   // bytes asked beyond the samples (the exact askers: of a
                     // frame of whole packets; one header area more otherwise)
    };
    const Case cases[] = {
        {0xa811, 0xa000, 3, 3 + 512},    // VAh200C1
        {0xa004, 0xa000, 3, 3 + 512},    // VAh500C1
        {0xa007, 0xb002, 512, 2 * 512},  // VAh300C1, padded trailer
        {0xa00a, 0xa000, 3, 3 + 512},    // VSh035M1
        {0xa005, 0xa000, 3, 3 + 512},    // VSh035C1: one mode arrives twice as wide
        {0xa003, 0xa000, 3, 3 + 512},    // VAh1KC1
        {0xf007, 0xa000, 1, 1 + 512},    // VAg300C1
        {0xf00b, 0xa000, 1, 1 + 512},    // VAg131M1
        {0xe80a, 0xa000, 3, 3},          // VDh674C1: exactly what arrives, binned modes
        {0xe006, 0xa000, 3, 3},          // VDh285M1
        {0xe00c, 0xa001, 3, 3},          // VDh694M1, modes binned by the sensor
        {0xe00c, 0xa000, 3, 3},          // VDh694M1 on the older tables
        {0xe00a, 0xb001, 512, 2 * 512},  // VDh674M1, padded trailer
        {0xe80c, 0xa001, 3, 3},          // VDh694C1: modes cut out of whole rows
        {0xe001, 0xa000, 3, 3},          // VDh282C1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.product << "@" << c.release);
        const std::string name = plug(c.product, c.release);
        ASSERT_FALSE(name.empty());
        Reader reader(name, lastId);
        const int modes = GetResolutionCount(name.c_str());
        for (int mode = 0; mode < modes; ++mode) {
            SCOPED_TRACE(mode);
            ASSERT_EQ(SetResolution(mode, name.c_str()), 0);
            reader.grab();  // the frame of the change
            const Grab g = reader.grab();
            ASSERT_EQ(g.result, 0);
            const _ezImage* image = g.image();
            EXPECT_EQ(image->resolution, mode);
            EXPECT_EQ(image->data, g.buffer.data() + image->header_size);
            // The mode's stored size, also where the device sends the whole
            // sensor and the host bins it.
            EXPECT_EQ(image->width, GetResWidth(mode, name.c_str()) + 8);
            EXPECT_EQ(image->height, GetResHeight(mode, name.c_str()) + 8);
            const sim::SimCamera::FrameShape shape = reader.sim().nextFrameShape();
            const Bulk bulk = reader.lastBulk();
            EXPECT_EQ(bulk.received, static_cast<int>(shape.pixels) + c.suffix);
            const int frameBytes = static_cast<int>(shape.pixels) + c.suffix;
            const int surplus = c.asked == c.suffix && frameBytes % 512 != 0 ? 512 : 0;
            EXPECT_EQ(bulk.requested, static_cast<int>(shape.pixels) + c.asked + surplus);
            // A lit scene, not the buffer's fill.
            const unsigned char* data = image->data;
            size_t lit = 0;
            for (size_t i = 0; i < sampleBytes(image); i += 97) lit += data[i] != 0x55;
            EXPECT_GT(lit, sampleBytes(image) / 97 / 2);
        }
        unplug(lastId);
    }
}

TEST_F(FrameLayouts, TheCaptureFlagGivesOneOnlyWhereTheModelReportsIt) {
    struct Case {
        int product;
        int release;
        bool reports;
    };
    const Case cases[] = {
        {0xa811, 0xa000, true},   // h, A family
        {0xa007, 0xb002, true},   // padded trailer
        {0xa009, 0xa000, true},   // h, S family
        {0xe00b, 0xa000, true},   // VDh687M1
        {0xe001, 0xa000, true},   // VDh282C1
        {0xf007, 0xa000, true},   // VAg300C1: the byte two before the end
        {0xf008, 0xa000, false},  // VAg131C1
        {0xe80a, 0xa000, false},  // VDh674C1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.product << "@" << c.release);
        const std::string name = plug(c.product, c.release);
        ASSERT_FALSE(name.empty());
        Reader reader(name, lastId);
        ASSERT_EQ(reader.grab().result, 0);
        ASSERT_EQ(SimPressCapture(lastId), 0);
        EXPECT_EQ(reader.grab().result, c.reports ? 1 : 0);
        EXPECT_EQ(reader.grab().result, 0);  // one press, one flagged frame
        unplug(lastId);
    }
}

TEST_F(FrameLayouts, FramingFaultsGiveNoFrameAndTheNextFrameComes) {
    for (const int product : {0xa811, 0xf008}) {
        SCOPED_TRACE(testing::Message() << std::hex << product);
        const std::string name = plug(product);
        ASSERT_FALSE(name.empty());
        Reader reader(name, lastId);
        ASSERT_EQ(reader.grab().result, 0);
        reader.sim().resizeNextFrame(-1);
        EXPECT_EQ(reader.grab().result, -3);
        reader.sim().resizeNextFrame(+1);
        EXPECT_EQ(reader.grab().result, -3);
        if (product == 0xa811) {  // the g framing has no marker to corrupt
            reader.sim().corruptNextFrameMarker();
            EXPECT_EQ(reader.grab().result, -3);
        }
        EXPECT_EQ(reader.grab().result, 0);
        // Too small a buffer: refused before anything is read.
        reader.sim().clearTrace();
        std::vector<unsigned char> small(1024);
        EXPECT_EQ(GetRawData(small.data(), static_cast<int>(small.size()), name.c_str()), -2);
        EXPECT_EQ(reader.lastBulk().requested, -1);
        unplug(lastId);
    }
}

// The trailer's marker is no sample, and samples the device does not send
// read as black, not as what the buffer held.
TEST_F(FrameLayouts, SamplesTheTransferDoesNotCarryReadAsBlack) {
    const std::string name = plug(0xa811);  // VAh200C1
    ASSERT_FALSE(name.empty());
    Reader reader(name, lastId);

    // Mode 0: 1600 x 1200 samples, exactly the table's count; the trailer
    // follows them.
    Grab g = reader.grab();
    ASSERT_EQ(g.result, 0);
    const size_t full = sampleBytes(g.image());
    ASSERT_EQ(full, 1600u * 1200u);
    EXPECT_EQ(g.image()->data[full], 0);  // the marker, cleared

    // Mode 1: the table counts 479,744 bytes for 800 x 600 samples.
    ASSERT_EQ(SetResolution(1, name.c_str()), 0);
    reader.grab();
    g = reader.grab(0x55);
    ASSERT_EQ(g.result, 0);
    ASSERT_EQ(sampleBytes(g.image()), 480000u);
    for (size_t i = 479744; i < 480000; ++i) ASSERT_EQ(g.image()->data[i], 0) << i;

    // A region programmed into the sensor arrives in whole packets.
    const std::string programs = plug(0xa00a);  // VSh035M1
    ASSERT_FALSE(programs.empty());
    Reader regionReader(programs, lastId);
    regionReader.grab();
    ASSERT_EQ(SetRoi(0, 0, 333, 200, programs.c_str()), 0);
    Grab region;
    for (int i = 0; i < 4 && region.result != 0; ++i) region = regionReader.grab(0x55);
    ASSERT_EQ(region.result, 0);
    const _ezImage* image = region.image();
    const size_t bytes = sampleBytes(image);
    ASSERT_GT(bytes, 512u);
    const size_t sent = bytes - bytes % 512;
    EXPECT_EQ(regionReader.lastBulk().received, static_cast<int>(sent) + 3);
    for (size_t i = sent; i < bytes; ++i) ASSERT_EQ(image->data[i], 0) << i;
}

namespace {
// Means of a grid of 4 x 4 blocks, each block an even number of rows and
// columns so that every colour of a mosaic weighs the same.
std::vector<double> blockMeans(const _ezImage* image) {
    std::vector<double> means;
    const int bw = (image->width / 4) & ~1, bh = (image->height / 4) & ~1;
    for (int by = 0; by < 4; ++by)
        for (int bx = 0; bx < 4; ++bx) {
            double sum = 0;
            for (int y = by * bh; y < (by + 1) * bh; ++y)
                for (int x = bx * bw; x < (bx + 1) * bw; ++x)
                    sum += image->data[static_cast<size_t>(y) * image->width + x];
            means.push_back(sum / (bw * bh));
        }
    return means;
}
}  // namespace

// A mode whose request the device cannot tell from full resolution arrives
// as the whole sensor; binned, each block of the picture sums the samples of
// the same place of the full picture. So on every board that has such modes:
// the binned height is the mode's own, never half of it.
TEST_F(FrameLayouts, ModesReadOutAsTheWholeSensorAreBinnedInPlace) {
    struct Case {
        int product;
        int release;
        int mode;
        double factor;  // samples summed into one
    };
    const Case cases[] = {
        {0xd006, 0xa000, 1, 4},   // VDo285M1, header framing, monochrome
        {0xd004, 0xa000, 1, 4},   // VDo205M1: 2 x 2 ...
        {0xd004, 0xa000, 2, 16},  // ... and 4 x 4, like its kin
        {0xe009, 0xa000, 1, 4},   // VDh285C1: a colour mosaic binned by colour
        {0xe80a, 0xa000, 1, 4},   // VDh674C1, trailer, colour mosaic
        {0xe00a, 0xa000, 2, 16},  // VDh674M1 on its older tables ...
        {0xe00a, 0xb001, 1, 4},   // ... on every board that has them
        {0xe00c, 0xa000, 1, 4},   // VDh694M1 on VDo285M1's tables
        {0xe80c, 0xa000, 1, 4},   // VDh694C1 on VDo285M1's tables
        {0xd001, 0xa000, 2, 4},   // VDo282C1: its binned modes ...
        {0xe001, 0xa000, 3, 16},  // ... and VDh282C1's
        {0xc005, 0xa000, 2, 2},   // VSo035C1: twice as wide, halved across
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.product << "@" << c.release << std::dec
                                        << " mode " << c.mode);
        const std::string name = plug(c.product, c.release);
        ASSERT_FALSE(name.empty());
        Reader reader(name, lastId);
        reader.sim().setFlatScene(true);
        // Dim enough that the sums stay below full scale.
        ASSERT_EQ(SetExposure(GetExposure(name.c_str()) * 0.4f / static_cast<float>(c.factor),
                              name.c_str()),
                  0);
        reader.grab();
        const Grab full = reader.grab();
        ASSERT_EQ(full.result, 0);
        const int fullBytes = reader.lastBulk().received;
        ASSERT_EQ(SetResolution(c.mode, name.c_str()), 0);
        reader.grab();
        const Grab binned = reader.grab();
        ASSERT_EQ(binned.result, 0);
        ASSERT_EQ(binned.image()->width, GetResWidth(c.mode, name.c_str()) + 8);
        ASSERT_EQ(binned.image()->height, GetResHeight(c.mode, name.c_str()) + 8);
        ASSERT_EQ(full.image()->width, GetResWidth(0, name.c_str()) + 8);
        // The whole sensor went over the wire for the binned mode as well
        // (VSo035C1's mode: half the rows, after the header).
        EXPECT_EQ(reader.lastBulk().received,
                  c.product == 0xc005 ? (fullBytes - 512) / 2 + 512 : fullBytes);

        const std::vector<double> before = blockMeans(full.image());
        const std::vector<double> after = blockMeans(binned.image());
        for (size_t i = 0; i < before.size(); ++i) {
            ASSERT_GT(before[i], 2.0) << i;
            EXPECT_NEAR(after[i] / before[i], c.factor, 0.15 * c.factor) << "block " << i;
        }
        unplug(lastId);
    }
}

namespace {
double meanOf(const _ezImage* image) {
    double sum = 0;
    const size_t n = static_cast<size_t>(image->width) * image->height;
    for (size_t i = 0; i < n; ++i)
        sum +=
            image->depth == 16 ? reinterpret_cast<const uint16_t*>(image->data)[i] : image->data[i];
    return sum / static_cast<double>(n);
}

// The sensor-register writes (request 0xb7) of a trace, as "register=value".
std::vector<std::string> registerWrites(const std::vector<simsession::Transfer>& transfers) {
    std::vector<std::string> out;
    for (const simsession::Transfer& t : transfers)
        if (t.kind == "ctrl" && t.request == 0xb7) {
            char word[32];
            std::snprintf(word, sizeof word, "%x=%d", t.index, t.value);
            out.push_back(word);
        }
    return out;
}
}  // namespace

// VS200C1: frames open with a signature and carry 12-bit packed samples at
// 16 bits; its exposure is one line count split over two registers, its
// black level offset by 60.
TEST_F(FrameLayouts, SignedFramesAndTheSplitExposure) {
    const std::string name = plug(0xc00c);
    ASSERT_EQ(name.substr(0, 7), "IMX122.");
    Reader reader(name, lastId);
    Grab g = reader.grab();
    ASSERT_EQ(g.result, 0);
    EXPECT_EQ(std::memcmp(g.image()->data, "XTDT", 4), 0);  // kept as the first samples
    const double mean8 = meanOf(g.image());
    EXPECT_GT(mean8, 20.0);
    EXPECT_LT(mean8, 200.0);

    reader.sim().corruptNextFrameMarker();
    EXPECT_EQ(reader.grab().result, -3);
    reader.sim().resizeNextFrame(-2);
    EXPECT_EQ(reader.grab().result, -3);
    EXPECT_EQ(reader.grab().result, 0);

    // 12-bit packs come out as the same level at 16 bits.
    ASSERT_EQ(SetRawDepth(16, name.c_str()), 0);
    reader.grab();
    g = reader.grab();
    ASSERT_EQ(g.result, 0);
    ASSERT_EQ(g.image()->depth, 16);
    EXPECT_NEAR(meanOf(g.image()) / 256.0, mean8, 0.05 * mean8);

    // Exposure: the line count's high half to 0xa2, the low half to 0xa3,
    // clamped to 31 periods of 1250 lines.
    camera(lastId).clearTrace();
    ASSERT_EQ(SetExposure(5000.0f, name.c_str()), 0);
    EXPECT_EQ(registerWrites(transfers(lastId)), (std::vector<std::string>{"a2=0", "a3=38749"}));
    EXPECT_EQ(reader.sim().exposureLines(), 38749u);
    camera(lastId).clearTrace();
    ASSERT_EQ(SetExposure(20.0f, name.c_str()), 0);
    const std::vector<std::string> writes = registerWrites(transfers(lastId));
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], "a2=0");
    EXPECT_EQ(writes[1], "a3=" + std::to_string(reader.sim().exposureLines()));
    EXPECT_NEAR(GetExposure(name.c_str()), 20.0f, 0.2f);

    // Black level: stored as given, written 60 higher.
    camera(lastId).clearTrace();
    EXPECT_EQ(SetBlacklevel(10, name.c_str()), 0);
    EXPECT_EQ(registerWrites(transfers(lastId)), (std::vector<std::string>{"a1=70"}));
    EXPECT_EQ(GetBlacklevel(name.c_str()), 10);
    EXPECT_EQ(SetBlacklevel(1000, name.c_str()), -2);
}

// VDh694C1's narrower modes arrive as whole sensor rows and are cut out
// around the optical centre: a flat scene's vignetting stays symmetric.
TEST_F(FrameLayouts, ModesCutOutOfWholeRowsStayCentred) {
    const std::string name = plug(0xe80c, 0xa001);
    ASSERT_FALSE(name.empty());
    Reader reader(name, lastId);
    reader.sim().setFlatScene(true);
    for (const int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(SetResolution(mode, name.c_str()), 0);
        reader.grab();
        const Grab g = reader.grab();
        ASSERT_EQ(g.result, 0);
        const _ezImage* image = g.image();
        ASSERT_EQ(image->width, GetResWidth(mode, name.c_str()) + 8);
        const int w = image->width, h = image->height;
        // Means of the outer tenth on each side.
        auto mean = [&](int x0, int y0, int x1, int y1) {
            double sum = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) sum += image->data[static_cast<size_t>(y) * w + x];
            return sum / ((x1 - x0) * (y1 - y0));
        };
        const int bx = (w / 10) & ~1, by = (h / 10) & ~1;
        const double left = mean(0, 0, bx, h), right = mean(w - bx, 0, w, h);
        const double top = mean(0, 0, w, by), bottom = mean(0, h - by, w, h);
        EXPECT_NEAR(left / right, 1.0, 0.05);
        EXPECT_NEAR(top / bottom, 1.0, 0.05);
    }
}

// The A-family readers (and VSo035C1's) search the frame for defects when
// asked: that frame's result is 5, later frames come corrected.
TEST_F(FrameLayouts, TheDefectStepRunsInTheReadersThatHaveIt) {
    for (const int product : {0xa811, 0xf008, 0xc005}) {
        SCOPED_TRACE(testing::Message() << std::hex << product);
        const std::string name = plug(product);
        ASSERT_FALSE(name.empty());
        Reader reader(name, lastId);
        ASSERT_EQ(SetExposure(GetExposure(name.c_str()) / 2, name.c_str()), 0);
        reader.grab();
        Grab g = reader.grab();
        ASSERT_EQ(g.result, 0);
        const int hot = simtest::hotSamples(g.image());
        EXPECT_GE(hot, 3);
        CalcDefectCorrection(name.c_str());
        ASSERT_EQ(SetDefectCorrectionState(true, name.c_str()), 0);
        EXPECT_EQ(reader.grab().result, 5);
        g = reader.grab();
        ASSERT_EQ(g.result, 0);
        EXPECT_EQ(simtest::hotSamples(g.image()), 0);
        unplug(lastId);
    }
    // A reader without the step ignores the request.
    const std::string name = plug(0xa005);  // VSh035C1
    ASSERT_FALSE(name.empty());
    Reader reader(name, lastId);
    CalcDefectCorrection(name.c_str());
    EXPECT_EQ(reader.grab().result, 0);
}

// VDh694M1's black field: a reference exposed for ten seconds, then
// subtracted from later frames scaled by their exposure, never below zero.
TEST_F(FrameLayouts, TheBlackFieldIsTakenOverTenSecondsAndSubtractedToScale) {
    const std::string name = plug(0xe00c, 0xa001);
    ASSERT_FALSE(name.empty());
    Reader reader(name, lastId);
    reader.sim().setFlatScene(true);
    ASSERT_EQ(SetPixelclock(2, name.c_str()), 0);  // 16 bits in every mode
    ASSERT_EQ(SetRawDepth(16, name.c_str()), 0);
    const float exposure = GetExposure(name.c_str());
    reader.grab();

    reader.sim().clearTrace();
    CalcBlackField(name.c_str());
    EXPECT_NEAR(reader.sim().exposureMs(), 10000.0, 10.0);
    const std::vector<std::string> sent = codes(lastId);
    EXPECT_EQ(sent, (std::vector<std::string>{"bb", "b4"}));
    const Grab dark = reader.grab();  // becomes the reference
    ASSERT_EQ(dark.result, 0);
    const double darkMean = meanOf(dark.image());
    // The exposure in force before comes back.
    EXPECT_NEAR(reader.sim().exposureMs(), exposure, 0.01 * exposure);
    EXPECT_NEAR(GetExposure(name.c_str()), exposure, 0.01 * exposure);

    const double off = meanOf(reader.grab().image());
    ASSERT_EQ(SetBlackFieldState(true, name.c_str()), 0);
    const Grab on = reader.grab();
    ASSERT_EQ(on.result, 0);
    const double expected = darkMean * exposure / 10000.0;
    EXPECT_NEAR(off - meanOf(on.image()), expected, 0.1 * expected + 5);

    // At the reference's own exposure nothing is left, and nothing wraps
    // round below zero.
    ASSERT_EQ(SetExposure(10000.0f, name.c_str()), 0);
    reader.grab();
    const Grab same = reader.grab();
    ASSERT_EQ(same.result, 0);
    const auto* samples = reinterpret_cast<const uint16_t*>(same.image()->data);
    const size_t count = static_cast<size_t>(same.image()->width) * same.image()->height;
    EXPECT_LT(*std::max_element(samples, samples + count), 4096);

    // A frame of another size is left alone.
    ASSERT_EQ(SetExposure(exposure, name.c_str()), 0);
    ASSERT_EQ(SetResolution(1, name.c_str()), 0);
    reader.grab();
    const double binnedOn = meanOf(reader.grab().image());
    ASSERT_EQ(SetBlackFieldState(false, name.c_str()), 0);
    EXPECT_NEAR(meanOf(reader.grab().image()), binnedOn, 0.02 * binnedOn);

    // VDh694C1 takes no reference: asked for one, it leaves the camera at
    // the exposure in force, and its frames come as before.
    const std::string colour = plug(0xe80c, 0xa001);
    ASSERT_FALSE(colour.empty());
    Reader colourReader(colour, lastId);
    const float colourExposure = GetExposure(colour.c_str());
    ASSERT_EQ(colourReader.grab().result, 0);
    colourReader.sim().clearTrace();
    CalcBlackField(colour.c_str());
    EXPECT_TRUE(codes(lastId).empty());
    ASSERT_EQ(SetBlackFieldState(true, colour.c_str()), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(colourReader.grab().result, 0);
    EXPECT_NEAR(colourReader.sim().exposureMs(), colourExposure, 0.01 * colourExposure);
    EXPECT_NEAR(GetExposure(colour.c_str()), colourExposure, 0.01 * colourExposure);
}

// The cooled cameras' readers run the fluorescence guide: the gain search
// ends on a frame whose result is 2, the final measurement on one whose
// result is 3, which sets the long exposure. The search takes a gain step
// on every interval-th good frame only: the third, or on VDh694C1 the
// second. A final measurement asked for while the search runs comes first,
// and the search still ends on its own.
TEST_F(FrameLayouts, TheCooledReadersRunTheFluorescenceGuide) {
    struct Case {
        int product;
        int release;
        int interval;
    };
    const Case cases[] = {
        {0xe80a, 0xa000, 3},  // VDh674C1
        {0xe00a, 0xa001, 3},  // VDh674M1
        {0xe00b, 0xa000, 3},  // VDh687M1
        {0xe00c, 0xa001, 3},  // VDh694M1
        {0xe80c, 0xa001, 2},  // VDh694C1
        {0xe001, 0xa000, 3},  // VDh282C1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.product << "@" << c.release);
        const std::string name = plug(c.product, c.release);
        ASSERT_FALSE(name.empty());
        const char* n = name.c_str();
        Reader reader(name, lastId);
        ASSERT_EQ(reader.grab().result, 0);
        // The next good frame's result (a restart may cost one).
        const auto good = [&] {
            int result = -3;
            for (int i = 0; i < 4 && result == -3; ++i) result = reader.grab().result;
            return result;
        };

        // The guide's fixed gain, or the model's lowest where that is higher.
        int lowest = 0, highest = 0, step = 0;
        ASSERT_EQ(GetAnaloggainRange(&lowest, &highest, &step, n), 0);
        const int fixed = std::max(244, lowest);
        ASSERT_EQ(FluorescenceGuide(1, 0, n), 0);
        EXPECT_EQ(GetAnaloggain(n), fixed);  // the search starts here
        int searched = 0;
        int gain = GetAnaloggain(n);
        for (int frame = 1; frame <= 60 && !searched; ++frame) {
            const int result = good();
            ASSERT_TRUE(result == 0 || result == 2) << result;
            const int now = GetAnaloggain(n);
            if (now != gain) {
                EXPECT_EQ(frame % c.interval, 0) << "a gain step on frame " << frame;
            }
            gain = now;
            if (result == 2) searched = frame;
        }
        ASSERT_GT(searched, 0) << "the gain search never ended";
        EXPECT_EQ(searched % c.interval, 0);
        EXPECT_EQ(good(), 0);  // idle again

        ASSERT_EQ(SetAnaloggain(500, n), 0);
        ASSERT_EQ(FluorescenceGuide(2, 0, n), 0);
        EXPECT_EQ(good(), 3);
        EXPECT_EQ(GetAnaloggain(n), fixed);  // the measurement's fixed gain
        bool automatic = true;
        ASSERT_EQ(GetAutoExposure(&automatic, n), 0);
        EXPECT_FALSE(automatic);
        EXPECT_EQ(good(), 0);

        // Both at once: the measurement on the next frame, the search after.
        ASSERT_EQ(FluorescenceGuide(1, 0, n), 0);
        ASSERT_EQ(FluorescenceGuide(2, 0, n), 0);
        EXPECT_EQ(good(), 3);
        bool ended = false;
        for (int frame = 0; frame < 60 && !ended; ++frame) ended = good() == 2;
        EXPECT_TRUE(ended);
        unplug(lastId);
    }

    // Readers without the guide leave their frames alone.
    for (const int product : {0xc00a, 0xe006}) {  // VSo035M1, VDh285M1: long exposure, no guide
        SCOPED_TRACE(testing::Message() << std::hex << product);
        const std::string other = plug(product);
        ASSERT_FALSE(other.empty());
        Reader plain(other, lastId);
        ASSERT_EQ(FluorescenceGuide(1, 0, other.c_str()), 0);
        for (int i = 0; i < 10; ++i) EXPECT_NE(plain.grab().result, 2);
        unplug(lastId);
    }
}
