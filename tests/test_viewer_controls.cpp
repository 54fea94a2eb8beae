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
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
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
    EXPECT_EQ(d->txtPath->text(), QDir(home.path()).filePath("Desktop") + "/");
    ASSERT_EQ(d->pouDev->count(), 1);
    const std::string first = d->pouDev->itemText(0).toStdString();
    EXPECT_EQ(d->camName, first);
    EXPECT_EQ(d->txtDev->text().toStdString(), first + " connect");
    EXPECT_TRUE(d->btnLive->isEnabled());
    EXPECT_EQ(d->btnLive->text(), "Live");
    // Loading forces clock 1 and automatic exposure.
    EXPECT_EQ(GetPixelclock(cam()), 1);
    EXPECT_EQ(d->pouClk->currentIndex(), 1);
    bool ae = false;
    GetAutoExposure(&ae, cam());
    EXPECT_TRUE(ae);
    EXPECT_TRUE(d->chkAE->isChecked());
    EXPECT_FALSE(d->sldTime->isEnabled());
    EXPECT_EQ(d->pouRes->count(), GetResolutionCount(cam()));
    EXPECT_EQ(d->pouSav->count(), d->pouRes->count());
    EXPECT_EQ(d->pouRes->itemText(2), GetResItemName(2, cam()));
    EXPECT_EQ(d->sldGain->value(), GetAnaloggain(cam()));
    EXPECT_EQ(d->txtGain->text(), QString::asprintf("%.3f", GetAnaloggain(cam()) * 0.0351f + 6));
    int min, max, step;
    GetAnaloggainRange(&min, &max, &step, cam());
    EXPECT_EQ(d->sldGain->minimum(), min);
    EXPECT_EQ(d->sldGain->maximum(), max);
    EXPECT_EQ(d->txtTime->text(), QString::asprintf("%.3f", GetExposure(cam())));
    // The exposure slider is logarithmic over the camera's range.
    EXPECT_EQ(d->sldTime->maximum(), viewer::kExposureSliderSteps);
    EXPECT_EQ(d->sldTime->value(),
              viewer::exposureSliderPosition(d->exposureRange(), GetExposure(cam())));
    EXPECT_EQ(d->txtGamma->text(), "1.0");
    EXPECT_EQ(d->txtContrast->text(), "128");
    EXPECT_EQ(d->btnRestart->isEnabled(), ResetSupport(cam()) != -4);
    EXPECT_TRUE(d->txtStatus->text().startsWith(QString::fromStdString(first)));
    EXPECT_TRUE(d->txtStatus->text().contains("2584 × 1936 · 8-bit ·"));
    // This model has no black level: its controls are hidden.
    EXPECT_TRUE(d->sldBlvl->isHidden() && d->txtBlvl->isHidden() && d->tilBlvl->isHidden());

    // A second camera is only listed.
    const std::string second = plug(kMono);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(d->pouDev->count(), 2);
    EXPECT_EQ(d->cntDevConnect, 2);
    EXPECT_EQ(d->camName, first);
    EXPECT_EQ(d->txtDev->text().toStdString(), second + " connect");
}

