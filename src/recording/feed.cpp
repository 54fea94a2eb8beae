// The feed of a recording and ezcap's reading loop.
#include "recording/feed.h"

#include <vector>

namespace recording {
namespace {
constexpr int kMaxMisses = 50;  // reads in a row without a frame before giving up

bool isFrame(int result) {
    return result == EZ_OK || result == EZ_CAPTURE;
}

// What changed between two frames that no longer fit one recording (a file
// holds frames of one size); null when nothing did.
const char* geometryChange(const EzFrameInfo& first, const EzFrameInfo& now) {
    if (now.resolution != first.resolution || now.x_binning != first.x_binning ||
        now.y_binning != first.y_binning)
        return "the resolution changed";
    if (now.depth != first.depth) return "the bit depth changed";
    if (now.width != first.width || now.height != first.height || now.roi_x != first.roi_x ||
        now.roi_y != first.roi_y)
        return "the region changed";
    return nullptr;
}
}  // namespace

Feed::Feed(Recorder& recorder, FeedLength length) : recorder_(recorder), length_(length) {}

Feed::~Feed() {
    if (lent_) recorder_.release(lent_);
}

bool Feed::timeUp(Clock::time_point now) const {
    const Clock::rep first = firstAt_;
    return length_.seconds > 0 && first != 0 &&
           now - Clock::time_point(Clock::duration(first)) >=
               std::chrono::duration<double>(length_.seconds);
}

bool Feed::ended() const {
    return full_ || change_.load() || timeUp(Clock::now()) || !recorder_.ok();
}

unsigned char* Feed::lend() {
    if (!lent_ && !ended()) lent_ = recorder_.claim();
    return lent_;
}

void Feed::frameRead(int result, const unsigned char* frame, const EzFrameInfo& info) {
    unsigned char* lent = frame == lent_ ? lent_ : nullptr;
    if (lent) lent_ = nullptr;
    const auto giveBack = [&] {
        if (lent) recorder_.release(lent);
    };
    if (ended()) return giveBack();
    if (result == EZ_EIO) {
        recorder_.readerLoss(info);
        return giveBack();
    }
    // Other results are frames a calibration step took (the defect search,
    // the fluorescence guide): no picture of the stream.
    if (!isFrame(result)) return giveBack();

    const Clock::time_point now = Clock::now();
    if (taken_ == 0) {
        first_ = info;
        firstAt_ = now.time_since_epoch().count();
    } else if (const char* why = geometryChange(first_, info)) {
        change_ = why;
        return giveBack();
    } else if (timeUp(now)) {
        return giveBack();
    }
    if (lent)
        recorder_.commit(lent, info);
    else
        recorder_.push(frame, info);  // copied, or counted as dropped: never waits on the disk
    if (++taken_ == length_.frames) full_ = true;
}

bool feedFromCamera(const std::string& camera, Feed& feed, Recorder& recorder,
                    const std::atomic<bool>* stop, const Progress& progress, double every,
                    std::string& message) {
    using Clock = std::chrono::steady_clock;
    const char* name = camera.c_str();
    const int size = RecvMemSize(name);
    if (size <= 0) {
        message = "camera " + camera + " is gone";
        return false;
    }
    // Frames that find the queue full are read here and counted as dropped,
    // so the stream goes on.
    std::vector<unsigned char> spare(static_cast<size_t>(size));
    const auto start = Clock::now();
    auto nextReport = start;
    int misses = 0;
    while (!feed.ended() && !(stop && *stop)) {
        if (progress && Clock::now() >= nextReport) {
            progress(recorder.counts(), std::chrono::duration<double>(Clock::now() - start).count());
            nextReport += std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(every));
        }
        unsigned char* lent = feed.lend();
        unsigned char* buffer = lent ? lent : spare.data();
        EzFrameInfo info{};
        const int result = GetRawDataInfo(buffer, size, &info, name);
        feed.frameRead(result, buffer, info);
        if (isFrame(result)) {
            misses = 0;
        } else if (result == EZ_EIO && ++misses >= kMaxMisses) {
            message = "no frame in " + std::to_string(kMaxMisses) + " reads from " + camera;
            return false;
        } else if (result == EZ_ENOCAM || result == EZ_ERANGE) {
            message = result == EZ_ENOCAM ? "camera " + camera + " is gone"
                                          : "frame buffer too small for " + camera;
            return false;
        }
    }
    return true;
}

}  // namespace recording
