// The picture's tools on simulated cameras: keys, a region dragged on the
// picture, typed exposures and a long exposure's progress, the pixel readout
// of live frames, the focus figure against the simulated focus, stills with
// a scale bar, and a camera model coming back as it was left.
#include "viewer_fixture.h"  // first: see there
// (the order above matters)
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <cmath>

#include "viewer/picture/live_view.h"
#include "viewer/picture/picture_tools.h"
#include "viewer/picture/pixel_readout.h"
#include "viewer/picture/scale_bar.h"
#include "viewer/settings/exposure_scale.h"
#include "viewer/widgets/radio_row.h"

using viewertest::ViewerTest;
using viewertest::waitUntil;

namespace {

constexpr int kColour = 0xc004;  // QC500.
constexpr int kMono = 0xc006;    // QC500M.

class ToolsTest : public ViewerTest {
  protected:
    // A shown, active window with a camera live at its small resolution 2.
    std::string goLive(int product) {
        window->resize(1200, 780);
        window->show();
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window)) return "";
        launch();
        const std::string name = plug(product);
        if (name.empty()) return name;
        d->choose("pouRes", 2);
        d->button("btnLive")->click();
        return framesShown(3) ? name : "";
    }
    bool framesShown(int count) {
        const int start = d->view()->framesDrawn();
        return waitUntil([&] { return d->view()->framesDrawn() >= start + count; });
    }
    bool stopLive() {
        if (d->button("btnLive")->text() == "Stop") d->button("btnLive")->click();
        return waitUntil([&] { return !d->liveRunning(); });
    }
    QString message() const { return window->statusBar()->currentMessage(); }
};

}  // namespace

TEST_F(ToolsTest, KeysPressTheButtonsAndSetTheZoom) {
    ASSERT_FALSE(goLive(kColour).empty());
    EXPECT_TRUE(d->button("btnLive")->toolTip().contains("(Space)"));
    EXPECT_TRUE(d->button("btnSnap")->toolTip().contains("(C)"));
    EXPECT_TRUE(d->button("btnMovie")->toolTip().contains("(V)"));
    EXPECT_TRUE(d->action("actFit")->toolTip().contains("(F)"));
    EXPECT_TRUE(d->action("actOneToOne")->toolTip().contains("(1)"));

    QTest::keyClick(window, Qt::Key_1);
    EXPECT_FALSE(d->view()->fitting());
    EXPECT_EQ(d->view()->scale(), 1);
    EXPECT_TRUE(d->action("actOneToOne")->isChecked());
    QTest::keyClick(window, Qt::Key_F);
    EXPECT_TRUE(d->view()->fitting());
    EXPECT_TRUE(d->action("actFit")->isChecked());

    d->field("txtPath")->setText(home.filePath("shots") + "/");
    int stills = 0;
    d->onStill([&] { ++stills; });
    QTest::keyClick(window, Qt::Key_C);
    EXPECT_EQ(stills, 1);
    QTest::keyClick(window, Qt::Key_V);
    EXPECT_TRUE(d->movieRecording());
    QTest::keyClick(window, Qt::Key_V);
    EXPECT_FALSE(d->movieRecording());
    // Typing into a text field types: the key presses nothing.
    d->field("txtPath")->setFocus();
    QTest::keyClick(d->field("txtPath"), Qt::Key_C);
    EXPECT_EQ(stills, 1);
    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_TRUE(waitUntil([&] { return !d->liveRunning(); }));
}

