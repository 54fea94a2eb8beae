// FITS: a cube (NAXIS3 = frames) followed by a table of every frame's time
// and settings, or one file per frame with its own header. Rows are stored
// top row first (ROWORDER = 'TOP-DOWN').
//
// cfitsio formats the headers and the table in memory; the file's bytes
// are written here. Each frame of a cube is declared before it is
// written: the file grows to the padded end of the frame, NAXIS3 takes it
// in (one rewrite in place), and then the samples fill it. A killed
// recording is a FITS file of the frames declared, the last one perhaps
// cut short, with nothing after the cube that a reader would take for a
// broken extension. The table can only follow the cube: until the
// recording is finished each frame's record goes to the journal once its
// samples are in, and `ezcap repair` builds the table from it. A file per frame is written
// under NAME.part and renamed when whole, so every file of that name is.
#include <fitsio.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "processing/bayer.h"
#include "recording/frame_record.h"
#include "recording/out_file.h"
#include "recording/writers.h"

namespace recording {
namespace {

constexpr uint64_t kBlock = 2880;
constexpr size_t kCard = 80;

uint64_t padded(uint64_t bytes) {
    return (bytes + kBlock - 1) / kBlock * kBlock;
}

std::string cfitsioText(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    fits_clear_errmsg();
    return std::string("cfitsio: ") + text;
}

// A FITS file in memory, for the bytes cfitsio formats.
class MemoryFits {
  public:
    MemoryFits() {
        size_ = kBlock * 4;
        memory_ = std::malloc(size_);
        fits_create_memfile(&file_, &memory_, &size_, kBlock * 4, std::realloc, &status);
    }
    ~MemoryFits() {
        int ignored = 0;
        if (file_) fits_close_file(file_, &ignored);
        std::free(memory_);
    }
    MemoryFits(const MemoryFits&) = delete;
    MemoryFits& operator=(const MemoryFits&) = delete;
    fitsfile* file() { return file_; }
    // The current HDU's bytes from its header; the data only with `data`.
    bool bytes(std::vector<unsigned char>& out, bool data) {
        fits_flush_file(file_, &status);
        LONGLONG head = 0, start = 0, end = 0;
        fits_get_hduaddrll(file_, &head, &start, &end, &status);
        if (status) return false;
        const auto first = static_cast<size_t>(head);
        const auto last = static_cast<size_t>(data ? padded(static_cast<uint64_t>(end)) : start);
        const auto* from = static_cast<const unsigned char*>(memory_);
        out.assign(last - first, 0);
        std::memcpy(out.data(), from + first, std::min(last, size_) - first);
        return true;
    }
    int status = 0;

