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

QString gainText(int gain) {
    return QString::asprintf("%.3f", gain * 0.0351f + 6);
}
QString channelGainText(int gain) {
    return QString::asprintf("%.2f", gain / 64.0f);
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
    connect(btnLive, &QPushButton::clicked, this, [this] { btnLiveAction(btnLive); });
    connect(pouRes, &QComboBox::activated, this, [this] { resChangeAction(pouRes); });
    connect(pouSav, &QComboBox::activated, this, [this] { savChangeAction(pouSav); });
    connect(pouClk, &QComboBox::activated, this, [this] { clkChangeAction(pouClk); });
    connect(radBit, &RadioRow::cellClicked, this, [this] { radBitAction(radBit); });
    connect(btnRestart, &QPushButton::clicked, this, [this] { btnRestartAction(btnRestart); });
    connect(btnReset, &QPushButton::clicked, this, [this] { btnResetAction(btnReset); });
    connect(chkAE, &QCheckBox::clicked, this, [this] { chkAEAction(chkAE); });
    const struct {
        QSlider* slider;
        void (AppDelegate::*action)(QSlider*);
    } sliders[] = {
        {sldGain, &AppDelegate::sldGainAction},
        {sldTime, &AppDelegate::sldTimeAction},
        {sldBlvl, &AppDelegate::sldBklvlAction},
        {sldGamma, &AppDelegate::sldGammaAction},
        {sldContrast, &AppDelegate::sldContrastAction},
        {sldRed, &AppDelegate::sldRedAction},
        {sldGreen, &AppDelegate::sldGreenAction},
        {sldBlue, &AppDelegate::sldBlueAction},
        {sldSaturation, &AppDelegate::sldSaturationAction},
    };
    for (const auto& [slider, action] : sliders)
        connect(slider, &QSlider::valueChanged, this,
                [this, slider = slider, action = action] { (this->*action)(slider); });
    const struct {
        QCheckBox* box;
        void (AppDelegate::*action)(QCheckBox*);
    } boxes[] = {
        {chkHF, &AppDelegate::chkHFlipAction},  {chkVF, &AppDelegate::chkVFlioAction},
        {chkMono, &AppDelegate::chkMonoAction}, {chkColor, &AppDelegate::chkColorAction},
        {chkFF, &AppDelegate::chkFFAction},     {chkRaw, &AppDelegate::chkRawAction},
        {chkTif, &AppDelegate::chkTifAction},   {chkPng, &AppDelegate::chkPngAction},
        {chkJpg, &AppDelegate::chkJpgAction},   {chkBmp, &AppDelegate::chkBmpAction},
    };
    for (const auto& [box, action] : boxes)
        connect(box, &QCheckBox::clicked, this,
                [this, box = box, action = action] { (this->*action)(box); });
    const struct {
        QPushButton* button;
        void (AppDelegate::*action)(QAbstractButton*);
    } buttons[] = {
        {btnWB, &AppDelegate::btnWBAction},        {btnFF, &AppDelegate::btnFFAction},
        {btnSnap, &AppDelegate::btnCaptureAction}, {btnBrowse, &AppDelegate::btnBrowseAction},
        {btnMovie, &AppDelegate::btnAcquieMovie},  {btnRaw, &AppDelegate::btnRawAction},
        {btnCalib, &AppDelegate::btnCalibAction},
    };
    for (const auto& [button, action] : buttons)
        connect(button, &QPushButton::clicked, this,
                [this, button = button, action = action] { (this->*action)(button); });
    connectPictureActions();
}

// ---- Resolution, clock, depth -----------------------------------------------------

void AppDelegate::exposureReloadLater() {
    // The exposure range follows the new line timing once the camera settled.
    QTimer::singleShot(settleDelayMs, this, [this, name = camName] {
        if (name == camName && !camName.empty()) {
            loadExposure();
            updateStatusLine();
        }
    });
}

