// The viewer's parts that need no window: frame rate, capture trigger, movie
// clock, display conversion, frame hand-over, settings file, command line.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "ezcam.h"
#include "processing/image_record.h"
#include "viewer/app/options.h"
#include "viewer/capture/folder_dialog.h"
#include "viewer/capture/movie_session.h"
#include "viewer/capture/settings_file.h"
#include "viewer/live/display_frame.h"
#include "viewer/live/frame_rate.h"
#include "viewer/live/frame_watch.h"
#include "viewer/live/grab_context.h"
#include "viewer/live/live_threads.h"

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace viewer;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// An image record of w x h x channels samples of `depth` bits, pixels at 512.
std::vector<unsigned char> record(int w, int h, int channels, int depth, size_t slack = 0) {
    std::vector<unsigned char> buffer(512 + size_t(w) * h * channels * depth / 8 + slack);
    auto* image = reinterpret_cast<_ezImage*>(buffer.data());
    ezInitImageHeader(image, w, h, channels, depth, 512, buffer.data() + 512, 0, 1);
    return buffer;
}

}  // namespace

TEST(FrameRate, FirstReadingOnTheTenthFrameThenEveryTenth) {
    FrameRateMeter meter;
    const Clock::time_point start{};
    meter.start(start);
    for (int frame = 1; frame <= 9; ++frame)
        EXPECT_FALSE(meter.frameShown(start + frame * 50ms)) << "frame " << frame;
    EXPECT_EQ(meter.frameShown(start + 500ms), 500);
    EXPECT_EQ(FrameRateMeter::text(500), "20.00 fps");
    for (int frame = 1; frame <= 9; ++frame) EXPECT_FALSE(meter.frameShown(start + 500ms));
    EXPECT_EQ(meter.frameShown(start + 500ms + 1234567us), 1234);  // whole milliseconds
    EXPECT_EQ(FrameRateMeter::text(1234), "8.10 fps");
    EXPECT_EQ(FrameRateMeter::text(0), "inf fps");  // ten frames within one millisecond
}

TEST(FrameWatch, QuietMeansThreeFrameTimesAndASecondAndNeverUnderThreeSeconds) {
    const struct {
        double frameMs;
        int limitMs;
    } cases[] = {{0, 3000}, {-5, 3000}, {20, 3000}, {666, 3000}, {1000, 4000}, {60000, 181000}};
    for (const auto& c : cases) EXPECT_EQ(viewer::quietLimitMs(c.frameMs), c.limitMs) << c.frameMs;
}

TEST(CaptureTrigger, OneStillPerRunOfMarkedFrames) {
    const auto stills = [](std::vector<int> results) {
        CaptureTrigger trigger;
        int count = 0;
        for (int r : results) count += trigger.frameRead(r);
        return count;
    };
    EXPECT_EQ(stills({1, 1, 1, 1, 1, 1, 1, 1, 1, 1}), 1);
    EXPECT_EQ(stills({1, 0, 1}), 2);
    // Failed reads between marked frames do not re-arm it; a good frame does.
    EXPECT_EQ(stills({1, -3, -1, 5, 1}), 1);
    EXPECT_EQ(stills({0, 0, 1, -3, 0, 1, 1, 0}), 2);
}

TEST(MovieClock, PlaybackFollowsTheTimeFramesWereShown) {
    const Clock::time_point t0{};
    MovieClock steady(25);  // shown at exactly the movie's rate: each once
    for (int i = 0; i < 50; ++i) EXPECT_EQ(steady.copiesFor(t0 + i * 40ms), 1);

    MovieClock slow(25);  // shown at half the rate: each twice, so 2 s last 2 s
    EXPECT_EQ(slow.copiesFor(t0), 1);
    for (int i = 1; i <= 25; ++i) EXPECT_EQ(slow.copiesFor(t0 + i * 80ms), 2);
    EXPECT_EQ(slow.appended(), 51);

    MovieClock fast(25);  // shown at twice the rate: every other one is left out
    int total = 0;
    for (int i = 0; i <= 50; ++i) total += fast.copiesFor(t0 + i * 20ms);
    EXPECT_EQ(total, 26);

    MovieClock stalled(25);  // a stall of 10 s fills one second, then time goes on
    EXPECT_EQ(stalled.copiesFor(t0), 1);
    EXPECT_EQ(stalled.copiesFor(t0 + 10s), 25);
    EXPECT_EQ(stalled.copiesFor(t0 + 10s + 40ms), 1);
}