  private:
    void* memory_ = nullptr;
    size_t size_ = 0;
    fitsfile* file_ = nullptr;
};

// The recording's keywords from this frame (the first one of a cube).
void keywords(fitsfile* file, const Sequence& sequence, const EzFrameInfo& info, int& status) {
    auto text = [&](const char* key, const std::string& value, const char* comment) {
        fits_update_key_str(file, key, value.c_str(), comment, &status);
    };
    auto number = [&](const char* key, double value, int decimals, const char* comment) {
        fits_update_key_fixdbl(file, key, value, decimals, comment, &status);
    };
    auto whole = [&](const char* key, long long value, const char* comment) {
        fits_update_key_lng(file, key, value, comment, &status);
    };
    const double exposure = static_cast<double>(info.exposure_ms) / 1000.0;
    const int64_t startNs = info.utc_ns - static_cast<int64_t>(std::llround(exposure * 1e9));
    text("DATE-OBS", isoUtc(startNs), "UTC exposure start: DATE-END less EXPTIME");
    text("DATE-END", isoUtc(info.utc_ns), "UTC when the frame's transfer ended");
    text("IMAGETYP", frameTypeName(sequence.frameType), "what the frames show");
    number("EXPTIME", exposure, 6, "[s] exposure time");
    whole("GAIN", info.analog_gain, "analog gain setting (camera units)");
    whole("BLKLEVEL", info.black_level, "black level setting (camera units)");
    if (info.has_temperature)
        number("CCD-TEMP", static_cast<double>(info.temperature), 2, "[C] sensor temperature");
    // A mode that bins by a factor the camera does not state gets none.
    if (info.x_binning > 0) whole("XBINNING", info.x_binning, "sensor pixels per pixel in x");
    if (info.y_binning > 0) whole("YBINNING", info.y_binning, "sensor pixels per pixel in y");
    // The pitch of a binned pixel, as astronomy software reads XPIXSZ.
    if (sequence.sensorPixelUm > 0 && info.x_binning > 0 && info.y_binning > 0) {
        number("XPIXSZ", sequence.sensorPixelUm * info.x_binning, 4,
               "[um] pixel size at the sensor");
        number("YPIXSZ", sequence.sensorPixelUm * info.y_binning, 4,
               "[um] pixel size at the sensor");
    }
    whole("SIGBITS", significantBits(sequence.depth), "significant bits per sample, at the top");
    whole("XORGSUBF", info.roi_x, "[px] region origin in the whole frame");
    whole("YORGSUBF", info.roi_y, "[px] region origin in the whole frame");
    text("INSTRUME", sequence.instrument, "camera");
    text("PIXCLOCK", sequence.pixelClock, "pixel clock");
    // The masters' names may pass a card's 68 characters: long strings,
    // announced by LONGSTRN as the convention asks.
    if (!sequence.calibration.empty()) fits_write_key_longwarn(file, &status);
    for (const auto& [kind, name] : sequence.calibration) {
        std::string key = "CAL";
        for (char ch : kind) key += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        fits_update_key_longstr(file, key.c_str(), name.c_str(), "calibration master in force",
                                &status);
    }
    whole("FRAMENUM", static_cast<long long>(info.frame), "frame number since the stream started");
    text("ROWORDER", "TOP-DOWN", "first row stored is the sensor's top row");
    if (sequence.bayer) {
        text("BAYERPAT", bayer::patternName(sequence.bayer),
             "colour filter array at the first sample");
        whole("XBAYROFF", 0, "Bayer pattern offset in x");
        whole("YBAYROFF", 0, "Bayer pattern offset in y");
    }
}

// The primary header of a cube (declaring no frame yet) or of one frame.
bool headerBytes(const Sequence& sequence, const EzFrameInfo& info, bool cube,
                 std::vector<unsigned char>& out, std::string& why) {
    MemoryFits memory;
    long axes[3] = {sequence.width, sequence.height, 0};
    fits_create_img(memory.file(), sequence.depth == 16 ? USHORT_IMG : BYTE_IMG, cube ? 3 : 2,
                    axes, &memory.status);
    keywords(memory.file(), sequence, info, memory.status);
    if (memory.bytes(out, false)) return true;
    why = cfitsioText(memory.status);
    return false;
}

// The FRAMES table: one row per frame of the cube, its number, times and
// settings.
bool tableBytes(const std::vector<EzFrameInfo>& frames, std::vector<unsigned char>& out,
                std::string& why) {
    MemoryFits memory;
    fits_create_img(memory.file(), BYTE_IMG, 0, nullptr, &memory.status);
    // Column names take letters, digits and '_' only: the header keywords
    // DATE-END and CCD-TEMP are columns DATE_END and CCD_TEMP.
    char* names[] = {const_cast<char*>("FRAMENUM"), const_cast<char*>("DATE_END"),
                     const_cast<char*>("EXPTIME"),  const_cast<char*>("GAIN"),
                     const_cast<char*>("BLKLEVEL"), const_cast<char*>("CCD_TEMP")};
    char* forms[] = {const_cast<char*>("1K"), const_cast<char*>("26A"), const_cast<char*>("1D"),
                     const_cast<char*>("1J"), const_cast<char*>("1J"),  const_cast<char*>("1E")};
    char* units[] = {const_cast<char*>(""), const_cast<char*>("UTC"), const_cast<char*>("s"),
                     const_cast<char*>(""), const_cast<char*>(""),    const_cast<char*>("C")};
    fits_create_tbl(memory.file(), BINARY_TBL, 0, 6, names, forms, units, "FRAMES",
                    &memory.status);
    fits_modify_comment(memory.file(), "TTYPE2", "UTC transfer end, DATE-END of each frame",
                        &memory.status);
    fits_modify_comment(memory.file(), "TTYPE6", "sensor temperature, CCD-TEMP of each frame",
                        &memory.status);
    const size_t n = frames.size();
    std::vector<LONGLONG> number(n);
    std::vector<std::string> end(n);
    std::vector<char*> endText(n);
    std::vector<double> exposure(n);
    std::vector<int> gain(n), black(n);
    std::vector<float> temperature(n);
    for (size_t i = 0; i < n; ++i) {
        const EzFrameInfo& f = frames[i];
        number[i] = static_cast<LONGLONG>(f.frame);
        end[i] = isoUtc(f.utc_ns);
        endText[i] = end[i].data();
        exposure[i] = static_cast<double>(f.exposure_ms) / 1000.0;
        gain[i] = f.analog_gain;
        black[i] = f.black_level;
        temperature[i] = f.has_temperature ? f.temperature : NAN;
    }
    fitsfile* file = memory.file();
    int& status = memory.status;
    const auto rows = static_cast<LONGLONG>(n);
    if (rows > 0) {
        fits_write_col(file, TLONGLONG, 1, 1, 1, rows, number.data(), &status);
        fits_write_col(file, TSTRING, 2, 1, 1, rows, endText.data(), &status);
        fits_write_col(file, TDOUBLE, 3, 1, 1, rows, exposure.data(), &status);
        fits_write_col(file, TINT, 4, 1, 1, rows, gain.data(), &status);
        fits_write_col(file, TINT, 5, 1, 1, rows, black.data(), &status);
        fits_write_col(file, TFLOAT, 6, 1, 1, rows, temperature.data(), &status);
    }
    if (memory.bytes(out, true)) return true;
    why = cfitsioText(status);
    return false;
}

// Where the value of a header's card lies (columns 11 to 30); 0 if absent.
uint64_t valueAt(const unsigned char* header, size_t bytes, const char* key) {
    char name[9];
    std::snprintf(name, sizeof name, "%-8s", key);
    for (size_t at = 0; at + kCard <= bytes; at += kCard)
        if (std::memcmp(header + at, name, 8) == 0 && header[at + 8] == '=') return at + 10;
    return 0;
}

bool putCount(OutFile& file, uint64_t valueOffset, uint64_t count) {
    char value[21];
    std::snprintf(value, sizeof value, "%20llu", static_cast<unsigned long long>(count));
    return file.putAt(valueOffset, value, 20);
}

// Cuts a cube to `frames` frames, declares them and adds their table; a
// full disk gets the room the journal took. Without rows, no table.
bool completeCube(OutFile& file, uint64_t dataStart, uint64_t countAt, uint64_t frameBytes,
                  const std::vector<EzFrameInfo>& rows, uint64_t frames, Journal* journal,
                  std::string& why) {
    const uint64_t dataEnd = dataStart + frames * frameBytes;
    const uint64_t cubeEnd = padded(dataEnd);
    // The padding is written, not left as a hole: it is the file's end
    // once the table is cut away again.
    const std::vector<unsigned char> zeros(cubeEnd - dataEnd, 0);
    if (!file.resize(dataEnd) || !file.append(zeros.data(), zeros.size()) ||
        !putCount(file, countAt, frames)) {
        why = file.failure();
        return false;
    }
    if (rows.size() < frames) return true;
    std::vector<unsigned char> table;
    const std::vector<EzFrameInfo> kept(rows.begin(), rows.begin() + static_cast<long>(frames));
    if (!tableBytes(kept, table, why)) return false;
    bool added = file.append(table.data(), table.size());
    if (!added && file.outOfSpace() && journal) {
        journal->remove();
        journal = nullptr;
        added = file.resize(cubeEnd) && file.append(table.data(), table.size());
    }
    if (!added) {
        why = "the frame table could not be written: " + file.failure();
        file.resize(cubeEnd);  // the cube without a cut table
        return false;
    }
    if (journal) journal->remove();
    return true;
}

// 16-bit samples as FITS keeps them: big-endian and less BZERO (32768),
// which flips the top bit.
void toFits16(const unsigned char* samples, size_t count, unsigned char* out) {
    for (size_t i = 0; i < count; ++i) {
        out[2 * i] = static_cast<unsigned char>(samples[2 * i + 1] ^ 0x80);
        out[2 * i + 1] = samples[2 * i];
    }
}

class FitsWriter final : public SequenceWriter {
  public:
    FitsWriter(std::string path, bool filePerFrame)
        : path_(std::move(path)), filePerFrame_(filePerFrame) {}

