// The viewer's controller on simulated cameras: start-up and quit, hot-plug
// while idle, loading the controls, and each control's call and text.
#include "viewer_fixture.h"  // first: see there
// (the order above matters)
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <filesystem>
#include <map>
#include <thread>

#include "log.h"
#include "viewer/capture/settings_file.h"
#include "viewer/widgets/radio_row.h"

using viewertest::ViewerTest;
using viewertest::waitUntil;

namespace {
constexpr int kColour = 0xc004;  // QC500.
constexpr int kMono = 0xc006;    // QC500M.
}  // namespace

TEST_F(ViewerTest, StartUpListsCamerasAndLoadsTheFirst) {
    plugged.push_back(SimPlugCamera(0x0547, kColour, 0x0100));  // plugged in before start
    launch();
    EXPECT_EQ(d->field("txtPath")->text(), QDir(home.path()).filePath("Desktop") + "/");
    ASSERT_EQ(d->combo("pouDev")->count(), 1);
    const std::string first = d->combo("pouDev")->itemText(0).toStdString();
    EXPECT_EQ(d->selected(), first);
    EXPECT_EQ(d->label("txtDev")->text().toStdString(), first + " connect");
    EXPECT_TRUE(d->button("btnLive")->isEnabled());
    EXPECT_EQ(d->button("btnLive")->text(), "Live");
    // Loading forces clock 1 and automatic exposure.
    EXPECT_EQ(GetPixelclock(cam()), 1);
    EXPECT_EQ(d->combo("pouClk")->currentIndex(), 1);
    bool ae = false;
    GetAutoExposure(&ae, cam());
    EXPECT_TRUE(ae);
    EXPECT_TRUE(d->check("chkAE")->isChecked());
    EXPECT_FALSE(d->slider("sldTime")->isEnabled());
    EXPECT_EQ(d->combo("pouRes")->count(), GetResolutionCount(cam()));
    EXPECT_EQ(d->combo("pouSav")->count(), d->combo("pouRes")->count());
    EXPECT_EQ(d->combo("pouRes")->itemText(2), GetResItemName(2, cam()));
    EXPECT_EQ(d->slider("sldGain")->value(), GetAnaloggain(cam()));
    EXPECT_EQ(d->label("txtGain")->text(),
              QString::asprintf("%.3f", GetAnaloggain(cam()) * 0.0351f + 6));
    int min, max, step;
    GetAnaloggainRange(&min, &max, &step, cam());
    EXPECT_EQ(d->slider("sldGain")->minimum(), min);
    EXPECT_EQ(d->slider("sldGain")->maximum(), max);
    EXPECT_EQ(d->field("txtTime")->text(), QString::asprintf("%.3f", GetExposure(cam())));
    // The exposure slider is logarithmic over the camera's range.
    EXPECT_EQ(d->slider("sldTime")->maximum(), viewer::kExposureSliderSteps);
    EXPECT_EQ(d->slider("sldTime")->value(),
              viewer::exposureSliderPosition(d->exposureRange(), GetExposure(cam())));
    EXPECT_EQ(d->label("txtGamma")->text(), "1.0");
    EXPECT_EQ(d->label("txtContrast")->text(), "128");
    EXPECT_EQ(d->button("btnRestart")->isEnabled(), ResetSupport(cam()) != -4);
    EXPECT_TRUE(d->label("txtStatus")->text().startsWith(QString::fromStdString(first)));
    EXPECT_TRUE(d->label("txtStatus")->text().contains("2584 × 1936 · 8-bit ·"));
    // This model has no black level: its controls are hidden.
    EXPECT_TRUE(d->slider("sldBlvl")->isHidden() && d->label("txtBlvl")->isHidden() &&
                d->label("tilBlvl")->isHidden());

    // A second camera is only listed.
    const std::string second = plug(kMono);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(d->combo("pouDev")->count(), 2);
    EXPECT_EQ(d->camerasConnected(), 2);
    EXPECT_EQ(d->selected(), first);
    EXPECT_EQ(d->label("txtDev")->text().toStdString(), second + " connect");
}

