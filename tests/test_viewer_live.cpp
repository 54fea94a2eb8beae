// Live view on simulated cameras: the threads, the picture, hot-plug while
// live, the camera's capture button, white balance, movies, raw recordings
// and quitting.
#include "viewer_fixture.h"  // first: see there
// (the order above matters)
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTabWidget>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>

#include "viewer/picture/histogram_view.h"
#include "viewer/picture/live_view.h"
#include "viewer/widgets/radio_row.h"

using viewertest::ViewerTest;
using viewertest::waitUntil;

namespace {

constexpr int kColour = 0xc004;
constexpr int kMono = 0xc006;
constexpr int kMonoDeep = 0xc00a;  // a monochrome camera with 16 bits

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char block[4096];
    for (size_t n; pipe && (n = std::fread(block, 1, sizeof block, pipe)) > 0;)
        out.append(block, n);
    if (pipe) pclose(pipe);
    return out;
}

class LiveTest : public ViewerTest {
  protected:
    // Plugs a camera, loads it at its small resolution 2 and starts live view.
    std::string goLive(int product) {
        const std::string name = plug(product);
        if (name.empty()) return name;
        d->choose("pouRes", 2);
        decoding = viewertest::decodesFrames(cam());
        d->button("btnLive")->click();
        return name;
    }
    bool stopLive() {
        if (d->button("btnLive")->text() == "Stop") d->button("btnLive")->click();
        return waitUntil([&] { return !d->liveRunning(); });
    }
    bool framesShown(int count) {
        const int start = d->view()->framesDrawn();
        return waitUntil([&] { return d->view()->framesDrawn() >= start + count; });
    }
    bool decoding = false;  // the SDK turns the camera's frames into images

    // Starts a raw recording through the controls; the summary and whether
    // it was complete arrive in `ended`.
    void recordRaw(const char* format, int length, int unit) {
        d->field("txtPath")->setText(home.filePath("raw") + "/");
        d->combo("pouRawFormat")
            ->setCurrentIndex(d->combo("pouRawFormat")->findData(QString(format)));
        d->find<QSpinBox>("spnRawLength")->setValue(length);
        d->combo("pouRawUnit")->setCurrentIndex(unit);
        if (!rawStarted++)  // connected once
            QObject::connect(
                &d->rawRecording(), &viewer::RawRecording::ended,
                [this](const QString& s, bool c) { summary = s, complete = c, ++rawEnded; });
        d->button("btnRaw")->click();
    }
    QString summary;
    bool complete = false;
    int rawStarted = 0;  // recordings started
    int rawEnded = 0;    // and ended
};

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A little-endian integer of a SER file (178-byte header, frames, then one
// 8-byte UTC time per frame).
int64_t serField(const std::string& bytes, size_t at, size_t size) {
    int64_t value = 0;
    for (size_t i = size; i-- > 0;) value = value << 8 | uint8_t(bytes.at(at + i));
    return value;
}

}  // namespace