TEST_F(ViewerTest, QuitWritesTheCaptureDirectoryAndWindowPlace) {
    launch();
    d->txtPath->setText("/srv/lab/shots/");
    window->setGeometry(40, 50, 1000, 700);
    quit();
    EXPECT_EQ(viewer::readStringArray(d->settingsFilePath()), QStringList{"/srv/lab/shots/"});
    EXPECT_TRUE(d->settingsFilePath().startsWith(QDir(home.path()).filePath("Documents/")));
    EXPECT_TRUE(QFile::exists(home.filePath(".config/ezcam/ezview-test.conf")));

    // The next start shows both again.
    viewer::AppDelegate next;
    viewer::ViewerWindow nextWindow(next);
    next.setWindow(&nextWindow);
    nextWindow.restoreWindowGeometry();
    next.applicationDidFinishLaunching();
    EXPECT_EQ(next.txtPath->text(), "/srv/lab/shots/");
    EXPECT_EQ(nextWindow.size(), QSize(1000, 700));
    next.applicationShouldTerminate();
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
    ASSERT_EQ(d->camName, colour);
    ASSERT_EQ(d->tabView->count(), 3);
    EXPECT_EQ(d->tabView->indexOf(d->tabItemColr), 1);

    unplug(otherId);  // not the selected one: list, count and text only
    EXPECT_EQ(d->camName, colour);
    EXPECT_EQ(d->pouDev->count(), 2);
    EXPECT_EQ(d->pouDev->findText(QString::fromStdString(other)), -1);
    EXPECT_EQ(d->txtDev->text().toStdString(), other + " disconnect!");

    unplug(colourId);  // the selected one: the first remaining, a monochrome camera
    EXPECT_EQ(d->camName, mono);
    EXPECT_EQ(d->tabView->count(), 2);  // no colour tab
    EXPECT_EQ(d->tabView->indexOf(d->tabItemColr), -1);

    const std::string back = plug(kColour);
    EXPECT_EQ(d->camName, mono);  // a camera is selected: the new one is only listed
    d->pouDev->setCurrentIndex(d->pouDev->findText(QString::fromStdString(back)));
    d->devChangeAction(d->pouDev);
    EXPECT_EQ(d->camName, back);
    EXPECT_EQ(d->tabView->indexOf(d->tabItemColr), 1);  // in again, at its place
    EXPECT_EQ(DeviceState(mono.c_str()), 0);            // the one left was suspended

    unplug(lastId);
    EXPECT_EQ(d->camName, mono);
    unplug(monoId);  // the last camera
    EXPECT_TRUE(d->camName.empty());
    EXPECT_EQ(d->pouDev->count(), 0);
    EXPECT_FALSE(d->btnLive->isEnabled());
    EXPECT_FALSE(d->ctxGrab.ready());
    EXPECT_EQ(d->txtStatus->text(), "No camera");
}

TEST_F(ViewerTest, SlidersSendTheirValueAndShowItsText) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    d->sldGain->setValue(100);
    EXPECT_EQ(GetAnaloggain(cam()), 100);
    EXPECT_EQ(d->txtGain->text(), "9.510");

    d->chkAE->click();  // off: the exposure slider comes alive
    bool ae = true;
    GetAutoExposure(&ae, cam());
    EXPECT_FALSE(ae);
    EXPECT_TRUE(d->sldTime->isEnabled());
    d->sldTime->setValue(500);
    const float expected = viewer::exposureAtSlider(d->exposureRange(), 500);
    EXPECT_NEAR(GetExposure(cam()), expected, d->fstp / 2);
    EXPECT_EQ(d->txtTime->text(), QString::asprintf("%.3f", expected));
    d->chkAE->click();
    GetAutoExposure(&ae, cam());
    EXPECT_TRUE(ae);
    EXPECT_FALSE(d->sldTime->isEnabled());

    d->sldGamma->setValue(120);
    EXPECT_EQ(GetGamma(cam()), 120);
    EXPECT_EQ(d->txtGamma->text(), "1.20");
    d->sldContrast->setValue(140);
    EXPECT_EQ(GetContrast(cam()), 140);
    EXPECT_EQ(d->txtContrast->text(), "140");
    d->sldSaturation->setValue(150);
    EXPECT_EQ(GetSaturation(cam()), 150);
    EXPECT_EQ(d->txtSaturation->text(), "150");

    d->sldRed->setValue(96);
    EXPECT_EQ(d->txtRed->text(), "1.50");
    d->sldBlue->setValue(64);  // unchanged: nothing happens
    d->sldGreen->setValue(80);
    int r = 0, g = 0, b = 0;
    GetChannelGain(&r, &g, &b, cam());
    EXPECT_EQ(r, 96);
    EXPECT_EQ(g, 80);
    EXPECT_EQ(b, 64);
    EXPECT_EQ(d->txtGreen->text(), "1.25");
    EXPECT_EQ(d->txtBlue->text(), "1.00");
}

TEST_F(ViewerTest, ASliderAtTheCamerasValueSendsNothing) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    const int id = lastId;
    // The camera's gain changed behind the window's back.
    SetAnaloggain(50, cam());
    camera(id).clearTrace();
    d->sldGain->setValue(50);
    d->sldGainAction(d->sldGain);
    EXPECT_EQ(controlRequests(id), 0);
    d->chkAE->click();
    camera(id).clearTrace();
    d->sldTimeAction(d->sldTime);  // the slider shows the camera's exposure
    EXPECT_EQ(controlRequests(id), 0);
    d->sldGain->setValue(51);  // a real change does send
    EXPECT_GT(controlRequests(id), 0);
}

