// Stills from a simulated camera: arming a deferred capture, and frames the
// caller holds written with SaveFile, each file read back by an independent
// reader (libtiff, libpng, libjpeg; RAW by RawDecoder).
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "camera/cam_bayer.h"
#include "device/registry.h"
#include "ezImage/grfmt_raw.h"
#include "ezImage/registry.h"
#include "image_files_support.h"
#include "sim_session.h"

using simsession::Session;
using simsession::Transfer;

namespace {

class Stills : public Session {
  protected:
    void SetUp() override {
        Session::SetUp();
        name = plug(0xc004, 0xa100);
        cam = ezcam::findCamera(name.c_str());
        ASSERT_TRUE(cam);
        id = lastId;
    }
    void TearDown() override {
        cam.reset();
        Session::TearDown();
    }
    const char* c() const { return name.c_str(); }
    // Requests sent since the last look, as request codes ("bulk" for reads).
    std::vector<std::string> wire() {
        std::vector<std::string> out = codes(id);
        camera(id).clearTrace();
        return out;
    }
    // The names of the files f writes in the scratch directory, in order.
    template <typename F>
    std::vector<std::string> created(F&& f) {
        const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        EXPECT_GE(fd, 0);
        inotify_add_watch(fd, dir.path.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
        f();
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[8192];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0) {
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<inotify_event*>(p);
                if (event->len) names.emplace_back(event->name);
                p += sizeof(inotify_event) + event->len;
            }
        }
        close(fd);
        return names;
    }
    std::vector<std::string> listing() {
        std::vector<std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path))
            out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    std::string name;
    std::shared_ptr<CamBayer> cam;
    int id = 0;
    ScratchDir dir;
};

// A frame buffer as the camera's callers hold them: the record, the rest of
// a 512-byte header, the pixels and room for the statistics.
Bytes frameBuffer(const _ezImage* image, int decoded) {
    const size_t pixels = size_t{image->stride} * image->height;
    Bytes buffer(512 + pixels + kStatisticsBytes, 0);
    auto* record = reinterpret_cast<_ezImage*>(buffer.data());
    ezInitImageHeader(record, image->width, image->height, image->channels, image->depth, 512,
                      buffer.data() + 512, 2, decoded);
    std::memcpy(buffer.data() + 512, image->data, pixels);
    return buffer;
}

ImagePtr readRaw(const std::string& path) {
    RawDecoder decoder;
    decoder.setSource(path.c_str());
    RBaseStream stream;
    if (!decoder.readHeader(stream)) return nullptr;
    ImagePtr image(ezCreateImage(decoder.width(), decoder.height(), decoder.depth(),
                                 decoder.channels(), decoder.dataOffset(), 0));
    return image && decoder.readData(image.get(), stream) ? std::move(image) : nullptr;
}

}  // namespace

// ---- Arming a deferred capture --------------------------------------------------

TEST_F(Stills, QuarterTurnsAndRegionsDecideTheExpectedSize) {
    SetRotate(1, c());
    ASSERT_EQ(SaveImage(dir.file("r").c_str(), 1, c()), 0);
    EXPECT_EQ(std::make_pair(cam->stills().width(), cam->stills().height()),
              std::make_pair(960, 1280));
    SetRotate(2, c());
    SaveImage(dir.file("r").c_str(), 1, c());
    EXPECT_EQ(std::make_pair(cam->stills().width(), cam->stills().height()),
              std::make_pair(960, 1280));
    SetRotate(3, c());
    SaveImage(dir.file("r").c_str(), 1, c());
    EXPECT_EQ(std::make_pair(cam->stills().width(), cam->stills().height()),
              std::make_pair(1280, 960));

    // A region at the current resolution: its stored size.
    SetRotate(0, c());
    ASSERT_EQ(SetRoi(100, 50, 400, 300, c()), 0);
    SaveImage(dir.file("r").c_str(), 1, c());
    EXPECT_EQ(std::make_pair(cam->stills().width(), cam->stills().height()),
              std::make_pair(408, 308));
    // Another resolution ends the region: the mode's size.
    SaveImage(dir.file("r").c_str(), 2, c());
    EXPECT_EQ(std::make_pair(cam->stills().width(), cam->stills().height()),
              std::make_pair(640, 480));
}