TEST_F(LiveTest, TheLivePictureIsTheCamerasFinishedImage) {
    launch();
    for (const int product : {kColour, kMono}) {
        const std::string name = goLive(product);
        ASSERT_FALSE(name.empty());
        ASSERT_TRUE(decoding);
        EXPECT_EQ(d->button("btnLive")->text(), "Stop");
        EXPECT_FALSE(d->combo("pouDev")->isEnabled());
        ASSERT_TRUE(framesShown(12)) << name;
        const QImage& picture = d->view()->image();
        EXPECT_EQ(picture.size(), QSize(GetResWidth(2, cam()), GetResHeight(2, cam())));
        EXPECT_EQ(picture.format(),
                  product == kMono ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
        EXPECT_TRUE(d->label("txtFPS")->text().endsWith(" fps"))
            << d->label("txtFPS")->text().toStdString();
        EXPECT_GT(d->frameIntervalMs(), 0);
        const viewer::Histogram& h = d->find<viewer::HistogramView>("hstView")->histogram();
        EXPECT_EQ(h.channels, product == kMono ? 1 : 3);
        uint64_t samples = 0;
        for (uint32_t n : h.bins[0]) samples += n;
        EXPECT_GT(samples, 1000u);
        // Scaled to the view with its own aspect.
        window->resize(1100, 700);
        QCoreApplication::processEvents();
        const QRect shown = d->view()->pictureRect();
        EXPECT_NEAR(double(shown.width()) / shown.height(),
                    double(picture.width()) / picture.height(), 0.02);
        EXPECT_TRUE(shown.width() == d->view()->width() || shown.height() == d->view()->height());

        ASSERT_TRUE(stopLive());
        EXPECT_EQ(d->button("btnLive")->text(), "Live");
        EXPECT_TRUE(d->combo("pouDev")->isEnabled());
        EXPECT_EQ(DeviceState(cam()), 1);  // the sensor keeps running for the next start
        unplug(lastId);
    }
}

TEST_F(LiveTest, UnplugWhileLiveSwitchesOnceTheGrabThreadHasEnded) {
    launch();
    const std::string colour = goLive(kColour);
    const int colourId = lastId;
    const std::string mono = plug(kMono);
    ASSERT_FALSE(colour.empty() || mono.empty());
    ASSERT_TRUE(d->liveRunning());
    EXPECT_EQ(d->selected(), colour);  // a camera plugged in while live is only listed

    // What the window shows while the removal is being handled.
    std::string selectedThen;
    bool liveThen = false;
    QObject::connect(d->combo("pouDev")->model(), &QAbstractItemModel::rowsRemoved, [&] {
        selectedThen = d->selected();
        liveThen = d->liveRunning();
    });
    bool ended = false;
    d->onLiveEnded([&] { ended = true; });
    SimUnplugCamera(colourId);
    ASSERT_TRUE(waitUntil([&] { return ended; }));
    EXPECT_EQ(selectedThen, colour);
    EXPECT_TRUE(liveThen);
    EXPECT_EQ(d->selected(), mono);
    EXPECT_EQ(d->liveUnplugsPending(), 0);
    EXPECT_EQ(d->button("btnLive")->text(), "Live");
    EXPECT_TRUE(d->button("btnLive")->isEnabled());
    EXPECT_TRUE(d->combo("pouDev")->isEnabled());
    EXPECT_EQ(d->tabIndex("Colour"), -1);  // the monochrome camera's controls
    EXPECT_TRUE(d->frameBuffersReady());

    // The last camera, live: nothing is left selected.
    d->button("btnLive")->click();
    ASSERT_TRUE(d->liveRunning());
    ended = false;
    SimUnplugCamera(plugged.back());
    ASSERT_TRUE(waitUntil([&] { return ended; }));
    EXPECT_TRUE(d->selected().empty());
    EXPECT_FALSE(d->button("btnLive")->isEnabled());
    EXPECT_EQ(d->button("btnLive")->text(), "Live");
}

// One still per press of the camera's own button, taken on the window's thread.
TEST_F(LiveTest, TheCamerasCaptureButtonTakesOneStillPerPress) {
    launch();
    // A camera whose frames carry the capture flag.
    std::string name;
    int id = 0;
    for (const int product : {0xa004, 0xa00a, 0xa811, 0xe001}) {
        name = plug(product);
        id = lastId;
        if (name.empty()) continue;
        std::vector<unsigned char> raw(size_t(RecvMemSize(cam())));
        int flagged = -9;
        if (GetRawData(raw.data(), int(raw.size()), cam()) == 0) {
            SimPressCapture(id);
            for (int i = 0; i < 4 && flagged != 1; ++i)
                flagged = GetRawData(raw.data(), int(raw.size()), cam());
        }
        if (flagged == 1) break;
        unplug(id);
        name.clear();
    }
    if (name.empty()) GTEST_SKIP() << "no simulated camera reports its capture button yet";

    int stills = 0;
    d->onStill([&] { ++stills; });
    d->button("btnLive")->click();
    ASSERT_TRUE(d->liveRunning());
    SimPressCapture(id);
    ASSERT_TRUE(waitUntil([&] { return stills == 1; }));
    waitUntil([] { return false; }, 500);  // unmarked frames follow: no second still
    EXPECT_EQ(stills, 1);
    SimPressCapture(id);
    ASSERT_TRUE(waitUntil([&] { return stills == 2; }));
}

TEST_F(LiveTest, WhiteBalanceUsesTheNewestFrame) {
    launch();
    ASSERT_FALSE(goLive(kColour).empty());
    ASSERT_TRUE(decoding);
    ASSERT_TRUE(framesShown(3));
    d->button("btnWB")->click();
    EXPECT_EQ(d->label("txtWB")->text(), "WB Succeed");
    int r = 0, g = 0, b = 0;
    GetChannelGain(&r, &g, &b, cam());
    EXPECT_EQ(d->slider("sldRed")->value(), r);
    EXPECT_EQ(d->slider("sldGreen")->value(), g);
    EXPECT_EQ(d->slider("sldBlue")->value(), b);
    EXPECT_EQ(d->label("txtBlue")->text(), QString::asprintf("%.2f", b / 64.0f));
    EXPECT_TRUE(d->button("btnWB")->isEnabled());
    d->button("btnFF")->click();
    d->check("chkFF")->click();
    bool on = false;
    GetFlatfieldState(&on, cam());
    EXPECT_TRUE(on);
    EXPECT_TRUE(framesShown(3));  // corrected frames keep coming
}

// The movie plays at the speed it was recorded, whatever the display managed.
TEST_F(LiveTest, MoviesPlayAtTheLiveSpeed) {
    launch();
    ASSERT_FALSE(goLive(kColour).empty());
    d->field("txtPath")->setText(home.filePath("movies") + "/");
    ASSERT_TRUE(decoding);
    ASSERT_TRUE(framesShown(12));
    const int fps = MovieFrameRate(d->frameIntervalMs());
    const QSize size(GetResWidth(2, cam()), GetResHeight(2, cam()));
    d->button("btnMovie")->click();
    ASSERT_TRUE(d->movieRecording());
    EXPECT_EQ(d->button("btnMovie")->text(), "Stop Video");
    const auto start = std::chrono::steady_clock::now();
    waitUntil([] { return false; }, 2500);
    d->button("btnMovie")->click();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_FALSE(d->movieRecording());
    EXPECT_EQ(d->button("btnMovie")->text(), "Start Video");
    const std::string path = d->moviePath();
    EXPECT_EQ(path.rfind(d->field("txtPath")->text().toStdString(), 0), 0u);
    EXPECT_EQ(path.substr(path.size() - 4), ".mov");

    const std::string fields =
        run("ffprobe -v error -count_frames -show_entries format=format_name:stream=codec_name,"
            "width,height,r_frame_rate,nb_read_frames -of csv=p=0 '" +
            path + "'");
    char codec[16] = {}, format[64] = {};
    int width = 0, height = 0, rate = 0, frames = 0;
    ASSERT_EQ(std::sscanf(fields.c_str(), "%15[^,],%d,%d,%d/1,%d\n%63s", codec, &width, &height,
                          &rate, &frames, format),
              6)
        << fields;
    EXPECT_STREQ(codec, "h264");
    EXPECT_NE(std::string(format).find("mov"), std::string::npos);
    EXPECT_EQ(QSize(width, height), size);
    EXPECT_EQ(rate, fps);
    // The first and last frames come up to one display interval after the
    // button presses; a loaded machine displays less often.
    const double interval = d->frameIntervalMs() / 10000.0;
    EXPECT_NEAR(double(frames) / rate, seconds, 0.3 + 2 * interval) << frames << " frames";
}

TEST_F(LiveTest, QuitWhileLiveStopsTheThreadsAndFinishesTheMovie) {
    launch();
    ASSERT_FALSE(goLive(kColour).empty());
    d->field("txtPath")->setText(home.filePath("movies") + "/");
    ASSERT_TRUE(decoding);
    ASSERT_TRUE(framesShown(3));
    d->button("btnMovie")->click();
    ASSERT_TRUE(d->movieRecording());
    ASSERT_TRUE(framesShown(5));
    quit();
    EXPECT_FALSE(d->liveRunning());
    EXPECT_FALSE(d->movieRecording());
    EXPECT_EQ(d->button("btnLive")->text(), "Live");
    EXPECT_TRUE(QFile::exists(d->settingsFilePath()));
    const std::string probe =
        run("ffprobe -v error -count_frames -show_entries "
            "stream=nb_read_frames -of csv=p=0 '" +
            d->moviePath() + "'");
    EXPECT_GE(std::atoi(probe.c_str()), 1) << probe;  // a finished, readable movie
}

TEST_F(LiveTest, TheStillButtonWritesTheChosenFormats) {
    launch();
    ASSERT_FALSE(goLive(kColour).empty());
    ASSERT_TRUE(decoding);
    d->field("txtPath")->setText(home.filePath("stills") + "/");
    d->check("chkPng")->click();  // JPEG is on by default
    QString base;
    int result = 99;
    d->onStill([&](const QString& b, int r) { base = b, result = r; });
    d->button("btnSnap")->click();
    ASSERT_EQ(result, 0);
    // Written by the show thread from a later frame; read once complete.
    const QSize size(GetResWidth(2, cam()), GetResHeight(2, cam()));
    EXPECT_TRUE(waitUntil([&] { return QImage(base + ".png").size() == size; }));
    EXPECT_TRUE(waitUntil([&] { return QImage(base + ".jpg").size() == size; }));
    EXPECT_FALSE(QFile::exists(base + ".tif") || QFile::exists(base + ".raw"));
}

TEST_F(LiveTest, StartAndStopRepeatedly) {
    launch();
    ASSERT_FALSE(goLive(kMono).empty());
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(stopLive());
        d->button("btnLive")->click();
        ASSERT_TRUE(d->liveRunning());
    }
    d->button("btnLive")->click();
    d->button("btnLive")->click();  // pressed again while stopping: still stopping
    ASSERT_TRUE(waitUntil([&] { return !d->liveRunning(); }));
    EXPECT_EQ(d->button("btnLive")->text(), "Live");
}

