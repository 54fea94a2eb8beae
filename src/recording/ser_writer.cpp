// SER sequences: a 178-byte header, the frames as they are, and a trailer
// of one UTC time per frame.
//
// Each frame is declared before it is written: the file grows by the
// frame, the header's count takes it in (one rewrite in place), and then
// the samples fill it. A killed recording is a SER file of the frames
// declared, the last one perhaps cut short, and of nothing else (no
// stray bytes a reader would take for a trailer). The trailer can only
// follow the last frame: until the recording is finished each frame's
// record goes to the journal once its samples are in, and
// `ezcap repair` writes the trailer from it.
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "processing/bayer.h"
#include "recording/frame_record.h"
#include "recording/out_file.h"
#include "recording/writers.h"

namespace recording {
namespace {

constexpr size_t kHeaderBytes = 178;
constexpr size_t kCountAt = 38;
// Times count 100 ns ticks from 0001-01-01; this many lie before 1970-01-01.
constexpr int64_t kTicksBefore1970 = 621'355'968'000'000'000;

int64_t ticks(int64_t unixNanoseconds) {
    return kTicksBefore1970 + unixNanoseconds / 100;
}

// The header's colour code of a Bayer code: its pattern's number (0 mono).
int32_t colourId(int bayer) {
    const std::string pattern = bayer::patternName(bayer);
    static const char* const kPatterns[] = {"RGGB", "GRBG", "GBRG", "BGGR"};  // 8, 9, 10, 11
    for (int32_t i = 0; i < 4; ++i)
        if (pattern == kPatterns[i]) return 8 + i;
    return 0;
}

void fillHeader(unsigned char (&header)[kHeaderBytes], const Sequence& sequence, uint64_t frames,
                const int64_t* firstUtcNs) {
    std::memset(header, 0, sizeof header);
    std::memcpy(header, "LUCAM-RECORDER", 14);
    put32(header + 18, static_cast<uint32_t>(colourId(sequence.bayer)));
    // The description names this field LittleEndian, but the programs that
    // read SER take 0 to mean little-endian samples: 0 is what they read
    // correctly.
    put32(header + 22, 0);
    put32(header + 26, static_cast<uint32_t>(sequence.width));
    put32(header + 30, static_cast<uint32_t>(sequence.height));
    put32(header + 34, static_cast<uint32_t>(sequence.depth));
    put32(header + kCountAt, static_cast<uint32_t>(frames));
    std::strncpy(reinterpret_cast<char*>(header + 82), sequence.instrument.c_str(), 40);
    if (firstUtcNs) {
        const time_t seconds = static_cast<time_t>(*firstUtcNs / 1'000'000'000);
        tm local{};
        localtime_r(&seconds, &local);
        put64(header + 162, static_cast<uint64_t>(
                                ticks(*firstUtcNs + int64_t{local.tm_gmtoff} * 1'000'000'000)));
        put64(header + 170, static_cast<uint64_t>(ticks(*firstUtcNs)));
    }
}

std::vector<unsigned char> trailerOf(const std::vector<int64_t>& utcNs) {
    std::vector<unsigned char> trailer(utcNs.size() * 8);
    for (size_t i = 0; i < utcNs.size(); ++i)
        put64(&trailer[i * 8], static_cast<uint64_t>(ticks(utcNs[i])));
    return trailer;
}

// Cuts `file` to its header and `frames` frames, declares them and adds
// their times; a full disk gets the room the journal took.
bool complete(OutFile& file, size_t frameBytes, uint64_t frames, const std::vector<int64_t>& times,
              Journal* journal, std::string& why) {
    const uint64_t framesEnd = kHeaderBytes + frames * frameBytes;
    unsigned char count[4];
    put32(count, static_cast<uint32_t>(frames));
    if (!file.resize(framesEnd) || !file.putAt(kCountAt, count, sizeof count)) {
        why = file.failure();
        return false;
    }
    if (times.size() < frames) return true;  // no times to add
    const std::vector<unsigned char> trailer = trailerOf(times);
    bool added = file.append(trailer.data(), 8 * frames);
    if (!added && file.outOfSpace() && journal) {
        journal->remove();
        journal = nullptr;
        added = file.resize(framesEnd) && file.append(trailer.data(), 8 * frames);
    }
    if (!added) {
        why = "the times could not be written: " + file.failure();
        file.resize(framesEnd);  // frames without a cut trailer
        return false;
    }
    if (journal) journal->remove();
    return true;
}

class SerWriter final : public SequenceWriter {
  public:
    explicit SerWriter(std::string path) : path_(std::move(path)) {}

    bool begin(const Sequence& sequence, std::string& error) override {
        sequence_ = sequence;
        frameBytes_ = sequence.frameBytes();
        unsigned char header[kHeaderBytes];
        fillHeader(header, sequence_, 0, nullptr);
        if (!file_.create(path_) || !file_.append(header, sizeof header))
            return failed(error, "cannot create");
        if (!journal_.create(path_, error)) return false;
        times_.reserve(sequence.expectedFrames);
        return true;
    }

    bool write(const unsigned char* samples, const EzFrameInfo& info, std::string& error) override {
        const uint64_t at = kHeaderBytes + times_.size() * frameBytes_;
        const int64_t& firstUtc = times_.empty() ? info.utc_ns : times_.front();
        unsigned char header[kHeaderBytes];
        fillHeader(header, sequence_, times_.size() + 1, &firstUtc);
        if (!file_.resize(at + frameBytes_) || !file_.putAt(0, header, sizeof header) ||
            !file_.putAt(at, samples, frameBytes_))
            return failed(error, "cannot write");
        if (!journal_.add(info, error)) return false;
        times_.push_back(info.utc_ns);
        return true;
    }

    // Every frame is declared as it is written.
    bool checkpoint(std::string&) override { return true; }

    bool finish(std::string& error) override {
        if (!file_.isOpen()) return true;
        std::string why;
        bool ok = complete(file_, frameBytes_, times_.size(), times_, &journal_, why);
        if (!ok && error.empty()) error = "cannot complete " + path_ + ": " + why;
        if (!file_.close() && ok) ok = failed(error, "cannot complete");
        return ok;
    }

    std::string written() const override { return path_; }

  private:
    bool failed(std::string& error, const char* what) {
        error = std::string(what) + " " + path_ + ": " + file_.failure();
        return false;
    }

    std::string path_;
    Sequence sequence_;
    size_t frameBytes_ = 0;
    OutFile file_;
    Journal journal_;
    std::vector<int64_t> times_;  // UTC nanoseconds, one per frame written
};
}  // namespace

std::unique_ptr<SequenceWriter> makeSerWriter(const std::string& path) {
    return std::make_unique<SerWriter>(path);
}

// A SER file keeps the frames it declares and those whole after them when
// its journal is there (a recording that did not finish); the times come
// from the journal, or stay in the trailer when it is whole.
RepairReport repairSer(const std::string& path) {
    RepairReport report;
    OutFile file;
    unsigned char header[kHeaderBytes];
    if (!file.openExisting(path) || !file.readAt(0, header, sizeof header) ||
        std::memcmp(header, "LUCAM-RECORDER", 14) != 0) {
        report.message = path + " is not a SER file" +
                         (file.failure().empty() ? "" : ": " + file.failure());
        return report;
    }
    const uint64_t width = get32(header + 26), height = get32(header + 30);
    const uint32_t depth = get32(header + 34);
    const uint64_t declared = get32(header + kCountAt);
    // 32-bit sides cannot overflow 64 bits; a frame larger than the file
    // is none of it.
    const uint64_t frameBytes = width * height * (depth > 8 ? 2 : 1);
    if (frameBytes == 0 || (depth != 8 && depth != 16) || frameBytes > file.end()) {
        report.message = path + ": the header describes no frame";
        return report;
    }
    const uint64_t size = file.end();
    const uint64_t whole = size >= kHeaderBytes ? (size - kHeaderBytes) / frameBytes : 0;
    std::vector<EzFrameInfo> journal;
    const bool journaled = readJournal(path, journal);
    uint64_t frames = 0;
    std::vector<int64_t> times;
    if (journaled) {
        // A frame's record follows its samples: a frame with its record is
        // whole, the one declared after them was being written.
        frames = std::min<uint64_t>(whole, journal.size());
        for (uint64_t i = 0; i < frames; ++i) times.push_back(journal[i].utc_ns);
    } else {
        frames = std::min(whole, declared);
        const uint64_t framesEnd = kHeaderBytes + frames * frameBytes;
        if (declared <= whole && size == framesEnd + declared * 8) {
            report.ok = true;
            report.frames = report.timed = declared;
            report.message = path + " is complete: " + std::to_string(declared) + " frames";
            return report;
        }
        // A finished file with more after it, or one cut in its trailer
        // (whose times are lost) or in its frames (and the trailer with it).
        if (declared <= whole && size > framesEnd + declared * 8) {
            std::vector<unsigned char> trailer(declared * 8);
            if (file.readAt(framesEnd, trailer.data(), trailer.size()))
                for (uint64_t i = 0; i < declared; ++i)
                    times.push_back(
                        (static_cast<int64_t>(get64(&trailer[i * 8])) - kTicksBefore1970) * 100);
        }
    }
    std::string why;
    Journal* none = nullptr;
    if (!complete(file, frameBytes, frames, times, none, why) || !file.close()) {
        report.message = "cannot repair " + path + ": " + (why.empty() ? file.failure() : why);
        return report;
    }
    if (journaled) ::unlink(Journal::pathFor(path).c_str());
    report.ok = report.changed = true;
    report.frames = frames;
    report.timed = times.size() >= frames ? frames : 0;
    report.message = "repaired " + path + ": " + std::to_string(frames) + " frames, " +
                     (report.timed ? "each with its time" : "without times (none were kept)");
    return report;
}

}  // namespace recording