TEST_F(Stills, RefusedRequestsArmNothing) {
    camera(id).clearTrace();
    EXPECT_EQ(SaveImage(dir.file("x").c_str(), 5, c()), -2);
    EXPECT_EQ(SaveImage(dir.file("x").c_str(), -1, c()), -2);
    EXPECT_EQ(SaveImageEx(dir.file("x").c_str(), 9, nullptr, c()), -2);
    EXPECT_EQ(cam->stills().armed(), 0);
    EXPECT_EQ(GetResolution(c()), 0);
    EXPECT_TRUE(wire().empty());
    EXPECT_EQ(SaveImage(dir.file("x").c_str(), 0, "nobody"), -1);
    EXPECT_EQ(SaveImageEx(dir.file("x").c_str(), 0, nullptr, "nobody"), -1);

    // The callback form arms the same request and keeps the callback.
    const EzSnapCallback callback = [](unsigned char*) {};
    EXPECT_EQ(SaveImageEx(dir.file("y").c_str(), 3, callback, c()), 0);
    EXPECT_EQ(cam->stills().callback, callback);
    EXPECT_EQ(cam->stills().armed(), 1);
    EXPECT_EQ(GetResolution(c()), 3);
}

// ---- Frames the caller holds -------------------------------------------------------

TEST_F(Stills, FinishedImagesAreWrittenInOrderAndReadBack) {
    ImagePtr image = testImage(32, 24, 8, 3, true);
    Bytes buffer = frameBuffer(image.get(), 1);
    auto* record = reinterpret_cast<_ezImage*>(buffer.data());
    record->data = nullptr;  // a copied buffer's pointer means nothing
    const std::string base = dir.file("shot");

    std::vector<std::string> order =
        created([&] { EXPECT_EQ(SaveFile(buffer.data(), base.c_str(), 11, c()), 0); });
    EXPECT_EQ(order, (std::vector<std::string>{"shot.raw", "shot.jpg", "shot.tif"}));
    EXPECT_EQ(listing(), (std::vector<std::string>{"shot.jpg", "shot.raw", "shot.tif"}));
    order = created([&] { EXPECT_EQ(SaveFile(buffer.data(), base.c_str(), 31 | 64, c()), 0); });
    EXPECT_EQ(order, (std::vector<std::string>{"shot.raw", "shot.jpg", "shot.bmp", "shot.png",
                                               "shot.tif"}));

    const ReadBack tiff = readTiff(base + ".tif");
    ASSERT_TRUE(tiff.ok);
    EXPECT_EQ(std::make_tuple(tiff.width, tiff.height, tiff.channels, tiff.depth),
              std::make_tuple(32, 24, 3, 8));
    const ReadBack png = readPng(base + ".png");
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.kind, PNG_COLOR_TYPE_RGB);
    const ReadBack jpeg = readJpeg(base + ".jpg");
    ASSERT_TRUE(jpeg.ok);
    EXPECT_EQ(std::make_tuple(jpeg.width, jpeg.height, jpeg.channels), std::make_tuple(32, 24, 3));
    for (size_t i = 0; i < sampleCount(image.get()); ++i) {
        ASSERT_EQ(tiff.samples[i], sampleAt(image.get(), i)) << i;
        ASSERT_EQ(png.samples[i], sampleAt(image.get(), i)) << i;
        ASSERT_NEAR(jpeg.samples[i], sampleAt(image.get(), i), 4) << i;
    }
    const Bytes bmp = readBytes(base + ".bmp");
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(std::make_pair(le32(bmp, 18), le32(bmp, 22)), std::make_pair(32u, 24u));

    // The RAW file of a finished image is its record, stamped with the camera.
    const Bytes raw = readBytes(base + ".raw");
    ASSERT_GE(raw.size(), 512u + 32 * 24 * 3);
    EXPECT_EQ(std::string(raw.begin(), raw.begin() + 4), "KVEZ");
    EXPECT_EQ(le16(raw, 38), 0xc004u);
    EXPECT_EQ(le16(raw, 40), 0x0547u);
    EXPECT_EQ(le16(raw, 42), 0xa100u);
    EXPECT_EQ(le16(raw, 34), uint32_t(GetAnaloggain(c())));
    EXPECT_EQ(raw[10], 3);  // the camera's Bayer code
    EXPECT_EQ(record->data, buffer.data() + 512);
}