TEST_F(LiveTest, RawRecordingsTakeTheAskedFramesOrSeconds) {
    launch();
    ASSERT_FALSE(goLive(kColour).empty());
    const struct {
        int length, unit;  // unit 0: frames, 1: seconds
    } cases[] = {{12, 0}, {1, 1}};
    for (const auto& c : cases) {
        recordRaw("ser", c.length, c.unit);
        EXPECT_EQ(d->button("btnRaw")->text(), "Stop Raw");
        EXPECT_FALSE(d->combo("pouRawFormat")->isEnabled());
        ASSERT_TRUE(waitUntil([&] { return rawEnded == rawStarted; })) << c.unit;
        const recording::RecordingCounts counts = d->rawRecording().counts();
        if (c.unit == 0) {
            EXPECT_EQ(counts.offered, 12u);
        }
        EXPECT_GT(counts.recorded, 0u);
        EXPECT_EQ(counts.recorded + counts.dropped, counts.offered);
        EXPECT_EQ(d->label("txtRaw")->text().toStdString(),
                  std::to_string(counts.recorded) + " recorded · " +
                      std::to_string(counts.dropped) + " dropped");
        EXPECT_EQ(complete, counts.dropped == 0) << summary.toStdString();
        EXPECT_EQ(d->button("btnRaw")->text(), "Record Raw");
        EXPECT_TRUE(d->liveRunning());

        const std::string path = d->rawRecording().written().toStdString();
        EXPECT_TRUE(window->statusBar()->currentMessage().contains(d->rawRecording().written()));
        const std::string ser = fileBytes(path);
        ASSERT_GE(ser.size(), 178u) << path;
        EXPECT_EQ(ser.substr(0, 14), "LUCAM-RECORDER");
        // The raw frame: the sensor's, a little larger than the finished picture.
        const int64_t width = serField(ser, 26, 4), height = serField(ser, 30, 4);
        EXPECT_GE(width, GetResWidth(2, cam()));
        EXPECT_GE(height, GetResHeight(2, cam()));
        const int64_t frames = serField(ser, 38, 4);
        EXPECT_EQ(uint64_t(frames), counts.recorded);
        ASSERT_EQ(ser.size(), 178 + size_t(frames * (width * height + 8)));
        // Frames within the asked second (UTC in 100 ns ticks).
        const size_t trailer = ser.size() - size_t(frames) * 8;
        const int64_t span =
            serField(ser, trailer + 8 * (frames - 1), 8) - serField(ser, trailer, 8);
        if (c.unit == 1) {
            EXPECT_LT(span, 10'000'000);
        }
    }
}