TEST_F(ViewerTest, QuitWritesTheCaptureDirectoryAndWindowPlace) {
    launch();
    d->field("txtPath")->setText("/srv/lab/shots/");
    window->setGeometry(40, 50, 1000, 700);
    quit();
    EXPECT_EQ(viewer::readStringArray(d->settingsFilePath()), QStringList{"/srv/lab/shots/"});
    EXPECT_TRUE(d->settingsFilePath().startsWith(QDir(home.path()).filePath("Documents/")));
    EXPECT_TRUE(QFile::exists(home.filePath(".config/ezcam/ezview-test.conf")));

    // The next start shows both again.
    viewertest::ViewerHarness next;
    next.window().restoreWindowGeometry();
    next.launch();
    EXPECT_EQ(next.field("txtPath")->text(), "/srv/lab/shots/");
    EXPECT_EQ(next.window().size(), QSize(1000, 700));
    next.quit();
}

TEST_F(ViewerTest, UnplugWhileIdleSelectsTheFirstRemainingCamera) {
    launch();
    const std::string colour = plug(kColour);
    const int colourId = lastId;
    const std::string mono = plug(kMono);
    const int monoId = lastId;
    const std::string other = plug(kColour);
    const int otherId = lastId;
    ASSERT_FALSE(colour.empty() || mono.empty() || other.empty());
    ASSERT_EQ(d->selected(), colour);
    ASSERT_EQ(d->tabs()->count(), 3);
    EXPECT_EQ(d->tabIndex("Colour"), 1);

    unplug(otherId);  // not the selected one: list, count and text only
    EXPECT_EQ(d->selected(), colour);
    EXPECT_EQ(d->combo("pouDev")->count(), 2);
    EXPECT_EQ(d->combo("pouDev")->findText(QString::fromStdString(other)), -1);
    EXPECT_EQ(d->label("txtDev")->text().toStdString(), other + " disconnect!");

    unplug(colourId);  // the selected one: the first remaining, a monochrome camera
    EXPECT_EQ(d->selected(), mono);
    EXPECT_EQ(d->tabs()->count(), 2);  // no colour tab
    EXPECT_EQ(d->tabIndex("Colour"), -1);

    const std::string back = plug(kColour);
    EXPECT_EQ(d->selected(), mono);  // a camera is selected: the new one is only listed
    d->choose("pouDev", d->combo("pouDev")->findText(QString::fromStdString(back)));
    EXPECT_EQ(d->selected(), back);
    EXPECT_EQ(d->tabIndex("Colour"), 1);                // in again, at its place
    EXPECT_EQ(DeviceState(mono.c_str()), 0);            // the one left was suspended

    unplug(lastId);
    EXPECT_EQ(d->selected(), mono);
    unplug(monoId);  // the last camera
    EXPECT_TRUE(d->selected().empty());
    EXPECT_EQ(d->combo("pouDev")->count(), 0);
    EXPECT_FALSE(d->button("btnLive")->isEnabled());
    EXPECT_FALSE(d->frameBuffersReady());
    EXPECT_EQ(d->label("txtStatus")->text(), "No camera");
}