TEST_F(Stills, SixteenBitAndGreyImages) {
    ImagePtr deep = testImage(40, 30, 16, 3);
    Bytes buffer = frameBuffer(deep.get(), 1);
    ASSERT_EQ(SaveFile(buffer.data(), dir.file("deep").c_str(), 2 | 4, c()), 0);
    const ReadBack tiff = readTiff(dir.file("deep.tif"));
    ASSERT_TRUE(tiff.ok);
    EXPECT_EQ(tiff.depth, 16);
    EXPECT_EQ(tiff.samples[0], sampleAt(deep.get(), 0));
    EXPECT_EQ(readPng(dir.file("deep.png")).depth, 16);

    ImagePtr grey = testImage(40, 30, 8, 1);
    buffer = frameBuffer(grey.get(), 1);
    ASSERT_EQ(SaveFile(buffer.data(), dir.file("grey").c_str(), 8 | 2, c()), 0);
    EXPECT_EQ(readTiff(dir.file("grey.tif")).channels, 1);
    EXPECT_EQ(readJpeg(dir.file("grey.jpg")).channels, 1);
}

TEST_F(Stills, RawFramesKeepTheirWholeSizeInTheRawFile) {
    // Only the RAW bit: the frame is written as it came, no decoding needed.
    ImagePtr mosaic = testImage(1600, 1200, 8, 1);
    Bytes buffer = frameBuffer(mosaic.get(), 0);
    const std::string base = dir.file("frame");
    ASSERT_EQ(SaveFile(buffer.data(), base.c_str(), 1, c()), 0);
    EXPECT_EQ(listing(), std::vector<std::string>{"frame.raw"});
    ImagePtr back = readRaw(base + ".raw");
    ASSERT_TRUE(back);
    EXPECT_EQ(std::make_tuple(back->width, back->height, back->channels, back->decoded),
              std::make_tuple(uint16_t{1600}, uint16_t{1200}, uint8_t{1}, uint8_t{0}));
    EXPECT_EQ(le16(readBytes(base + ".raw"), 38), 0xc004u);  // stamped with the camera
    EXPECT_EQ(0, std::memcmp(back->data, mosaic->data, 1600 * 1200));
}

TEST_F(Stills, RefusedBuffersWriteNothing) {
    ImagePtr image = testImage(16, 8, 8, 3);
    const Bytes good = frameBuffer(image.get(), 1);
    const std::string base = dir.file("no");
    EXPECT_EQ(SaveFile(nullptr, base.c_str(), 31, c()), -2);
    Bytes buffer = good;
    buffer[3] = 'X';
    EXPECT_EQ(SaveFile(buffer.data(), base.c_str(), 31, c()), -4);
    EXPECT_EQ(SaveFile(buffer.data(), base.c_str(), 31, "nobody"), -1);

    // Records this system never makes: their size fields would send the
    // writers past the buffer.
    const auto damaged = [&](auto change) {
        Bytes copy = good;
        change(*reinterpret_cast<_ezImage*>(copy.data()));
        return SaveFile(copy.data(), base.c_str(), 31, c());
    };
    EXPECT_EQ(damaged([](_ezImage& r) { r.depth = 12; }), -2);
    EXPECT_EQ(damaged([](_ezImage& r) { r.channels = 2; }), -2);
    EXPECT_EQ(damaged([](_ezImage& r) { r.header_size = 20; }), -4);  // no whole record
    EXPECT_EQ(damaged([](_ezImage& r) { r.stride = 4000; }), -2);
    EXPECT_EQ(damaged([](_ezImage& r) { r.width = 0; }), -2);
    EXPECT_EQ(damaged([](_ezImage& r) { r.decoded = 7; }), -2);
    EXPECT_TRUE(listing().empty());

    // Nothing asked for: nothing written, nothing wrong.
    buffer = good;
    EXPECT_EQ(SaveFile(buffer.data(), base.c_str(), 0, c()), 0);
    EXPECT_EQ(SaveFile(buffer.data(), base.c_str(), 64 | 128, c()), 0);
    EXPECT_TRUE(listing().empty());
    // A directory that does not exist: reported, not passed off as written.
    EXPECT_EQ(SaveFile(buffer.data(), dir.file("missing/no").c_str(), 8 | 2, c()), -3);
}

// ---- Frames the camera decodes ----------------------------------------------------