// With an objective chosen, an OME-TIFF recording states the size of its
// pixels in the sample plane; without one it states none.
TEST_F(LiveTest, AnOmeRecordingCarriesTheObjectivesPixelSize) {
    launch();
    ASSERT_FALSE(goLive(kColour).empty());
    d->pictureTools().setObjectives({{"4x", 1.6}, {"40x", 0.16}});
    for (int choice : {2, 0}) {
        d->combo("pouObjective")->setCurrentIndex(choice);
        emit d->combo("pouObjective")->activated(choice);
        const double microns = d->pictureTools().micronsPerPixel();
        recordRaw("ome-tiff", 3, 0);
        ASSERT_TRUE(waitUntil([&] { return rawEnded == rawStarted; })) << choice;
        const std::string tiff = fileBytes(d->rawRecording().written().toStdString());
        const size_t pixels = tiff.find("<Pixels ");
        ASSERT_NE(pixels, std::string::npos);
        const std::string element = tiff.substr(pixels, tiff.find('>', pixels) - pixels);
        if (choice == 0) {
            EXPECT_EQ(element.find("PhysicalSize"), std::string::npos) << element;
            continue;
        }
        ASSERT_GT(microns, 0);
        const std::string size = QString::number(microns, 'g', 6).toStdString();
        EXPECT_NE(element.find("PhysicalSizeX=\"" + size + "\""), std::string::npos) << element;
        EXPECT_NE(element.find("PhysicalSizeY=\"" + size + "\""), std::string::npos) << element;
    }
}

