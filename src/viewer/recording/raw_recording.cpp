// A raw recording from the live view.
#include "viewer/recording/raw_recording.h"

#include <QStringList>

#include "viewer/captions.h"

namespace viewer {

QString rawCountsText(const recording::RecordingCounts& counts) {
    QString text = L("%1 recorded · %2 dropped").arg(counts.recorded).arg(counts.dropped);
    if (counts.rejected) text += L(" · %1 left out").arg(counts.rejected);
    if (counts.readerLost) text += L(" · %1 lost by the camera").arg(counts.readerLost);
    if (counts.failed) text += L(" · %1 not written").arg(counts.failed);
    return text;
}

RawRecording::RawRecording(QObject* parent) : QObject(parent) {
    timer.setInterval(kRefreshMs);
    connect(&timer, &QTimer::timeout, this, &RawRecording::refresh);
}

RawRecording::~RawRecording() {
    // The owner is going away: the file is completed, nobody is told.
    blockSignals(true);
    stopAndWait();
}

// ---- Window thread ----------------------------------------------------------

bool RawRecording::start(const recording::RecorderSetup& setup, RawLength newLength,
                         QString& error) {
    if (current) {
        error = L("a raw recording is already running");
        return false;
    }
    if (finishing()) {
        error = L("the last raw recording is still being written");
        return false;
    }
    auto recorder = std::make_shared<recording::Recorder>(setup);
    if (!recorder->ok()) {
        error = QString::fromStdString(recorder->error());
        return false;
    }
    current = std::move(recorder);
    previous.reset();
    stopReason.clear();
    lastWritten.clear();
    {
        std::lock_guard guard(feedLock);
        feed = std::make_unique<recording::Feed>(*current, newLength);
    }
    feeding = true;
    timer.start();
    return true;
}

void RawRecording::stop(const QString& why) {
    if (!current) return;
    feeding = false;
    {
        // A frame on its way in completes first; later ones find no target.
        std::lock_guard guard(feedLock);
        feed.reset();
    }
    timer.stop();
    stopReason = why;
    previous = std::move(current);
    const unsigned id = ++finishId;
    // Completing the file writes what is still queued: not on this thread.
    finisher = std::thread([this, recorder = previous, id] {
        recorder->finish();
        QMetaObject::invokeMethod(
            this, [this, id] { finished(id); }, Qt::QueuedConnection);
    });
}

void RawRecording::stopAndWait(const QString& why) {
    stop(why);
    if (finishing()) finished(finishId);
}

recording::RecordingCounts RawRecording::counts() const {
    if (current) return current->counts();
    return previous ? previous->counts() : recording::RecordingCounts{};
}

void RawRecording::refresh() {
    if (!current) return;
    emit progressed();
    // The feed has taken the last frame, the time is up, a frame of another
    // geometry came, or writing failed (the summary says why).
    bool ended = false;
    const char* change = nullptr;
    {
        std::lock_guard guard(feedLock);
        ended = feed->ended();
        change = feed->change();
    }
    if (ended) stop(change ? L(change) : QString());
}

void RawRecording::finished(unsigned id) {
    // A finish already handled (by stopAndWait) or an earlier one.
    if (id != finishId || !finisher.joinable()) return;
    finisher.join();
    const bool whole = previous->finish();  // finished: only its result
    const recording::RecordingCounts last = previous->counts();
    lastWritten = QString::fromStdString(previous->written());
    emit progressed();
    emit ended(summary(), whole && last.recorded > 0 && last.complete() && stopReason.isEmpty());
}

QString RawRecording::summary() const {
    const recording::RecordingCounts last = previous->counts();
    QString text = last.recorded == 0
                       ? L("Raw recording: no frame recorded")
                       : L("Raw recording: %1 frames in %2").arg(last.recorded).arg(lastWritten);
    QStringList notes;
    if (last.dropped) notes << L("%1 frames dropped").arg(last.dropped);
    if (last.rejected) notes << L("%1 frames of another size left out").arg(last.rejected);
    if (last.readerLost) notes << L("%1 frames lost by the camera").arg(last.readerLost);
    if (last.failed) notes << L("%1 frames not written (writing failed)").arg(last.failed);
    if (!stopReason.isEmpty()) notes << L("ended early: %1").arg(stopReason);
    const std::string error = previous->error();
    if (!error.empty()) notes << L("error: %1").arg(QString::fromStdString(error));
    if (!notes.isEmpty()) text += QStringLiteral(" · ") + notes.join(QStringLiteral(" · "));
    return text;
}

// ---- Grab thread ------------------------------------------------------------

void RawRecording::frameRead(int result, const unsigned char* frame, const EzFrameInfo& info) {
    if (!feeding) return;
    std::lock_guard guard(feedLock);
    if (feed) feed->frameRead(result, frame, info);
}

}  // namespace viewer