TEST_F(ViewerTest, SlidersSendTheirValueAndShowItsText) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    d->slider("sldGain")->setValue(100);
    EXPECT_EQ(GetAnaloggain(cam()), 100);
    EXPECT_EQ(d->label("txtGain")->text(), "9.510");
    // The setting itself, as files record it, is named beside the scale.
    EXPECT_TRUE(d->label("txtGain")->toolTip().contains("setting 100 in camera units"));
    EXPECT_TRUE(d->label("txtGain")->toolTip().contains("GAIN 100"));

    d->check("chkAE")->click();  // off: the exposure slider comes alive
    bool ae = true;
    GetAutoExposure(&ae, cam());
    EXPECT_FALSE(ae);
    EXPECT_TRUE(d->slider("sldTime")->isEnabled());
    d->slider("sldTime")->setValue(500);
    const float expected = viewer::exposureAtSlider(d->exposureRange(), 500);
    EXPECT_NEAR(GetExposure(cam()), expected, d->exposureRange().step / 2);
    EXPECT_EQ(d->field("txtTime")->text(), QString::asprintf("%.3f", expected));
    d->check("chkAE")->click();
    GetAutoExposure(&ae, cam());
    EXPECT_TRUE(ae);
    EXPECT_FALSE(d->slider("sldTime")->isEnabled());

    d->slider("sldGamma")->setValue(120);
    EXPECT_EQ(GetGamma(cam()), 120);
    EXPECT_EQ(d->label("txtGamma")->text(), "1.20");
    d->slider("sldContrast")->setValue(140);
    EXPECT_EQ(GetContrast(cam()), 140);
    EXPECT_EQ(d->label("txtContrast")->text(), "140");
    d->slider("sldSaturation")->setValue(150);
    EXPECT_EQ(GetSaturation(cam()), 150);
    EXPECT_EQ(d->label("txtSaturation")->text(), "150");

    d->slider("sldRed")->setValue(96);
    EXPECT_EQ(d->label("txtRed")->text(), "1.50");
    d->slider("sldBlue")->setValue(64);  // unchanged: nothing happens
    d->slider("sldGreen")->setValue(80);
    int r = 0, g = 0, b = 0;
    GetChannelGain(&r, &g, &b, cam());
    EXPECT_EQ(r, 96);
    EXPECT_EQ(g, 80);
    EXPECT_EQ(b, 64);
    EXPECT_EQ(d->label("txtGreen")->text(), "1.25");
    EXPECT_EQ(d->label("txtBlue")->text(), "1.00");
}

TEST_F(ViewerTest, ASliderAtTheCamerasValueSendsNothing) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    const int id = lastId;
    // The camera's gain changed behind the window's back.
    SetAnaloggain(50, cam());
    camera(id).clearTrace();
    d->slider("sldGain")->setValue(50);
    emit d->slider("sldGain")->valueChanged(d->slider("sldGain")->value());
    EXPECT_EQ(controlRequests(id), 0);
    d->check("chkAE")->click();
    camera(id).clearTrace();
    // The slider shows the camera's exposure.
    emit d->slider("sldTime")->valueChanged(d->slider("sldTime")->value());
    EXPECT_EQ(controlRequests(id), 0);
    d->slider("sldGain")->setValue(51);  // a real change does send
    EXPECT_GT(controlRequests(id), 0);
}

TEST_F(ViewerTest, CheckBoxesSetTheirBits) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    SetImageFormat(1, cam());
    d->reload();
    EXPECT_TRUE(d->check("chkRaw")->isChecked());
    EXPECT_FALSE(d->check("chkJpg")->isChecked());
    int format = 0;
    d->check("chkTif")->click();
    GetImageFormat(&format, cam());
    EXPECT_EQ(format, 3);
    d->check("chkRaw")->click();
    GetImageFormat(&format, cam());
    EXPECT_EQ(format, 2);
    d->check("chkBmp")->click();
    d->check("chkPng")->click();
    GetImageFormat(&format, cam());
    EXPECT_EQ(format, 22);

    d->check("chkHF")->click();
    d->check("chkVF")->click();
    EXPECT_EQ(GetFlip(cam()), 3);
    d->check("chkHF")->click();
    EXPECT_EQ(GetFlip(cam()), 2);

    bool on = false;
    d->check("chkMono")->click();
    GetMonochrome(&on, cam());
    EXPECT_TRUE(on);
    d->check("chkColor")->click();
    GetColorEnhancement(&on, cam());
    EXPECT_EQ(on, d->check("chkColor")->isChecked());
    d->check("chkFF")->click();
    GetFlatfieldState(&on, cam());
    EXPECT_EQ(on, d->check("chkFF")->isChecked());
}