TEST_F(LiveTest, AChangeOfTheFramesGeometryEndsARawRecordingWithItsReason) {
    launch();
    ASSERT_FALSE(goLive(kMonoDeep).empty());
    ASSERT_TRUE(d->depth()->isEnabled());
    const struct {
        const char* reason;
        std::function<void()> change, back;
    } cases[] = {
        {"the resolution changed", [&] { d->choose("pouRes", 1); },
         [&] { d->choose("pouRes", 2); }},
        {"the bit depth changed", [&] { d->depth()->cellAt(1)->click(); },
         [&] { d->depth()->cellAt(0)->click(); }},
        {"the region changed", [&] { SetRoi(64, 32, 256, 128, cam()), SetRoiState(true, cam()); },
         [&] { SetRoiState(false, cam()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        recordRaw("fits", 3600, 1);  // an hour: until something ends it
        ASSERT_TRUE(waitUntil([&] { return d->rawRecording().counts().recorded >= 3; }))
            << window->statusBar()->currentMessage().toStdString();
        c.change();
        ASSERT_TRUE(waitUntil([&] { return rawEnded == rawStarted; }, 30000));
        EXPECT_FALSE(complete);
        EXPECT_TRUE(summary.contains(QString("ended early: ") + c.reason)) << summary.toStdString();
        // Every frame written is of the first geometry: none was left out.
        EXPECT_EQ(d->rawRecording().counts().rejected, 0u);
        EXPECT_TRUE(d->liveRunning());  // the live view takes the change
        c.back();
        // Frames read before the change back took effect are not the next
        // recording's.
        ASSERT_TRUE(framesShown(6));
    }
}

TEST_F(LiveTest, UnplugDuringARawRecordingFinishesTheFile) {
    launch();
    ASSERT_FALSE(goLive(kMono).empty());
    recordRaw("fits", 3600, 1);  // an hour: until something ends it
    ASSERT_TRUE(waitUntil([&] { return d->rawRecording().counts().recorded >= 3; }));
    SimUnplugCamera(lastId);
    ASSERT_TRUE(waitUntil([&] { return rawEnded == 1; }));
    EXPECT_FALSE(complete);
    EXPECT_TRUE(summary.contains("ended early: the camera was unplugged")) << summary.toStdString();
    EXPECT_TRUE(d->selected().empty());
    EXPECT_FALSE(d->button("btnRaw")->isEnabled());

    // A complete FITS file: its cube holds the frames recorded.
    const std::string fits = fileBytes(d->rawRecording().written().toStdString());
    ASSERT_EQ(fits.size() % 2880, 0u);
    const size_t card = fits.find("NAXIS3  =");
    ASSERT_NE(card, std::string::npos);
    EXPECT_EQ(std::stoull(fits.substr(card + 10, 20)), d->rawRecording().counts().recorded);
}

// A write that fails (here a file size limit, as a full disk would) ends
// the recording at once: the status line says why and what was not
// written, and the file holds every frame written before.
TEST_F(LiveTest, AFailedWriteEndsARawRecordingWithItsReason) {
    launch();
    ASSERT_FALSE(goLive(kColour).empty());
    ASSERT_TRUE(framesShown(2));
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before;
    limit.rlim_cur = 3 << 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    recordRaw("ser", 3600, 1);
    const bool ended = waitUntil([&] { return rawEnded == rawStarted; }, 30000);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);
    ASSERT_TRUE(ended);
    EXPECT_FALSE(complete);
    const recording::RecordingCounts counts = d->rawRecording().counts();
    EXPECT_GT(counts.recorded, 0u);
    EXPECT_GT(counts.failed, 0u);
    EXPECT_EQ(counts.dropped, 0u);
    EXPECT_LT(counts.offered, counts.recorded + 60) << "went on after the failure";
    EXPECT_TRUE(summary.contains("frames not written (writing failed)")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("File too large")) << summary.toStdString();
    EXPECT_TRUE(d->find<QLabel>("txtRaw")->text().endsWith(QString(" · %1 not written").arg(counts.failed)))
        << d->find<QLabel>("txtRaw")->text().toStdString();
    EXPECT_TRUE(d->liveRunning());

    const std::string ser = fileBytes(d->rawRecording().written().toStdString());
    ASSERT_GE(ser.size(), 178u);
    const int64_t frameBytes = serField(ser, 26, 4) * serField(ser, 30, 4);
    EXPECT_EQ(uint64_t(serField(ser, 38, 4)), counts.recorded);
    // The trailer of times where the limit left room for it.
    const size_t frames = 178 + size_t(frameBytes) * counts.recorded;
    EXPECT_TRUE(ser.size() == frames || ser.size() == frames + 8 * counts.recorded) << ser.size();
}

TEST_F(LiveTest, ACameraThatGoesQuietIsSaidAndSoAreItsFramesAgain) {
    launch();
    ASSERT_FALSE(goLive(kColour).empty());
    ASSERT_TRUE(framesShown(3));
    const auto message = [&] { return window->statusBar()->currentMessage(); };
    camera(lastId).stopFrames(true);
    ASSERT_TRUE(waitUntil([&] { return message().startsWith("No frame from " + QString(cam())); },
                          30000))
        << message().toStdString();
    EXPECT_TRUE(message().contains("Whole frame")) << message().toStdString();
    EXPECT_TRUE(d->liveRunning());  // the viewer waits on: the camera may come back
    camera(lastId).stopFrames(false);
    ASSERT_TRUE(waitUntil([&] { return message() == "Frames from " + QString(cam()) + " again"; },
                          30000))
        << message().toStdString();
    EXPECT_TRUE(framesShown(3));
    ASSERT_TRUE(stopLive());
}