TEST_F(ViewerTest, CheckBoxesSetTheirBits) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    SetImageFormat(1, cam());
    d->refreshUI();
    EXPECT_TRUE(d->chkRaw->isChecked());
    EXPECT_FALSE(d->chkJpg->isChecked());
    int format = 0;
    d->chkTif->click();
    GetImageFormat(&format, cam());
    EXPECT_EQ(format, 3);
    d->chkRaw->click();
    GetImageFormat(&format, cam());
    EXPECT_EQ(format, 2);
    d->chkBmp->click();
    d->chkPng->click();
    GetImageFormat(&format, cam());
    EXPECT_EQ(format, 22);

    d->chkHF->click();
    d->chkVF->click();
    EXPECT_EQ(GetFlip(cam()), 3);
    d->chkHF->click();
    EXPECT_EQ(GetFlip(cam()), 2);

    bool on = false;
    d->chkMono->click();
    GetMonochrome(&on, cam());
    EXPECT_TRUE(on);
    d->chkColor->click();
    GetColorEnhancement(&on, cam());
    EXPECT_EQ(on, d->chkColor->isChecked());
    d->chkFF->click();
    GetFlatfieldState(&on, cam());
    EXPECT_EQ(on, d->chkFF->isChecked());
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
        d->pouRes->setCurrentIndex(res);
        d->resChangeAction(d->pouRes);
        locked = free = -1;
        for (int clock = 0; clock < GetPixelclockCount(cam()); ++clock)
            (GetRawDepthState(clock, cam()) ? locked : free) = clock;
    }
    ASSERT_GE(free, 0);
    ASSERT_GE(locked, 0);

    d->pouClk->setCurrentIndex(free);
    d->clkChangeAction(d->pouClk);
    EXPECT_EQ(GetPixelclock(cam()), free);
    EXPECT_TRUE(d->radBit->isEnabled());
    EXPECT_EQ(d->radBit->selectedColumn(), GetRawDepth(cam()) == 8 ? 0 : 1);
    if (deep) {
        d->radBit->cellAt(1)->click();
        EXPECT_EQ(GetRawDepth(cam()), 16);
        EXPECT_TRUE(d->txtStatus->text().contains("16-bit"));
        d->radBit->cellAt(0)->click();
        EXPECT_EQ(GetRawDepth(cam()), 8);
        d->radBit->cellAt(1)->click();
    }

    d->pouClk->setCurrentIndex(locked);
    d->clkChangeAction(d->pouClk);
    EXPECT_FALSE(d->radBit->isEnabled());
    EXPECT_EQ(d->radBit->selectedColumn(), 0);
    EXPECT_EQ(GetRawDepth(cam()), 8);
}

// On this camera the fastest clock takes 16 bits only below the largest
// resolution. The window shows the resolution, clock and depth in force.
TEST_F(ViewerTest, TheDepthChoiceFollowsTheClockAndResolutionInForce) {
    launch();
    ASSERT_FALSE(plug(0xe00a, 0xa001).empty());
    ASSERT_EQ(GetRawDepthState(0, cam()), 4);  // at resolution 0
    const auto choose = [&](QComboBox* list, int index) {
        list->setCurrentIndex(index);
        list == d->pouRes ? d->resChangeAction(list) : d->clkChangeAction(list);
    };
    choose(d->pouRes, 1);
    choose(d->pouClk, 0);
    ASSERT_EQ(GetRawDepth(cam()), 8);
    EXPECT_TRUE(d->radBit->isEnabled());
    // The largest resolution locks that clock's depth.
    choose(d->pouRes, 0);
    EXPECT_EQ(GetResolution(cam()), 0);
    EXPECT_FALSE(d->radBit->isEnabled());
    EXPECT_EQ(d->radBit->selectedColumn(), 0);

    // At 16 bits the camera refuses the largest resolution for that clock.
    choose(d->pouRes, 1);
    EXPECT_TRUE(d->radBit->isEnabled());
    d->radBit->cellAt(1)->click();
    ASSERT_EQ(GetRawDepth(cam()), 16);
    choose(d->pouRes, 0);
    EXPECT_EQ(GetResolution(cam()), 1);
    EXPECT_EQ(d->pouRes->currentIndex(), 1);
    EXPECT_EQ(d->pouSav->currentIndex(), 1);
    EXPECT_EQ(d->radBit->selectedColumn(), 1);

    // And at 16 bits on the largest resolution, it refuses that clock.
    choose(d->pouClk, 1);
    choose(d->pouRes, 0);
    ASSERT_EQ(GetResolution(cam()), 0);
    ASSERT_EQ(GetRawDepth(cam()), 16);
    choose(d->pouClk, 0);
    EXPECT_EQ(GetPixelclock(cam()), 1);
    EXPECT_EQ(d->pouClk->currentIndex(), 1);
    EXPECT_TRUE(d->radBit->isEnabled());
    EXPECT_EQ(d->radBit->selectedColumn(), 1);
}