// The Colour tab offers the fixed correction and the model's profiles; a
// profile chosen there is in use, with colour enhancement on.
TEST_F(ViewerTest, TheColourProfileChoiceListsAndSwitchesTheModelsProfiles) {
    const std::string dir = std::filesystem::temp_directory_path() / "ezcam-viewer-colour-XXXXXX";
    std::string made = dir;
    ASSERT_TRUE(mkdtemp(made.data()));
    setenv("EZCAM_COLOUR_DIR", made.c_str(), 1);
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    const double matrix[9] = {1.4, -0.3, -0.1, -0.2, 1.3, -0.1, 0, -0.3, 1.3};
    ASSERT_EQ(SaveColorProfile("LED", matrix, nullptr, 0, cam()), 0);
    ASSERT_EQ(SaveColorProfile("halogen", matrix, nullptr, 0, cam()), 0);
    SetColorEnhancement(false, cam());
    d->reload();
    QComboBox* box = d->combo("cmbColourProfile");
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(1), "LED");
    EXPECT_EQ(box->currentIndex(), 0);
    box->setCurrentIndex(2);
    emit box->activated(2);
    char inUse[64] = {};
    GetColorProfile(inUse, sizeof inUse, cam());
    EXPECT_STREQ(inUse, "halogen");
    bool on = false;
    GetColorEnhancement(&on, cam());
    EXPECT_TRUE(on);
    EXPECT_TRUE(d->check("chkColor")->isChecked());
    box->setCurrentIndex(0);
    emit box->activated(0);
    GetColorProfile(inUse, sizeof inUse, cam());
    EXPECT_STREQ(inUse, "");
    unsetenv("EZCAM_COLOUR_DIR");
    std::filesystem::remove_all(made);
}

// A locked clock disables the depth choice and forces 8 bits; a free one
// offers both. Run on a camera that can take 16 bits when the SDK has one.
TEST_F(ViewerTest, PixelClockLocksTheBitDepth) {
    launch();
    const bool deep = !plug(0xc00a).empty();  // a monochrome camera with 16 bits
    if (!deep) {
        ASSERT_FALSE(plug(kMono).empty());
    }
    int locked = -1, free = -1;
    for (int res = 0; res < GetResolutionCount(cam()) && (locked < 0 || free < 0); ++res) {
        d->choose("pouRes", res);
        locked = free = -1;
        for (int clock = 0; clock < GetPixelclockCount(cam()); ++clock)
            (GetRawDepthState(clock, cam()) ? locked : free) = clock;
    }
    ASSERT_GE(free, 0);
    ASSERT_GE(locked, 0);

    d->choose("pouClk", free);
    EXPECT_EQ(GetPixelclock(cam()), free);
    EXPECT_TRUE(d->depth()->isEnabled());
    EXPECT_EQ(d->depth()->selectedColumn(), GetRawDepth(cam()) == 8 ? 0 : 1);
    if (deep) {
        d->depth()->cellAt(1)->click();
        EXPECT_EQ(GetRawDepth(cam()), 16);
        EXPECT_TRUE(d->label("txtStatus")->text().contains("16-bit"));
        d->depth()->cellAt(0)->click();
        EXPECT_EQ(GetRawDepth(cam()), 8);
        d->depth()->cellAt(1)->click();
    }

    d->choose("pouClk", locked);
    EXPECT_FALSE(d->depth()->isEnabled());
    EXPECT_EQ(d->depth()->selectedColumn(), 0);
    EXPECT_EQ(GetRawDepth(cam()), 8);
}

