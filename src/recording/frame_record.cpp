// Frame records and the journal.
#include "recording/frame_record.h"

#include <unistd.h>

#include <cstring>
#include <fstream>

namespace recording {
namespace {
constexpr char kRecordMagic[4] = {'E', 'Z', 'F', 'R'};
constexpr char kJournalMagic[16] = "ezcam journal 1";
// The header and its padding: room for a FITS frame table's header and
// padding, which a full disk must still take once the journal is gone.
constexpr size_t kJournalHeaderBytes = 16384;
constexpr size_t kSumAt = kFrameRecordBytes - 4;

uint32_t checkSum(const unsigned char* bytes, size_t n) {
    uint32_t h = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < n; ++i) h = (h ^ bytes[i]) * 16777619u;
    return h;
}
uint32_t floatBits(float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}
float bitsFloat(uint32_t bits) {
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
}  // namespace

void encodeFrame(const EzFrameInfo& f, unsigned char* r) {
    std::memset(r, 0, kFrameRecordBytes);
    std::memcpy(r, kRecordMagic, 4);
    put32(r + 4, 1);  // layout version
    put64(r + 8, f.frame);
    put64(r + 16, f.frames_lost);
    put64(r + 24, f.mode_drops);
    put64(r + 32, static_cast<uint64_t>(f.monotonic_ns));
    put64(r + 40, static_cast<uint64_t>(f.utc_ns));
    put32(r + 48, floatBits(f.exposure_ms));
    put32(r + 52, floatBits(f.temperature));
    const int32_t fields[] = {f.has_temperature, f.analog_gain, f.black_level, f.pixel_clock,
                              f.resolution,      f.width,       f.height,      f.roi_x,
                              f.roi_y,           f.x_binning,   f.y_binning,   f.depth,
                              f.bayer};
    for (size_t i = 0; i < std::size(fields); ++i)
        put32(r + 56 + 4 * i, static_cast<uint32_t>(fields[i]));
    put32(r + kSumAt, checkSum(r, kSumAt));
}

bool decodeFrame(const unsigned char* r, EzFrameInfo& f) {
    if (std::memcmp(r, kRecordMagic, 4) != 0 || get32(r + 4) != 1 ||
        get32(r + kSumAt) != checkSum(r, kSumAt))
        return false;
    f = {};
    f.frame = get64(r + 8);
    f.frames_lost = get64(r + 16);
    f.mode_drops = get64(r + 24);
    f.monotonic_ns = static_cast<int64_t>(get64(r + 32));
    f.utc_ns = static_cast<int64_t>(get64(r + 40));
    f.exposure_ms = bitsFloat(get32(r + 48));
    f.temperature = bitsFloat(get32(r + 52));
    int32_t* fields[] = {&f.has_temperature, &f.analog_gain, &f.black_level, &f.pixel_clock,
                         &f.resolution,      &f.width,       &f.height,      &f.roi_x,
                         &f.roi_y,           &f.x_binning,   &f.y_binning,   &f.depth,
                         &f.bayer};
    for (size_t i = 0; i < std::size(fields); ++i)
        *fields[i] = static_cast<int32_t>(get32(r + 56 + 4 * i));
    return true;
}

bool Journal::create(const std::string& recording, std::string& error) {
    path_ = pathFor(recording);
    unsigned char header[kJournalHeaderBytes] = {};
    std::memcpy(header, kJournalMagic, sizeof kJournalMagic);
    if (file_.create(path_) && file_.append(header, sizeof header)) return true;
    error = "cannot write " + path_ + ": " + file_.failure();
    file_.close();
    ::unlink(path_.c_str());
    return false;
}

bool Journal::add(const EzFrameInfo& info, std::string& error) {
    encodeFrame(info, record_);
    if (file_.append(record_, sizeof record_)) return true;
    error = "cannot write " + path_ + ": " + file_.failure();
    return false;
}

void Journal::remove() {
    if (path_.empty()) return;
    file_.close();
    ::unlink(path_.c_str());
    path_.clear();
}

bool readJournal(const std::string& recording, std::vector<EzFrameInfo>& frames) {
    std::ifstream in(Journal::pathFor(recording), std::ios::binary);
    if (!in) return false;
    char magic[kJournalHeaderBytes];
    if (!in.read(magic, sizeof magic) || std::memcmp(magic, kJournalMagic, sizeof kJournalMagic) != 0)
        return false;
    unsigned char record[kFrameRecordBytes];
    EzFrameInfo info{};
    while (in.read(reinterpret_cast<char*>(record), sizeof record) && decodeFrame(record, info))
        frames.push_back(info);
    return true;
}

}  // namespace recording
