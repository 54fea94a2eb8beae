// The grabbing loop of a recording.
#include "recording/camera_feed.h"

#include <chrono>
#include <vector>

namespace recording {
namespace {
constexpr int kMaxMisses = 50;  // reads in a row without a frame before giving up
}

bool feedFromCamera(const std::string& camera, Recorder& recorder, const FeedLimits& limits,
                    const std::atomic<bool>* stop, const Progress& progress, double every,
                    std::string& message) {
    using Clock = std::chrono::steady_clock;
    const char* name = camera.c_str();
    const int size = RecvMemSize(name);
    if (size <= 0) {
        message = "camera " + camera + " is gone";
        return false;
    }
    std::vector<unsigned char> spare(static_cast<size_t>(size));
    const auto start = Clock::now();
    auto nextReport = start;
    uint64_t frames = 0;
    int misses = 0;
    for (;;) {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (progress && Clock::now() >= nextReport) {
            progress(recorder.counts(), seconds);
            nextReport += std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(every));
        }
        if ((limits.frames && frames >= limits.frames) ||
            (limits.seconds > 0 && seconds >= limits.seconds) || (stop && *stop))
            return true;

        unsigned char* buffer = recorder.claim();
        EzFrameInfo info{};
        const int result = GetRawDataInfo(buffer ? buffer : spare.data(), size, &info, name);
        if (result == 0 || result == 1) {
            if (buffer)
                recorder.commit(buffer, info);
            else
                recorder.drop(info);
            ++frames;
            misses = 0;
            continue;
        }
        if (buffer) recorder.release(buffer);
        if (result == -3) {
            recorder.readerLoss(info);
            if (++misses >= kMaxMisses) {
                message = "no frame in " + std::to_string(kMaxMisses) + " reads from " + camera;
                return false;
            }
        } else if (result == -1 || result == -2) {
            message = result == -1 ? "camera " + camera + " is gone"
                                   : "frame buffer too small for " + camera;
            return false;
        }
        // Other results are frames a calibration step took (the defect
        // search, the fluorescence guide): no picture of the stream.
    }
}

}  // namespace recording