TEST(DisplayFrame, SixteenBitSamplesAreShownByTheirHighBytes) {
    auto colour = record(3, 2, 3, 16);
    for (int i = 0; i < 18; ++i) {
        colour[512 + 2 * i] = static_cast<unsigned char>(0xf0 + i % 16);  // low bytes
        colour[512 + 2 * i + 1] = static_cast<unsigned char>(10 * i);
    }
    const auto frame = displayPixels(colour.data(), colour.size());
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 3);
    EXPECT_EQ(frame->height, 2);
    EXPECT_EQ(frame->channels, 3);
    EXPECT_EQ(frame->depth, 16);  // the finished samples stay as they are
    ImagePool pool;
    const QImage shown = pool.pictureOf(*frame);
    for (int i = 0; i < 18; ++i) EXPECT_EQ(shown.constScanLine(i / 9)[i % 9], 10 * i);
    Histogram h;
    histogramOf(*frame, h);
    EXPECT_EQ(h.bins[0][0] + h.bins[0][30] + h.bins[0][60], 3u);
    EXPECT_EQ(h.bins[2][50] + h.bins[2][80] + h.bins[2][170], 3u);
    std::vector<unsigned char> scratch;
    const unsigned char* eight = eightBitPixels(*frame, scratch);
    for (int i = 0; i < 18; ++i) EXPECT_EQ(eight[i], 10 * i);

    auto grey = record(4, 3, 1, 8);
    for (int i = 0; i < 12; ++i) grey[512 + i] = static_cast<unsigned char>(7 * i);
    const auto unchanged = displayPixels(grey.data(), grey.size());
    ASSERT_TRUE(unchanged);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(unchanged->pixels[i], 7 * i);
}

TEST(DisplayFrame, RecordsThatDoNotFitTheirBufferAreNotShown) {
    auto image = record(16, 16, 3, 8);
    EXPECT_FALSE(displayPixels(image.data(), image.size() - 1));  // one byte short
    EXPECT_TRUE(displayPixels(image.data(), image.size()));
    auto* header = reinterpret_cast<_ezImage*>(image.data());
    const _ezImage good = *header;
    const auto spoiled = [&](auto change) {
        *header = good;
        change(*header);
        return !displayPixels(image.data(), image.size());
    };
    EXPECT_TRUE(spoiled([](_ezImage& r) { r.signature[0] = 'X'; }));
    EXPECT_TRUE(spoiled([](_ezImage& r) { r.channels = 2; }));
    EXPECT_TRUE(spoiled([](_ezImage& r) { r.depth = 12; }));
    EXPECT_TRUE(spoiled([](_ezImage& r) { r.width = 0; }));
    EXPECT_TRUE(spoiled([](_ezImage& r) { r.height = 65535; }));
    EXPECT_TRUE(spoiled([](_ezImage& r) { r.header_size = 60000; }));
    EXPECT_TRUE(spoiled([](_ezImage& r) { r.header_size = 8; }));  // inside the record
    EXPECT_FALSE(displayPixels(image.data(), 20));
    EXPECT_FALSE(displayPixels(nullptr, 0));
}

TEST(DisplayFrame, HistogramCountsEachChannel) {
    auto image = record(600, 4, 3, 8);
    for (size_t i = 0; i < 600 * 4; ++i) {
        image[512 + 3 * i] = 10;
        image[512 + 3 * i + 1] = i % 2 ? 200 : 100;
        image[512 + 3 * i + 2] = 255;
    }
    const auto frame = displayPixels(image.data(), image.size());
    ASSERT_TRUE(frame);
    Histogram h;
    histogramOf(*frame, h);
    EXPECT_EQ(h.channels, 3);
    const uint32_t sampled = h.bins[0][10];
    EXPECT_GT(sampled, 500u);  // an even sample of the 2400 pixels
    EXPECT_EQ(h.bins[2][255], sampled);
    EXPECT_EQ(h.bins[1][100] + h.bins[1][200], sampled);
    EXPECT_EQ(h.bins[0][0] + h.bins[1][0] + h.bins[2][0], 0u);
}