void AppDelegate::resChangeAction(QComboBox* sender) {
    if (camName.empty()) return;
    const int index = sender->currentIndex();
    const bool change = index != GetResolution(cam());
    if (change) SetResolution(index, cam());
    // A refused resolution leaves the one in force: show that one. Stills are
    // taken at it, so the still size shows it too.
    const int resolution = GetResolution(cam());
    sender->setCurrentIndex(resolution);
    pouSav->setCurrentIndex(resolution);
    updateMovieButton(resolution);
    if (!change) return;
    pictureToolsFollowCamera();
    // What depth a clock allows depends on the resolution as well.
    loadBitDepth();
    updateStatusLine();
    exposureReloadLater();
}

void AppDelegate::updateMovieButton(int resolution) {
    // A movie being recorded can always be stopped.
    btnMovie->setEnabled(movie.recording() ||
                         DeviceProduct(cam()) != kNoMovieAtFirstResolution || resolution != 0);
}

void AppDelegate::savChangeAction(QComboBox*) {}

void AppDelegate::clkChangeAction(QComboBox* sender) {
    if (camName.empty()) return;
    if (SetPixelclock(sender->currentIndex(), cam()) == EZ_EDEPTH16)
        viewerLog(QStringLiteral("now nonsupport"));
    // A refused clock leaves the one in force: show that one.
    pouClk->setCurrentIndex(GetPixelclock(cam()));
    loadBitDepth();
    viewerLog(QStringLiteral("rawdepth: %1").arg(GetRawDepth(cam())));
    updateStatusLine();
    exposureReloadLater();
}

void AppDelegate::radBitAction(RadioRow* sender) {
    if (camName.empty()) return;
    SetRawDepth(sender->selectedColumn() == 1 ? 16 : 8, cam());
    updateStatusLine();
}

void AppDelegate::btnRestartAction(QAbstractButton*) {
    if (camName.empty()) return;
    ResetDevice(cam());
}

// ---- Exposure and gain -----------------------------------------------------------

void AppDelegate::sldGainAction(QSlider* sender) {
    if (camName.empty()) return;
    const int v = sender->value();
    if (v == GetAnaloggain(cam())) return;
    SetAnaloggain(v, cam());
    txtGain->setText(gainText(v));
}

void AppDelegate::sldTimeAction(QSlider* sender) {
    if (camName.empty()) return;
    // Positions lie on a logarithmic scale; one that shows the camera's
    // exposure already changes nothing.
    const float now = GetExposure(cam());
    if (sender->value() == exposureSliderPosition(exposureRange(), now)) return;
    const float t = exposureAtSlider(exposureRange(), sender->value());
    if (t == now) return;
    SetExposure(t, cam());
    txtTime->setText(QString::asprintf("%.3f", t));
    updateStatusLine();
}

void AppDelegate::chkAEAction(QCheckBox* sender) {
    if (camName.empty()) return;
    const bool on = sender->isChecked();
    SetAutoExposure(on, cam());
    sldTime->setEnabled(!on);
    txtTime->setEnabled(!on);
    if (!on) loadExposure();
}

void AppDelegate::sldBklvlAction(QSlider* sender) {
    if (camName.empty()) return;
    const int v = sender->value();
    if (v == GetBlacklevel(cam())) return;
    SetBlacklevel(v, cam());
    txtBlvl->setText(QString::number(v));
}

