// The movie being recorded from the live view.
#include "viewer/capture/movie_session.h"

#include <cmath>

namespace viewer {

int MovieClock::copiesFor(Clock::time_point now) {
    if (count == 0) {
        origin = now;
        count = 1;
        return 1;
    }
    const double seconds = std::chrono::duration<double>(now - origin).count();
    const long due = 1 + std::lround(seconds * fps);
    long copies = due - count;
    if (copies <= 0) return 0;
    const long most = long{kMaxCopiesSeconds} * fps;
    if (copies > most) {
        // The live view stalled: skip the lost time instead of filling it.
        origin += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(double(copies - most) / fps));
        copies = most;
    }
    count += static_cast<int>(copies);
    return static_cast<int>(copies);
}

bool MovieSession::start(const std::string& path, int width, int height, int channels, int fps,
                         LogSink sink) {
    std::lock_guard guard(lock);
    if (recorder) {
        error = "a movie is already being recorded";
        return false;
    }
    auto opened = std::make_unique<ezRecorder>();
    if (sink) opened->SetLogSink(std::move(sink));
    if (!opened->OpenRecorder(path, width, height, channels, fps)) {
        error = opened->LastError();
        return false;
    }
    recorder = std::move(opened);
    clock = MovieClock(fps);
    error.clear();
    moviePath = path;
    bSaveVideo = true;
    return true;
}

void MovieSession::stop() {
    bSaveVideo = false;
    std::lock_guard guard(lock);
    if (!recorder) return;
    if (!recorder->CloseRecorder()) error = recorder->LastError();
    recorder.reset();
}

std::string MovieSession::lastError() const {
    std::lock_guard guard(lock);
    return error;
}

std::string MovieSession::path() const {
    std::lock_guard guard(lock);
    return moviePath;
}

void MovieSession::frameShown(const DisplayFrame& frame, MovieClock::Clock::time_point now) {
    if (!bSaveVideo) return;
    std::lock_guard guard(lock);
    if (!recorder) return;
    const int copies = clock.copiesFor(now);
    if (copies <= 0) return;
    const unsigned char* pixels = eightBitPixels(frame, eightBits);
    for (int n = copies; n > 0; --n)
        if (!recorder->AppendSampleBuffer(pixels, frame.width, frame.height, frame.channels)) break;
}

}  // namespace viewer
