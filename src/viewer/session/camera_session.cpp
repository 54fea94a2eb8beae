// The camera session.
#include "viewer/session/camera_session.h"

#include <QComboBox>
#include <QLabel>

#include "ezcam.h"
#include "viewer/captions.h"
#include "viewer/live/live_controller.h"
#include "viewer/session/selected_camera.h"
#include "viewer/session/status_line.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

namespace {

constexpr int kHotPlugPollMs = 100;

}  // namespace

CameraSession::CameraSession(SelectedCamera& selected, StatusLine& statusLine,
                             LiveController& liveView, QObject* parent)
    : QObject(parent),
      camera(selected),
      status(statusLine),
      live(liveView),
      pouDev(new QComboBox),
      txtDev(new QLabel) {
    nameControls({{pouDev, "pouDev"}, {txtDev, "txtDev"}});
    connect(pouDev, &QComboBox::activated, this, &CameraSession::choose);
    hotPlugTimer.setInterval(kHotPlugPollMs);
    connect(&hotPlugTimer, &QTimer::timeout, this, [] { PollDevice(0); });
}

const char* CameraSession::cam() const {
    return camera.c_str();
}

// ---- The SDK ---------------------------------------------------------------------

void CameraSession::start(const QString& documents) {
    pouDev->clear();
    cntRunDevLeft = 0;
    cntDevConnect = 0;
    camera.clear();
    live.releaseBuffers();
    SetLogHandler(&CameraSession::logHandler, this);
    InitDevice(&CameraSession::hotPlugHandler, this, documents.toUtf8().constData());
    hotPlugTimer.start();
}

void CameraSession::stopWatching() {
    hotPlugTimer.stop();
}

void CameraSession::finish() {
    ExitDevice();
    // ExitDevice saved every camera's parameter set.
    for (const auto& [name, model] : loadedModels) memory.markKnown(model);
    SetLogHandler(nullptr, nullptr);
}

void CameraSession::hotPlugHandler(void* receiver, const char* name, int event) {
    static_cast<CameraSession*>(receiver)->refreshDevices(QString::fromUtf8(name ? name : ""),
                                                          event);
}

void CameraSession::logHandler(void* receiver, int, const char* message) {
    // Any thread may log; the status line changes on the window's thread.
    auto* self = static_cast<CameraSession*>(receiver);
    QMetaObject::invokeMethod(
        self, [self, text = QString::fromUtf8(message)] { self->status.note(text); },
        Qt::QueuedConnection);
}

// ---- Hot-plug and camera changes ------------------------------------------------------

void CameraSession::refreshDevices(const QString& name, int event) {
    viewerLog(name);
    if (event == EZ_DEVICE_ARRIVED) {
        ++cntDevConnect;
        pouDev->addItem(name);
        txtDev->setText(QStringLiteral("%1 %2").arg(name, L("connect")));
        if (!live.running() && camera.none()) chooseFirst();
        emit arrived();
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
        if (name.toStdString() != camera.name()) return;
        if (live.running()) {
            // The grab thread finishes the change once it has stopped.
            ++cntRunDevLeft;
            live.toggle();
        } else if (cntDevConnect < 1) {
            camera.clear();
            reload();
        } else {
            chooseFirst();
        }
    }
}

void CameraSession::liveEnded() {
    if (cntRunDevLeft <= 0) return;
    // The live camera was unplugged: move to another one now.
    --cntRunDevLeft;
    if (cntDevConnect < 1) {
        camera.clear();
        reload();
    } else {
        chooseFirst();
    }
}

void CameraSession::chooseFirst() {
    pouDev->setCurrentIndex(0);
    choose();
}

void CameraSession::choose() {
    const std::string title = pouDev->currentText().toStdString();
    if (title == camera.name()) return;
    emit leaving();
    if (!camera.none()) {
        SuspendDevice(cam());
        live.releaseBuffers();
    }
    camera.select(title);
    reload();
}

void CameraSession::lockList(bool locked) {
    pouDev->setEnabled(!locked);
}

// ---- Opening the selected camera ------------------------------------------------------

void CameraSession::reload() {
    if (camera.none()) {
        live.releaseBuffers();
        emit closed();
        return;
    }
    ResumeDevice(cam());
    if (!live.openBuffers()) {
        viewerLog(QStringLiteral("no frame buffers for ") + QString::fromStdString(camera.name()));
        return;
    }
    // A model the user set up before keeps the clock and exposure its
    // parameter set brought back; otherwise the camera starts at clock 1
    // under automatic exposure.
    const QString model = ModelMemory::keyOf(DeviceVendor(cam()), DeviceProduct(cam()));
    const bool firstLoad = !memory.known(model) && !loadedModels.count(camera.name());
    loadedModels[camera.name()] = model;
    emit loaded(firstLoad);
}

QString CameraSession::rememberedObjective() const {
    const auto loaded = loadedModels.find(camera.name());
    return loaded != loadedModels.end() ? memory.objective(loaded->second) : QString();
}

void CameraSession::rememberObjective(const QString& name) {
    if (const auto loaded = loadedModels.find(camera.name()); loaded != loadedModels.end())
        memory.setObjective(loaded->second, name);
}

}  // namespace viewer