    bool begin(const Sequence& sequence, std::string&) override {
        sequence_ = sequence;
        frameBytes_ = sequence.frameBytes();
        if (sequence.depth == 16) scratch_.resize(frameBytes_);
        if (!filePerFrame_) rows_.reserve(sequence.expectedFrames);
        return true;  // the file is made with the first frame's keywords
    }

    bool write(const unsigned char* samples, const EzFrameInfo& info, std::string& error) override {
        const unsigned char* data = samples;
        if (sequence_.depth == 16) {
            toFits16(samples, frameBytes_ / 2, scratch_.data());
            data = scratch_.data();
        }
        return filePerFrame_ ? writeFile(data, info, error) : writeCubeFrame(data, info, error);
    }

    // Every frame is declared as it is written.
    bool checkpoint(std::string&) override { return true; }

    bool finish(std::string& error) override {
        if (!file_.isOpen()) return true;
        std::string why;
        bool ok = completeCube(file_, dataStart_, countAt_, frameBytes_, rows_, rows_.size(),
                               &journal_, why);
        if (!ok) error = "cannot complete " + path_ + ": " + why;
        if (!file_.close() && ok) ok = failed(error, "cannot complete", path_);
        return ok;
    }

    std::string written() const override {
        return filePerFrame_ ? stem() + "_NNNNNN.fits" : path_;
    }

