// The calibration dialog on simulated cameras: masters taken from the live
// frames while live and while stopped, the live view and the camera left as
// they were found, the lens covered first for a dark or a bias, the reasons a
// master is refused or fails, and the matching report while live.
#include "viewer_fixture.h"  // first: see there
// (the order above matters)
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <functional>

#include "viewer/calibration/calibration_dialog.h"
#include "viewer/picture/live_view.h"

using viewertest::ViewerTest;
using viewertest::waitUntil;

namespace {

constexpr int kMono = 0xc006;

class CalibrationTest : public ViewerTest {
  protected:
    // A camera at its small resolution 2 under a fixed exposure, masters in
    // the test's library, the dialog open.
    void SetUp() override {
        ViewerTest::SetUp();
        launch();
        name = plug(kMono);
        ASSERT_FALSE(name.empty());
        d->choose("pouRes", 2);
        d->check("chkAE")->click();  // first load: automatic exposure on
        ASSERT_FALSE(d->check("chkAE")->isChecked());
        SetExposure(20, cam());
        ASSERT_EQ(SetCalibrationLibrary(home.filePath("masters").toUtf8().constData(), cam()), 0);
        // The lens is covered for every master here: darks that show light
        // are refused (the last case shows it).
        ASSERT_EQ(SimSetSensor(lastId, "light=0"), 0);
        d->button("btnCalib")->click();
        dialog = d->calibrationDialog();
        ASSERT_NE(dialog, nullptr);
        QObject::connect(&d->masters(), &viewer::MasterTaker::finished,
                         [this](bool stored, const QString&) { ++finished, lastStored = stored; });
        QObject::connect(&d->masters(), &viewer::MasterTaker::progressed,
                         [this](int frames, int) { taken = frames; });
    }
    bool framesShown(int count) {
        const int start = d->view()->framesDrawn();
        return waitUntil([&] { return d->view()->framesDrawn() >= start + count; });
    }
    void setLive(bool on) {
        if (d->liveRunning() != on) d->button("btnLive")->click();
        ASSERT_TRUE(waitUntil([&] { return d->liveRunning() == on && (!on || framesShown(2)); }));
    }
    // The question to cover the lens, once it is up.
    QMessageBox* question() {
        QMessageBox* shown = nullptr;
        waitUntil(
            [&] {
                // An answered one may wait for its deletion.
                for (QMessageBox* box : dialog->findChildren<QMessageBox*>())
                    if (box->isVisible()) shown = box;
                return shown != nullptr;
            },
            5000);
        return shown;
    }
    // Asks for a master, answers the question if one comes, and waits for the outcome.
    bool take(int kind, QMessageBox::StandardButton answer = QMessageBox::Ok) {
        const int before = finished;
        dialog->takeMaster(kind);
        if (kind != EZ_MASTER_FLAT) {
            QMessageBox* box = question();
            if (!box) return false;
            box->button(answer)->click();
            if (answer != QMessageBox::Ok) return false;
        }
        return waitUntil([&] { return finished > before; }, 60000) && lastStored;
    }
    QString outcome() const { return dialog->outcome()->text(); }

    std::string name;
    viewer::CalibrationDialog* dialog = nullptr;
    int finished = 0;  // masters ended
    bool lastStored = false;
    int taken = 0;  // frames of the master being taken
};

}  // namespace

TEST_F(CalibrationTest, MastersComeFromTheLiveFramesAndLiveViewIsLeftAsItWas) {
    // Not modal: the window's controls stay in use.
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // While live: the dark is taken from the live frames, and live goes on.
    setLive(true);
    ASSERT_TRUE(take(EZ_MASTER_DARK)) << outcome().toStdString();
    EXPECT_TRUE(outcome().startsWith("Stored ")) << outcome().toStdString();
    EXPECT_TRUE(outcome().contains("Uncover the lens"));
    EXPECT_TRUE(d->liveRunning());
    EXPECT_TRUE(framesShown(3));
    // The matching follows the live frames: the new dark applies to them.
    dialog->refresh();
    EXPECT_FALSE(dialog->report()->toPlainText().contains("nothing to match"));
    EXPECT_TRUE(dialog->report()->toPlainText().contains("dark: dark_"))
        << dialog->report()->toPlainText().toStdString();

    // Stopped: the dark runs live view for its frames and stops it again;
    // the camera stays resumed, and the next live view has frames.
    setLive(false);
    ASSERT_TRUE(take(EZ_MASTER_DARK)) << outcome().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !d->liveRunning(); }));
    EXPECT_EQ(d->button("btnLive")->text(), "Live");
    EXPECT_EQ(DeviceState(cam()), 1);
    setLive(true);

    // The status line names the masters once calibration is on.
    dialog->enabled()->click();
    EXPECT_TRUE(d->label("txtStatus")->text().contains("calibrated: dark_"))
        << d->label("txtStatus")->text().toStdString();
    dialog->enabled()->click();
    EXPECT_FALSE(d->label("txtStatus")->text().contains("calibrated"))
        << d->label("txtStatus")->text().toStdString();

    // The dialog is the camera's: choosing another camera closes it.
    setLive(false);
    const std::string other = plug(kMono);
    ASSERT_FALSE(other.empty());
    d->choose("pouDev", d->combo("pouDev")->findText(QString::fromStdString(other)));
    EXPECT_EQ(d->selected(), other);
    EXPECT_TRUE(waitUntil([&] { return d->calibrationDialog() == nullptr; }));
}