// A region dragged (with Shift) reaches the camera snapped as the model
// takes it, and the frames come at its size; "Whole frame" clears it.
TEST_F(ToolsTest, ARegionDraggedOnThePictureReachesTheCameraSnapped) {
    ASSERT_FALSE(goLive(kColour).empty());
    const int w = GetResWidth(2, cam()), h = GetResHeight(2, cam());
    ASSERT_EQ(d->view()->image().size(), QSize(w, h));
    const viewer::ViewTransform t = d->view()->transform();
    const QPoint from = t.toView({101.5, 51.5}).toPoint(), to = t.toView({402.5, 300.5}).toPoint();
    const QPoint a = t.pixelAt(from), b = t.pixelAt(to);
    QTest::mousePress(d->view(), Qt::LeftButton, Qt::ShiftModifier, from);
    QTest::mouseMove(d->view(), to);
    QTest::mouseRelease(d->view(), Qt::LeftButton, Qt::ShiftModifier, to);
    // Finished pixels are sensor pixels here (no flip); the model takes the
    // origin on multiples of 4 across, 2 down, and sizes (plus the 8-pixel
    // border) likewise.
    int x, y, rw, rh;
    GetRoi(&x, &y, &rw, &rh, cam());
    EXPECT_EQ(x, a.x() & ~3);
    EXPECT_EQ(y, a.y() & ~1);
    EXPECT_EQ(rw, ((b.x() - a.x() + 1 + 8) & ~3) - 8);
    EXPECT_EQ(rh, ((b.y() - a.y() + 1 + 8) & ~1) - 8);
    bool on = false;
    GetRoiState(&on, cam());
    EXPECT_TRUE(on);
    EXPECT_TRUE(
        message().startsWith(QString("Region %1 × %2 at %3, %4").arg(rw).arg(rh).arg(x).arg(y)));
    EXPECT_TRUE(waitUntil([&] { return d->view()->image().size() == QSize(rw, rh); }));
    EXPECT_TRUE(d->view()->fitting());  // the new frame size is shown whole
    EXPECT_TRUE(d->label("txtStatus")->text().contains(QString("region %1 × %2").arg(rw).arg(rh)));

    // The region tool: a plain drag draws a region inside the region.
    d->action("actRegion")->trigger();
    const viewer::ViewTransform inner = d->view()->transform();
    QTest::mousePress(d->view(), Qt::LeftButton, {}, inner.toView({40.5, 20.5}).toPoint());
    QTest::mouseMove(d->view(), inner.toView({120.5, 90.5}).toPoint());
    QTest::mouseRelease(d->view(), Qt::LeftButton, {}, inner.toView({120.5, 90.5}).toPoint());
    EXPECT_FALSE(d->action("actRegion")->isChecked());  // one region per press
    int x2, y2;
    GetRoi(&x2, &y2, &rw, &rh, cam());
    EXPECT_EQ(x2, (x + 40) & ~3);
    EXPECT_EQ(y2, (y + 20) & ~1);

    d->action("actClearRegion")->trigger();
    GetRoiState(&on, cam());
    EXPECT_FALSE(on);
    EXPECT_TRUE(waitUntil([&] { return d->view()->image().size() == QSize(w, h); }));
}

TEST_F(ToolsTest, TypedExposuresAreTakenOrRefusedAndLongOnesShowTheirProgress) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    d->check("chkAE")->click();  // off: the field opens
    ASSERT_TRUE(d->field("txtTime")->isEnabled());
    const auto type = [&](const QString& text) {
        d->field("txtTime")->setText(text);
        d->field("txtTime")->setModified(true);
        emit d->field("txtTime")->editingFinished();
    };
    type("25");
    EXPECT_NEAR(GetExposure(cam()), 25, d->exposureRange().step);
    EXPECT_EQ(d->field("txtTime")->text(), QString::asprintf("%.3f", GetExposure(cam())));
    EXPECT_EQ(d->slider("sldTime")->value(),
              viewer::exposureSliderPosition(d->exposureRange(), GetExposure(cam())));
    type("0.6 s");
    EXPECT_NEAR(GetExposure(cam()), 600, d->exposureRange().step);
    const float kept = GetExposure(cam());
    type("quick");
    EXPECT_TRUE(message().contains("\"quick\" is no exposure")) << message().toStdString();
    EXPECT_EQ(GetExposure(cam()), kept);
    EXPECT_EQ(d->field("txtTime")->text(), QString::asprintf("%.3f", kept));  // the camera's, again
    type("9999 min");
    EXPECT_TRUE(message().startsWith("Exposure must lie between")) << message().toStdString();
    EXPECT_EQ(GetExposure(cam()), kept);

    // Live at 0.6 s: the status line shows the exposure in flight.
    d->button("btnLive")->click();
    EXPECT_TRUE(waitUntil([&] {
        return d->find<QProgressBar>("prgExposure")->isVisibleTo(window) &&
               d->find<QProgressBar>("prgExposure")->value() > 100;
    }));
    EXPECT_TRUE(d->find<QProgressBar>("prgExposure")->text().endsWith("of 600 ms"))
        << d->find<QProgressBar>("prgExposure")->text().toStdString();
    d->button("btnLive")->click();
    ASSERT_TRUE(waitUntil([&] { return !d->liveRunning(); }));
    EXPECT_FALSE(d->find<QProgressBar>("prgExposure")->isVisibleTo(window));

    // A reload of the exposure (here after a resolution change) leaves what
    // the user is typing alone; Enter takes it.
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    d->tabs()->setCurrentIndex(0);
    d->field("txtTime")->setFocus();
    ASSERT_TRUE(waitUntil([&] { return d->field("txtTime")->hasFocus(); }));
    d->field("txtTime")->selectAll();
    QTest::keyClicks(d->field("txtTime"), "40 ms");
    d->choose("pouRes", 1);
    QTest::qWait(100);  // the reload runs once the camera settled (at once here)
    EXPECT_EQ(d->field("txtTime")->text(), "40 ms");
    QTest::keyClick(d->field("txtTime"), Qt::Key_Return);
    EXPECT_NEAR(GetExposure(cam()), 40, d->exposureRange().step);
    EXPECT_EQ(d->field("txtTime")->text(), QString::asprintf("%.3f", GetExposure(cam())));
}

