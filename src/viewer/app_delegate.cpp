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
                  if (on != liveRunning() && (on || !raw.recording())) live.toggle();
              }}),
      calibrationButton(new QPushButton(L("Calibration…"))),
      settings(selected, status, [this] { return live.newestFrame(); }, calibrationButton) {
    btnCalib = calibrationButton;
    btnCalib->setObjectName(QStringLiteral("btnCalib"));
    connect(&settings.sensor(), &SensorSettings::resolutionShown, this,
            &AppDelegate::resolutionShown);
    connect(&settings.sensor(), &SensorSettings::resolutionChanged, this,
            &AppDelegate::pictureToolsFollowCamera);
    hotPlugTimer.setInterval(kHotPlugPollMs);
    connect(&hotPlugTimer, &QTimer::timeout, this, [] { PollDevice(0); });
    connect(&raw, &RawRecording::progressed, this,
            [this] { txtRaw->setText(rawCountsText(raw.counts())); });
    connect(&raw, &RawRecording::ended, this, &AppDelegate::rawRecordingEnded);
    live.addReader({[this] { return raw.wantsFrames(); },
                    [this](int r, const unsigned char* frame, const EzFrameInfo& info) {
                        raw.frameRead(r, frame, info);
                    }});
    live.addReader({[this] { return master.wantsFrames(); },
                    [this](int r, const unsigned char* frame, const EzFrameInfo& info) {
                        master.frameRead(r, frame, info);
                    }});
    live.addViewer(
        [this](const DisplayFrame& frame) { movie.frameShown(frame, MovieClock::Clock::now()); });
    connect(&live, &LiveController::runningChanged, this, [this](bool on) {
        pouDev->setEnabled(!on);  // the camera list is locked while live
    });
    connect(&live, &LiveController::captureRequested, this, [this] { btnCaptureAction(btnSnap); });
    connect(&live, &LiveController::rateMeasured, this, [this] {
        // Automatic exposure moves the exposure: show where it is.
        settings.sensor().followAutomaticExposure();
        status.refresh();
    });
    connect(&live, &LiveController::ended, this, &AppDelegate::liveViewEnded);
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
    live.releaseBuffers();
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
    live.stopAndWait();
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
            live.toggle();
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
        live.releaseBuffers();
    }
    selected.select(title);
    tools.view()->clearPicture();
    stillWithBar.clear();  // it was the other camera's
    refreshUI();
}

// ---- Loading the controls -----------------------------------------------------------

void AppDelegate::refreshUI() {
    if (selected.none()) {
        // Nothing to show: no live view can start, no setting reaches a camera.
        if (calibration) calibration->close();
        live.setCameraLoaded(false);
        setCameraControlsEnabled(false);
        live.releaseBuffers();
        tools.view()->clearPicture();
        status.refresh();
        return;
    }
    ResumeDevice(cam());
    if (!live.openBuffers()) {
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
    live.setCameraLoaded(true);
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
    if (selected.none() || !live.ready() || liveRunning() || terminated) return;
    liveWanted = false;
    live.toggle();
}

void AppDelegate::liveViewEnded() {
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
