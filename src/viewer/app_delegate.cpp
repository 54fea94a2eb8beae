// The controller's lifecycle: start-up, shut-down, hot-plug, camera changes,
// loading the controls and the live view's start and end.
#include "viewer/app_delegate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <algorithm>
#include <initializer_list>

#include "ezcam.h"
#include "viewer/calibration/calibration_dialog.h"
#include "viewer/captions.h"
#include "viewer/capture/settings_file.h"
#include "viewer/picture/live_view.h"
#include "viewer/picture/picture_tools.h"
#include "viewer/viewer_window.h"
#include "viewer/widgets/control_rows.h"
#include "viewer/widgets/radio_row.h"

namespace viewer {

namespace {

constexpr int kHotPlugPollMs = 100;
}  // namespace

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent),
      master({[this] { return liveRunning(); },
              [this](bool on) {
                  // A recording started meanwhile keeps the live view it needs.
                  if (on != liveRunning() && (on || !raw.recording())) btnLiveAction(btnLive);
              }}),
      calibrationButton(new QPushButton(L("Calibration…"))),
      settings(selected, status, [this] { return ctxGrab.newestFrame(); }, calibrationButton),
      watch([this] {
          // A frame takes its exposure, or what ten of them took last time.
          const double exposure = selected.none() ? 0 : GetExposure(cam());
          return std::max(exposure, dustm / 10.0);
      }) {
    btnCalib = calibrationButton;
    btnCalib->setObjectName(QStringLiteral("btnCalib"));
    connect(&settings.sensor(), &SensorSettings::resolutionShown, this,
            &AppDelegate::resolutionShown);
    connect(&settings.sensor(), &SensorSettings::resolutionChanged, this,
            &AppDelegate::pictureToolsFollowCamera);
    hotPlugTimer.setInterval(kHotPlugPollMs);
    connect(&hotPlugTimer, &QTimer::timeout, this, [] { PollDevice(0); });
    exposureTimer.setInterval(100);
    connect(&exposureTimer, &QTimer::timeout, this, &AppDelegate::updateExposureProgress);
    connect(&raw, &RawRecording::progressed, this,
            [this] { txtRaw->setText(rawCountsText(raw.counts())); });
    connect(&raw, &RawRecording::ended, this, &AppDelegate::rawRecordingEnded);
    connect(&watch, &FrameWatch::wentQuiet, this, [this](int seconds) {
        status.note(L("No frame from %1 for %2 s: the camera may not take the last setting; try "
               "Whole frame, another resolution, or Live again")
                 .arg(QString::fromStdString(selected.name()))
                 .arg(seconds),
             0);
    });
    connect(&watch, &FrameWatch::resumed, this,
            [this] { status.note(L("Frames from %1 again").arg(QString::fromStdString(selected.name()))); });
    connect(&master, &MasterTaker::finished, this, [this](bool stored, const QString& text) {
        status.note(stored ? L("Master stored: %1").arg(text) : text, 0);
        status.refresh();
    });
}

AppDelegate::~AppDelegate() {
    applicationShouldTerminate();
}

QString AppDelegate::settingsFilePath() const {
    return documents + QStringLiteral("PhotosPath.txt");
}

// ---- Start-up and shut-down ---------------------------------------------------

void AppDelegate::applicationDidFinishLaunching() {
    pouDev->clear();
    cntRunDevLeft = 0;
    cntDevConnect = 0;
    selected.clear();
    snapType = 31;
    ctxGrab.release();
    settings.showFirst();

    documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + '/';
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + '/';
    txtPath->setText(capturePathFrom(settingsFilePath(), desktop));
    // Parameter sets and the settings file live there; it may not exist yet.
    QDir().mkpath(documents);

    setCameraControlsEnabled(false);  // until a camera is loaded
    launched = true;
    SetLogHandler(&AppDelegate::logHandler, this);
    InitDevice(&AppDelegate::hotPlugHandler, this, documents.toUtf8().constData());
    hotPlugTimer.start();
    status.refresh();
}

void AppDelegate::applicationShouldTerminate() {
    if (!launched || terminated) return;
    terminated = true;
    hotPlugTimer.stop();
    // The cameras close below: every live thread must have left its camera
    // calls first.
    if (live.started()) {
        ctxGrab.stopRun();
        live.join();
        finishLive();
    }
    raw.stopAndWait(L("the viewer quit"));
    master.stopAndWait();
    movie.stop();
    ExitDevice();
    // ExitDevice saved every camera's parameter set.
    for (const auto& [name, model] : loadedModels) memory.markKnown(model);
    SetLogHandler(nullptr, nullptr);
    QDir().mkpath(documents);
    if (!writeStringArray(settingsFilePath(), {txtPath->text()}))
        viewerLog(QStringLiteral("cannot write ") + settingsFilePath());
    if (mainWindow) mainWindow->saveWindowGeometry();
}

