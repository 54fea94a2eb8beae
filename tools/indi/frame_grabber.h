// The thread that reads a camera's frames for one INDI device: a single
// exposure, or a stream of frames handed to a sink. The INDI side stays on
// the driver's main thread; the grabber only tells it that something is
// ready (the wake function) and hands over the result there.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ezcam.h"

namespace ezindi {

// One frame as read: the SDK's buffer (image record, then the pixels) and
// what the SDK knew of it.
struct Frame {
    std::vector<unsigned char> buffer;
    EzFrameInfo info{};
    int width = 0;
    int height = 0;
    int depth = 8;
    int stride = 0;
    const unsigned char* pixels() const;
    // The rows without their padding, as INDI wants a frame buffer.
    void copyPixels(unsigned char* out) const;
    size_t pixelBytes() const { return static_cast<size_t>(width) * height * (depth / 8); }
};

struct Exposure {
    bool ok = false;
    Frame frame;
    std::string error;  // why it failed, with the SDK's words
};

class FrameGrabber {
  public:
    using Sink = std::function<void(const Frame&)>;

    FrameGrabber(std::string camera, std::function<void()> wake);
    ~FrameGrabber();
    FrameGrabber(const FrameGrabber&) = delete;
    FrameGrabber& operator=(const FrameGrabber&) = delete;

    // None of these wait for the thread: a read in flight ends on its own
    // (within a frame time) and the thread then takes up what was asked last.

    // Starts a fresh stream and keeps the first frame exposed for
    // exposure_ms; waits at most timeout_ms beyond the exposure.
    void expose(double exposure_ms, int timeout_ms);
    // Hands every frame to the sink (on the grabber's thread) until cancelled.
    void stream(Sink sink);
    // Ends what runs; the camera's stream is suspended when it has ended.
    void cancel();
    // The finished exposure, once.
    std::optional<Exposure> takeExposure();

  private:
    enum class Mode { Idle, Expose, Stream };
    void submit(Mode mode);
    void run();
    bool cancelled(uint64_t job);
    Exposure readExposure(uint64_t job, double exposure_ms, int timeout_ms);
    void readStream(uint64_t job, const Sink& sink);
    int read(Frame& frame);

    const std::string camera_;
    const std::function<void()> wake_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Every request is a new job; a job whose number is no longer the
    // latest has been cancelled.
    uint64_t job_ = 0;
    Mode mode_ = Mode::Idle;
    bool quit_ = false;
    double exposureMs_ = 0;
    int timeoutMs_ = 0;
    Sink sink_;
    std::optional<Exposure> finished_;
    std::thread thread_;
};

}  // namespace ezindi