  private:
    std::string stem() const {
        const std::string ext = ".fits";
        if (path_.size() > ext.size() && path_.compare(path_.size() - ext.size(), ext.size(), ext) == 0)
            return path_.substr(0, path_.size() - ext.size());
        return path_;
    }

    bool writeCubeFrame(const unsigned char* data, const EzFrameInfo& info, std::string& error) {
        if (!file_.isOpen()) {
            std::vector<unsigned char> header;
            std::string why;
            if (!headerBytes(sequence_, info, true, header, why)) {
                error = "cannot create " + path_ + " (" + why + ")";
                return false;
            }
            if (!file_.create(path_) || !file_.append(header.data(), header.size()))
                return failed(error, "cannot create", path_);
            dataStart_ = header.size();
            countAt_ = valueAt(header.data(), header.size(), "NAXIS3");
            if (!journal_.create(path_, error)) return false;
        }
        const uint64_t at = dataStart_ + rows_.size() * frameBytes_;
        if (!file_.resize(padded(at + frameBytes_)) || !putCount(file_, countAt_, rows_.size() + 1) ||
            !file_.putAt(at, data, frameBytes_))
            return failed(error, "cannot write", path_);
        if (!journal_.add(info, error)) return false;
        rows_.push_back(info);
        return true;
    }

