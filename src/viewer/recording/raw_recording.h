// A raw recording from the live view: the grab thread hands every frame it
// reads, with its metadata, to the recording's feed (the one ezcap uses),
// whose recorder writes on a thread of its own; the window's thread starts
// it, watches it on a timer and has it finished off its own thread, so
// neither waits on the disk.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "recording/feed.h"
#include "recording/recorder.h"

namespace viewer {

// How long a recording runs: a number of frames or a duration, whichever is
// set (0: not set).
using RawLength = recording::FeedLength;

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
    // buffer and the frame's metadata, for the feed (which copies the frame
    // into the recorder's queue or counts it as dropped).
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
    std::unique_ptr<recording::Feed> feed;  // of `current`
    std::atomic<bool> feeding{false};

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
