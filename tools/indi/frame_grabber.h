// The thread that reads a camera's frames for one INDI device: a single
// exposure, or a stream of frames handed to a sink. The INDI side stays on
// the driver's main thread; the grabber only tells it that something is
// ready (the wake function) and hands over the result there.
#pragma once

#include <atomic>
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

    // Starts a fresh stream and keeps the first frame exposed for
    // exposure_ms; waits at most timeout_ms beyond the exposure.
    void expose(double exposure_ms, int timeout_ms);
    // Hands every frame to the sink (on the grabber's thread) until stopped.
    void stream(Sink sink);
    // Ends what runs and waits until the thread is idle; the camera's
    // stream is suspended.
    void stop();
    // Asks what runs to end, without waiting for it.
    void cancel() { cancel_ = true; }
    bool busy() const { return mode_ != Mode::Idle; }
    // The finished exposure, once.
    std::optional<Exposure> takeExposure();

  private:
    enum class Mode { Idle, Expose, Stream, Quit };
    void run();
    Exposure readExposure();
    void readStream();
    int read(Frame& frame);

    const std::string camera_;
    const std::function<void()> wake_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<Mode> mode_{Mode::Idle};
    std::atomic<bool> cancel_{false};
    double exposureMs_ = 0;
    int timeoutMs_ = 0;
    Sink sink_;
    std::optional<Exposure> finished_;
    std::thread thread_;
};

}  // namespace ezindi
