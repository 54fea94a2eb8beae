// Raw recordings from simulated cameras, read back by independent readers
// (tiffinfo, tifffile, astropy, and a SER reader written here from the
// format's description), and the frame information they are made from.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "recording/feed.h"
#include "recording/recorder.h"
#include "recording/writers.h"
#include "sim_session.h"

namespace fs = std::filesystem;
using recording::Format;

namespace {

struct Delivered {
    std::vector<unsigned char> samples;
    EzFrameInfo info;
};

std::string run(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char chunk[4096];
    while (pipe && fgets(chunk, sizeof chunk, pipe)) out += chunk;
    *status = pipe ? pclose(pipe) : -1;
    return out;
}

int64_t le(const std::vector<unsigned char>& bytes, size_t at, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes.at(at + static_cast<size_t>(i));
    return static_cast<int64_t>(value);
}

// A SER file as its description lays it out: 178-byte header, frames, and
// a trailer of 64-bit times in 100 ns ticks from 0001-01-01 (UTC).
struct SerFile {
    int colour = -1, endianFlag = -1, width = 0, height = 0, depth = 0, frames = 0;
    std::string fileId, instrument;
    std::vector<std::vector<unsigned char>> samples;
    std::vector<int64_t> utcTicks;
};
SerFile readSer(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    SerFile ser;
    if (bytes.size() < 178) return ser;
    ser.fileId.assign(bytes.begin(), bytes.begin() + 14);
    ser.colour = static_cast<int>(le(bytes, 18, 4));
    ser.endianFlag = static_cast<int>(le(bytes, 22, 4));
    ser.width = static_cast<int>(le(bytes, 26, 4));
    ser.height = static_cast<int>(le(bytes, 30, 4));
    ser.depth = static_cast<int>(le(bytes, 34, 4));
    ser.frames = static_cast<int>(le(bytes, 38, 4));
    ser.instrument = reinterpret_cast<const char*>(&bytes[82]);
    ser.instrument.resize(std::min<size_t>(ser.instrument.size(), 40));
    const size_t frameBytes = size_t(ser.width) * ser.height * (ser.depth > 8 ? 2 : 1);
    size_t at = 178;
    for (int i = 0; i < ser.frames && at + frameBytes <= bytes.size(); ++i, at += frameBytes)
        ser.samples.emplace_back(bytes.begin() + at, bytes.begin() + at + frameBytes);
    for (; at + 8 <= bytes.size(); at += 8) ser.utcTicks.push_back(le(bytes, at, 8));
    return ser;
}

class Recording : public simsession::Session {
  protected:
    void SetUp() override {
        Session::SetUp();
        dir = fs::temp_directory_path() / ("ezcam-record-" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::remove_all(dir);
        Session::TearDown();
    }

    // A streaming camera at its smallest resolution and the given depth.
    std::string camera(int product, int depth, int release = 0xa000) {
        const std::string name = plug(product, release);
        EXPECT_FALSE(name.empty());
        const char* c = name.c_str();
        EXPECT_EQ(SetResolution(GetResolutionCount(c) - 1, c), 0);
        if (GetRawDepth(c) != depth) {
            EXPECT_EQ(SetRawDepth(depth, c), 0);
        }
        EXPECT_EQ(ResumeDevice(c), 0);
        return name;
    }
    recording::RecorderSetup setup(const std::string& name, Format format, const char* file) {
        recording::RecorderSetup s;
        s.path = (dir / file).string();
        s.format = format;
        s.instrument = name;
        s.frameBufferBytes = static_cast<size_t>(RecvMemSize(name.c_str()));
        return s;
    }
    // Reads a frame into `buffer`; keeps a copy of its samples.
    bool read(const std::string& name, unsigned char* buffer, std::vector<Delivered>& kept) {
        EzFrameInfo info{};
        for (int attempt = 0; attempt < 10; ++attempt) {
            const int result = GetRawDataInfo(buffer, RecvMemSize(name.c_str()), &info, name.c_str());
            if (result != 0 && result != 1) continue;
            const auto* record = reinterpret_cast<const _ezImage*>(buffer);
            const unsigned char* first = buffer + record->header_size;
            kept.push_back({{first, first + size_t(record->stride) * record->height}, info});
            return true;
        }
        return false;
    }
    // Frames read into the recorder's own buffers, as a grabbing loop does.
    std::vector<Delivered> record(const std::string& name, recording::Recorder& recorder, int n) {
        std::vector<Delivered> kept;
        for (int i = 0; i < n; ++i) {
            unsigned char* buffer = recorder.claim();
            if (!buffer || !read(name, buffer, kept)) break;
            recorder.commit(buffer, kept.back().info);
        }
        return kept;
    }
    // frames.bin and frames.txt for record_readback.py.
    void expect(const std::vector<Delivered>& frames) {
        std::ofstream bin(dir / "frames.bin", std::ios::binary);
        std::ofstream txt(dir / "frames.txt");
        const EzFrameInfo& f = frames.front().info;
        txt << f.width << ' ' << f.height << ' ' << f.depth << ' ' << f.bayer << ' ' << frames.size()
            << '\n';
        for (const Delivered& d : frames) {
            bin.write(reinterpret_cast<const char*>(d.samples.data()),
                      static_cast<std::streamsize>(d.samples.size()));
            txt << d.info.frame << ' ' << d.info.monotonic_ns << ' ' << d.info.utc_ns << ' '
                << d.info.exposure_ms << ' ' << d.info.analog_gain << '\n';
        }
    }

    fs::path dir;
};

TEST_F(Recording, EveryFrameCarriesItsOwnInformation) {
    EzFrameInfo info{};
    std::vector<unsigned char> buffer(64);
    EXPECT_EQ(GetRawDataInfo(buffer.data(), 64, &info, "nobody"), -1);

    const std::string name = camera(0xc004, 8);
    const char* c = name.c_str();
    buffer.resize(static_cast<size_t>(RecvMemSize(c)));
    std::vector<Delivered> frames;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(read(name, buffer.data(), frames));
    const auto wall = std::chrono::system_clock::now().time_since_epoch();
    for (size_t i = 0; i < frames.size(); ++i) {
        const EzFrameInfo& f = frames[i].info;
        EXPECT_EQ(f.frame, i);
        if (i) {
            EXPECT_GT(f.monotonic_ns, frames[i - 1].info.monotonic_ns);
        }
        EXPECT_NEAR(static_cast<double>(f.utc_ns),
                    static_cast<double>(std::chrono::nanoseconds(wall).count()), 60e9);
        EXPECT_FLOAT_EQ(f.exposure_ms, GetExposure(c));
        EXPECT_EQ(f.analog_gain, GetAnaloggain(c));
        EXPECT_EQ(f.black_level, GetBlacklevel(c));
        EXPECT_EQ(f.pixel_clock, GetPixelclock(c));
        EXPECT_EQ(f.resolution, GetResolution(c));
        EXPECT_EQ(f.bayer, GetRawBayernPattern(c));
        EXPECT_EQ(f.depth, 8);
        EXPECT_EQ(f.has_temperature, 0);
        EXPECT_EQ(f.frames_lost, 0u);
    }

    // A region programmed into the sensor drops the frame that programs it;
    // the next frame counts that loss and is the region.
    ASSERT_EQ(SetResolution(0, c), 0);
    ASSERT_EQ(SetRoi(64, 32, 320, 240, c), 0);
    int x = 0, y = 0, w = 0, h = 0;
    GetRoi(&x, &y, &w, &h, c);
    frames.clear();
    ASSERT_TRUE(read(name, buffer.data(), frames));
    ASSERT_TRUE(read(name, buffer.data(), frames));
    const EzFrameInfo& region = frames.back().info;
    EXPECT_GE(region.mode_drops, 1u);
    EXPECT_GE(region.frames_lost, region.mode_drops);
    EXPECT_EQ(region.roi_x, x);
    EXPECT_EQ(region.roi_y, y);
    EXPECT_EQ(region.width, w + 8);

    // A new stream counts from 0 again. The region outlives the resume;
    // programming it again costs the new stream its first frame.
    SuspendDevice(c);
    ResumeDevice(c);
    frames.clear();
    ASSERT_TRUE(read(name, buffer.data(), frames));
    EXPECT_EQ(frames[0].info.frame, 0u);
    EXPECT_EQ(frames[0].info.frames_lost, frames[0].info.mode_drops);
    EXPECT_LE(frames[0].info.frames_lost, 1u);
    EXPECT_EQ(frames[0].info.roi_x, x);
    EXPECT_EQ(frames[0].info.width, w + 8);

    // A cooled camera with a sensor thermometer reports its temperature.
    const std::string cooled = camera(0xe00a, 8, 0xa004);
    buffer.resize(static_cast<size_t>(RecvMemSize(cooled.c_str())));
    ASSERT_TRUE(read(cooled, buffer.data(), frames));
    float celsius = -1000;
    ASSERT_EQ(GetTemperature(&celsius, cooled.c_str()), 0);
    EXPECT_EQ(frames.back().info.has_temperature, 1);
    EXPECT_NEAR(frames.back().info.temperature, celsius, 5.0f);
}

TEST_F(Recording, ContainersReadBackByIndependentReaders) {
    struct Case {
        Format format;
        const char* file;
        int product;  // 0xd001 colour (Bayer code 4), 0xd004 monochrome
        int depth;
    };
    const Case cases[] = {
        {Format::OmeTiff, "a.ome.tif", 0xd001, 8}, {Format::OmeTiff, "b.ome.tif", 0xd004, 16},
        {Format::Fits, "c.fits", 0xd001, 16},       {Format::FitsFrames, "d.fits", 0xd004, 8},
        {Format::Ser, "e.ser", 0xd001, 8},          {Format::Ser, "f.ser", 0xd004, 16},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.file);
        const std::string name = camera(test.product, test.depth);
        recording::Recorder recorder(setup(name, test.format, test.file));
        ASSERT_TRUE(recorder.ok()) << recorder.error();
        const std::vector<Delivered> frames = record(name, recorder, 5);
        ASSERT_EQ(frames.size(), 5u);
        ASSERT_TRUE(recorder.finish()) << recorder.error();
        EXPECT_EQ(recorder.counts().recorded, 5u);
        EXPECT_TRUE(recorder.counts().complete());
        const fs::path file = dir / test.file;
        int status = 0;
        // Finished: nothing to repair, no journal left.
        EXPECT_FALSE(fs::exists(file.string() + ".journal"));
        if (test.format != Format::FitsFrames) {
            const recording::RepairReport report = recording::repairRecording(file.string());
            EXPECT_TRUE(report.ok && !report.changed) << report.message;
            EXPECT_EQ(report.frames, 5u) << report.message;
        }

        if (test.format == Format::Ser) {
            const SerFile ser = readSer(file);
            EXPECT_EQ(ser.fileId, "LUCAM-RECORDER");
            // Bayer code 4 sits under G R / B G filters: BAYER_GRBG; MONO.
            EXPECT_EQ(ser.colour, test.product == 0xd001 ? 9 : 0);
            EXPECT_EQ(ser.endianFlag, 0);  // read as little-endian by the programs in use
            EXPECT_EQ(ser.width, frames[0].info.width);
            EXPECT_EQ(ser.height, frames[0].info.height);
            EXPECT_EQ(ser.depth, test.depth);
            EXPECT_EQ(ser.instrument, name);
            ASSERT_EQ(ser.frames, 5);
            ASSERT_EQ(ser.utcTicks.size(), 5u);
            for (size_t i = 0; i < 5; ++i) {
                EXPECT_EQ(ser.samples[i], frames[i].samples) << "frame " << i;
                if (i) {
                    EXPECT_GT(ser.utcTicks[i], ser.utcTicks[i - 1]);
                }
                const int64_t expected = frames[0].info.utc_ns +
                                         (frames[i].info.monotonic_ns - frames[0].info.monotonic_ns);
                EXPECT_EQ(ser.utcTicks[i], 621'355'968'000'000'000 + expected / 100);
            }
        } else {
            expect(frames);
            const char* kind = test.format == Format::OmeTiff ? "ome-tiff"
                               : test.format == Format::Fits  ? "fits"
                                                              : "fits-frames";
            const std::string out = run(std::string("/usr/bin/python3 " EZCAM_TEST_DIR
                                                    "/record_readback.py ") +
                                            kind + " " + file.string() + " " + dir.string(),
                                        &status);
            EXPECT_EQ(status, 0) << out;
        }
        if (test.format == Format::OmeTiff) {
            const std::string info = run("tiffinfo " + file.string(), &status);
            EXPECT_EQ(status, 0) << info;
            size_t pages = 0;
            for (size_t at = 0; (at = info.find("TIFF Directory at", at)) != std::string::npos; ++at)
                ++pages;
            EXPECT_EQ(pages, 5u);
            EXPECT_NE(info.find("Bits/Sample: " + std::to_string(test.depth)), std::string::npos);
        }
        SuspendDevice(name.c_str());
    }
}

// A disk slower than the camera: a writer that sleeps until every frame
// has been read. Two frames fit the queue; the others are dropped and
// counted, and every frame read is recorded or counted.
TEST_F(Recording, SlowDiskDropsAreCounted) {
    const std::string name = camera(0xc004, 8);
    recording::RecorderSetup s = setup(name, Format::Ser, "slow.ser");
    s.queueBytes = 2 * s.frameBufferBytes;
    std::atomic<bool> diskBack{false};
    s.afterWrite = [&] {
        while (!diskBack) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    recording::Recorder recorder(s);
    std::vector<unsigned char> buffer(s.frameBufferBytes);
    std::vector<Delivered> read, accepted;
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(this->read(name, buffer.data(), read));
        if (recorder.push(buffer.data(), read.back().info)) accepted.push_back(read.back());
    }
    diskBack = true;
    ASSERT_TRUE(recorder.finish()) << recorder.error();
    const recording::RecordingCounts counts = recorder.counts();
    EXPECT_EQ(counts.offered, 30u);
    EXPECT_EQ(counts.recorded, 2u);
    EXPECT_EQ(counts.dropped, 28u);
    EXPECT_EQ(accepted.size(), 2u);
    EXPECT_FALSE(counts.complete());

    const SerFile ser = readSer(dir / "slow.ser");
    ASSERT_EQ(static_cast<size_t>(ser.frames), accepted.size());
    for (size_t i = 0; i < accepted.size(); ++i) {
        EXPECT_EQ(ser.samples[i], accepted[i].samples) << "frame " << i;
        if (i) {
            EXPECT_GT(ser.utcTicks[i], ser.utcTicks[i - 1]);
        }
    }
}

// Failures are reported, never taken for a recording.
TEST_F(Recording, WriteFailuresAreReported) {
    const std::string name = camera(0xc004, 8);
    recording::Recorder nowhere(setup(name, Format::Fits, "missing/x.fits"));
    EXPECT_FALSE(nowhere.ok());
    EXPECT_NE(nowhere.error().find("missing"), std::string::npos);

    recording::RecorderSetup full = setup(name, Format::Ser, "");
    full.path = "/dev/full";
    recording::Recorder recorder(full);
    ASSERT_TRUE(recorder.ok());
    const std::vector<Delivered> frames = record(name, recorder, 2);
    EXPECT_FALSE(recorder.finish());
    EXPECT_NE(recorder.error().find("No space left"), std::string::npos) << recorder.error();
    EXPECT_EQ(recorder.counts().recorded, 0u);
    EXPECT_EQ(recorder.counts().failed, frames.size());
    EXPECT_EQ(recorder.counts().dropped, 0u);
}

// The feed both ezcap and the viewer hand their reads to: frames read into
// its lent buffers and into the reader's own go into one file in order, and
// the feed ends at its length or at the first frame of another geometry,
// saying which.
TEST_F(Recording, OneFeedEndsAtItsLengthOrAtAChangeOfGeometry) {
    struct Case {
        const char* what;
        recording::FeedLength length;
        std::function<void(const char*)> change;  // after the third frame
        const char* reason;                       // the change the feed names
        uint64_t taken;                           // frames it takes
    };
    const Case cases[] = {
        {"four frames", {4, 0}, nullptr, nullptr, 4},
        {"a short time", {0, 0.05}, nullptr, nullptr, 0},
        {"resolution", {100, 0}, [](const char* c) { SetResolution(0, c); }, "the resolution changed", 3},
        {"depth", {100, 0}, [](const char* c) { SetRawDepth(16, c); }, "the bit depth changed", 3},
        {"region", {100, 0}, [](const char* c) { SetRoi(0, 0, 64, 32, c), SetRoiState(true, c); },
         "the region changed", 3},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        const std::string name = camera(0xd004, 8);  // monochrome, 8 or 16 bits
        const char* c = name.c_str();
        recording::Recorder recorder(setup(name, Format::Ser, "feed.ser"));
        recording::Feed feed(recorder, test.length);
        std::vector<unsigned char> own(static_cast<size_t>(RecvMemSize(c)));
        std::vector<Delivered> delivered;
        for (int read = 0; read < 2000 && !feed.ended(); ++read) {
            if (read == 3 && test.change) test.change(c);
            // Every other read goes into the reader's own buffer (the
            // viewer's way), the others into the feed's (ezcap's).
            unsigned char* lent = read % 2 ? feed.lend() : nullptr;
            unsigned char* buffer = lent ? lent : own.data();
            EzFrameInfo info{};
            const int result = GetRawDataInfo(buffer, RecvMemSize(c), &info, c);
            Delivered frame{{}, info};
            if (result == 0) {
                const auto* record = reinterpret_cast<const _ezImage*>(buffer);
                const unsigned char* first = buffer + record->header_size;
                frame.samples.assign(first, first + size_t(record->stride) * record->height);
            }
            const uint64_t taken = feed.taken();
            feed.frameRead(result, buffer, info);
            if (feed.taken() > taken) delivered.push_back(std::move(frame));
        }
        ASSERT_TRUE(feed.ended());
        EXPECT_STREQ(feed.change(), test.reason);
        if (test.taken) {
            EXPECT_EQ(feed.taken(), test.taken);
        }
        ASSERT_TRUE(recorder.finish()) << recorder.error();
        const recording::RecordingCounts counts = recorder.counts();
        EXPECT_EQ(counts.offered, feed.taken());
        // The unpaced camera may outrun the disk: frames that found the
        // queue full are dropped and counted.
        EXPECT_EQ(counts.recorded + counts.dropped, feed.taken());
        const SerFile ser = readSer(dir / "feed.ser");
        ASSERT_EQ(uint64_t(ser.frames), counts.recorded);
        if (counts.dropped == 0) {
            ASSERT_EQ(delivered.size(), feed.taken());
            for (size_t i = 0; i < ser.samples.size(); ++i)
                EXPECT_EQ(ser.samples[i], delivered[i].samples) << "frame " << i;
        }
        SuspendDevice(c);
    }
}

// Files to repair are untrusted input: counts and sizes in them must not
// drive allocations, overflow offsets or cut a file at a wrong place.
// What is known of the frames beyond their samples (what they show, the
// converter's bits, the pixel size at the sensor and in the sample plane, a
// master's name longer than a card) reaches every container, and the FITS
// files stay ones fitsverify finds nothing wrong with.
TEST(RecordingWriters, FilesSayWhatTheFramesAreAndPassFitsverify) {
    const fs::path dir = fs::temp_directory_path() / ("ezcam-writers-" + std::to_string(getpid()));
    fs::create_directories(dir);
    recording::Sequence sequence;
    sequence.width = 16;
    sequence.height = 8;
    sequence.depth = 16;
    sequence.instrument = "QC500.1";
    sequence.pixelClock = "High";
    sequence.frameType = recording::FrameType::Dark;
    sequence.sensorPixelUm = 2.2;
    sequence.samplePixelUm = 0.345;
    sequence.calibration = {{"dark", "dark_" + std::string(90, 'x') + ".fits"}};
    std::vector<unsigned char> samples(sequence.frameBytes());
    for (size_t i = 0; i < samples.size(); i += 2) samples[i + 1] = static_cast<unsigned char>(i);
    struct Case {
        Format format;
        const char* file;
    } cases[] = {{Format::Fits, "cube.fits"},
                 {Format::FitsFrames, "frames.fits"},
                 {Format::OmeTiff, "stack.ome.tif"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = (dir / c.file).string();
        auto writer = recording::makeWriter(c.format, path);
        std::string error;
        ASSERT_TRUE(writer->begin(sequence, error)) << error;
        for (int i = 0; i < 2; ++i) {
            EzFrameInfo info{};
            info.frame = static_cast<uint64_t>(i + 1);
            info.utc_ns = 1'780'000'000'000'000'000 + i * 50'000'000LL;
            info.monotonic_ns = i * 50'000'000LL;
            info.exposure_ms = 20;
            info.width = sequence.width;
            info.height = sequence.height;
            info.depth = 16;
            info.x_binning = info.y_binning = 2;
            info.has_temperature = 1;
            info.temperature = -10.5f;
            ASSERT_TRUE(writer->write(samples.data(), info, error)) << error;
        }
        ASSERT_TRUE(writer->checkpoint(error)) << error;
        ASSERT_TRUE(writer->finish(error)) << error;
    }
    // Cut short and repaired (the cube through its table, the stack through
    // its OME-XML): the cube keeps its frames, the OME-XML is rebuilt from
    // the pages and says all it said.
    for (const char* name : {"cube.fits", "stack.ome.tif"}) {
        const fs::path cut = dir / (std::string("cut-") + name);
        fs::copy_file(dir / name, cut);
        std::ifstream in(cut, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        const size_t xml = bytes.find("<?xml");
        fs::resize_file(cut, xml == std::string::npos ? bytes.size() - 100 : xml + 100);
        const recording::RepairReport report = recording::repairRecording(cut.string());
        EXPECT_TRUE(report.ok && report.changed) << report.message;
    }
    int status = 0;
    const std::string verified =
        run("fitsverify -q " + (dir / "cube.fits").string() + " " +
                (dir / "frames_000001.fits").string() + " " +
                (dir / "frames_000002.fits").string() + " " + (dir / "cut-cube.fits").string(),
            &status);
    EXPECT_EQ(status, 0) << verified;
    EXPECT_EQ(verified.find("FAILED"), std::string::npos) << verified;
    // XPIXSZ is a binned pixel's pitch; OME's size is the objective's.
    const std::string script =
        "import sys, re, tifffile\n"
        "from astropy.io import fits\n"
        "d = sys.argv[1]\n"
        "for name in ('cube.fits', 'frames_000001.fits', 'cut-cube.fits'):\n"
        "    h = fits.getheader(d + '/' + name)\n"
        "    got = (h['IMAGETYP'], h['SIGBITS'], h['XPIXSZ'], h['YPIXSZ'], len(h['CALDARK']))\n"
        "    assert got == ('Dark Frame', 12, 4.4, 4.4, 100), (name, got)\n"
        "t = fits.getdata(d + '/cube.fits', 'FRAMES')\n"
        "assert list(t['FRAMENUM']) == [1, 2] and len(t['DATE_END']) == 2, t.columns\n"
        "assert list(t['CCD_TEMP']) == [-10.5, -10.5], t['CCD_TEMP']\n"
        "for name in ('stack.ome.tif', 'cut-stack.ome.tif'):\n"
        "    with tifffile.TiffFile(d + '/' + name) as tif:\n"
        "        xml = tif.ome_metadata\n"
        "        assert tif.series[0].shape == (2, 8, 16), name\n"
        "    p = re.search(r'<Pixels [^>]*>', xml).group(0)\n"
        "    for a in ('SignificantBits=\"12\"', 'PhysicalSizeX=\"0.345\"', "
        "'PhysicalSizeY=\"0.345\"'):\n"
        "        assert a in p, (name, a, p)\n"
        "    assert 'K=\"FrameType\">Dark Frame<' in xml, name\n"
        "    assert 'K=\"SensorPixelSizeUm\">2.2000<' in xml, name\n"
        "print('ok')\n";
    std::ofstream(dir / "check.py") << script;
    const std::string out =
        run("/usr/bin/python3 " + (dir / "check.py").string() + " " + dir.string(), &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("ok"), std::string::npos) << out;
    fs::remove_all(dir);
}

TEST(Repair, HostileFilesAreRefusedOrKeepOnlyWhatIsThere) {
    const fs::path dir = fs::temp_directory_path() / ("ezcam-repair-" + std::to_string(getpid()));
    fs::create_directories(dir);
    auto le32 = [](std::string& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
    };
    auto card = [](const std::string& text) {
        std::string c = text;
        c.resize(80, ' ');
        return c;
    };
    auto fitsHeader = [&](const char* n1, const char* n2, const char* n3) {
        std::string h = card("SIMPLE  =                    T") + card("BITPIX  =                    8") +
                        card("NAXIS   =                    3") + card(std::string("NAXIS1  = ") + n1) +
                        card(std::string("NAXIS2  = ") + n2) + card(std::string("NAXIS3  = ") + n3) +
                        card("END");
        h.resize(2880, ' ');
        return h;
    };
    std::string ser(178, '\0');
    ser.replace(0, 14, "LUCAM-RECORDER");
    std::string serHuge = ser;
    le32(serHuge, 26, 0xffffffff), le32(serHuge, 30, 0xffffffff), le32(serHuge, 34, 8);
    std::string serCounted = ser;  // 4 x 2 frames, 2 of them there, declaring 4 billion
    le32(serCounted, 26, 4), le32(serCounted, 30, 2), le32(serCounted, 34, 8);
    le32(serCounted, 38, 0xffffffff);
    serCounted += std::string(16, 'x') + "abc";
    std::string tiffBeyond = std::string("II*\0", 4) + std::string(4, '\0');
    le32(tiffBeyond, 4, 0xfffffff0);
    std::string tiffManyEntries = std::string("II*\0", 4) + std::string(12, '\0');
    le32(tiffManyEntries, 4, 8);
    tiffManyEntries[8] = '\xff', tiffManyEntries[9] = '\xff';
    const struct {
        const char* what;
        std::string bytes;
        bool ok;
        uint64_t frames;
    } cases[] = {
        {"empty", "", false, 0},
        {"a SER header of 4-gigapixel frames", serHuge + "abc", false, 0},
        {"a SER count past its frames", serCounted, true, 2},
        {"FITS sides below zero", fitsHeader("-5", "2", "3") + std::string(100, 'x'), false, 0},
        {"FITS sides past any file", fitsHeader("99999999999", "2", "3"), false, 0},
        {"a FITS count past its frames", fitsHeader("4", "2", "999999999") + std::string(20, 'x'), true, 2},
        {"a FITS header without END", std::string(5000, ' ').replace(0, 9, "SIMPLE  ="), false, 0},
        {"a TIFF page past the end", tiffBeyond, false, 0},
        {"a TIFF page of 65535 entries", tiffManyEntries, false, 0},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        const fs::path file = dir / "hostile";
        std::ofstream(file, std::ios::binary).write(test.bytes.data(), static_cast<std::streamsize>(test.bytes.size()));
        const recording::RepairReport report = recording::repairRecording(file.string());
        EXPECT_EQ(report.ok, test.ok) << report.message;
        EXPECT_EQ(report.frames, test.frames) << report.message;
        EXPECT_FALSE(report.message.empty());
        if (!test.ok) {
            EXPECT_EQ(fs::file_size(file), test.bytes.size()) << "a refused file was changed";
        }
    }
    // Random bytes behind each magic: refused or repaired, never a crash.
    std::mt19937 random(7);
    const std::string magics[] = {ser, std::string("II*\0", 4), std::string("II+\0\x08\0\0\0", 8),
                                  fitsHeader("4", "2", "3")};
    for (int i = 0; i < 400; ++i) {
        std::string bytes = magics[static_cast<size_t>(i) % 4];
        const size_t keep = random() % bytes.size();
        for (size_t k = keep; k < bytes.size(); ++k) bytes[k] = static_cast<char>(random());
        bytes.resize(bytes.size() + random() % 600);
        for (size_t k = keep; k < bytes.size(); ++k) bytes[k] = static_cast<char>(random());
        const fs::path file = dir / "noise";
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        const recording::RepairReport report = recording::repairRecording(file.string());
        EXPECT_LE(report.frames, bytes.size());
    }
    fs::remove_all(dir);
}

}  // namespace
