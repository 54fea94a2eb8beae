// The one way frames reach a recorder: the thread that reads the camera
// (ezcap's loop below, the viewer's grab thread) hands every read to a Feed,
// which ends the recording at its length, at a change of the frames'
// geometry, or when writing fails, and counts what the camera lost.
//
// Threads: lend() and frameRead() on the reading thread only; ended(),
// change() and taken() from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "recording/recorder.h"

namespace recording {

// How long a recording runs: a number of frames or a duration from its
// first frame, whichever is set (0: not set).
struct FeedLength {
    uint64_t frames = 0;
    double seconds = 0;
};

class Feed {
  public:
    Feed(Recorder& recorder, FeedLength length);
    ~Feed();  // gives back a buffer still lent
    Feed(const Feed&) = delete;
    Feed& operator=(const Feed&) = delete;

    // Where the next frame may be read: a free buffer of the recorder's
    // queue (handed back through frameRead, the frame goes in without a
    // copy), or null while none is free or the feed has ended.
    unsigned char* lend();
    // One read: its result (GetRawDataInfo's) and, for a frame, the buffer
    // it was read into (lent or the caller's own; the caller's is copied)
    // and its information.
    void frameRead(int result, const unsigned char* frame, const EzFrameInfo& info);

    // The length is reached, the time is up, a frame of another geometry
    // came (change() says which), or writing failed (the recorder's error()).
    bool ended() const;
    // What changed in the frames ("the resolution changed"...), or null.
    const char* change() const { return change_.load(); }
    // Frames handed to the recorder.
    uint64_t taken() const { return taken_.load(); }

  private:
    using Clock = std::chrono::steady_clock;
    bool timeUp(Clock::time_point now) const;

    Recorder& recorder_;
    const FeedLength length_;
    unsigned char* lent_ = nullptr;
    EzFrameInfo first_{};  // the first frame's geometry
    std::atomic<uint64_t> taken_{0};
    std::atomic<Clock::rep> firstAt_{0};  // steady clock ticks; 0: no frame yet
    std::atomic<bool> full_{false};       // the frames asked for are taken
    std::atomic<const char*> change_{nullptr};
};

using Progress = std::function<void(const RecordingCounts& counts, double seconds)>;

// ezcap's reading loop: reads `camera` into the feed until it ends, `stop`
// is set, or the camera fails (false, and `message` says why). The recorder
// is not finished here. `progress`, if given, is called on this thread
// about every `every` seconds.
bool feedFromCamera(const std::string& camera, Feed& feed, Recorder& recorder,
                    const std::atomic<bool>* stop, const Progress& progress, double every,
                    std::string& message);

}  // namespace recording
