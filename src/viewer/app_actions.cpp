// The controller's control actions: each reads its control, calls the camera
// and updates the control's text. Every action that addresses the camera does
// nothing while no camera is selected.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>

#include "ezcam.h"
#include "recording/writers.h"
#include "viewer/app_delegate.h"
#include "viewer/calibration/calibration_dialog.h"
#include "viewer/captions.h"
#include "viewer/capture/folder_dialog.h"
#include "viewer/picture/picture_tools.h"
#include "viewer/viewer_window.h"
#include "viewer/widgets/radio_row.h"

namespace viewer {

namespace {

// `base` with `extension`, or with "_2", "_3"... before it while files of
// that name exist (a recording of one file per frame adds its frame numbers).
QString freshRecordingPath(const QString& base, const QString& extension) {
    const QFileInfo place(base);
    for (int n = 1;; ++n) {
        const QString name = place.fileName() + (n > 1 ? QStringLiteral("_%1").arg(n) : QString());
        if (place.dir()
                .entryList({name + extension, name + QStringLiteral("_*") + extension}, QDir::Files)
                .isEmpty())
            return place.dir().filePath(name + extension);
    }
}

}  // namespace

QString captureBaseName(const QString& directory, const QDateTime& when) {
    // A folder typed without its closing '/' still names a folder: without
    // the separator the files would land beside it, their names glued to it.
    QString folder = directory;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder + when.toString(QStringLiteral("MMddHHmmss"));
}

// The capture folder as typed, created if missing so no still or movie is lost.
QString AppDelegate::captureFolder() const {
    const QString directory = txtPath->text();
    if (!directory.isEmpty()) QDir().mkpath(directory);
    return directory;
}

void AppDelegate::setWindow(ViewerWindow* window) {
    mainWindow = window;
    connect(pouDev, &QComboBox::activated, this, [this] { devChangeAction(pouDev); });
    const struct {
        QCheckBox* box;
        void (AppDelegate::*action)(QCheckBox*);
    } boxes[] = {
        {chkRaw, &AppDelegate::chkRawAction}, {chkTif, &AppDelegate::chkTifAction},
        {chkPng, &AppDelegate::chkPngAction}, {chkJpg, &AppDelegate::chkJpgAction},
        {chkBmp, &AppDelegate::chkBmpAction},
    };
    for (const auto& [box, action] : boxes)
        connect(box, &QCheckBox::clicked, this,
                [this, box = box, action = action] { (this->*action)(box); });
    const struct {
        QPushButton* button;
        void (AppDelegate::*action)(QAbstractButton*);
    } buttons[] = {
        {btnSnap, &AppDelegate::btnCaptureAction}, {btnBrowse, &AppDelegate::btnBrowseAction},
        {btnMovie, &AppDelegate::btnAcquieMovie},  {btnRaw, &AppDelegate::btnRawAction},
        {btnCalib, &AppDelegate::btnCalibAction},
    };
    for (const auto& [button, action] : buttons)
        connect(button, &QPushButton::clicked, this,
                [this, button = button, action = action] { (this->*action)(button); });
    connectPictureActions();
}

// ---- The resolution in force -------------------------------------------------------

void AppDelegate::resolutionShown(int resolution) {
    shownResolution = resolution;
    pouSav->setCurrentIndex(resolution);
    updateMovieButton(resolution);
}

void AppDelegate::updateMovieButton(int resolution) {
    // A movie being recorded can always be stopped.
    btnMovie->setEnabled(movie.recording() ||
                         DeviceProduct(cam()) != kNoMovieAtFirstResolution || resolution != 0);
}

// ---- Calibration ----------------------------------------------------------------------

void AppDelegate::btnCalibAction(QAbstractButton*) {
    if (selected.none()) return;
    if (calibration) {
        calibration->raise();
        calibration->activateWindow();
        return;
    }
    calibration = new CalibrationDialog(selected.name(), master, mainWindow);
    calibration->setAttribute(Qt::WA_DeleteOnClose);
    connect(calibration, &CalibrationDialog::changed, this, [this] { status.refresh(); });
    calibration->show();
}

// ---- Capture and files ---------------------------------------------------------------

void AppDelegate::setFormatBit(int bit, bool on) {
    if (selected.none()) return;
    snapType = on ? snapType | bit : snapType & ~bit;
    SetImageFormat(snapType, cam());
}

void AppDelegate::chkRawAction(QCheckBox* sender) {
    setFormatBit(1, sender->isChecked());
}
void AppDelegate::chkTifAction(QCheckBox* sender) {
    setFormatBit(2, sender->isChecked());
}
void AppDelegate::chkPngAction(QCheckBox* sender) {
    setFormatBit(4, sender->isChecked());
}
void AppDelegate::chkJpgAction(QCheckBox* sender) {
    setFormatBit(8, sender->isChecked());
}
void AppDelegate::chkBmpAction(QCheckBox* sender) {
    setFormatBit(16, sender->isChecked());
}

void AppDelegate::btnCaptureAction(QAbstractButton*) {
    if (selected.none()) return;
    const QString base = captureBaseName(captureFolder(), QDateTime::currentDateTime());
    if (tools.barOnStills()) {
        // Written here from the next frame shown, with the bar burned in.
        stillWithBar = base;
        status.note(liveRunning() ? L("Still: %1").arg(base)
                           : L("Still waits for the live view: %1").arg(base));
        emit stillRequested(base, 0);
        return;
    }
    const int r = SaveImage(base.toUtf8().constData(), shownResolution, cam());
    if (r != EZ_OK)
        status.note(L("Still refused (%1)").arg(r));
    else if (liveRunning())
        status.note(L("Still: %1").arg(base));
    else  // the camera takes it from the next live frame
        status.note(L("Still waits for the live view: %1").arg(base));
    emit stillRequested(base, r);
}

void AppDelegate::btnBrowseAction(QAbstractButton*) {
    chooseFolder(mainWindow, txtPath->text(),
                 [this](const QUrl& folder) { txtPath->setText(capturePathForFolder(folder)); });
}

void AppDelegate::btnAcquieMovie(QAbstractButton* sender) {
    if (movie.recording()) {
        movie.stop();
        sender->setText(L("Start Video"));
        if (!selected.none()) updateMovieButton(shownResolution);
        const std::string error = movie.lastError();
        status.note(error.empty() ? L("Movie: %1").arg(QString::fromStdString(movie.path()))
                           : QString::fromStdString(error));
        return;
    }
    if (selected.none()) return;
    const QString path = captureBaseName(captureFolder(), QDateTime::currentDateTime()) + ".mov";
    const int r = GetResolution(cam());
    const int fps = MovieFrameRate(live.frameIntervalMs());
    if (!movie.start(path.toStdString(), GetResWidth(r, cam()), GetResHeight(r, cam()),
                     GetImageChannles(cam()), fps,
                     [](const std::string& line) { viewerLog(QString::fromStdString(line)); })) {
        status.note(L("Movie not started: %1").arg(QString::fromStdString(movie.lastError())));
        return;
    }
    sender->setText(L("Stop Video"));
    status.note(L("Recording %1 at %2 frames a second").arg(path).arg(fps));
}

void AppDelegate::btnRawAction(QAbstractButton*) {
    if (raw.recording()) {
        raw.stop();  // ended() reports the file
        updateRawControls();
        return;
    }
    if (selected.none() || raw.finishing()) return;
    const recording::FormatRow* format =
        recording::findFormat(pouRawFormat->currentData().toString().toStdString());
    if (!format) return;
    // The frames come from live view's grab thread.
    if (!liveRunning()) live.toggle();
    if (!liveRunning()) {
        status.note(L("Raw recording not started: no live view"));
        return;
    }
    const QString path =
        freshRecordingPath(captureBaseName(captureFolder(), QDateTime::currentDateTime()),
                           QString::fromUtf8(format->extension));
    recording::RecorderSetup setup;
    setup.path = path.toStdString();
    setup.format = format->format;
    setup.instrument = selected.name();
    const char* clock = GetPixclkItemName(GetPixelclock(cam()), cam());
    setup.pixelClock = clock ? clock : "";
    setup.frameBufferBytes = size_t(std::max(RecvMemSize(cam()), 0));
    setup.calibration = mastersByKind(cam());
    RawLength length;
    if (pouRawUnit->currentIndex() == 0)
        length.frames = uint64_t(spnRawLength->value());
    else
        length.seconds = spnRawLength->value();
    setup.expectedFrames = length.frames;
    QString error;
    if (!raw.start(setup, length, error)) {
        status.note(L("Raw recording not started: %1").arg(error));
        return;
    }
    txtRaw->setText(rawCountsText({}));
    updateRawControls();
    status.note(L("Recording raw frames to %1").arg(path));
}

}  // namespace viewer
