// Live view of the selected camera.
#include "viewer/live/live_controller.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

#include "viewer/captions.h"
#include "viewer/live/frame_rate.h"
#include "viewer/picture/live_view.h"
#include "viewer/session/selected_camera.h"
#include "viewer/session/status_line.h"
#include "viewer/settings/exposure_scale.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

LiveController::LiveController(const SelectedCamera& selected, StatusLine& statusLine,
                               LiveView& picture, QObject* parent)
    : QObject(parent),
      camera(selected),
      status(statusLine),
      view(picture),
      watch([this] {
          // A frame takes its exposure, or what ten of them took last time.
          const double exposure = camera.none() ? 0 : GetExposure(cam());
          return std::max(exposure, dustm / 10.0);
      }),
      btnLive(new QPushButton(L("Live"))),
      txtFPS(new QLabel),
      prgExposure(new QProgressBar) {
    btnLive->setEnabled(false);
    btnLive->setToolTip(L("Start or stop the live picture (Space)"));
    txtFPS->setMinimumWidth(72);
    prgExposure->setRange(0, 1000);
    prgExposure->setMaximumWidth(180);
    prgExposure->setToolTip(L("The exposure in flight"));
    prgExposure->hide();
    nameControls({{btnLive, "btnLive"}, {txtFPS, "txtFPS"}, {prgExposure, "prgExposure"}});

    connect(btnLive, &QPushButton::clicked, this, &LiveController::toggle);
    exposureTimer.setInterval(100);
    connect(&exposureTimer, &QTimer::timeout, this, &LiveController::showExposureProgress);
    connect(&watch, &FrameWatch::wentQuiet, this, [this](int seconds) {
        status.note(L("No frame from %1 for %2 s: the camera may not take the last setting; try "
                      "Whole frame, another resolution, or Live again")
                        .arg(QString::fromStdString(camera.name()))
                        .arg(seconds),
                    0);
    });
    connect(&watch, &FrameWatch::resumed, this, [this] {
        status.note(L("Frames from %1 again").arg(QString::fromStdString(camera.name())));
    });
}

const char* LiveController::cam() const {
    return camera.c_str();
}

void LiveController::addReader(FrameReader reader) {
    readers.push_back(std::move(reader));
}

void LiveController::addViewer(FrameViewer viewer) {
    viewers.push_back(std::move(viewer));
}

bool LiveController::openBuffers() {
    return ctxGrab.init(DataHeadLen(cam()), RecvMemSize(cam()));
}

void LiveController::releaseBuffers() {
    ctxGrab.release();
}

void LiveController::setCameraLoaded(bool on) {
    btnLive->setEnabled(on);
}

void LiveController::toggle() {
    if (btnLive->text() != L("Live")) {
        ctxGrab.stopRun();
        return;
    }
    if (camera.none() || !ctxGrab.ready() || live.started()) return;
    btnLive->setText(L("Stop"));
    emit runningChanged(true);
    txtFPS->clear();  // the rate of this run, once measured
    // Fixed while live: the camera list is locked.
    const std::string name = camera.name();
    LiveHooks hooks;
    hooks.readFrame = [this, name, readers = readers](unsigned char* buffer, int size) {
        // A raw recording and the calibration need each frame's information;
        // live view alone does not.
        unsigned wanting = 0;  // bit i: reader i takes this frame
        for (size_t i = 0; i < readers.size(); ++i)
            if (readers[i].wantsFrames()) wanting |= 1u << i;
        EzFrameInfo info{};
        const int r = GetRawDataInfo(buffer, size, wanting ? &info : nullptr, name.c_str());
        if (r == EZ_OK || r == EZ_CAPTURE) watch.frameArrived();
        for (size_t i = 0; i < readers.size(); ++i)
            if (wanting >> i & 1) readers[i].frameRead(r, buffer, info);
        return r;
    };
    hooks.decode = [name](unsigned char* raw, unsigned char* image) {
        return DecodeRaw2Image(raw, image, name.c_str());
    };
    // Still capture reads the controls: it runs on the window's thread.
    hooks.captureRequested = [this] {
        QMetaObject::invokeMethod(
            this, [this] { emit captureRequested(); }, Qt::QueuedConnection);
    };
    const int bayer = std::max(0, GetRawBayernPattern(name.c_str()));
    hooks.frameShown = [this, name, bayer, viewers = viewers](const DisplayFrame& frame) {
        // The turn and flip the frame was finished with, for the raw readout.
        view.present(frame, {GetRotate(name.c_str()), GetFlip(name.c_str()), bayer});
        for (const FrameViewer& viewer : viewers) viewer(frame);
    };
    hooks.rateMeasured = [this](int ms) {
        QMetaObject::invokeMethod(
            this,
            [this, ms] {
                dustm = ms;
                txtFPS->setText(FrameRateMeter::text(ms));
                emit rateMeasured();
            },
            Qt::QueuedConnection);
    };
    hooks.ended = [this] {
        QMetaObject::invokeMethod(
            this, [this] { threadsEnded(); }, Qt::QueuedConnection);
    };
    watch.start();
    live.start(ctxGrab, std::move(hooks));
    exposureTimer.start();
}

void LiveController::stopAndWait() {
    if (!live.started()) return;
    ctxGrab.stopRun();
    live.join();
    finish();
}

void LiveController::finish() {
    btnLive->setText(L("Live"));
    emit runningChanged(false);
    exposureTimer.stop();
    watch.stop();
    showExposureProgress();
}

void LiveController::threadsEnded() {
    if (!live.started()) return;  // shut-down has handled it
    live.join();
    finish();
    emit ended();
}

void LiveController::showExposureProgress() {
    const float ms = camera.none() ? 0 : GetExposure(cam());
    const bool shown = running() && ms >= kLongExposureMs;
    prgExposure->setVisible(shown);
    if (!shown) return;
    const double elapsed = std::chrono::duration<double, std::milli>(watch.sinceNewest()).count();
    prgExposure->setValue(int(std::min(1.0, elapsed / ms) * prgExposure->maximum()));
    prgExposure->setFormat(
        L("%1 of %2").arg(durationText(std::min<double>(elapsed, ms)), durationText(ms)));
}

}  // namespace viewer
