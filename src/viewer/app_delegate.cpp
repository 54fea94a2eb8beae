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
#include "viewer/widgets/radio_row.h"

namespace viewer {

namespace {

constexpr int kHotPlugPollMs = 100;

void setSlider(QSlider* slider, int min, int max, int value) {
    const QSignalBlocker quiet(slider);
    slider->setRange(min, max);
    slider->setValue(value);
}

void setChecked(QCheckBox* box, bool on) {
    const QSignalBlocker quiet(box);
    box->setChecked(on);
}

}  // namespace

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent),
      master({[this] { return liveRunning(); },
              [this](bool on) {
                  // A recording started meanwhile keeps the live view it needs.
                  if (on != liveRunning() && (on || !raw.recording())) btnLiveAction(btnLive);
              }}),
      watch([this] {
          // A frame takes its exposure, or what ten of them took last time.
          const double exposure = camName.empty() ? 0 : GetExposure(cam());
          return std::max(exposure, dustm / 10.0);
      }) {
    hotPlugTimer.setInterval(kHotPlugPollMs);
    connect(&hotPlugTimer, &QTimer::timeout, this, [] { PollDevice(0); });
    exposureTimer.setInterval(100);
    connect(&exposureTimer, &QTimer::timeout, this, &AppDelegate::updateExposureProgress);
    connect(&raw, &RawRecording::progressed, this,
            [this] { txtRaw->setText(rawCountsText(raw.counts())); });
    connect(&raw, &RawRecording::ended, this, &AppDelegate::rawRecordingEnded);
    connect(&watch, &FrameWatch::wentQuiet, this, [this](int seconds) {
        note(L("No frame from %1 for %2 s: the camera may not take the last setting; try "
               "Whole frame, another resolution, or Live again")
                 .arg(QString::fromStdString(camName))
                 .arg(seconds),
             0);
    });
    connect(&watch, &FrameWatch::resumed, this,
            [this] { note(L("Frames from %1 again").arg(QString::fromStdString(camName))); });
    connect(&master, &MasterTaker::finished, this, [this](bool stored, const QString& text) {
        note(stored ? L("Master stored: %1").arg(text) : text, 0);
        updateStatusLine();
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
    camName.clear();
    snapType = 31;
    ctxGrab.release();
    tabView->setCurrentIndex(0);

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
    updateStatusLine();
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
        self, [self, text = QString::fromUtf8(message)] { self->note(text); }, Qt::QueuedConnection);
}

void AppDelegate::refreshDevices(const QString& name, int event) {
    viewerLog(name);
    if (event == EZ_DEVICE_ARRIVED) {
        ++cntDevConnect;
        pouDev->addItem(name);
        txtDev->setText(QStringLiteral("%1 %2").arg(name, L("connect")));
        if (!liveRunning() && camName.empty()) {
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
        if (name.toStdString() != camName) return;
        if (liveRunning()) {
            // The grab thread finishes the change once it has stopped.
            ++cntRunDevLeft;
            btnLiveAction(btnLive);
        } else if (cntDevConnect < 1) {
            camName.clear();
            refreshUI();
        } else {
            pouDev->setCurrentIndex(0);
            devChangeAction(pouDev);
        }
    }
}

void AppDelegate::devChangeAction(QComboBox* sender) {
    const std::string title = sender->currentText().toStdString();
    if (title == camName) return;
    raw.stop(L("another camera was chosen"));
    if (calibration) calibration->close();  // it was the other camera's
    if (!camName.empty()) {
        SuspendDevice(cam());
        exitGrabContext();
    }
    camName = title;
    pView->clearPicture();
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

void AppDelegate::loadBitDepth() {
    if (GetRawDepthState(GetPixelclock(cam()), cam()) != EZ_OK) {
        radBit->setEnabled(false);
        radBit->selectColumn(0);
        SetRawDepth(8, cam());
    } else {
        radBit->setEnabled(true);
        radBit->selectColumn(GetRawDepth(cam()) == 8 ? 0 : 1);
    }
}

void AppDelegate::loadExposure() {
    GetExposureRange(&fmin, &fmax, &fstp, cam());
    const float exposure = GetExposure(cam());
    // A camera reporting no usable step gets a slider that cannot move.
    const ExposureRange range = exposureRange();
    setSlider(sldTime, 0, range.usable() ? kExposureSliderSteps : 0,
              exposureSliderPosition(range, exposure));
    // What the user is typing stays until Enter: a reload (after a resolution
    // or clock change, or under automatic exposure) must not take it away.
    if (txtTime->hasFocus() && txtTime->isModified()) return;
    txtTime->setText(QString::asprintf("%.3f", exposure));
    txtTime->setModified(false);
}

void AppDelegate::loadChannelGains() {
    GetChannelGain(&red, &green, &blue, cam());
    const struct {
        QSlider* slider;
        QLabel* text;
        int value;
    } rows[] = {{sldRed, txtRed, red}, {sldGreen, txtGreen, green}, {sldBlue, txtBlue, blue}};
    for (const auto& row : rows) {
        const QSignalBlocker quiet(row.slider);
        row.slider->setValue(row.value);
        row.text->setText(QString::asprintf("%.2f", row.value / 64.0f));
    }
}

void AppDelegate::refreshUI() {
    if (camName.empty()) {
        // Nothing to show: no live view can start, no setting reaches a camera.
        if (calibration) calibration->close();
        btnLive->setEnabled(false);
        setCameraControlsEnabled(false);
        exitGrabContext();
        pView->clearPicture();
        updateStatusLine();
        return;
    }
    ResumeDevice(cam());
    if (!initGrabContext()) {
        viewerLog(QStringLiteral("no frame buffers for ") + QString::fromStdString(camName));
        return;
    }

    // Resolutions, for live view and for stills.
    pouRes->setEnabled(true);
    pouRes->clear();
    pouSav->clear();
    for (int i = 0, n = GetResolutionCount(cam()); i < n; ++i) {
        const char* label = GetResItemName(i, cam());
        pouRes->addItem(QString::fromUtf8(label ? label : ""));
        pouSav->addItem(QString::fromUtf8(label ? label : ""));
    }
    const int resolution = GetResolution(cam());
    pouRes->setCurrentIndex(resolution);
    pouSav->setCurrentIndex(resolution);
    updateMovieButton(resolution);

    // A model the user set up before keeps the clock and exposure its
    // parameter set brought back; otherwise the camera starts at clock 1
    // under automatic exposure.
    const QString model = ModelMemory::keyOf(DeviceVendor(cam()), DeviceProduct(cam()));
    const bool firstLoad = !memory.known(model) && !loadedModels.count(camName);
    loadedModels[camName] = model;

    pouClk->setEnabled(true);
    pouClk->clear();
    for (int i = 0, n = GetPixelclockCount(cam()); i < n; ++i) {
        const char* label = GetPixclkItemName(i, cam());
        pouClk->addItem(QString::fromUtf8(label ? label : ""));
    }
    if (firstLoad) SetPixelclock(1, cam());
    pouClk->setCurrentIndex(GetPixelclock(cam()));
    loadBitDepth();

    int min = 0, max = 0, step = 0;
    sldGain->setEnabled(true);
    txtGain->setEnabled(true);
    GetAnaloggainRange(&min, &max, &step, cam());
    const int gain = GetAnaloggain(cam());
    setSlider(sldGain, min, max, gain);
    txtGain->setText(QString::asprintf("%.3f", gain * 0.0351f + 6));

    sldTime->setEnabled(true);
    txtTime->setEnabled(true);
    loadExposure();
    btnRestart->setEnabled(ResetSupport(cam()) != EZ_ENOTSUP);

    if (firstLoad) SetAutoExposure(true, cam());
    bool on = false;
    GetAutoExposure(&on, cam());
    sldTime->setEnabled(!on);
    txtTime->setEnabled(!on);
    setChecked(chkAE, on);

    const bool blackLevel = GetBlacklevelRange(&min, &max, &step, cam()) != EZ_ENOTSUP;
    for (QWidget* control : {static_cast<QWidget*>(sldBlvl), static_cast<QWidget*>(txtBlvl),
                             static_cast<QWidget*>(tilBlvl)})
        control->setVisible(blackLevel);
    if (blackLevel) {
        const int level = GetBlacklevel(cam());
        setSlider(sldBlvl, min, max, level);
        txtBlvl->setText(QString::number(level));
    }

    GetImageFormat(&snapType, cam());
    setChecked(chkRaw, snapType & 1);
    setChecked(chkTif, snapType & 2);
    setChecked(chkPng, snapType & 4);
    setChecked(chkJpg, snapType & 8);
    setChecked(chkBmp, snapType & 16);

    sldGamma->setEnabled(true);
    txtGamma->setEnabled(true);
    GetGammaRange(&min, &max, &step, cam());
    const int gamma = GetGamma(cam());
    setSlider(sldGamma, min, max, gamma);
    txtGamma->setText(QString::asprintf("%.1f", gamma / 100.0f));

    sldContrast->setEnabled(true);
    txtContrast->setEnabled(true);
    GetContrastRange(&min, &max, &step, cam());
    const int contrast = GetContrast(cam());
    setSlider(sldContrast, min, max, contrast);
    txtContrast->setText(QString::number(contrast));

    flipType = GetFlip(cam());
    setChecked(chkHF, flipType & 1);
    setChecked(chkVF, flipType & 2);
    bool flat = false;
    GetFlatfieldState(&flat, cam());
    setChecked(chkFF, flat);

    bool mono = false;
    if (GetMonochrome(&mono, cam()) != EZ_ENOTSUP) {
        if (tabView->indexOf(tabItemColr) < 0) tabView->insertTab(1, tabItemColr, L("Colour"));
        setChecked(chkMono, mono);
        bool enhanced = false;
        GetColorEnhancement(&enhanced, cam());
        setChecked(chkColor, enhanced);
        GetChannelGainRange(&min, &max, &step, cam());
        for (QSlider* slider : {sldRed, sldGreen, sldBlue}) {
            const QSignalBlocker quiet(slider);
            slider->setRange(min, max);
        }
        loadChannelGains();
        GetSaturationRange(&min, &max, &step, cam());
        const int saturation = GetSaturation(cam());
        setSlider(sldSaturation, min, max, saturation);
        txtSaturation->setText(QString::number(saturation));
    } else if (const int index = tabView->indexOf(tabItemColr); index >= 0) {
        tabView->removeTab(index);
    }

    setCameraControlsEnabled(true);
    btnLive->setEnabled(true);
    tools->chooseObjective(memory.objective(model));
    pictureToolsFollowCamera();
    updateStatusLine();
}

void AppDelegate::setCameraControlsEnabled(bool on) {
    // The folder stays open to change, and the movie button to stop a movie.
    for (QWidget* control : std::initializer_list<QWidget*>{tabView, chkRaw, chkTif, chkPng,
                                                            chkJpg, chkBmp, btnSnap})
        control->setEnabled(on);
    actRegion->setEnabled(on);
    actClearRegion->setEnabled(on);
    updateRawControls();
}

void AppDelegate::updateRawControls() {
    const bool recording = raw.recording();
    btnRaw->setText(recording ? L("Stop Raw") : L("Record Raw"));
    // A recording can always be stopped; a new one waits for the last file.
    btnRaw->setEnabled(recording || (!camName.empty() && !raw.finishing()));
    for (QWidget* choice : std::initializer_list<QWidget*>{pouRawFormat, spnRawLength, pouRawUnit})
        choice->setEnabled(!recording);
}

void AppDelegate::rawRecordingEnded(const QString& summary) {
    txtRaw->setText(rawCountsText(raw.counts()));
    updateRawControls();
    note(summary, 0);  // it names the file: it stays until the next message
}

void AppDelegate::updateStatusLine() {
    if (camName.empty()) {
        txtStatus->setText(L("No camera"));
        return;
    }
    const int r = GetResolution(cam());
    QString region;
    bool regionOn = false;
    if (GetRoiState(&regionOn, cam()) == EZ_OK && regionOn) {
        int x = 0, y = 0, w = 0, h = 0;
        GetRoi(&x, &y, &w, &h, cam());
        region = L(" · region %1 × %2 at %3, %4").arg(w).arg(h).arg(x).arg(y);
    }
    txtStatus->setText(QStringLiteral("%1 · %2 × %3%4 · %5-bit · %6 ms")
                           .arg(QString::fromStdString(camName))
                           .arg(GetResWidth(r, cam()))
                           .arg(GetResHeight(r, cam()))
                           .arg(region)
                           .arg(GetRawDepth(cam()))
                           .arg(QString::asprintf("%.3f", GetExposure(cam()))));
    if (const QString masters = mastersInUse(cam()); !masters.isEmpty())
        txtStatus->setText(txtStatus->text() + QStringLiteral(" · ") + masters);
}

void AppDelegate::note(const QString& message, int timeoutMs) {
    viewerLog(message);
    if (mainWindow) mainWindow->statusBar()->showMessage(message, timeoutMs);
}

// ---- Live view ---------------------------------------------------------------------

void AppDelegate::startLiveWhenReady() {
    liveWanted = true;
    if (camName.empty() || !ctxGrab.ready() || liveRunning() || terminated) return;
    liveWanted = false;
    btnLiveAction(btnLive);
}

void AppDelegate::btnLiveAction(QAbstractButton* sender) {
    if (sender->text() != L("Live")) {
        ctxGrab.stopRun();
        return;
    }
    if (camName.empty() || !ctxGrab.ready() || live.started()) return;
    sender->setText(L("Stop"));
    pouDev->setEnabled(false);
    txtFPS->clear();  // the rate of this run, once measured
    const std::string name = camName;  // fixed while live: the camera list is locked
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
        pView->present(frame, {GetRotate(name.c_str()), GetFlip(name.c_str()), bayer});
        movie.frameShown(frame, MovieClock::Clock::now());
    };
    hooks.rateMeasured = [this](int ms) {
        QMetaObject::invokeMethod(
            this,
            [this, ms] {
                dustm = ms;
                txtFPS->setText(FrameRateMeter::text(ms));
                // Automatic exposure moves the exposure: show where it is.
                if (chkAE->isChecked() && !camName.empty()) loadExposure();
                updateStatusLine();
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
            camName.clear();
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