void AppDelegate::btnResetAction(QAbstractButton*) {
    if (camName.empty()) return;
    SetDefaultConfiguration(cam());
    SetPixelclock(1, cam());
    SetAutoExposure(true, cam());
    pouClk->setCurrentIndex(GetPixelclock(cam()));
    loadBitDepth();

    const int gain = GetAnaloggain(cam());
    {
        const QSignalBlocker quiet(sldGain);
        sldGain->setValue(gain);
    }
    txtGain->setText(gainText(gain));

    bool on = false;
    GetAutoExposure(&on, cam());
    sldTime->setEnabled(!on);
    txtTime->setEnabled(!on);
    {
        const QSignalBlocker quiet(chkAE);
        chkAE->setChecked(on);
    }
    int min, max, step;
    if (GetBlacklevelRange(&min, &max, &step, cam()) != EZ_ENOTSUP) {
        const int level = GetBlacklevel(cam());
        const QSignalBlocker quiet(sldBlvl);
        sldBlvl->setValue(level);
        txtBlvl->setText(QString::number(level));
    }
    const int gamma = GetGamma(cam());
    const int contrast = GetContrast(cam());
    {
        const QSignalBlocker quietGamma(sldGamma), quietContrast(sldContrast);
        sldGamma->setValue(gamma);
        sldContrast->setValue(contrast);
    }
    txtGamma->setText(QString::asprintf("%.1f", gamma / 100.0f));
    txtContrast->setText(QString::number(contrast));

    flipType = GetFlip(cam());
    {
        const QSignalBlocker quietH(chkHF), quietV(chkVF);
        chkHF->setChecked(flipType & 1);
        chkVF->setChecked(flipType & 2);
    }
    bool mono = false;
    if (GetMonochrome(&mono, cam()) != EZ_ENOTSUP) {
        const int saturation = GetSaturation(cam());
        const QSignalBlocker quietMono(chkMono), quietSaturation(sldSaturation);
        chkMono->setChecked(mono);
        sldSaturation->setValue(saturation);
        txtSaturation->setText(QString::number(saturation));
    }
    updateStatusLine();
}

// ---- Image adjustments --------------------------------------------------------------

void AppDelegate::sldGammaAction(QSlider* sender) {
    if (camName.empty()) return;
    const int v = sender->value();
    if (v == GetGamma(cam())) return;
    SetGamma(v, cam());
    txtGamma->setText(QString::asprintf("%.2f", v / 100.0f));
}

void AppDelegate::sldContrastAction(QSlider* sender) {
    if (camName.empty()) return;
    const int v = sender->value();
    if (v == GetContrast(cam())) return;
    SetContrast(v, cam());
    txtContrast->setText(QString::number(v));
}

void AppDelegate::setFlipBit(int bit, bool on) {
    if (camName.empty()) return;
    flipType = on ? flipType | bit : flipType & ~bit;
    SetFlip(flipType, cam());
}

void AppDelegate::chkHFlipAction(QCheckBox* sender) {
    setFlipBit(1, sender->isChecked());
}
void AppDelegate::chkVFlioAction(QCheckBox* sender) {
    setFlipBit(2, sender->isChecked());
}

void AppDelegate::chkMonoAction(QCheckBox* sender) {
    if (camName.empty()) return;
    SetMonochrome(sender->isChecked(), cam());
}

void AppDelegate::chkColorAction(QCheckBox* sender) {
    if (camName.empty()) return;
    SetColorEnhancement(sender->isChecked(), cam());
}

void AppDelegate::sldRedAction(QSlider* sender) {
    if (camName.empty() || sender->value() == red) return;
    red = sender->value();
    SetChannelGain(red, green, blue, cam());
    txtRed->setText(channelGainText(red));
}
void AppDelegate::sldGreenAction(QSlider* sender) {
    if (camName.empty() || sender->value() == green) return;
    green = sender->value();
    SetChannelGain(red, green, blue, cam());
    txtGreen->setText(channelGainText(green));
}
void AppDelegate::sldBlueAction(QSlider* sender) {
    if (camName.empty() || sender->value() == blue) return;
    blue = sender->value();
    SetChannelGain(red, green, blue, cam());
    txtBlue->setText(channelGainText(blue));
}

void AppDelegate::sldSaturationAction(QSlider* sender) {
    if (camName.empty()) return;
    const int v = sender->value();
    if (v == GetSaturation(cam())) return;
    SetSaturation(v, cam());
    txtSaturation->setText(QString::number(v));
}

void AppDelegate::btnWBAction(QAbstractButton* sender) {
    if (camName.empty()) return;
    sender->setEnabled(false);
    // A copy of the newest frame: the live threads keep moving their buffers.
    std::vector<unsigned char> frame = ctxGrab.newestFrame();
    const int r = frame.empty() ? EZ_EIO : CalcWhiteBalance(frame.data(), nullptr, cam());
    if (r == EZ_OK) {
        txtWB->setText(L("WB Succeed"));
        loadChannelGains();
    } else {
        txtWB->setText(L("WB Fail"));
    }
    sender->setEnabled(true);
}