    bool writeFile(const unsigned char* data, const EzFrameInfo& info, std::string& error) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "_%06llu.fits",
                      static_cast<unsigned long long>(++files_));
        const std::string name = stem() + suffix;
        const std::string part = name + ".part";
        std::vector<unsigned char>& header = header_;
        std::string why;
        if (!headerBytes(sequence_, info, false, header, why)) {
            error = "cannot create " + name + " (" + why + ")";
            return false;
        }
        static const unsigned char kZeros[kBlock] = {};
        iovec pieces[3] = {{header.data(), header.size()},
                           {const_cast<unsigned char*>(data), frameBytes_},
                           {const_cast<unsigned char*>(kZeros), padded(frameBytes_) - frameBytes_}};
        OutFile file;
        const bool whole = file.create(part) && file.appendv(pieces, 3) && file.close();
        if (whole && ::rename(part.c_str(), name.c_str()) == 0) return true;
        error = "cannot write " + name + ": " + (whole ? std::strerror(errno) : file.failure());
        ::unlink(part.c_str());
        return false;
    }

    bool failed(std::string& error, const char* what, const std::string& name) {
        error = std::string(what) + " " + name + ": " + file_.failure();
        return false;
    }

    std::string path_;
    bool filePerFrame_;
    Sequence sequence_;
    size_t frameBytes_ = 0;
    std::vector<unsigned char> scratch_;  // 16-bit samples in FITS order
    std::vector<unsigned char> header_;
    OutFile file_;
    Journal journal_;
    uint64_t dataStart_ = 0;
    uint64_t countAt_ = 0;           // NAXIS3's value in the file
    std::vector<EzFrameInfo> rows_;  // one per frame of the cube
    uint64_t files_ = 0;
};
}  // namespace

std::unique_ptr<SequenceWriter> makeFitsWriter(const std::string& path, bool filePerFrame) {
    return std::make_unique<FitsWriter>(path, filePerFrame);
}

namespace {
// The cards of a header that repair needs, and where it ends.
struct Header {
    bool ok = false;
    bool extension = false;  // XTENSION rather than SIMPLE
    long long bitpix = 0, naxis = 0, axes[3] = {0, 0, 0}, pcount = 0, gcount = 1;
    uint64_t bytes = 0;    // the header's blocks
    uint64_t countAt = 0;  // the value of NAXIS3 (of NAXIS2 in a table)
    uint64_t dataBytes() const {
        if (naxis == 0) return 0;
        uint64_t n = static_cast<uint64_t>(std::llabs(bitpix) / 8);
        for (long long i = 0; i < naxis && i < 3; ++i) n *= static_cast<uint64_t>(axes[i]);
        return n + static_cast<uint64_t>(pcount);
    }
};

Header readHeader(OutFile& file, uint64_t at) {
    Header h;
    unsigned char block[kBlock];
    for (int blocks = 0; blocks < 1000 && file.readAt(at + h.bytes, block, kBlock); ++blocks) {
        const uint64_t base = at + h.bytes;
        h.bytes += kBlock;
        for (size_t c = 0; c < kBlock; c += kCard) {
            const std::string card(reinterpret_cast<const char*>(block + c), kCard);
            const std::string key = card.substr(0, 8);
            const long long value = std::atoll(card.c_str() + 10);
            if (blocks == 0 && c == 0) {
                if (key == "XTENSION")
                    h.extension = true;
                else if (key != "SIMPLE  ")
                    return h;
            }
            if (key == "BITPIX  ") h.bitpix = value;
            if (key == "NAXIS   ") h.naxis = value;
            if (key == "PCOUNT  ") h.pcount = value;
            for (int i = 0; i < 3; ++i)
                if (key == "NAXIS" + std::to_string(i + 1) + "  ") {
                    h.axes[i] = value;
                    if (i == (h.extension ? 1 : 2)) h.countAt = base + c + 10;
                }
            if (key == "END     ") {
                // Sides a file of this size could hold (no product overflows).
                bool sides = true;
                for (long long i = 0; i < h.naxis; ++i)
                    sides = sides && h.axes[i] >= 0 && h.axes[i] < (1LL << 31);
                h.ok = h.bitpix != 0 && h.naxis >= 0 && h.naxis <= 3 && sides && h.pcount >= 0 &&
                       h.pcount < (1LL << 40);
                return h;
            }
        }
    }
    return h;
}
}  // namespace

