// The movie being recorded from the live view: the recorder, opened and closed
// on the window's thread and fed by the show thread, and the clock that keeps
// the movie's playback speed equal to the live speed.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recording/movie_recorder.h"
#include "viewer/live/display_frame.h"

namespace viewer {

// Frames are stamped n / fps. A frame shown at time t is appended as often as
// it takes to bring the movie to t: none when the live view runs ahead of the
// rate, repeats when display (or encoding) falls behind it.
class MovieClock {
  public:
    using Clock = std::chrono::steady_clock;
    // Repeats beyond this many per frame are time the movie skips.
    static constexpr int kMaxCopiesSeconds = 1;

    explicit MovieClock(int fps = kDefaultMovieFps) : fps(fps) {}
    // How many times to append the frame shown at `now`.
    int copiesFor(Clock::time_point now);
    int appended() const { return count; }

  private:
    int fps;
    int count = 0;
    Clock::time_point origin{};
};

class MovieSession {
  public:
    using LogSink = ezRecorder::LogSink;

    // Starts a movie of width x height at `fps`. False, with the reason in
    // lastError, when it could not be started.
    bool start(const std::string& path, int width, int height, int channels, int fps,
               LogSink sink = {});
    // Finishes the movie; waits for an append in progress. Safe to call twice.
    void stop();
    bool recording() const { return bSaveVideo; }
    std::string lastError() const;
    std::string path() const;

    // Show thread: one displayed frame, shown at `now`.
    void frameShown(const DisplayFrame& frame, MovieClock::Clock::time_point now);

  private:
    std::atomic<bool> bSaveVideo{false};
    mutable std::mutex lock;  // guards everything below
    std::unique_ptr<ezRecorder> recorder;
    MovieClock clock;
    std::string error;
    std::string moviePath;
    std::vector<unsigned char> eightBits;  // a 16-bit frame's high bytes
};

}  // namespace viewer
