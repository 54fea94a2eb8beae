#include "frame_grabber.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include "sdk_messages.h"

namespace ezindi {

const unsigned char* Frame::pixels() const {
    _ezImage record;
    std::memcpy(&record, buffer.data(), sizeof record);
    return buffer.data() + record.header_size;
}

void Frame::copyPixels(unsigned char* out) const {
    const size_t row = static_cast<size_t>(width) * (depth / 8);
    const unsigned char* in = pixels();
    for (int y = 0; y < height; ++y) std::memcpy(out + row * y, in + static_cast<size_t>(stride) * y, row);
}

FrameGrabber::FrameGrabber(std::string camera, std::function<void()> wake)
    : camera_(std::move(camera)), wake_(std::move(wake)), thread_([this] { run(); }) {}

FrameGrabber::~FrameGrabber() {
    {
        std::lock_guard lock(mutex_);
        cancel_ = true;
        mode_ = Mode::Quit;
    }
    changed_.notify_all();
    thread_.join();
}

void FrameGrabber::expose(double exposure_ms, int timeout_ms) {
    stop();
    {
        std::lock_guard lock(mutex_);
        exposureMs_ = exposure_ms;
        timeoutMs_ = timeout_ms;
        finished_.reset();
        cancel_ = false;
        mode_ = Mode::Expose;
    }
    changed_.notify_all();
}

void FrameGrabber::stream(Sink sink) {
    stop();
    {
        std::lock_guard lock(mutex_);
        sink_ = std::move(sink);
        cancel_ = false;
        mode_ = Mode::Stream;
    }
    changed_.notify_all();
}

void FrameGrabber::stop() {
    std::unique_lock lock(mutex_);
    if (mode_ == Mode::Quit) return;
    cancel_ = true;
    changed_.wait(lock, [this] { return mode_ == Mode::Idle; });
    cancel_ = false;
}

std::optional<Exposure> FrameGrabber::takeExposure() {
    std::lock_guard lock(mutex_);
    std::optional<Exposure> result;
    result.swap(finished_);
    return result;
}

void FrameGrabber::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return mode_ != Mode::Idle; });
        const Mode mode = mode_;
        if (mode == Mode::Quit) break;
        lock.unlock();
        clearSdkMessage();
        // A stream that starts afresh gives frames exposed after the request.
        ResumeDevice(camera_.c_str());
        std::optional<Exposure> exposure;
        if (mode == Mode::Expose)
            exposure = readExposure();
        else
            readStream();
        SuspendDevice(camera_.c_str());
        lock.lock();
        if (exposure && !cancel_) finished_ = std::move(exposure);
        if (mode_ == Mode::Quit) break;
        mode_ = Mode::Idle;
        changed_.notify_all();
        if (finished_) {
            lock.unlock();
            wake_();
            lock.lock();
        }
    }
}

int FrameGrabber::read(Frame& frame) {
    const int size = RecvMemSize(camera_.c_str());
    if (size <= 0) return EZ_ENOCAM;
    if (frame.buffer.size() < static_cast<size_t>(size)) frame.buffer.resize(size);
    const int result = GetRawDataInfo(frame.buffer.data(), static_cast<int>(frame.buffer.size()),
                                      &frame.info, camera_.c_str());
    if (result == EZ_OK || result == EZ_CAPTURE) {
        _ezImage record;
        std::memcpy(&record, frame.buffer.data(), sizeof record);
        frame.width = record.width;
        frame.height = record.height;
        frame.depth = record.depth;
        frame.stride = record.stride;
    }
    return result;
}

Exposure FrameGrabber::readExposure() {
    Exposure exposure;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(exposureMs_) + timeoutMs_);
    int lastFailure = EZ_EIO;
    while (!cancel_) {
        const int result = read(exposure.frame);
        if (result == EZ_OK || result == EZ_CAPTURE) {
            // A frame exposed before the new exposure time took hold is not the one asked for.
            const double taken = exposure.frame.info.exposure_ms;
            if (std::fabs(taken - exposureMs_) <= std::max(0.02 * exposureMs_, 0.5) ||
                std::fabs(GetExposure(camera_.c_str()) - taken) < 1e-3) {
                exposure.ok = true;
                return exposure;
            }
            continue;
        }
        if (result == EZ_ENOCAM) {
            exposure.error = describeFailure("the camera is gone", result);
            return exposure;
        }
        lastFailure = result;
        if (Clock::now() > deadline) {
            exposure.error = describeFailure("no frame from the camera in time", lastFailure);
            return exposure;
        }
    }
    return exposure;
}

void FrameGrabber::readStream() {
    Frame frame;
    while (!cancel_) {
        const int result = read(frame);
        if (result == EZ_OK || result == EZ_CAPTURE)
            sink_(frame);
        else if (result == EZ_ENOCAM)
            return;
    }
}

}  // namespace ezindi
