// SER sequences: a 178-byte header, the frames as they are, and a trailer
// of one UTC time per frame.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "recording/writers.h"
#include "processing/bayer.h"

namespace recording {
namespace {

constexpr size_t kHeaderBytes = 178;
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

void put32(unsigned char* at, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put64(unsigned char* at, int64_t value) {
    const auto v = static_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Writes all of `bytes` at `offset` (or at the end when negative).
bool writeAll(int fd, const unsigned char* data, size_t bytes, off_t offset = -1) {
    while (bytes > 0) {
        const ssize_t n = offset < 0 ? ::write(fd, data, bytes) : ::pwrite(fd, data, bytes, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        bytes -= static_cast<size_t>(n);
        if (offset >= 0) offset += n;
    }
    return true;
}

class SerWriter final : public SequenceWriter {
  public:
    explicit SerWriter(std::string path) : path_(std::move(path)) {}
    ~SerWriter() override {
        if (fd_ >= 0) ::close(fd_);
    }

    bool begin(const Sequence& sequence, std::string& error) override {
        sequence_ = sequence;
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) return failed(error, "cannot create");
        // The header is written again with the count and times at the end.
        unsigned char header[kHeaderBytes] = {};
        if (!writeAll(fd_, header, sizeof header)) return failed(error, "cannot write");
        times_.reserve(sequence.expectedFrames);
        return true;
    }

    bool write(const unsigned char* samples, const EzFrameInfo& info, std::string& error) override {
        if (!writeAll(fd_, samples, sequence_.frameBytes())) return failed(error, "cannot write");
        times_.push_back(info.utc_ns);
        return true;
    }

    bool finish(std::string& error) override {
        if (fd_ < 0) return true;
        bool ok = true;
        if (!times_.empty()) {
            std::vector<unsigned char> trailer(times_.size() * 8);
            for (size_t i = 0; i < times_.size(); ++i) put64(&trailer[i * 8], ticks(times_[i]));
            ok = writeAll(fd_, trailer.data(), trailer.size());
        }
        unsigned char header[kHeaderBytes] = {};
        fillHeader(header);
        ok = ok && writeAll(fd_, header, sizeof header, 0);
        ok = ::close(fd_) == 0 && ok;
        fd_ = -1;
        return ok || failed(error, "cannot complete");
    }

    std::string written() const override { return path_; }

  private:
    void fillHeader(unsigned char (&header)[kHeaderBytes]) const {
        std::memcpy(header, "LUCAM-RECORDER", 14);
        put32(header + 18, colourId(sequence_.bayer));
        // The description names this field LittleEndian, but the programs
        // that read SER take 0 to mean little-endian samples: 0 is what they
        // read correctly.
        put32(header + 22, 0);
        put32(header + 26, sequence_.width);
        put32(header + 30, sequence_.height);
        put32(header + 34, sequence_.depth);
        put32(header + 38, static_cast<int32_t>(times_.size()));
        std::strncpy(reinterpret_cast<char*>(header + 82), sequence_.instrument.c_str(), 40);
        if (!times_.empty()) {
            const time_t seconds = static_cast<time_t>(times_.front() / 1'000'000'000);
            tm local{};
            localtime_r(&seconds, &local);
            put64(header + 162, ticks(times_.front() + int64_t{local.tm_gmtoff} * 1'000'000'000));
            put64(header + 170, ticks(times_.front()));
        }
    }

    bool failed(std::string& error, const char* what) {
        error = std::string(what) + " " + path_ + ": " + std::strerror(errno);
        return false;
    }

    std::string path_;
    Sequence sequence_;
    int fd_ = -1;
    std::vector<int64_t> times_;  // UTC nanoseconds, one per frame written
};
}  // namespace

std::unique_ptr<SequenceWriter> makeSerWriter(const std::string& path) {
    return std::make_unique<SerWriter>(path);
}

}  // namespace recording