// Over the live picture the status line reads the frame shown: its raw Bayer
// tile and its finished pixel.
TEST_F(ToolsTest, TheReadoutShowsTheShownFramesValues) {
    ASSERT_FALSE(goLive(kColour).empty());
    ASSERT_TRUE(stopLive());
    const auto frame = d->view()->frame();
    ASSERT_TRUE(frame && frame->raw);
    const QPoint at = d->view()->rect().center();
    const QPoint pixel = d->view()->transform().pixelAt(at);
    QTest::mouseMove(d->view(), at);
    const QString text = d->label("txtPixel")->text();
    EXPECT_TRUE(text.startsWith(QString("x %1  y %2 · raw ").arg(pixel.x()).arg(pixel.y())))
        << text.toStdString();
    // The finished value is the picture's, the raw one the frame's sample at
    // the border's offset (no flip or turn here), named by its Bayer site.
    const QColor shown = d->view()->image().pixelColor(pixel);
    EXPECT_TRUE(text.endsWith(
        QString("RGB %1 %2 %3").arg(shown.red()).arg(shown.green()).arg(shown.blue())));
    const QPoint raw = pixel + QPoint(4, 4);
    const char site =
        viewer::bayerSites(GetRawBayernPattern(cam()))[(raw.y() & 1) * 2 + (raw.x() & 1)];
    EXPECT_TRUE(text.contains(QString("[%1 %2]").arg(QChar(site)).arg(frame->raw->at(raw))))
        << text.toStdString();
    QTest::mouseMove(window, QPoint(1, 1));  // off the picture
    EXPECT_TRUE(d->label("txtPixel")->text().isEmpty());
}

TEST_F(ToolsTest, TheFocusFigureRisesAsTheSceneComesIntoFocus) {
    ASSERT_FALSE(goLive(kMono).empty());
    const int id = lastId;
    const auto figureAt = [&](float defocus) {
        SimSetFocus(id, defocus);
        framesShown(3);  // frames made before the change have passed
        double sum = 0;
        for (int i = 0; i < 4; ++i) {
            framesShown(1);
            sum += d->view()->frame()->focus;
        }
        return sum / 4;
    };
    const double far = figureAt(6), near = figureAt(1), sharp = figureAt(0);
    EXPECT_LT(far, near);
    EXPECT_LT(near, sharp);
    EXPECT_TRUE(d->label("txtFocus")->text().startsWith("Focus "))
        << d->label("txtFocus")->text().toStdString();
    EXPECT_NEAR(d->pictureTools().focus().bestSoFar(), sharp, sharp * 0.5);
    EXPECT_EQ(SimSetFocus(id, -1), -2);
    EXPECT_EQ(SimSetFocus(999, 0), -1);
}