// On this camera the fastest clock takes 16 bits only below the largest
// resolution. The window shows the resolution, clock and depth in force.
TEST_F(ViewerTest, TheDepthChoiceFollowsTheClockAndResolutionInForce) {
    launch();
    ASSERT_FALSE(plug(0xe00a, 0xa001).empty());
    ASSERT_EQ(GetRawDepthState(0, cam()), 4);  // at resolution 0
    const auto choose = [&](const char* list, int index) { d->choose(list, index); };
    choose("pouRes", 1);
    choose("pouClk", 0);
    ASSERT_EQ(GetRawDepth(cam()), 8);
    EXPECT_TRUE(d->depth()->isEnabled());
    // The largest resolution locks that clock's depth.
    choose("pouRes", 0);
    EXPECT_EQ(GetResolution(cam()), 0);
    EXPECT_FALSE(d->depth()->isEnabled());
    EXPECT_EQ(d->depth()->selectedColumn(), 0);

    // At 16 bits the camera refuses the largest resolution for that clock.
    choose("pouRes", 1);
    EXPECT_TRUE(d->depth()->isEnabled());
    d->depth()->cellAt(1)->click();
    ASSERT_EQ(GetRawDepth(cam()), 16);
    choose("pouRes", 0);
    EXPECT_EQ(GetResolution(cam()), 1);
    EXPECT_EQ(d->combo("pouRes")->currentIndex(), 1);
    EXPECT_EQ(d->combo("pouSav")->currentIndex(), 1);
    EXPECT_EQ(d->depth()->selectedColumn(), 1);

    // And at 16 bits on the largest resolution, it refuses that clock.
    choose("pouClk", 1);
    choose("pouRes", 0);
    ASSERT_EQ(GetResolution(cam()), 0);
    ASSERT_EQ(GetRawDepth(cam()), 16);
    choose("pouClk", 0);
    EXPECT_EQ(GetPixelclock(cam()), 1);
    EXPECT_EQ(d->combo("pouClk")->currentIndex(), 1);
    EXPECT_TRUE(d->depth()->isEnabled());
    EXPECT_EQ(d->depth()->selectedColumn(), 1);
}

TEST_F(ViewerTest, ResolutionChangeReloadsTheExposureRange) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    d->choose("pouRes", 2);
    EXPECT_EQ(GetResolution(cam()), 2);
    EXPECT_TRUE(d->button("btnMovie")->isEnabled());  // only one product refuses movies at index 0
    // The exposure slider follows the new range once the camera settled.
    ASSERT_TRUE(waitUntil([&] {
        float min, max, step;
        GetExposureRange(&min, &max, &step, cam());
        return d->exposureRange().max == max &&
               d->slider("sldTime")->value() ==
                   viewer::exposureSliderPosition({min, max, step}, GetExposure(cam()));
    }));
    EXPECT_EQ(d->slider("sldTime")->minimum(), 0);  // the shortest exposure stays reachable
    EXPECT_TRUE(
        d->label("txtStatus")
            ->text()
            .contains(QString("%1 × %2").arg(GetResWidth(2, cam())).arg(GetResHeight(2, cam()))));
}

TEST_F(ViewerTest, TheSlowProductTakesNoMovieAtItsFirstResolution) {
    launch();
    if (plug(0xa003).empty()) GTEST_SKIP() << "no model for product a003";
    d->choose("pouRes", 0);
    EXPECT_FALSE(d->button("btnMovie")->isEnabled());
    d->choose("pouRes", 1);
    EXPECT_TRUE(d->button("btnMovie")->isEnabled());

    // A movie being recorded can still be stopped there.
    d->field("txtPath")->setText(home.filePath("movies") + "/");
    d->button("btnMovie")->click();
    ASSERT_TRUE(d->movieRecording());
    d->choose("pouRes", 0);
    EXPECT_TRUE(d->button("btnMovie")->isEnabled());
    d->reload();
    EXPECT_TRUE(d->button("btnMovie")->isEnabled());
    d->button("btnMovie")->click();
    EXPECT_FALSE(d->movieRecording());
    EXPECT_EQ(d->button("btnMovie")->text(), "Start Video");
    EXPECT_FALSE(d->button("btnMovie")->isEnabled());  // and then the rule holds again
}

TEST_F(ViewerTest, DefaultsReloadTheControls) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    d->slider("sldGamma")->setValue(140);
    d->slider("sldContrast")->setValue(90);
    d->check("chkHF")->click();
    d->check("chkAE")->click();
    d->choose("pouClk", 0);
    d->button("btnReset")->click();
    EXPECT_EQ(GetGamma(cam()), 100);
    EXPECT_EQ(d->slider("sldGamma")->value(), 100);
    EXPECT_EQ(d->label("txtGamma")->text(), "1.0");
    EXPECT_EQ(d->slider("sldContrast")->value(), 128);
    EXPECT_FALSE(d->check("chkHF")->isChecked());
    EXPECT_TRUE(d->check("chkAE")->isChecked());
    EXPECT_EQ(d->combo("pouClk")->currentIndex(), 1);
    EXPECT_EQ(d->slider("sldGain")->value(), GetAnaloggain(cam()));
    // The flip the viewer keeps is the camera's again: one more flip is just that.
    d->check("chkVF")->click();
    EXPECT_EQ(GetFlip(cam()), 2);
}