namespace {
// A frame of the size `raw` describes, decoded by the camera into a new buffer.
Bytes decodeWith(const char* camera, Bytes& raw, int channels) {
    const auto* record = reinterpret_cast<const _ezImage*>(raw.data());
    Bytes image(512 + size_t{record->width} * record->height * channels * (record->depth / 8) +
                kStatisticsBytes);
    EXPECT_EQ(DecodeRaw2Image(raw.data(), image.data(), camera), 0);
    return image;
}
std::vector<int> samplesOf(const Bytes& buffer) {
    const auto* record = reinterpret_cast<const _ezImage*>(buffer.data());
    std::vector<int> out(sampleCount(record));
    for (size_t i = 0; i < out.size(); ++i) out[i] = sampleAt(record, i);
    return out;
}
}  // namespace

TEST_F(Stills, RawFramesAreDecodedWithTheirBorderCut) {
    ImagePtr mosaic = testImage(1600, 1200, 8, 1, true);
    Bytes raw = frameBuffer(mosaic.get(), 0);
    Bytes reference = raw;
    const Bytes finished = decodeWith(c(), reference, 3);
    const std::vector<int> expected = samplesOf(finished);
    ASSERT_EQ(expected.size(), 1592u * 1192 * 3);

    const std::string base = dir.file("frame");
    ASSERT_EQ(SaveFile(raw.data(), base.c_str(), 31, c()), 0);
    ImagePtr back = readRaw(base + ".raw");
    ASSERT_TRUE(back);
    EXPECT_EQ(std::make_pair(back->width, back->height),
              std::make_pair(uint16_t{1600}, uint16_t{1200}));
    EXPECT_EQ(0, std::memcmp(back->data, mosaic->data, 1600 * 1200));
    const ReadBack tiff = readTiff(base + ".tif");
    ASSERT_TRUE(tiff.ok);
    EXPECT_EQ(std::make_pair(tiff.width, tiff.height), std::make_pair(1592, 1192));
    EXPECT_EQ(tiff.samples, expected);
    const ReadBack png = readPng(base + ".png");
    EXPECT_EQ(std::make_pair(png.width, png.height), std::make_pair(1592, 1192));
    EXPECT_EQ(png.samples, expected);
    const ReadBack jpeg = readJpeg(base + ".jpg");
    EXPECT_EQ(std::make_pair(jpeg.width, jpeg.height), std::make_pair(1592, 1192));
    const Bytes bmp = readBytes(base + ".bmp");
    EXPECT_EQ(std::make_pair(le32(bmp, 18), le32(bmp, 22)), std::make_pair(1592u, 1192u));

    // The camera's own finished image is written as it is, not decoded again.
    Bytes again = finished;
    ASSERT_EQ(SaveFile(again.data(), dir.file("finished").c_str(), 2, c()), 0);
    EXPECT_EQ(readTiff(dir.file("finished.tif")).samples, expected);
}

namespace {
// The resolution modes the camera was asked for, in order.
std::vector<int> modes(const std::vector<Transfer>& sent) {
    std::vector<int> out;
    for (const Transfer& t : sent)
        if (t.request == 0xb4) out.push_back(t.value & 0xff);
    return out;
}
}  // namespace

class Deferred : public Stills {
  protected:
    void SetUp() override {
        Stills::SetUp();
        ASSERT_EQ(ResumeDevice(c()), 0);
        raw.resize(static_cast<size_t>(RecvMemSize(c())));
    }
    // Reads and decodes one frame as the viewer's threads do.
    void frame() {
        int result = -3;
        for (int attempt = 0; attempt < 4 && result == -3; ++attempt)
            result = GetRawData(raw.data(), static_cast<int>(raw.size()), c());
        ASSERT_EQ(result, 0);
        image = decodeWith(c(), raw, 3);
    }
    Bytes raw, image;
};

