// Taking a calibration master from the live view's frames. The grab thread
// hands every frame it reads, with its information, to the master being
// taken; the window thread begins the master, follows its count and has it
// finished (stacked and stored) on a thread of its own, so neither waits on
// the other. Live view is left as it was found: a master asked for while live
// view is off runs it for its frames and stops it again, and the camera is
// never suspended.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "ezcam.h"

namespace viewer {

class MasterTaker : public QObject {
    Q_OBJECT
  public:
    // How the taker reaches the live view (window thread). set(false) stops
    // only a live view that nothing else needs.
    struct Live {
        std::function<bool()> running;
        std::function<void(bool on)> set;
    };

    explicit MasterTaker(Live live, QObject* parent = nullptr);
    ~MasterTaker() override;  // a master being taken is dropped, a finish awaited

    // ---- Window thread ------------------------------------------------------
    // "dark", "flat" or "bias".
    static QString kindName(int kind);
    // Why a master of `kind` (EZ_MASTER_*) cannot be taken from `camera` now;
    // empty when it can.
    static QString refusal(const std::string& camera, int kind);
    // Begins a master of `kind` from `frames` frames; false, with the reason
    // in `error`, when it cannot begin. progressed() and finished() follow.
    bool start(const std::string& camera, int kind, const QString& label, int frames,
               QString& error);
    // Ends a master whose frames are still being taken; finished(false, why)
    // follows. A master already being stacked is stored all the same.
    void cancel(const QString& why);
    // Live view has ended: a master still taking frames fails with `why`.
    void liveEnded(const QString& why);
    // Cancels, and waits for a master being stacked (shut-down).
    void stopAndWait();
    // Begun and not yet finished.
    bool busy() const { return state != State::Idle; }
    // While on, every live frame is read with its information, so that the
    // calibration matches its masters to the latest frame.
    void describeFrames(bool on) { describing = on; }

    // ---- Grab thread --------------------------------------------------------
    // Whether frames are wanted with their information now.
    bool wantsFrames() const { return describing || feeding; }
    // One read of the grab thread: its result and, for a frame (0 or 1), the
    // buffer and the frame's information.
    void frameRead(int result, const unsigned char* frame, const EzFrameInfo& info);

  signals:
    void progressed(int taken, int frames);
    // The master is stored (`text` names its file) or not (`text` says why).
    void finished(bool stored, const QString& text);

  private:
    enum class State { Idle, Taking, Stacking };
    void framesTaken(unsigned take);
    void failed(unsigned take, const QString& why);
    void stacked(unsigned take, int result, const QString& text);
    void giveBackLive();

    Live live;
    State state = State::Idle;
    bool startedLive = false;  // this master started the live view
    std::thread stacker;

    // Shared with the grab thread.
    std::mutex feedLock;
    std::atomic<bool> feeding{false};
    std::atomic<bool> describing{false};
    std::string camera;
    int kind = EZ_MASTER_DARK;
    int wanted = 0;
    int taken = 0;
    int64_t beganNs = 0;        // frames exposed before this are not taken
    int64_t previousEndNs = 0;  // when the frame before the newest ended
    unsigned take = 0;    // counts masters begun; stale news is dropped
};

}  // namespace viewer
