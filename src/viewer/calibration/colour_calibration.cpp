// Colour calibration from the viewer.
#include "viewer/calibration/colour_calibration.h"

#include <QCloseEvent>
#include <QInputDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QShortcut>

#include "viewer/captions.h"
#include "viewer/picture/frame_map.h"
#include "viewer/picture/live_view.h"
#include "viewer/session/selected_camera.h"
#include "viewer/session/status_line.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

namespace {

// The calibration's progress: it stays up, and keeps the window from input,
// until the calibration ends (the frames it reads are no one else's).
class RunningDialog : public QProgressDialog {
  public:
    using QProgressDialog::QProgressDialog;

  protected:
    void reject() override {}
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

}  // namespace

QString colourFailure(int result, const char* why) {
    switch (result) {
        case EZ_ECHART:
            return L("No colour chart found in the rectangle: drag it over the chart's patches, edge to edge.");
        case EZ_EDARK:
            return L("The chart is too dark to measure: lengthen the exposure or add light.");
        case EZ_ECLIPPED:
            return L("The chart's white patch is overexposed: shorten the exposure or lower the gain.");
        case EZ_EBUSY:
            return L("The camera is busy: another colour calibration is running on it.");
        default:
            return QString::fromUtf8(why);
    }
}

ColourCalibration::ColourCalibration(const SelectedCamera& selected, StatusLine& statusLine, LiveView& picture,
                                     Live live_, QObject* parent)
    : QObject(parent),
      camera(selected),
      status(statusLine),
      view(picture),
      live(std::move(live_)),
      btnCalibrateColour(new QPushButton(L("Calibrate colour…"))),
      // Anywhere in the viewer, but only while the rectangle is asked for:
      // the name's dialog takes its own Escape.
      escape(new QShortcut(QKeySequence(Qt::Key_Escape), &picture)) {
    nameControls({{btnCalibrateColour, "btnCalibrateColour"}});
    btnCalibrateColour->setToolTip(L("Drag the colour chart's rectangle on the live picture; a colour profile "
                                     "is measured on it"));
    escape->setContext(Qt::ApplicationShortcut);
    escape->setEnabled(false);
    connect(btnCalibrateColour, &QPushButton::clicked, this, &ColourCalibration::begin);
    connect(escape, &QShortcut::activated, this, &ColourCalibration::cancel);
    connect(&view, &LiveView::chartDrawn, this, &ColourCalibration::chartDrawn);
}

ColourCalibration::~ColourCalibration() {
    stopAndWait();
}

void ColourCalibration::stopAndWait() {
    shutDown = true;
    if (worker.joinable()) worker.join();
}

void ColourCalibration::begin() {
    if (step != Step::Idle || camera.none() || shutDown) return;
    if (GetRawBayernPattern(camera.c_str()) <= 0) {
        tell(L("Colour calibration"), L("Colour calibration needs a colour camera."), true);
        return;
    }
    if (const QString why = live.busy(); !why.isEmpty()) {
        tell(L("Colour calibration"), L("The camera is busy: %1.").arg(why), true);
        return;
    }
    if (!live.running()) live.set(true);  // the chart is found on the picture
    step = Step::Picking;
    view.setChartTool(true);
    escape->setEnabled(true);
    btnCalibrateColour->setEnabled(false);
    status.note(L("Drag a rectangle over the colour chart on the picture (Escape cancels)"), 0);
}

void ColourCalibration::cancel() {
    if (step != Step::Picking && step != Step::Naming) return;
    end();
    status.note(L("Colour calibration cancelled"));
}

void ColourCalibration::end() {
    step = Step::Idle;
    view.setChartTool(false);
    escape->setEnabled(false);
    btnCalibrateColour->setEnabled(true);
}

void ColourCalibration::chartDrawn(const QRect& pixels) {
    if (step != Step::Picking) return;
    const std::shared_ptr<const ShownFrame> frame = view.frame();
    if (camera.none() || !frame || !frame->map) {
        end();
        tell(L("Colour calibration"), L("No frame to find the chart on: start live view first."), true);
        return;
    }
    // The raw frame's pixels, through the picture's turn and flip as the
    // pixel readout maps them.
    const FrameMap& map = *frame->map;
    const QRect raw = QRect(map.rawOf(pixels.topLeft()), map.rawOf(pixels.bottomRight())).normalized();
    chart = {raw.left(), raw.top(), raw.right() + 1, raw.bottom() + 1};
    view.setChartTool(false);
    escape->setEnabled(false);
    step = Step::Naming;
    auto* ask = new QInputDialog(view.window());
    ask->setObjectName(QStringLiteral("dlgColourProfileName"));
    ask->setWindowTitle(L("Colour profile"));
    ask->setLabelText(L("Name of the profile (the light and objective):"));
    ask->setTextValue(defaultProfileName());
    ask->setAttribute(Qt::WA_DeleteOnClose);
    connect(ask, &QInputDialog::textValueSelected, this, &ColourCalibration::named);
    connect(ask, &QInputDialog::rejected, this, &ColourCalibration::cancel);
    ask->open();
}

void ColourCalibration::named(const QString& name) {
    if (step != Step::Naming) return;
    profile = name.trimmed();
    calibrated_ = camera.name();
    // The calibration reads the frames itself: the live threads may not.
    if (live.running()) {
        restartLive = true;
        step = Step::WaitingForLive;
        live.set(false);
        if (live.running()) return;  // liveEnded() follows
    }
    run();
}

void ColourCalibration::liveEnded() {
    if (step == Step::WaitingForLive) run();
}

void ColourCalibration::run() {
    step = Step::Running;
    status.note(L("Calibrating colour on the chart…"), 0);
    progress = new RunningDialog(L("Measuring the colour chart…"), QString(), 0, 0, view.window());
    progress->setCancelButton(nullptr);
    progress->setWindowModality(Qt::WindowModal);
    progress->setObjectName(QStringLiteral("dlgColourProgress"));
    progress->setWindowTitle(L("Colour calibration"));
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->show();
    if (worker.joinable()) worker.join();  // the one before, ended already
    worker = std::thread([this, cam = calibrated_, name = profile.toStdString(), rect = chart] {
        EzColorFit fit;
        auto report = [](int done, int total, void* user) {
            auto* self = static_cast<ColourCalibration*>(user);
            QMetaObject::invokeMethod(
                self, [self, done, total] { self->progressed(done, total); }, Qt::QueuedConnection);
        };
        const int result = CalcColorProfile(&rect, name.c_str(), 0, report, this, &fit, cam.c_str());
        QMetaObject::invokeMethod(
            this, [this, result, fit] { finished(result, fit); }, Qt::QueuedConnection);
    });
}

void ColourCalibration::progressed(int done, int total) {
    if (!progress) return;
    progress->setMaximum(total);
    progress->setValue(done);
}

void ColourCalibration::finished(int result, const EzColorFit& fit) {
    if (worker.joinable()) worker.join();
    if (progress) {
        progress->hide();
        progress->deleteLater();
    }
    end();
    if (shutDown) return;  // the viewer is quitting: nothing more to show or start
    // Another camera may have been chosen meanwhile: this one's profile is
    // stored, and that one is left as it is.
    const bool same = camera.name() == calibrated_;
    if (result == EZ_OK) {
        const QString text =
            L("Colour profile '%1' stored.\nColour difference (CIEDE2000) before: mean %2, max %3; "
              "after: mean %4, max %5.")
                .arg(QString::fromUtf8(fit.profile))
                .arg(fit.delta_e_mean_before, 0, 'f', 2)
                .arg(fit.delta_e_max_before, 0, 'f', 2)
                .arg(fit.delta_e_mean_after, 0, 'f', 2)
                .arg(fit.delta_e_max_after, 0, 'f', 2);
        tell(L("Colour calibration"), text, false);
        if (same) emit calibrated(QString::fromUtf8(fit.profile));
    } else {
        tell(L("Colour calibration"), colourFailure(result, fit.why), true);
    }
    if (restartLive && same && !live.running()) live.set(true);
    restartLive = false;
}

// In the status line (and so the log) and in a box the user closes.
void ColourCalibration::tell(const QString& title, const QString& text, bool failed) {
    status.note(QString(text).replace('\n', ' '), 10000);
    auto* box = new QMessageBox(failed ? QMessageBox::Warning : QMessageBox::Information, title, text,
                                QMessageBox::Ok, view.window());
    box->setObjectName(failed ? QStringLiteral("dlgColourFailed") : QStringLiteral("dlgColourResult"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace viewer
