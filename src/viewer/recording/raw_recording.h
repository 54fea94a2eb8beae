// A raw recording from the live view: the grab thread hands every frame it
// reads, with its metadata, to a recorder that writes on a thread of its own;
// the window's thread starts it, watches its counts on a timer and has it
// finished off its own thread, so neither waits on the disk.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "recording/recorder.h"

namespace viewer {

// How long a recording runs: a number of frames or a duration, whichever is
// set (0: not set).
struct RawLength {
    uint64_t frames = 0;
    double seconds = 0;
};

// The running count as shown beside the button.
QString rawCountsText(const recording::RecordingCounts& counts);

class RawRecording : public QObject {
    Q_OBJECT
  public:
    // Counts are read this often while recording.
    static constexpr int kRefreshMs = 200;

    explicit RawRecording(QObject* parent = nullptr);
    ~RawRecording() override;  // finishes a recording still running

    // ---- Window thread ------------------------------------------------------
    // Starts a recording; false, with the reason in `error`, when the
    // recorder cannot write where asked (or one is still being finished).
    bool start(const recording::RecorderSetup& setup, RawLength length, QString& error);
    // Ends the recording: frames stop at once, the file is completed on a
    // thread of its own and ended() follows. `why` (may be empty) says what
    // ended it early.
    void stop(const QString& why = {});
    // Stops and waits until the file is complete (shut-down); ended() is
    // emitted before it returns.
    void stopAndWait(const QString& why = {});
    bool recording() const { return current != nullptr; }
    bool finishing() const { return finisher.joinable(); }
    // Counts of the recording running, or of the last one.
    recording::RecordingCounts counts() const;
    // What the last recording wrote ("" before it wrote a frame).
    QString written() const { return lastWritten; }

    // ---- Grab thread --------------------------------------------------------
    // Whether frames are wanted now (read them with their metadata).
    bool wantsFrames() const { return feeding; }
    // One read of the grab thread: its result and, for a frame (0 or 1), the
    // buffer and the frame's metadata; the frame is copied into the
    // recorder's queue or counted as dropped.
    void frameRead(int result, const unsigned char* frame, const EzFrameInfo& info);

  signals:
    // The counts may have changed (while recording, every kRefreshMs).
    void progressed();
    // The recording ended and its file is complete; `summary` names the file
    // and says what was lost or failed; `complete` when nothing was.
    void ended(const QString& summary, bool complete);

  private:
    void refresh();
    void finished(unsigned id);
    QString summary() const;

    // Shared with the grab thread.
    std::mutex feedLock;  // held while a frame goes in, so stop() can detach
    recording::Recorder* target = nullptr;
    RawLength length;
    uint64_t taken = 0;  // frames given to the recorder
    // When the first frame went in (steady clock ticks; 0: none yet).
    std::atomic<std::chrono::steady_clock::rep> firstFrame{0};
    std::atomic<bool> feeding{false};
    std::atomic<bool> lengthReached{false};
    // The first frame's geometry; a frame of another one ends the recording,
    // which can hold only frames of one size, and says why.
    EzFrameInfo firstInfo{};
    std::atomic<const char*> changed{nullptr};

    // Window thread.
    std::shared_ptr<recording::Recorder> current;   // recording
    std::shared_ptr<recording::Recorder> previous;  // being finished, or finished last
    QString stopReason;
    QString lastWritten;
    std::thread finisher;
    unsigned finishId = 0;  // the finish the finisher runs
    QTimer timer;
};

}  // namespace viewer