TEST_F(ViewerTest, ResolutionChangeReloadsTheExposureRange) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    d->pouRes->setCurrentIndex(2);
    d->resChangeAction(d->pouRes);
    EXPECT_EQ(GetResolution(cam()), 2);
    EXPECT_TRUE(d->btnMovie->isEnabled());  // only one product refuses movies at index 0
    // The exposure slider follows the new range once the camera settled.
    ASSERT_TRUE(waitUntil([&] {
        float min, max, step;
        GetExposureRange(&min, &max, &step, cam());
        return d->fmax == max && d->sldTime->value() == viewer::exposureSliderPosition(
                                                            {min, max, step}, GetExposure(cam()));
    }));
    EXPECT_EQ(d->sldTime->minimum(), 0);  // the shortest exposure stays reachable
    EXPECT_TRUE(d->txtStatus->text().contains(
        QString("%1 × %2").arg(GetResWidth(2, cam())).arg(GetResHeight(2, cam()))));
}

TEST_F(ViewerTest, TheSlowProductTakesNoMovieAtItsFirstResolution) {
    launch();
    if (plug(0xa003).empty()) GTEST_SKIP() << "no model for product a003";
    d->pouRes->setCurrentIndex(0);
    d->resChangeAction(d->pouRes);
    EXPECT_FALSE(d->btnMovie->isEnabled());
    d->pouRes->setCurrentIndex(1);
    d->resChangeAction(d->pouRes);
    EXPECT_TRUE(d->btnMovie->isEnabled());

    // A movie being recorded can still be stopped there.
    d->txtPath->setText(home.filePath("movies") + "/");
    d->btnMovie->click();
    ASSERT_TRUE(d->bSaveVideo());
    d->pouRes->setCurrentIndex(0);
    d->resChangeAction(d->pouRes);
    EXPECT_TRUE(d->btnMovie->isEnabled());
    d->refreshUI();
    EXPECT_TRUE(d->btnMovie->isEnabled());
    d->btnMovie->click();
    EXPECT_FALSE(d->bSaveVideo());
    EXPECT_EQ(d->btnMovie->text(), "Start Video");
    EXPECT_FALSE(d->btnMovie->isEnabled());  // and then the rule holds again
}

TEST_F(ViewerTest, DefaultsReloadTheControls) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    d->sldGamma->setValue(140);
    d->sldContrast->setValue(90);
    d->chkHF->click();
    d->chkAE->click();
    d->pouClk->setCurrentIndex(0);
    d->clkChangeAction(d->pouClk);
    d->btnReset->click();
    EXPECT_EQ(GetGamma(cam()), 100);
    EXPECT_EQ(d->sldGamma->value(), 100);
    EXPECT_EQ(d->txtGamma->text(), "1.0");
    EXPECT_EQ(d->sldContrast->value(), 128);
    EXPECT_FALSE(d->chkHF->isChecked());
    EXPECT_EQ(d->flipType, 0);
    EXPECT_TRUE(d->chkAE->isChecked());
    EXPECT_EQ(d->pouClk->currentIndex(), 1);
    EXPECT_EQ(d->sldGain->value(), GetAnaloggain(cam()));
}