// ---- Hot-plug and camera changes --------------------------------------------------

void AppDelegate::hotPlugHandler(void* receiver, const char* name, int event) {
    static_cast<AppDelegate*>(receiver)->refreshDevices(QString::fromUtf8(name ? name : ""), event);
}

void AppDelegate::logHandler(void* receiver, int, const char* message) {
    // Any thread may log; the status line changes on the window's thread.
    auto* self = static_cast<AppDelegate*>(receiver);
    QMetaObject::invokeMethod(
        self, [self, text = QString::fromUtf8(message)] { self->status.note(text); }, Qt::QueuedConnection);
}

void AppDelegate::refreshDevices(const QString& name, int event) {
    viewerLog(name);
    if (event == EZ_DEVICE_ARRIVED) {
        ++cntDevConnect;
        pouDev->addItem(name);
        txtDev->setText(QStringLiteral("%1 %2").arg(name, L("connect")));
        if (!liveRunning() && selected.none()) {
            pouDev->setCurrentIndex(0);
            devChangeAction(pouDev);
        }
        if (liveWanted) startLiveWhenReady();
    } else if (event == EZ_DEVICE_REMOVED) {
        --cntDevConnect;
        if (const int index = pouDev->findText(name, Qt::MatchExactly); index >= 0)
            pouDev->removeItem(index);
        txtDev->setText(QStringLiteral("%1 %2!").arg(name, L("disconnect")));
        // The SDK saved the camera's parameter set as it left.
        if (const auto loaded = loadedModels.find(name.toStdString());
            loaded != loadedModels.end()) {
            memory.markKnown(loaded->second);
            loadedModels.erase(loaded);
        }
        if (name.toStdString() != selected.name()) return;
        if (liveRunning()) {
            // The grab thread finishes the change once it has stopped.
            ++cntRunDevLeft;
            btnLiveAction(btnLive);
        } else if (cntDevConnect < 1) {
            selected.clear();
            refreshUI();
        } else {
            pouDev->setCurrentIndex(0);
            devChangeAction(pouDev);
        }
    }
}

void AppDelegate::devChangeAction(QComboBox* sender) {
    const std::string title = sender->currentText().toStdString();
    if (title == selected.name()) return;
    raw.stop(L("another camera was chosen"));
    if (calibration) calibration->close();  // it was the other camera's
    if (!selected.none()) {
        SuspendDevice(cam());
        exitGrabContext();
    }
    selected.select(title);
    tools.view()->clearPicture();
    stillWithBar.clear();  // it was the other camera's
    refreshUI();
}

bool AppDelegate::initGrabContext() {
    return ctxGrab.init(DataHeadLen(cam()), RecvMemSize(cam()));
}

void AppDelegate::exitGrabContext() {
    ctxGrab.release();
}

// ---- Loading the controls -----------------------------------------------------------

void AppDelegate::refreshUI() {
    if (selected.none()) {
        // Nothing to show: no live view can start, no setting reaches a camera.
        if (calibration) calibration->close();
        btnLive->setEnabled(false);
        setCameraControlsEnabled(false);
        exitGrabContext();
        tools.view()->clearPicture();
        status.refresh();
        return;
    }
    ResumeDevice(cam());
    if (!initGrabContext()) {
        viewerLog(QStringLiteral("no frame buffers for ") + QString::fromStdString(selected.name()));
        return;
    }

    // A model the user set up before keeps the clock and exposure its
    // parameter set brought back; otherwise the camera starts at clock 1
    // under automatic exposure.
    const QString model = ModelMemory::keyOf(DeviceVendor(cam()), DeviceProduct(cam()));
    const bool firstLoad = !memory.known(model) && !loadedModels.count(selected.name());
    loadedModels[selected.name()] = model;
    settings.load(firstLoad);

    // Stills are taken at the live resolution: the still size shows it.
    pouSav->clear();
    for (int i = 0, n = GetResolutionCount(cam()); i < n; ++i) {
        const char* label = GetResItemName(i, cam());
        pouSav->addItem(QString::fromUtf8(label ? label : ""));
    }
    resolutionShown(GetResolution(cam()));

    GetImageFormat(&snapType, cam());
    setCheckedQuietly(chkRaw, snapType & 1);
    setCheckedQuietly(chkTif, snapType & 2);
    setCheckedQuietly(chkPng, snapType & 4);
    setCheckedQuietly(chkJpg, snapType & 8);
    setCheckedQuietly(chkBmp, snapType & 16);

    setCameraControlsEnabled(true);
    btnLive->setEnabled(true);
    tools.chooseObjective(memory.objective(model));
    pictureToolsFollowCamera();
    status.refresh();
}