TEST_F(CalibrationTest, AMasterIsRefusedOrEndsWithItsReason) {
    // Enough frames that the master is still taking them when something happens.
    dialog->findChild<QSpinBox*>("spnFrames")->setValue(1000);
    const struct {
        const char* what;
        bool liveBefore, liveAfter;
        std::function<void()> during;  // while the frames are taken
        const char* reason;
    } cases[] = {
        {"exposure changed", true, true, [&] { SetExposure(30, cam()); }, "the settings changed"},
        {"live view stopped", true, false, [&] { d->button("btnLive")->click(); },
         "live view stopped"},
        {"cancelled, live", true, true,
         [&] { dialog->findChild<QPushButton*>("btnCancelMaster")->click(); }, "cancelled"},
        // It ran live view for itself: it stops it again.
        {"cancelled, stopped", false, false,
         [&] { dialog->findChild<QPushButton*>("btnCancelMaster")->click(); }, "cancelled"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setLive(c.liveBefore);
        const int before = finished;
        dialog->takeMaster(EZ_MASTER_DARK);
        QMessageBox* box = question();
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::Ok)->click();
        // Frames of the master's settings are in before anything changes.
        ASSERT_TRUE(waitUntil([&] { return taken >= 2; }));
        c.during();
        ASSERT_TRUE(waitUntil([&] { return finished > before; }, 30000));
        EXPECT_FALSE(lastStored);
        EXPECT_TRUE(outcome().startsWith(QString("No dark taken: ") + c.reason)) << outcome().toStdString();
        EXPECT_FALSE(outcome().contains("Uncover")) << outcome().toStdString();
        EXPECT_TRUE(waitUntil([&] { return d->liveRunning() == c.liveAfter; }));
        EXPECT_EQ(DeviceState(cam()), 1);
    }

    // Answered with Cancel: nothing begins, live view stays as it was.
    setLive(false);
    EXPECT_FALSE(take(EZ_MASTER_BIAS, QMessageBox::Cancel));
    EXPECT_EQ(outcome(), "No bias taken: cancelled.");
    EXPECT_FALSE(d->liveRunning());
    EXPECT_FALSE(d->masters().busy());

    // Under automatic exposure a dark or a bias is refused before the lens is covered.
    d->check("chkAE")->click();
    dialog->takeMaster(EZ_MASTER_DARK);
    for (const QMessageBox* box : dialog->findChildren<QMessageBox*>()) EXPECT_FALSE(box->isVisible());
    EXPECT_TRUE(outcome().contains("automatic exposure")) << outcome().toStdString();
    d->check("chkAE")->click();

    // A flat without a dark or a bias for its settings: the camera's reason,
    // or what the dialog knows of it.
    dialog->findChild<QSpinBox*>("spnFrames")->setValue(4);
    EXPECT_FALSE(take(EZ_MASTER_FLAT));
    EXPECT_FALSE(outcome().isEmpty());
    EXPECT_FALSE(outcome().startsWith("Stored")) << outcome().toStdString();
    EXPECT_FALSE(outcome().contains("Uncover")) << outcome().toStdString();
    EXPECT_TRUE(waitUntil([&] { return !d->liveRunning(); }));

    // The lens left uncovered: the camera refuses the dark and says why.
    ASSERT_EQ(SimSetSensor(lastId, "light=1"), 0);
    EXPECT_FALSE(take(EZ_MASTER_DARK));
    EXPECT_TRUE(outcome().contains("light")) << outcome().toStdString();
    EXPECT_FALSE(outcome().startsWith("No dark taken: ")) << outcome().toStdString();
    EXPECT_TRUE(window->statusBar()->currentMessage() == outcome());
    EXPECT_TRUE(waitUntil([&] { return !d->liveRunning(); }));
    ASSERT_EQ(SimSetSensor(lastId, "light=0"), 0);

    // Closing the dialog ends its master, and the status line says so.
    dialog->findChild<QSpinBox*>("spnFrames")->setValue(1000);
    const int before = finished;
    dialog->takeMaster(EZ_MASTER_DARK);
    QMessageBox* box = question();
    ASSERT_NE(box, nullptr);
    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(waitUntil([&] { return d->liveRunning(); }));
    dialog->close();
    ASSERT_TRUE(waitUntil([&] { return d->calibrationDialog() == nullptr && finished > before; }));
    EXPECT_EQ(window->statusBar()->currentMessage(),
              "No dark taken: the calibration dialog was closed.");
    EXPECT_TRUE(waitUntil([&] { return !d->liveRunning(); }));
}