TEST_F(Deferred, AnotherResolutionSwitchesOnceAndReturns) {
    SetResolution(4, c());  // 640 x 480 binned: the same size as mode 2
    frame();
    SetImageFormat(11, c());
    camera(id).clearTrace();
    const std::string base = dir.file("still");
    ASSERT_EQ(SaveImage(base.c_str(), 2, c()), 0);

    // A frame of the old mode still in flight: the same size, not served.
    image = decodeWith(c(), raw, 3);
    EXPECT_TRUE(listing().empty());

    const std::vector<std::string> order = created([&] { frame(); });
    EXPECT_EQ(order, (std::vector<std::string>{"still.raw", "still.jpg", "still.tif"}));
    EXPECT_EQ(GetResolution(c()), 4);  // on its way back
    EXPECT_EQ(modes(transfers(id)), std::vector<int>{0xc8});
    frame();
    frame();
    EXPECT_EQ(modes(transfers(id)), (std::vector<int>{0xc8, 0xcb}));
    EXPECT_EQ(camera(id).resolutionMode(), 0xcb);
    EXPECT_EQ(cam->stills().armed(), 0);

    ImagePtr still = readRaw(base + ".raw");
    ASSERT_TRUE(still);
    EXPECT_EQ(std::make_pair(still->width, still->height),
              std::make_pair(uint16_t{640}, uint16_t{480}));
    EXPECT_EQ(readBytes(base + ".raw")[11], 2);  // the resolution it was taken at
    const ReadBack tiff = readTiff(base + ".tif");
    EXPECT_EQ(std::make_tuple(tiff.width, tiff.height, tiff.channels),
              std::make_tuple(632, 472, 3));
    const ReadBack jpeg = readJpeg(base + ".jpg");
    EXPECT_EQ(std::make_tuple(jpeg.width, jpeg.height), std::make_tuple(632, 472));
    EXPECT_EQ(listing().size(), 3u);
}

TEST_F(Deferred, NoFormatStillSwitchesAndReturns) {
    SetResolution(2, c());
    frame();
    SetImageFormat(0, c());
    camera(id).clearTrace();
    ASSERT_EQ(SaveImage(dir.file("nothing").c_str(), 4, c()), 0);
    frame();
    frame();
    EXPECT_EQ(modes(transfers(id)), (std::vector<int>{0xcb, 0xc8}));
    EXPECT_EQ(cam->stills().armed(), 0);
    EXPECT_TRUE(listing().empty());
}

TEST_F(Deferred, TheCurrentResolutionNeedsNoSwitch) {
    int format = 0;
    GetImageFormat(&format, c());
    EXPECT_EQ(format, 8);  // JPEG unless told otherwise
    SetResolution(2, c());
    frame();
    SetImageFormat(4 | 16, c());
    camera(id).clearTrace();
    const std::string base = dir.file("here");
    ASSERT_EQ(SaveImage(base.c_str(), 2, c()), 0);
    const std::vector<std::string> order = created([&] { frame(); });
    EXPECT_EQ(order, (std::vector<std::string>{"here.bmp", "here.png"}));
    // The files hold the finished image the camera handed back.
    const ReadBack png = readPng(base + ".png");
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(std::make_pair(png.width, png.height), std::make_pair(632, 472));
    EXPECT_EQ(png.samples, samplesOf(image));
    frame();
    EXPECT_TRUE(modes(transfers(id)).empty());
}

TEST_F(Deferred, ArmedAgainBeforeItWasServed) {
    // The new request wins, and the stream still returns where it was.
    SetResolution(4, c());
    frame();
    SetImageFormat(2, c());
    camera(id).clearTrace();
    ASSERT_EQ(SaveImage(dir.file("first").c_str(), 2, c()), 0);
    ASSERT_EQ(SaveImage(dir.file("second").c_str(), 3, c()), 0);
    frame();
    frame();
    EXPECT_EQ(listing(), std::vector<std::string>{"second.tif"});
    EXPECT_EQ(readTiff(dir.file("second.tif")).width, 1272);
    EXPECT_EQ(modes(transfers(id)), (std::vector<int>{0xc9, 0xcb}));
    EXPECT_EQ(GetResolution(c()), 4);
}

TEST_F(Deferred, QuarterTurnedStills) {
    SetResolution(2, c());
    SetRotate(1, c());
    SetImageFormat(2, c());
    frame();
    const std::string base = dir.file("turned");
    ASSERT_EQ(SaveImage(base.c_str(), 1, c()), 0);
    frame();
    frame();
    const ReadBack tiff = readTiff(base + ".tif");
    ASSERT_TRUE(tiff.ok);
    EXPECT_EQ(std::make_pair(tiff.width, tiff.height), std::make_pair(952, 1272));
    EXPECT_EQ(GetResolution(c()), 2);
}
