// The recorder's queue and its writing thread.
#include "recording/recorder.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>

namespace recording {
namespace {
constexpr size_t kMinFrames = 2;
constexpr size_t kMaxFrames = 1024;
// How often what was written is declared in the file (at most this much is
// lost to a kill).
constexpr std::chrono::seconds kCheckpointEvery{1};

size_t sampleBytes(const _ezImage& record) {
    return static_cast<size_t>(record.stride) * record.height;
}

// A writer that throws (memory, a file library) fails the recording as a
// failed write does instead of ending the program from this thread.
template <typename Write>
bool attempt(std::string& why, Write&& write) {
    try {
        return write();
    } catch (const std::exception& e) {
        why = e.what();
    } catch (...) {
        why = "the writer failed";
    }
    return false;
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
        sequence_.calibration = setup_.calibration;
        sequence_.expectedFrames = setup_.expectedFrames;
        sequence_.frameType = setup_.frameType;
        sequence_.samplePixelUm = setup_.samplePixelUm;
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
    ++(failed_ ? counts_.failed : counts_.dropped);
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

bool Recorder::roomFor(const Sequence& sequence, std::string& why) const {
    if (setup_.expectedFrames == 0) return true;
    const std::filesystem::path folder = std::filesystem::absolute(setup_.path).parent_path();
    struct statvfs disk {};
    if (::statvfs(folder.c_str(), &disk) != 0) return true;  // not known: the writes will tell
    const double free = static_cast<double>(disk.f_bavail) * static_cast<double>(disk.f_frsize);
    // The samples alone, a bound no container goes below.
    const double need = static_cast<double>(setup_.expectedFrames) *
                        static_cast<double>(sequence.frameBytes());
    if (free >= need) return true;
    char text[160];
    std::snprintf(text, sizeof text, ": %llu frames need %.1f MB, %.1f MB are free",
                  static_cast<unsigned long long>(setup_.expectedFrames), need / 1e6, free / 1e6);
    why = "not enough free space in " + folder.string() + text;
    return false;
}

void Recorder::run() {
    using Clock = std::chrono::steady_clock;
    bool begun = false;
    bool closed = false;     // the writer has completed the file
    bool undeclared = false;  // frames written since the last checkpoint
    Clock::time_point lastCheckpoint;
    int64_t utcAnchor = 0;
    int64_t monotonicAnchor = 0;

    // Writing failed: the recording ends at once, later frames only count,
    // and the file is completed with what it holds.
    const auto fail = [&](std::unique_lock<std::mutex>& guard, const std::string& why) {
        if (!failed_) {
            failed_ = true;
            error_ = why;
        }
        guard.unlock();
        std::string closing;
        const bool completed = attempt(closing, [&] { return writer_->finish(closing); });
        closed = true;
        guard.lock();
        finishOk_ = completed;
        if (!completed && !closing.empty() && closing != error_) error_ += "; " + closing;
    };
    const auto declare = [&](std::string& why) {
        lastCheckpoint = Clock::now();
        undeclared = false;
        return attempt(why, [&] { return writer_->checkpoint(why); });
    };

    std::unique_lock guard(lock_);
    for (;;) {
        const bool woken = wake_.wait_for(guard, kCheckpointEvery,
                                          [this] { return stopping_ || !filled_.empty(); });
        if (!woken) {
            // Nothing came for a while: what was written is declared.
            if (!undeclared || failed_) continue;
            guard.unlock();
            std::string why;
            const bool declared = declare(why);
            guard.lock();
            if (!declared) fail(guard, why);
            continue;
        }
        if (filled_.empty()) break;
        Entry entry = filled_.front();
        filled_.pop_front();
        const bool writing = !failed_;
        const Sequence sequence = sequence_;
        guard.unlock();

        std::string why;
        bool wrote = false;
        bool declared = true;
        if (writing) {
            if (!begun) {
                begun = roomFor(sequence, why) &&
                        attempt(why, [&] { return writer_->begin(sequence, why); });
                utcAnchor = entry.info.utc_ns;
                monotonicAnchor = entry.info.monotonic_ns;
            }
            // One wall-clock reading anchors the recording; the monotonic
            // clock times every frame from it, so a clock step cannot put
            // frames out of order.
            EzFrameInfo info = entry.info;
            info.utc_ns = utcAnchor + (info.monotonic_ns - monotonicAnchor);
            const auto& record = *reinterpret_cast<const _ezImage*>(entry.buffer);
            wrote = begun && attempt(why, [&] {
                        return writer_->write(entry.buffer + record.header_size, info, why);
                    });
            // The first frame is declared at once, later ones once a second.
            if (wrote && (lastCheckpoint == Clock::time_point{} ||
                          Clock::now() - lastCheckpoint >= kCheckpointEvery))
                declared = declare(why);
            else if (wrote)
                undeclared = true;
            if (setup_.afterWrite) setup_.afterWrite();
        }

        guard.lock();
        if (begun && written_.empty()) written_ = writer_->written();
        --counts_.queued;
        if (wrote) {
            ++counts_.recorded;
            counts_.bytes += sequence.frameBytes();
        } else {
            ++counts_.failed;
        }
        free_.push_back(entry.buffer);
        if (writing && (!wrote || !declared)) fail(guard, why);
    }
    guard.unlock();
    if (closed) return;
    std::string why;
    const bool completed = attempt(why, [&] { return writer_->finish(why); });
    guard.lock();
    if (!completed && error_.empty()) error_ = why;
    finishOk_ = completed;
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