// With an objective chosen and the bar asked for on stills, the image files
// carry a bar of the calibrated length; the RAW file is the raw frame as it
// came.
TEST_F(ToolsTest, StillsTakeTheScaleBarButRawDoesNot) {
    ASSERT_FALSE(goLive(kColour).empty());
    viewer::PictureTools& tools = d->pictureTools();
    tools.setObjectives({{"10x", 0.5}});
    tools.chooseObjective("10x");
    d->action("actBarOnStills")->setChecked(true);
    // Resolution 2 of this model reads every fourth pixel: 2 µm per pixel.
    EXPECT_DOUBLE_EQ(tools.micronsPerPixel(), 2.0);
    for (const char* format : {"chkRaw", "chkTif", "chkPng", "chkJpg", "chkBmp"}) {
        const bool wanted = format == std::string("chkRaw") || format == std::string("chkPng");
        if (d->check(format)->isChecked() != wanted) d->check(format)->click();
    }
    int formats = 0;
    GetImageFormat(&formats, cam());
    ASSERT_EQ(formats, 1 | 4);  // RAW and PNG
    d->field("txtPath")->setText(home.filePath("shots") + "/");
    QString base;
    d->onStill([&](const QString& b) { base = b; });
    d->button("btnSnap")->click();
    ASSERT_TRUE(
        waitUntil([&] { return QFile::exists(base + ".png") && QFile::exists(base + ".raw"); }));
    EXPECT_TRUE(message().startsWith("Still with scale bar")) << message().toStdString();

    const QImage still(base + ".png");
    const QSize size(GetResWidth(2, cam()), GetResHeight(2, cam()));
    ASSERT_EQ(still.size(), size);
    const viewer::ScaleBar bar = viewer::chooseScaleBar(2.0, size.width() / 5.0);
    EXPECT_EQ(bar.text, "200 µm");  // 100 pixels
    const QRect r = viewer::scaleBarRect(size, bar);
    ASSERT_EQ(r.width(), 100);
    for (int x = r.left(); x <= r.right(); ++x)
        EXPECT_EQ(still.pixel(x, r.center().y()) & 0xffffff, 0xffffffu) << x;
    EXPECT_EQ(still.pixel(r.left() - 1, r.center().y()) & 0xffffff, 0u);
    EXPECT_EQ(still.pixel(r.right() + 1, r.center().y()) & 0xffffff, 0u);

    QFile raw(base + ".raw");
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    ASSERT_GE(bytes.size(), int(sizeof(_ezImage)));
    const auto* record = reinterpret_cast<const _ezImage*>(bytes.constData());
    EXPECT_EQ(record->width, size.width() + 8);
    EXPECT_EQ(record->height, size.height() + 8);
    EXPECT_EQ(record->channels, 1);
}

// What the user set on a model is there again in the next session: the
// camera's settings through the SDK's parameter set, the objective through
// the viewer's settings file.
TEST_F(ToolsTest, ACameraModelComesBackAsItWasLeft) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    d->pictureTools().setObjectives({{"4x", 1.6}, {"40x", 0.16}});
    d->combo("pouObjective")->setCurrentIndex(2);
    emit d->combo("pouObjective")->activated(2);
    d->choose("pouRes", 2);
    d->choose("pouClk", 0);
    d->slider("sldGain")->setValue(70);
    d->check("chkAE")->click();
    d->field("txtTime")->setText("40");
    d->field("txtTime")->setModified(true);
    emit d->field("txtTime")->editingFinished();
    d->slider("sldGamma")->setValue(130);
    const float exposure = GetExposure(cam());
    quit();

    viewertest::ViewerHarness next;
    next.launch();
    ASSERT_FALSE(next.selected().empty());
    const char* name = next.selected().c_str();
    EXPECT_EQ(next.combo("pouRes")->currentIndex(), 2);
    EXPECT_EQ(GetResolution(name), 2);
    EXPECT_EQ(next.combo("pouClk")->currentIndex(), 0);
    EXPECT_EQ(GetPixelclock(name), 0);
    EXPECT_EQ(next.slider("sldGain")->value(), 70);
    EXPECT_FALSE(next.check("chkAE")->isChecked());
    EXPECT_NEAR(GetExposure(name), exposure, 0.05);
    EXPECT_EQ(next.field("txtTime")->text(), QString::asprintf("%.3f", GetExposure(name)));
    EXPECT_EQ(next.slider("sldGamma")->value(), 130);
    EXPECT_EQ(next.pictureTools().objective(), "40x");
    next.quit();
}