TEST_F(ViewerTest, StillsAreNamedAfterTheDirectoryAndTheTime) {
    EXPECT_EQ(viewer::captureBaseName("/data/", QDateTime(QDate(2024, 7, 3), QTime(14, 5, 9))),
              "/data/0703140509");
    // A folder typed without its closing separator is still the folder.
    EXPECT_EQ(viewer::captureBaseName("/data", QDateTime(QDate(2024, 7, 3), QTime(14, 5, 9))),
              "/data/0703140509");
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    d->txtPath->setText(home.filePath("shots") + "/");
    QString base;
    int result = 99;
    QObject::connect(d.get(), &viewer::AppDelegate::stillRequested,
                     [&](const QString& b, int r) { base = b, result = r; });
    d->btnSnap->click();
    EXPECT_TRUE(QRegularExpression("^" + QRegularExpression::escape(d->txtPath->text()) +
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
    EXPECT_FALSE(d->pouSav->isEnabled());  // not a choice of its own
    for (const int index : {2, 1}) {
        d->pouRes->setCurrentIndex(index);
        d->resChangeAction(d->pouRes);
        EXPECT_EQ(d->pouSav->currentIndex(), index);
        EXPECT_EQ(d->pouSav->currentText(), GetResItemName(index, cam()));
    }
    d->txtPath->setText(home.filePath("shots") + "/");
    d->btnSnap->click();
    EXPECT_TRUE(window->statusBar()->currentMessage().startsWith("Still waits for the live view"))
        << window->statusBar()->currentMessage().toStdString();
}

TEST_F(ViewerTest, WhiteBalanceAndFlatFieldNeedAFrame) {
    launch();
    ASSERT_FALSE(plug(kColour).empty());
    d->btnWB->click();  // no frame grabbed yet
    EXPECT_EQ(d->txtWB->text(), "WB Fail");
    EXPECT_TRUE(d->btnWB->isEnabled());
    d->btnFF->click();
    bool on = true;
    GetFlatfieldState(&on, cam());
    EXPECT_FALSE(on);
}

// Controls that act on a camera are open only while one is loaded; the
// capture folder can be chosen at any time.
TEST_F(ViewerTest, CameraControlsWaitForACamera) {
    const auto cameraControls = [&] {
        return d->tabView->isEnabled() && d->sldGain->isEnabled() && d->chkJpg->isEnabled() &&
               d->btnSnap->isEnabled();
    };
    launch();
    EXPECT_FALSE(cameraControls());
    EXPECT_FALSE(d->sldGain->isEnabled());
    EXPECT_TRUE(d->txtPath->isEnabled() && d->btnBrowse->isEnabled());
    ASSERT_FALSE(plug(kColour).empty());
    EXPECT_TRUE(cameraControls());
    EXPECT_FALSE(d->sldTime->isEnabled());  // still off under automatic exposure
    unplug(lastId);
    EXPECT_FALSE(cameraControls());
    EXPECT_TRUE(d->btnBrowse->isEnabled());
}

TEST_F(ViewerTest, ActionsWithoutACameraDoNothing) {
    launch();
    d->sldGain->setValue(10);
    d->chkTif->click();
    d->btnSnap->click();
    // Those two are closed without a camera; their actions must hold anyway.
    d->chkTifAction(d->chkTif);
    d->btnCaptureAction(d->btnSnap);
    d->btnMovie->click();
    d->btnLive->setEnabled(true);
    d->btnLive->click();
    EXPECT_FALSE(d->liveRunning());
    EXPECT_EQ(d->btnLive->text(), "Live");
    EXPECT_EQ(d->btnMovie->text(), "Start Video");
}

// Every control lies inside its parent at no less than its smallest width, at
// the usual font and at a large one: no caption or control is cut off.
TEST_F(ViewerTest, ControlsFitTheWindowAtLargeFonts) {
    const QFont usual = QApplication::font();
    for (const double scale : {1.0, 1.5}) {
        QFont font = usual;
        font.setPointSizeF(usual.pointSizeF() * scale);
        QApplication::setFont(font);
        viewer::AppDelegate delegate;
        viewer::ViewerWindow shown(delegate);
        delegate.setWindow(&shown);
        shown.resize(1200, 780);
        shown.show();
        QCoreApplication::processEvents();
        for (int tab = 0; tab < delegate.tabView->count(); ++tab) {
            delegate.tabView->setCurrentIndex(tab);
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