void AppDelegate::chkFFAction(QCheckBox* sender) {
    if (camName.empty()) return;
    SetFlatfieldState(sender->isChecked(), cam());
}

void AppDelegate::btnCalibAction(QAbstractButton*) {
    if (camName.empty()) return;
    if (calibration) {
        calibration->raise();
        calibration->activateWindow();
        return;
    }
    calibration = new CalibrationDialog(camName, master, mainWindow);
    calibration->setAttribute(Qt::WA_DeleteOnClose);
    connect(calibration, &CalibrationDialog::changed, this, &AppDelegate::updateStatusLine);
    calibration->show();
}

void AppDelegate::btnFFAction(QAbstractButton*) {
    if (camName.empty()) return;
    std::vector<unsigned char> frame = ctxGrab.newestFrame();
    if (frame.empty()) {
        note(L("No frame for a flat field yet: start the live view"));
        return;
    }
    const int r = CalcFlatfield(frame.data(), false, cam());
    note(r == EZ_OK ? L("Flat field taken") : L("Flat field failed"));
}

// ---- Capture and files ---------------------------------------------------------------

void AppDelegate::setFormatBit(int bit, bool on) {
    if (camName.empty()) return;
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
    if (camName.empty()) return;
    const QString base = captureBaseName(captureFolder(), QDateTime::currentDateTime());
    if (tools->barOnStills()) {
        // Written here from the next frame shown, with the bar burned in.
        stillWithBar = base;
        note(liveRunning() ? L("Still: %1").arg(base)
                           : L("Still waits for the live view: %1").arg(base));
        emit stillRequested(base, 0);
        return;
    }
    const int r = SaveImage(base.toUtf8().constData(), pouRes->currentIndex(), cam());
    if (r != EZ_OK)
        note(L("Still refused (%1)").arg(r));
    else if (liveRunning())
        note(L("Still: %1").arg(base));
    else  // the camera takes it from the next live frame
        note(L("Still waits for the live view: %1").arg(base));
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
        if (!camName.empty()) updateMovieButton(pouRes->currentIndex());
        const std::string error = movie.lastError();
        note(error.empty() ? L("Movie: %1").arg(QString::fromStdString(movie.path()))
                           : QString::fromStdString(error));
        return;
    }
    if (camName.empty()) return;
    const QString path = captureBaseName(captureFolder(), QDateTime::currentDateTime()) + ".mov";
    const int r = GetResolution(cam());
    const int fps = MovieFrameRate(dustm);
    if (!movie.start(path.toStdString(), GetResWidth(r, cam()), GetResHeight(r, cam()),
                     GetImageChannles(cam()), fps,
                     [](const std::string& line) { viewerLog(QString::fromStdString(line)); })) {
        note(L("Movie not started: %1").arg(QString::fromStdString(movie.lastError())));
        return;
    }
    sender->setText(L("Stop Video"));
    note(L("Recording %1 at %2 frames a second").arg(path).arg(fps));
}

void AppDelegate::btnRawAction(QAbstractButton*) {
    if (raw.recording()) {
        raw.stop();  // ended() reports the file
        updateRawControls();
        return;
    }
    if (camName.empty() || raw.finishing()) return;
    const recording::FormatRow* format =
        recording::findFormat(pouRawFormat->currentData().toString().toStdString());
    if (!format) return;
    // The frames come from live view's grab thread.
    if (!liveRunning()) btnLiveAction(btnLive);
    if (!liveRunning()) {
        note(L("Raw recording not started: no live view"));
        return;
    }
    const QString path =
        freshRecordingPath(captureBaseName(captureFolder(), QDateTime::currentDateTime()),
                           QString::fromUtf8(format->extension));
    recording::RecorderSetup setup;
    setup.path = path.toStdString();
    setup.format = format->format;
    setup.instrument = camName;
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
        note(L("Raw recording not started: %1").arg(error));
        return;
    }
    txtRaw->setText(rawCountsText({}));
    updateRawControls();
    note(L("Recording raw frames to %1").arg(path));
}

}  // namespace viewer
