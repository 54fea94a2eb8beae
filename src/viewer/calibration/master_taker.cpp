// A calibration master from the live view's frames.
#include "viewer/calibration/master_taker.h"

#include <time.h>

#include <vector>

#include "viewer/captions.h"

namespace viewer {

namespace {

int64_t monotonicNow() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

MasterTaker::MasterTaker(Live live_, QObject* parent) : QObject(parent), live(std::move(live_)) {}

MasterTaker::~MasterTaker() {
    blockSignals(true);  // the owner is going away
    stopAndWait();
}

QString MasterTaker::refusal(const std::string& camera, int kind) {
    if (camera.empty()) return L("No camera.");
    if (kind == EZ_MASTER_FLAT) return {};
    bool automatic = false;
    GetAutoExposure(&automatic, camera.c_str());
    if (automatic)
        return L("Turn automatic exposure off first: a dark or a bias is taken at one exposure, "
                 "and with the lens covered automatic exposure would lengthen it frame by frame.");
    return {};
}

QString MasterTaker::kindName(int kind) {
    switch (kind) {
        case EZ_MASTER_FLAT: return L("flat");
        case EZ_MASTER_BIAS: return L("bias");
        default: return L("dark");
    }
}

// ---- Window thread ----------------------------------------------------------

bool MasterTaker::start(const std::string& newCamera, int newKind, const QString& label,
                        int frames, QString& error) {
    if (busy()) {
        error = L("A master is being taken already.");
        return false;
    }
    error = refusal(newCamera, newKind);
    if (!error.isEmpty()) return false;
    if (frames < 2) {
        error = L("A master needs at least 2 frames.");
        return false;
    }
    if (BeginMaster(newKind, label.toUtf8().constData(), newCamera.c_str()) != EZ_OK) {
        error = L("The camera refused to begin a master.");
        return false;
    }
    startedLive = !live.running();
    if (startedLive) live.set(true);
    if (!live.running()) {
        startedLive = false;
        error = L("No live view to take the frames from.");
        return false;
    }
    {
        std::lock_guard guard(feedLock);
        camera = newCamera;
        kind = newKind;
        wanted = frames;
        taken = 0;
        beganNs = monotonicNow();
        previousEndNs = 0;
        ++take;
    }
    state = State::Taking;
    feeding = true;
    emit progressed(0, frames);
    return true;
}

void MasterTaker::cancel(const QString& why) {
    if (state == State::Taking) failed(take, why);
}

void MasterTaker::liveEnded(const QString& why) {
    if (state != State::Taking) return;
    startedLive = false;  // nothing to give back
    failed(take, why);
}

void MasterTaker::stopAndWait() {
    cancel(L("the viewer quit"));
    if (stacker.joinable()) stacker.join();
    state = State::Idle;
}

void MasterTaker::giveBackLive() {
    if (startedLive && live.running()) live.set(false);
    startedLive = false;
}

void MasterTaker::failed(unsigned which, const QString& why) {
    if (which != take || state != State::Taking) return;
    {
        std::lock_guard guard(feedLock);
        feeding = false;
    }
    giveBackLive();
    state = State::Idle;
    emit finished(false, L("No %1 taken: %2.").arg(kindName(kind), why));
}

void MasterTaker::framesTaken(unsigned which) {
    if (which != take || state != State::Taking) return;
    giveBackLive();
    state = State::Stacking;
    // Stacking reads every frame again: not on the window's thread.
    stacker = std::thread([this, which, name = camera, flat = kind == EZ_MASTER_FLAT] {
        // On failure the camera writes its reason where the path would go.
        std::vector<char> text(4096, '\0');
        const int result = FinishMaster(text.data(), int(text.size()), name.c_str());
        QString message = QString::fromUtf8(text.data());
        if (result != EZ_OK && message.isEmpty())
            message = flat ? L("No flat made: take a dark or a bias at these settings first.")
                           : L("The master could not be stored in the library.");
        QMetaObject::invokeMethod(
            this, [this, which, result, message] { stacked(which, result, message); },
            Qt::QueuedConnection);
    });
}

void MasterTaker::stacked(unsigned which, int result, const QString& text) {
    if (which != take || state != State::Stacking) return;
    if (stacker.joinable()) stacker.join();
    state = State::Idle;
    emit finished(result == EZ_OK, text);
}

// ---- Grab thread ------------------------------------------------------------

void MasterTaker::frameRead(int result, const unsigned char* frame, const EzFrameInfo& info) {
    if (!feeding || (result != EZ_OK && result != EZ_CAPTURE)) return;
    std::lock_guard guard(feedLock);
    if (!feeding) return;
    // A frame exposed before the master began may hold light from before
    // the lens was covered: one whose exposure began before by its own
    // timing, and the first after the master began (a sensor may expose
    // while it reads the frame before out).
    const bool previousBefore = previousEndNs < beganNs;
    previousEndNs = info.monotonic_ns;
    if (previousBefore || info.monotonic_ns - int64_t(double(info.exposure_ms) * 1e6) < beganNs)
        return;
    const int added = AddMasterFrame(frame, &info, camera.c_str());
    const unsigned which = take;
    if (added == EZ_ERANGE || added == EZ_EIO) {
        feeding = false;
        const QString why =
            added == EZ_ERANGE
                ? L("the settings changed while its frames were taken (it needs one exposure, "
                    "gain, depth and size)")
                : L("its frames could not be kept");
        QMetaObject::invokeMethod(
            this, [this, which, why] { failed(which, why); }, Qt::QueuedConnection);
        return;
    }
    if (added != EZ_OK) {
        // Refused for what the frames show (light on a dark): finishing
        // fails too, and says why.
        feeding = false;
        QMetaObject::invokeMethod(
            this, [this, which] { framesTaken(which); }, Qt::QueuedConnection);
        return;
    }
    const int count = ++taken, of = wanted;
    QMetaObject::invokeMethod(
        this,
        [this, which, count, of] {
            if (which == take && state == State::Taking) emit progressed(count, of);
        },
        Qt::QueuedConnection);
    if (count < of) return;
    feeding = false;
    QMetaObject::invokeMethod(
        this, [this, which] { framesTaken(which); }, Qt::QueuedConnection);
}

}  // namespace viewer