void AppDelegate::setCameraControlsEnabled(bool on) {
    // The folder stays open to change, and the movie button to stop a movie.
    for (QWidget* control : std::initializer_list<QWidget*>{chkRaw, chkTif, chkPng,
                                                            chkJpg, chkBmp, btnSnap})
        control->setEnabled(on);
    settings.setEnabled(on);
    tools.setRegionToolsEnabled(on);
    updateRawControls();
}

void AppDelegate::updateRawControls() {
    const bool recording = raw.recording();
    btnRaw->setText(recording ? L("Stop Raw") : L("Record Raw"));
    // A recording can always be stopped; a new one waits for the last file.
    btnRaw->setEnabled(recording || (!selected.none() && !raw.finishing()));
    for (QWidget* choice : std::initializer_list<QWidget*>{pouRawFormat, spnRawLength, pouRawUnit})
        choice->setEnabled(!recording);
}

void AppDelegate::rawRecordingEnded(const QString& summary) {
    txtRaw->setText(rawCountsText(raw.counts()));
    updateRawControls();
    status.note(summary, 0);  // it names the file: it stays until the next message
}

// ---- Live view ---------------------------------------------------------------------

void AppDelegate::startLiveWhenReady() {
    liveWanted = true;
    if (selected.none() || !ctxGrab.ready() || liveRunning() || terminated) return;
    liveWanted = false;
    btnLiveAction(btnLive);
}

void AppDelegate::btnLiveAction(QAbstractButton* sender) {
    if (sender->text() != L("Live")) {
        ctxGrab.stopRun();
        return;
    }
    if (selected.none() || !ctxGrab.ready() || live.started()) return;
    sender->setText(L("Stop"));
    pouDev->setEnabled(false);
    txtFPS->clear();  // the rate of this run, once measured
    const std::string name = selected.name();  // fixed while live: the camera list is locked
    LiveHooks hooks;
    hooks.readFrame = [this, name](unsigned char* buffer, int size) {
        // A raw recording and the calibration need each frame's information;
        // live view alone does not.
        const bool recording = raw.wantsFrames();
        const bool calibrating = master.wantsFrames();
        EzFrameInfo info{};
        const int r = GetRawDataInfo(buffer, size, recording || calibrating ? &info : nullptr,
                                     name.c_str());
        if (r == EZ_OK || r == EZ_CAPTURE) watch.frameArrived();
        if (recording) raw.frameRead(r, buffer, info);
        if (calibrating) master.frameRead(r, buffer, info);
        return r;
    };
    hooks.decode = [name](unsigned char* raw, unsigned char* image) {
        return DecodeRaw2Image(raw, image, name.c_str());
    };
    // Still capture reads the controls: it runs on the window's thread.
    hooks.captureRequested = [this] {
        QMetaObject::invokeMethod(
            this, [this] { btnCaptureAction(btnSnap); }, Qt::QueuedConnection);
    };
    const int bayer = std::max(0, GetRawBayernPattern(name.c_str()));
    hooks.frameShown = [this, name, bayer](const DisplayFrame& frame) {
        // The turn and flip the frame was finished with, for the raw readout.
        tools.view()->present(frame, {GetRotate(name.c_str()), GetFlip(name.c_str()), bayer});
        movie.frameShown(frame, MovieClock::Clock::now());
    };
    hooks.rateMeasured = [this](int ms) {
        QMetaObject::invokeMethod(
            this,
            [this, ms] {
                dustm = ms;
                txtFPS->setText(FrameRateMeter::text(ms));
                // Automatic exposure moves the exposure: show where it is.
                settings.sensor().followAutomaticExposure();
                status.refresh();
            },
            Qt::QueuedConnection);
    };
    hooks.ended = [this] {
        QMetaObject::invokeMethod(
            this, [this] { liveThreadsEnded(); }, Qt::QueuedConnection);
    };
    watch.start();
    live.start(ctxGrab, std::move(hooks));
    exposureTimer.start();
}

void AppDelegate::finishLive() {
    btnLive->setText(L("Live"));
    pouDev->setEnabled(true);
    exposureTimer.stop();
    watch.stop();
    updateExposureProgress();
}

void AppDelegate::liveThreadsEnded() {
    if (!live.started()) return;  // shut-down has handled it
    live.join();
    finishLive();
    // No more frames: the recording ends with them and its file is completed;
    // a master still taking frames gets no more.
    const QString why = cntRunDevLeft > 0 ? L("the camera was unplugged") : L("live view stopped");
    raw.stop(why);
    master.liveEnded(why);
    if (cntRunDevLeft > 0) {
        // The live camera was unplugged: move to another one now.
        --cntRunDevLeft;
        if (cntDevConnect < 1) {
            selected.clear();
            refreshUI();
        } else {
            pouDev->setCurrentIndex(0);
            devChangeAction(pouDev);
        }
    }
    emit liveEnded();
    if (liveWanted) startLiveWhenReady();
}

}  // namespace viewer
