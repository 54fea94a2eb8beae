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
        ++job_;
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void FrameGrabber::submit(Mode mode) {
    ++job_;
    mode_ = mode;
    finished_.reset();
    changed_.notify_all();
}

void FrameGrabber::expose(double exposure_ms, int timeout_ms) {
    std::lock_guard lock(mutex_);
    exposureMs_ = exposure_ms;
    timeoutMs_ = timeout_ms;
    submit(Mode::Expose);
}

void FrameGrabber::stream(Sink sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
    submit(Mode::Stream);
}

void FrameGrabber::cancel() {
    std::lock_guard lock(mutex_);
    submit(Mode::Idle);
}

bool FrameGrabber::cancelled(uint64_t job) {
    std::lock_guard lock(mutex_);
    return job != job_;
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
        changed_.wait(lock, [this] { return quit_ || mode_ != Mode::Idle; });
        if (quit_) break;
        const uint64_t job = job_;
        const Mode mode = mode_;
        const double exposureMs = exposureMs_;
        const int timeoutMs = timeoutMs_;
        const Sink sink = sink_;
        lock.unlock();
        clearSdkMessage();
        // A stream that starts afresh gives frames exposed after the request.
        ResumeDevice(camera_.c_str());
        std::optional<Exposure> exposure;
        if (mode == Mode::Expose)
            exposure = readExposure(job, exposureMs, timeoutMs);
        else
            readStream(job, sink);
        SuspendDevice(camera_.c_str());
        lock.lock();
        if (job != job_) continue;  // cancelled, or something else asked meanwhile
        mode_ = Mode::Idle;
        if (exposure) {
            finished_ = std::move(exposure);
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

Exposure FrameGrabber::readExposure(uint64_t job, double exposureMs, int timeoutMs) {
    Exposure exposure;
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(exposureMs) + timeoutMs);
    int lastFailure = EZ_EIO;
    while (!cancelled(job)) {
        const int result = read(exposure.frame);
        if (result == EZ_OK || result == EZ_CAPTURE) {
            // A frame exposed before the new exposure time took hold is not the one asked for.
            const double taken = exposure.frame.info.exposure_ms;
            if (std::fabs(taken - exposureMs) <= std::max(0.02 * exposureMs, 0.5)) {
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

void FrameGrabber::readStream(uint64_t job, const Sink& sink) {
    Frame frame;
    while (!cancelled(job)) {
        const int result = read(frame);
        if (result == EZ_OK || result == EZ_CAPTURE)
            sink(frame);
        else if (result == EZ_ENOCAM)
            return;
    }
}

}  // namespace ezindi