TEST_F(ViewerTest, StillsAreNamedAfterTheDirectoryAndTheTime) {
    EXPECT_EQ(viewer::captureBaseName("/data/", QDateTime(QDate(2024, 7, 3), QTime(14, 5, 9))),
              "/data/0703140509");
    // A folder typed without its closing separator is still the folder.
    EXPECT_EQ(viewer::captureBaseName("/data", QDateTime(QDate(2024, 7, 3), QTime(14, 5, 9))),
              "/data/0703140509");
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    d->field("txtPath")->setText(home.filePath("shots") + "/");
    QString base;
    int result = 99;
    d->onStill([&](const QString& b, int r) { base = b, result = r; });
    d->button("btnSnap")->click();
    EXPECT_TRUE(QRegularExpression("^" + QRegularExpression::escape(d->field("txtPath")->text()) +
                                   "[01]\\d[0-3]\\d[0-2]\\d[0-5]\\d[0-5]\\d$")
                    .match(base)
                    .hasMatch())
        << base.toStdString();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(QDir(home.filePath("shots")).exists());  // made for the files to come
}

// The capture box says what a still will be: its size is the chosen
// resolution's, and a still asked for while idle waits for the live view.
TEST_F(ViewerTest, TheCaptureBoxShowsWhatAStillWillBe) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    EXPECT_FALSE(d->combo("pouSav")->isEnabled());  // not a choice of its own
    for (const int index : {2, 1}) {
        d->choose("pouRes", index);
        EXPECT_EQ(d->combo("pouSav")->currentIndex(), index);
        EXPECT_EQ(d->combo("pouSav")->currentText(), GetResItemName(index, cam()));
    }
    d->field("txtPath")->setText(home.filePath("shots") + "/");
    d->button("btnSnap")->click();
    EXPECT_TRUE(window->statusBar()->currentMessage().startsWith("Still waits for the live view"))
        << window->statusBar()->currentMessage().toStdString();
}

TEST_F(ViewerTest, WhiteBalanceAndFlatFieldNeedAFrame) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    d->button("btnWB")->click();  // no frame grabbed yet
    EXPECT_EQ(d->label("txtWB")->text(), "WB Fail");
    EXPECT_TRUE(d->button("btnWB")->isEnabled());
    d->button("btnFF")->click();
    bool on = true;
    GetFlatfieldState(&on, cam());
    EXPECT_FALSE(on);
}

// Controls that act on a camera are open only while one is loaded; the
// capture folder can be chosen at any time.
TEST_F(ViewerTest, CameraControlsWaitForACamera) {
    const auto cameraControls = [&] {
        return d->tabs()->isEnabled() && d->slider("sldGain")->isEnabled() &&
               d->check("chkJpg")->isEnabled() && d->button("btnSnap")->isEnabled();
    };
    launch();
    EXPECT_FALSE(cameraControls());
    EXPECT_FALSE(d->slider("sldGain")->isEnabled());
    EXPECT_TRUE(d->field("txtPath")->isEnabled() && d->button("btnBrowse")->isEnabled());
    ASSERT_FALSE(plug(kColour).empty());
    EXPECT_TRUE(cameraControls());
    EXPECT_FALSE(d->slider("sldTime")->isEnabled());  // still off under automatic exposure
    unplug(lastId);
    EXPECT_FALSE(cameraControls());
    EXPECT_TRUE(d->button("btnBrowse")->isEnabled());
}

