// Live view of the selected camera: the Live button with the frame rate
// beside it and a long exposure's progress, the frame buffers, the grab and
// show threads, and the watch that says when the camera goes quiet. Each
// shown frame goes to the picture; the parts added as readers see every raw
// frame on the grab thread, those added as viewers every shown frame on the
// show thread. Everything else runs on the window's thread, and the threads
// reach it only through queued calls.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <vector>

#include "ezcam.h"
#include "viewer/live/frame_watch.h"
#include "viewer/live/grab_context.h"
#include "viewer/live/live_threads.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace viewer {

class LiveView;
class SelectedCamera;
class StatusLine;

// Exposures from this long on show their progress in the status line.
inline constexpr float kLongExposureMs = 500;

class LiveController : public QObject {
    Q_OBJECT
  public:
    // A part that takes the raw frames (grab thread): a raw recording, a
    // calibration master.
    struct FrameReader {
        // Whether it wants the frame now, read with its information.
        std::function<bool()> wantsFrames;
        // One read: its result and, for a frame (0 or 1), the buffer and the
        // frame's information.
        std::function<void(int result, const unsigned char* frame, const EzFrameInfo& info)>
            frameRead;
    };
    // A part that takes each shown frame (show thread): the movie.
    using FrameViewer = std::function<void(const DisplayFrame& frame)>;

    LiveController(const SelectedCamera& camera, StatusLine& status, LiveView& view,
                   QObject* parent = nullptr);

    QPushButton* button() const { return btnLive; }
    QLabel* rateText() const { return txtFPS; }
    QProgressBar* exposureProgress() const { return prgExposure; }

    // Before live view starts; kept for every run.
    void addReader(FrameReader reader);
    void addViewer(FrameViewer viewer);

    // Frame buffers for the selected camera; false when there is no memory
    // for them. Only while live view is off.
    bool openBuffers();
    void releaseBuffers();
    bool ready() const { return ctxGrab.ready(); }
    // A camera is loaded: Live can be pressed.
    void setCameraLoaded(bool on);

    bool running() const { return live.started(); }
    // The Live button: starts live view, or asks its threads to stop (ended()
    // follows once they have).
    void toggle();
    // Shut-down: stops the threads and waits until they have left every
    // camera call; ended() does not follow.
    void stopAndWait();

    // Milliseconds the last ten shown frames took; 0 before any were.
    int frameIntervalMs() const { return dustm; }
    // A copy of the newest complete raw frame; empty before one arrived.
    std::vector<unsigned char> newestFrame() { return ctxGrab.newestFrame(); }

  signals:
    // Live view started or finished: the camera list is locked meanwhile.
    void runningChanged(bool on);
    // The camera's own capture button asks for a still.
    void captureRequested();
    // Ten more frames were shown (frameIntervalMs() has their time).
    void rateMeasured();
    // Live view has ended and its threads are gone.
    void ended();

  private:
    const char* cam() const;
    void finish();
    void threadsEnded();
    void showExposureProgress();

    const SelectedCamera& camera;
    StatusLine& status;
    LiveView& view;
    std::vector<FrameReader> readers;
    std::vector<FrameViewer> viewers;
    int dustm = 0;
    GenericGrabContext ctxGrab;
    LiveThreads live;
    // When the newest live frame arrived, for the exposure's progress and to
    // say when the camera goes quiet.
    FrameWatch watch;
    QTimer exposureTimer;

    QPushButton* btnLive;       // "Live" / "Stop"
    QLabel* txtFPS;             // frame rate
    QProgressBar* prgExposure;  // a long exposure in flight
};

}  // namespace viewer
