// The recorder's queue and its writing thread.
#include "recording/recorder.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace recording {
namespace {
constexpr size_t kMinFrames = 2;
constexpr size_t kMaxFrames = 1024;

size_t sampleBytes(const _ezImage& record) {
    return static_cast<size_t>(record.stride) * record.height;
}
}  // namespace

Recorder::Recorder(RecorderSetup setup) : setup_(std::move(setup)) {
    writer_ = makeWriter(setup_.format, setup_.path);
    const std::filesystem::path folder =
        std::filesystem::absolute(setup_.path).parent_path();
    if (setup_.frameBufferBytes < sizeof(_ezImage)) {
        error_ = "no frame buffer size";
    } else if (setup_.path.empty() || ::access(folder.c_str(), W_OK) != 0) {
        error_ = "cannot write to " + (setup_.path.empty() ? std::string("''") : folder.string());
    }
    if (!error_.empty()) {
        failed_ = true;
        return;
    }
    const size_t frames =
        std::clamp(setup_.queueBytes / setup_.frameBufferBytes, kMinFrames, kMaxFrames);
    for (size_t i = 0; i < frames; ++i) {
        // Left uninitialised: the memory is touched only as frames arrive.
        buffers_.emplace_back(new unsigned char[setup_.frameBufferBytes]);
        free_.push_back(buffers_.back().get());
    }
    thread_ = std::thread([this] { run(); });
}

Recorder::~Recorder() {
    finish();
}

bool Recorder::ok() const {
    std::lock_guard guard(lock_);
    return !failed_;
}

unsigned char* Recorder::claim() {
    std::lock_guard guard(lock_);
    if (failed_ || stopping_ || free_.empty()) return nullptr;
    unsigned char* buffer = free_.back();
    free_.pop_back();
    return buffer;
}

void Recorder::commit(unsigned char* buffer, const EzFrameInfo& info) {
    std::lock_guard guard(lock_);
    offered(info);
    std::string why;
    if (!usable(buffer, why)) {
        ++counts_.rejected;
        if (error_.empty()) error_ = why;
        free_.push_back(buffer);
        return;
    }
    if (!haveSequence_) {
        const auto& record = *reinterpret_cast<const _ezImage*>(buffer);
        sequence_.width = record.width;
        sequence_.height = record.height;
        sequence_.depth = record.depth;
        sequence_.bayer = info.bayer;
        sequence_.instrument = setup_.instrument;
        sequence_.pixelClock = setup_.pixelClock;
        sequence_.expectedFrames = setup_.expectedFrames;
        haveSequence_ = true;
    }
    filled_.push_back({buffer, info});
    ++counts_.queued;
    wake_.notify_one();
}

void Recorder::release(unsigned char* buffer) {
    std::lock_guard guard(lock_);
    free_.push_back(buffer);
}

bool Recorder::push(const unsigned char* frame, const EzFrameInfo& info) {
    // Only what the record describes is copied; a record claiming more than a
    // frame buffer holds is left out without being read.
    const auto& record = *reinterpret_cast<const _ezImage*>(frame);
    const size_t bytes = record.header_size + sampleBytes(record);
    if (bytes > setup_.frameBufferBytes) {
        std::lock_guard guard(lock_);
        offered(info);
        ++counts_.rejected;
        return false;
    }
    unsigned char* buffer = claim();
    if (!buffer) {
        drop(info);
        return false;
    }
    std::memcpy(buffer, frame, bytes);
    commit(buffer, info);
    return true;
}

void Recorder::drop(const EzFrameInfo& info) {
    std::lock_guard guard(lock_);
    offered(info);
    ++counts_.dropped;
}

void Recorder::readerLoss(const EzFrameInfo& info) {
    std::lock_guard guard(lock_);
    if (!haveFirst_) {
        haveFirst_ = true;
        lostAtStart_ = info.frames_lost > 0 ? info.frames_lost - 1 : 0;
    }
    counts_.readerLost = std::max(counts_.readerLost, info.frames_lost - lostAtStart_);
}

void Recorder::offered(const EzFrameInfo& info) {
    ++counts_.offered;
    // Losses before the first frame belong to no recording.
    if (!haveFirst_) {
        haveFirst_ = true;
        lostAtStart_ = info.frames_lost;
    }
    if (info.frames_lost >= lostAtStart_)
        counts_.readerLost = std::max(counts_.readerLost, info.frames_lost - lostAtStart_);
}

bool Recorder::usable(const unsigned char* frame, std::string& why) const {
    const auto& record = *reinterpret_cast<const _ezImage*>(frame);
    const bool raw = std::memcmp(record.signature, "KVEZ", 4) == 0 && record.channels == 1 &&
                     (record.depth == 8 || record.depth == 16) && record.width > 0 &&
                     record.height > 0 &&
                     record.stride == static_cast<size_t>(record.width) * (record.depth / 8) &&
                     record.header_size >= sizeof(_ezImage) &&
                     record.header_size + sampleBytes(record) <= setup_.frameBufferBytes;
    if (!raw) {
        why = "a frame without a raw image record was left out";
        return false;
    }
    if (haveSequence_ && (record.width != sequence_.width || record.height != sequence_.height ||
                          record.depth != sequence_.depth)) {
        why = "frames of another size or depth than the first were left out";
        return false;
    }
    return true;
}

void Recorder::run() {
    bool begun = false;
    int64_t utcAnchor = 0;
    int64_t monotonicAnchor = 0;
    std::unique_lock guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || !filled_.empty(); });
        if (filled_.empty()) break;
        Entry entry = filled_.front();
        filled_.pop_front();
        const bool writing = !failed_;
        const Sequence sequence = sequence_;
        guard.unlock();

        std::string why;
        bool wrote = false;
        if (writing) {
            if (!begun) {
                begun = writer_->begin(sequence, why);
                utcAnchor = entry.info.utc_ns;
                monotonicAnchor = entry.info.monotonic_ns;
            }
            // One wall-clock reading anchors the recording; the monotonic
            // clock times every frame from it, so a clock step cannot put
            // frames out of order.
            EzFrameInfo info = entry.info;
            info.utc_ns = utcAnchor + (info.monotonic_ns - monotonicAnchor);
            const auto& record = *reinterpret_cast<const _ezImage*>(entry.buffer);
            wrote = begun && writer_->write(entry.buffer + record.header_size, info, why);
            if (setup_.afterWrite) setup_.afterWrite();
        }

        guard.lock();
        if (begun && written_.empty()) written_ = writer_->written();
        --counts_.queued;
        if (wrote) {
            ++counts_.recorded;
            counts_.bytes += sequence.frameBytes();
        } else {
            ++counts_.dropped;
            if (!failed_) {
                failed_ = true;
                error_ = why;
            }
        }
        free_.push_back(entry.buffer);
    }
    guard.unlock();
    std::string why;
    const bool closed = writer_->finish(why);
    guard.lock();
    if (!closed && error_.empty()) error_ = why;
    finishOk_ = closed;
}

bool Recorder::finish() {
    {
        std::lock_guard guard(lock_);
        if (finished_) return finishOk_ && !failed_;
        finished_ = true;
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    std::lock_guard guard(lock_);
    return finishOk_ && !failed_;
}

RecordingCounts Recorder::counts() const {
    std::lock_guard guard(lock_);
    return counts_;
}

std::string Recorder::error() const {
    std::lock_guard guard(lock_);
    return error_;
}

std::string Recorder::written() const {
    std::lock_guard guard(lock_);
    return written_;
}

}  // namespace recording