TEST_F(ViewerTest, ActionsWithoutACameraDoNothing) {
    launch();
    d->slider("sldGain")->setValue(10);
    d->check("chkTif")->click();
    d->button("btnSnap")->click();
    // Those two are closed without a camera; their actions must hold anyway.
    emit d->check("chkTif")->clicked(d->check("chkTif")->isChecked());
    emit d->button("btnSnap")->clicked();
    d->button("btnMovie")->click();
    d->button("btnLive")->setEnabled(true);
    d->button("btnLive")->click();
    EXPECT_FALSE(d->liveRunning());
    EXPECT_EQ(d->button("btnLive")->text(), "Live");
    EXPECT_EQ(d->button("btnMovie")->text(), "Start Video");
}

// Every control lies inside its parent at no less than its smallest width, at
// the usual font and at a large one: no caption or control is cut off.
TEST_F(ViewerTest, ControlsFitTheWindowAtLargeFonts) {
    const QFont usual = QApplication::font();
    for (const double scale : {1.0, 1.5}) {
        QFont font = usual;
        font.setPointSizeF(usual.pointSizeF() * scale);
        QApplication::setFont(font);
        viewertest::ViewerHarness viewer;
        QMainWindow& shown = viewer.window();
        shown.resize(1200, 780);
        shown.show();
        QCoreApplication::processEvents();
        for (int tab = 0; tab < viewer.tabs()->count(); ++tab) {
            viewer.tabs()->setCurrentIndex(tab);
            QCoreApplication::processEvents();
            for (QWidget* w : shown.centralWidget()->findChildren<QWidget*>()) {
                const bool control = qobject_cast<QAbstractButton*>(w) ||
                                     qobject_cast<QComboBox*>(w) || qobject_cast<QSlider*>(w) ||
                                     qobject_cast<QLabel*>(w) || qobject_cast<QLineEdit*>(w) ||
                                     qobject_cast<QGroupBox*>(w) || qobject_cast<QTabWidget*>(w);
                if (!control || !w->isVisibleTo(&shown)) continue;
                // A caption needs its whole text; other controls their smallest size.
                const bool caption = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w);
                const int need = caption ? w->sizeHint().width() : w->minimumSizeHint().width();
                EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()) && w->width() >= need)
                    << "scale " << scale << ": " << w->metaObject()->className() << " '"
                    << w->property("text").toString().toStdString() << "' at x "
                    << w->geometry().x() << " width " << w->width() << " of at least " << need << " in "
                    << w->parentWidget()->width();
            }
        }
    }
    QApplication::setFont(usual);
}

// The SDK's messages reach the status line from whichever thread logs them.
TEST_F(ViewerTest, LibraryMessagesShowInTheStatusLine) {
    launch();
    std::thread([] { ezlog::warn("a warning from thread %d", 2); }).join();
    EXPECT_TRUE(waitUntil(
        [&] { return window->statusBar()->currentMessage() == "a warning from thread 2"; }));
}

// Scripts and tests find the controls by name: each one the user works has a
// name of its own, and the names the scenario scripts use are there.
TEST_F(ViewerTest, EveryControlHasANameOfItsOwn) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());  // the Colour tab's controls too
    std::map<QString, int> names;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QPushButton*>(w) || qobject_cast<QCheckBox*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QSlider*>(w) ||
                             qobject_cast<QLineEdit*>(w) || qobject_cast<QSpinBox*>(w) ||
                             qobject_cast<QProgressBar*>(w);
        if (!control) continue;
        EXPECT_FALSE(w->objectName().isEmpty())
            << w->metaObject()->className() << " '" << w->property("text").toString().toStdString()
            << "'";
        ++names[w->objectName()];
    }
    for (QAction* a : window->findChildren<QAction*>())
        if (!a->shortcut().isEmpty()) ++names[a->objectName()];
    for (const auto& [name, count] : names) EXPECT_EQ(count, 1) << name.toStdString();
    for (const char* used : {"pouDev", "btnLive", "txtFPS", "txtStatus", "pView", "pouRes",
                             "txtTime", "chkAE", "pouRawFormat", "spnRawLength", "pouRawUnit",
                             "btnRaw", "btnCalib", "txtPath", "btnSnap", "btnMovie", "txtRaw"})
        EXPECT_NE(window->findChild<QObject*>(used), nullptr) << used;
}