TEST(DisplayFrame, ImagesAreReusedOnceTheWindowLetsThemGo) {
    auto image = record(32, 8, 1, 8);
    for (int i = 0; i < 256; ++i) image[512 + i] = static_cast<unsigned char>(i);
    const auto frame = displayPixels(image.data(), image.size());
    ASSERT_TRUE(frame);
    ImagePool pool;
    QImage shown = pool.pictureOf(*frame);
    ASSERT_EQ(shown.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(shown.pixelColor(31, 7).red(), 255);
    const uchar* held = shown.constBits();
    QImage next = pool.pictureOf(*frame);
    EXPECT_NE(next.constBits(), held);  // the shown one is still in use
    shown = QImage();
    next = QImage();
    const QImage again = pool.pictureOf(*frame);
    EXPECT_TRUE(again.constBits() == held || again.size() == QSize(32, 8));
    auto colour = record(5, 3, 3, 8);  // odd rows of 15 bytes in 4-byte aligned lines
    for (int i = 0; i < 45; ++i) colour[512 + i] = static_cast<unsigned char>(i);
    const QImage rgb = pool.pictureOf(*displayPixels(colour.data(), colour.size()));
    EXPECT_EQ(rgb.format(), QImage::Format_RGB888);
    EXPECT_EQ(rgb.pixelColor(4, 2), QColor(42, 43, 44));
}

TEST(DisplayFrame, AFrameWithAnOwnerIsShownFromItsOwnPixelsForAsLongAsItIsHeld) {
    // As the show thread hands them: the decoded image in a buffer the
    // picture then holds, drawn from without a copy.
    GenericGrabContext ctx;
    ASSERT_TRUE(ctx.init(512, 4096));
    const size_t rowBytes = 32 * 3;  // whole 32-bit words
    GenericGrabContext::SharedBuffer buffer = ctx.nextShowBuffer();
    std::vector<unsigned char> image = record(32, 8, 3, 8);
    std::memcpy(buffer.get(), image.data(), 512);
    for (size_t i = 0; i < rowBytes * 8; ++i) buffer[512 + i] = static_cast<unsigned char>(i);
    std::optional<DisplayFrame> frame = displayPixels(buffer.get(), ctx.showCapacity());
    ASSERT_TRUE(frame);
    frame->owner = buffer;
    ImagePool pool;
    QImage shown = pool.pictureOf(*frame);
    EXPECT_EQ(shown.constBits(), frame->pixels);  // no copy
    EXPECT_EQ(shown.pixelColor(31, 7), QColor(253, 254, 255));
    // While the window holds the picture the context hands out another
    // buffer; once it lets go, the same one comes back.
    frame.reset();
    const unsigned char* held = buffer.get();
    buffer.reset();
    EXPECT_NE(ctx.nextShowBuffer().get(), held);
    QImage drawnOn = shown;
    drawnOn.setPixelColor(0, 0, Qt::red);  // a copy of its own: the buffer stays as it was
    EXPECT_EQ(held[512], 0);
    shown = QImage();
    drawnOn = QImage();
    EXPECT_EQ(ctx.nextShowBuffer().get(), held);

    // Rows Qt cannot address in place, and 16-bit samples, are copied.
    for (auto [width, depth] : {std::pair{5, 8}, std::pair{32, 16}}) {
        std::vector<unsigned char> odd = record(width, 3, 3, depth);
        std::optional<DisplayFrame> f = displayPixels(odd.data(), odd.size());
        ASSERT_TRUE(f);
        f->owner = std::shared_ptr<const unsigned char[]>(new unsigned char[1]);
        EXPECT_NE(pool.pictureOf(*f).constBits(), f->pixels) << width << " x " << depth;
    }
}

TEST(GrabContext, ShowThreadTakesTheNewestFrameAndWakesOnStop) {
    GenericGrabContext ctx;
    ASSERT_FALSE(ctx.init(512, 0));
    ASSERT_TRUE(ctx.init(512, 1024));
    EXPECT_TRUE(ctx.newestFrame().empty());  // nothing grabbed yet
    ctx.startRun();
    for (unsigned char frame : {1, 2}) {  // two frames before the show thread looks
        std::memset(ctx.recvBuf.get(), frame, 1024);
        ctx.handOver();
    }
    EXPECT_EQ(ctx.newestFrame().at(1023), 2);
    ASSERT_TRUE(ctx.takeNewest());
    EXPECT_EQ(ctx.fullBuf[0], 2);  // the older frame was overwritten, never shown
    ctx.releaseFull();
    EXPECT_EQ(ctx.newestFrame().at(0), 2);

    std::atomic<int> taken{-1};
    std::thread show([&] { taken = ctx.takeNewest(); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(taken, -1);  // waiting, not spinning through empty hand-overs
    ctx.stopRun();
    show.join();
    EXPECT_EQ(taken, 0);
}

TEST(GrabContext, FramesPassBetweenThreadsWithoutTearing) {
    GenericGrabContext ctx;
    ASSERT_TRUE(ctx.init(16, 4096));
    ctx.startRun();
    std::atomic<bool> torn{false};
    std::atomic<int> shown{0};
    std::thread show([&] {
        while (ctx.takeNewest()) {
            const unsigned char first = ctx.fullBuf[0];
            for (int i = 1; i < 4096; ++i) torn = torn || ctx.fullBuf[i] != first;
            ctx.releaseFull();
            ++shown;
        }
    });
    std::thread snapshots([&] {
        for (int i = 0; i < 200; ++i) {
            const auto copy = ctx.newestFrame();
            for (size_t j = 1; j < copy.size(); ++j) torn = torn || copy[j] != copy[0];
        }
    });
    for (int frame = 0; frame < 2000; ++frame) {
        std::memset(ctx.recvBuf.get(), frame & 0xff, 4096);
        ctx.handOver();
    }
    snapshots.join();
    while (shown == 0) std::this_thread::yield();
    ctx.stopRun();
    show.join();
    EXPECT_FALSE(torn);
}

TEST(SettingsFile, CaptureDirectoryRoundTripsThroughAPropertyList) {
    QTemporaryDir dir;
    const QString file = dir.filePath("PhotosPath.txt");
    EXPECT_EQ(capturePathFrom(file, "/home/u/Desktop/"), "/home/u/Desktop/");  // missing
    ASSERT_TRUE(writeStringArray(file, {"/data/shots & more/"}));
    EXPECT_EQ(readStringArray(file), QStringList{"/data/shots & more/"});
    QFile raw(file);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray text = raw.readAll();
    EXPECT_TRUE(text.contains("<plist version=\"1.0\">"));
    EXPECT_TRUE(text.contains("<string>/data/shots &amp; more/</string>"));
}

TEST(SettingsFile, ReadsListsWrittenElsewhereAndRejectsOtherFiles) {
    QTemporaryDir dir;
    const auto write = [&](const char* name, const char* text) {
        QFile out(dir.filePath(name));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text);
        return dir.filePath(name);
    };
    const QString written = write("a.txt",
                                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                  "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                  "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                  "<plist version=\"1.0\">\n<array>\n\t<string>/Volumes/Lab/"
                                  "</string>\n\t<string>ignored</string>\n</array>\n</plist>\n");
    EXPECT_EQ(capturePathFrom(written, "D/"), "/Volumes/Lab/");
    EXPECT_EQ(capturePathFrom(write("b.txt", "<plist><array/></plist>"), "D/"), "D/");
    EXPECT_EQ(capturePathFrom(write("c.txt", "<plist><dict><key>a</key></dict></plist>"), "D/"),
              "D/");
    EXPECT_EQ(capturePathFrom(write("d.txt",
                                    "<plist><array><integer>3</integer><string>/x/</string>"
                                    "</array></plist>"),
                              "D/"),
              "D/");  // element 0 is no string
    EXPECT_EQ(capturePathFrom(write("e.txt", "/just/a/path/\n"), "D/"), "D/");
    EXPECT_EQ(capturePathFrom(write("f.txt", "<plist><array><string>/cut"), "D/"), "D/");
    EXPECT_FALSE(writeStringArray(dir.filePath("no/such/dir/p.txt"), {"x"}));
}

TEST(Options, CommandLine) {
    ViewerOptions o = parseOptions({});
    EXPECT_FALSE(o.simulate || o.live || o.help || o.quitAfter > 0 || !o.error.isEmpty());
    o = parseOptions({"--simulate", "--live", "--quit-after", "5"});
    EXPECT_EQ(o.simulate, QString("0547:c004,0547:c006"));
    EXPECT_TRUE(o.live);
    EXPECT_EQ(o.quitAfter, 5.0);
    o = parseOptions({"--simulate", "0547:c006@a001", "--quit-after=0.5"});
    EXPECT_EQ(o.simulate, QString("0547:c006@a001"));
    EXPECT_EQ(o.quitAfter, 0.5);
    EXPECT_EQ(parseOptions({"--simulate="}).simulate, QString("0547:c004,0547:c006"));
    EXPECT_TRUE(parseOptions({"-h"}).help);
    for (const QStringList& bad : {QStringList{"--quit-after"},
                                   {"--quit-after", "-1"},
                                   {"--quit-after", "soon"},
                                   {"--quit-after", "nan"},
                                   {"--frobnicate"},
                                   {"stray"}})
        EXPECT_FALSE(parseOptions(bad).error.isEmpty()) << bad.join(' ').toStdString();
    EXPECT_TRUE(usageText().contains("--simulate [LIST]"));
}

TEST(FolderChooser, ChosenFolderBecomesADirectoryText) {
    EXPECT_EQ(capturePathForFolder(QUrl::fromLocalFile("/data/shots")), "/data/shots/");
    EXPECT_EQ(capturePathForFolder(QUrl::fromLocalFile("/")), "/");
    EXPECT_EQ(capturePathForFolder(QUrl("file://localhost/Users/u/Pictures")),
              "/Users/u/Pictures/");
}

// The live threads on scripted frame reads: the capture button's stills, what
// is shown, and the end.
TEST(LiveThreads, CaptureRequestsShownFramesAndTheEnd) {
    GenericGrabContext ctx;
    ASSERT_TRUE(ctx.init(512, 512 + 64 * 48));
    // Ten marked frames, a failed read, a good one, a marked one, then the
    // camera goes quiet.
    const std::vector<int> script = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, -3, 0, 1};
    std::atomic<size_t> reads{0};
    std::atomic<int> stills{0}, shown{0}, rejected{0}, ended{0};
    LiveHooks hooks;
    hooks.readFrame = [&](unsigned char* buffer, int size) {
        const size_t n = reads++;
        if (n >= script.size()) {
            std::this_thread::sleep_for(1ms);
            return -3;
        }
        auto* image = reinterpret_cast<_ezImage*>(buffer);
        ezInitImageHeader(image, 64, 48, 1, 8, 512, buffer + 512, 0, 0);
        std::memset(buffer + 512, int(n), size_t(size) - 512);
        return script[n];
    };
    // Every other frame fails to convert and must not be shown.
    hooks.decode = [&](unsigned char* raw, unsigned char* image) {
        if (raw[512] % 2) return ++rejected, -3;
        std::memcpy(image, raw, 512 + 64 * 48);
        reinterpret_cast<_ezImage*>(image)->decoded = 1;
        return 0;
    };
    hooks.captureRequested = [&] { ++stills; };
    hooks.frameShown = [&](const DisplayFrame& frame) {
        EXPECT_EQ(frame.width, 64);
        EXPECT_EQ(frame.pixels[0] % 2, 0);
        ++shown;
    };
    hooks.ended = [&] { ++ended; };
    LiveThreads live;
    live.start(ctx, hooks);
    while (reads < script.size() + 5) std::this_thread::sleep_for(1ms);
    ctx.stopRun();
    live.join();
    EXPECT_EQ(stills, 2);
    EXPECT_EQ(ended, 1);
    EXPECT_GT(shown, 0);
    EXPECT_FALSE(live.started());
}