// A cube keeps the frames it declares and those whole after them when its
// journal is there (a recording that did not finish), with the table built
// from the journal; a finished cube cut short keeps its whole frames, and
// its table when that is whole. A file of one frame is whole or lost.
RepairReport repairFits(const std::string& path) {
    RepairReport report;
    OutFile file;
    const Header h = file.openExisting(path) ? readHeader(file, 0) : Header{};
    if (!h.ok || h.extension || h.naxis < 2 || (h.bitpix != 8 && h.bitpix != 16)) {
        report.message = path + " is not a FITS recording" +
                         (file.failure().empty() ? "" : ": " + file.failure());
        return report;
    }
    const uint64_t frameBytes =
        static_cast<uint64_t>(h.axes[0]) * static_cast<uint64_t>(h.axes[1]) *
        static_cast<uint64_t>(h.bitpix / 8);
    const uint64_t size = file.end();
    if (frameBytes == 0 || (h.naxis == 3 && (h.countAt == 0 || h.countAt + 20 > h.bytes))) {
        report.message = path + " is not a FITS recording";
        return report;
    }
    if (h.naxis == 2) {
        const uint64_t dataEnd = h.bytes + frameBytes;
        report.frames = report.timed = size >= dataEnd ? 1 : 0;
        if (size >= dataEnd && size != padded(dataEnd)) {
            report.changed = true;
            const std::vector<unsigned char> zeros(padded(dataEnd) - dataEnd, 0);
            if (!file.resize(dataEnd) || !file.append(zeros.data(), zeros.size())) {
                report.message = "cannot repair " + path + ": " + file.failure();
                return report;
            }
        }
        report.ok = report.frames == 1 && file.close();
        report.message = report.ok ? (report.changed ? "repaired " : "") + path +
                                         (report.changed ? ": its frame" : " is complete: one frame")
                                   : path + ": its frame is cut short, nothing to keep";
        return report;
    }
    const uint64_t declared = static_cast<uint64_t>(h.axes[2]);
    const uint64_t whole = size > h.bytes && frameBytes ? (size - h.bytes) / frameBytes : 0;
    std::vector<EzFrameInfo> rows;
    const bool journaled = readJournal(path, rows);
    uint64_t frames = 0;
    if (journaled) {
        // A frame's record follows its samples: a frame with its record is
        // whole, the one declared after them was being written.
        frames = std::min<uint64_t>(whole, rows.size());
    } else {
        frames = std::min(whole, declared);
        const uint64_t cubeEnd = padded(h.bytes + frames * frameBytes);
        const Header table =
            declared <= whole && size > cubeEnd ? readHeader(file, cubeEnd) : Header{};
        const uint64_t tableEnd = cubeEnd + table.bytes + padded(table.dataBytes());
        if (table.ok && table.extension && size >= tableEnd) {
            report.frames = report.timed = declared;
            report.ok = size == tableEnd || (file.resize(tableEnd) && file.close());
            report.changed = size != tableEnd;
            report.message = path + (report.changed ? ": what followed its table was cut away, "
                                                    : " is complete: ") +
                             std::to_string(declared) + " frames";
            return report;
        }
    }
    std::string why;
    if (!completeCube(file, h.bytes, h.countAt, frameBytes, rows, frames, nullptr, why) ||
        !file.close()) {
        report.message = "cannot repair " + path + ": " + (why.empty() ? file.failure() : why);
        return report;
    }
    if (journaled) ::unlink(Journal::pathFor(path).c_str());
    report.ok = report.changed = true;
    report.frames = frames;
    report.timed = rows.size() >= frames ? frames : 0;
    report.message = "repaired " + path + ": " + std::to_string(frames) + " frames, " +
                     (report.timed ? "each with its row in the frame table"
                                   : "without the frame table (it was cut)");
    return report;
}

}  // namespace recording
