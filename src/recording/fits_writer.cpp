// FITS through cfitsio: a cube (NAXIS3 = frames) followed by a table of
// every frame's time and settings, or one file per frame with its own
// header. Rows are stored top row first (ROWORDER = 'TOP-DOWN').
#include <fitsio.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "processing/bayer.h"
#include "recording/writers.h"

namespace recording {
namespace {

// Frames a cube of unknown length is declared for; the header is cut to the
// real count when the recording ends (without writing the space between).
constexpr long kOpenEndedFrames = 10'000'000;

class FitsWriter final : public SequenceWriter {
  public:
    FitsWriter(std::string path, bool filePerFrame)
        : path_(std::move(path)), filePerFrame_(filePerFrame) {}
    ~FitsWriter() override {
        int status = 0;
        if (file_) fits_close_file(file_, &status);
    }

    bool begin(const Sequence& sequence, std::string& error) override {
        sequence_ = sequence;
        if (filePerFrame_) return true;  // each frame creates its own
        declared_ = sequence.expectedFrames > 0 ? static_cast<long>(sequence.expectedFrames)
                                                : kOpenEndedFrames;
        return create(path_, declared_, error);
    }

    bool write(const unsigned char* samples, const EzFrameInfo& info, std::string& error) override {
        const auto count = static_cast<long>(frames_.size());
        if (filePerFrame_) {
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, "_%06ld.fits", count + 1);
            if (!create(stem() + suffix, 1, error) || !keywords(info) ||
                !pixels(samples, 0) || !close())
                return failed(error, "cannot write");
        } else {
            if (count >= declared_) {
                declared_ *= 2;
                if (!resize(declared_)) return failed(error, "cannot extend");
            }
            if (count == 0 && !keywords(info)) return failed(error, "cannot write");
            if (!pixels(samples, count)) return failed(error, "cannot write");
        }
        frames_.push_back(info);
        return true;
    }

    bool finish(std::string& error) override {
        if (!file_) return true;
        const bool ok = resize(static_cast<long>(frames_.size())) && frameTable() && close();
        return ok || failed(error, "cannot complete");
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

    bool create(const std::string& name, long frames, std::string& error) {
        // Taken as a plain file name (no cfitsio filters or '!' in it); an
        // earlier recording of that name is replaced.
        std::error_code ignored;
        std::filesystem::remove(name, ignored);
        if (fits_create_diskfile(&file_, name.c_str(), &status_)) return failed(error, "cannot create");
        long axes[3] = {sequence_.width, sequence_.height, frames};
        const int type = sequence_.depth == 16 ? USHORT_IMG : BYTE_IMG;
        if (fits_create_img(file_, type, filePerFrame_ ? 2 : 3, axes, &status_))
            return failed(error, "cannot create");
        return true;
    }

    // The recording's keywords from this frame (the first one of a cube).
    bool keywords(const EzFrameInfo& info) {
        auto text = [&](const char* key, const std::string& value, const char* comment) {
            fits_update_key_str(file_, key, value.c_str(), comment, &status_);
        };
        auto number = [&](const char* key, double value, int decimals, const char* comment) {
            fits_update_key_fixdbl(file_, key, value, decimals, comment, &status_);
        };
        auto whole = [&](const char* key, long long value, const char* comment) {
            fits_update_key_lng(file_, key, value, comment, &status_);
        };
        const double exposure = static_cast<double>(info.exposure_ms) / 1000.0;
        const int64_t startNs = info.utc_ns - static_cast<int64_t>(std::llround(exposure * 1e9));
        text("DATE-OBS", isoUtc(startNs), "UTC exposure start: DATE-END less EXPTIME");
        text("DATE-END", isoUtc(info.utc_ns), "UTC when the frame's transfer ended");
        number("EXPTIME", exposure, 6, "[s] exposure time");
        whole("GAIN", info.analog_gain, "analog gain setting (camera units)");
        whole("BLKLEVEL", info.black_level, "black level setting (camera units)");
        if (info.has_temperature)
            number("CCD-TEMP", static_cast<double>(info.temperature), 2, "[C] sensor temperature");
        // A mode that bins by a factor the camera does not state gets none.
        if (info.x_binning > 0) whole("XBINNING", info.x_binning, "sensor pixels per pixel in x");
        if (info.y_binning > 0) whole("YBINNING", info.y_binning, "sensor pixels per pixel in y");
        whole("XORGSUBF", info.roi_x, "[px] region origin in the whole frame");
        whole("YORGSUBF", info.roi_y, "[px] region origin in the whole frame");
        text("INSTRUME", sequence_.instrument, "camera");
        text("PIXCLOCK", sequence_.pixelClock, "pixel clock");
        // The masters' names may pass a card's 68 characters: long strings.
        for (const auto& [kind, file] : sequence_.calibration) {
            std::string key = "CAL";
            for (char ch : kind) key += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            fits_update_key_longstr(file_, key.c_str(), file.c_str(), "calibration master in force",
                                    &status_);
        }
        whole("FRAMENUM", static_cast<long long>(info.frame), "frame number since the stream started");
        text("ROWORDER", "TOP-DOWN", "first row stored is the sensor's top row");
        if (sequence_.bayer) {
            text("BAYERPAT", bayer::patternName(sequence_.bayer),
                 "colour filter array at the first sample");
            whole("XBAYROFF", 0, "Bayer pattern offset in x");
            whole("YBAYROFF", 0, "Bayer pattern offset in y");
        }
        return status_ == 0;
    }

    bool pixels(const unsigned char* samples, long index) {
        const auto perFrame = static_cast<LONGLONG>(sequence_.width) * sequence_.height;
        const LONGLONG first = 1 + static_cast<LONGLONG>(index) * perFrame;
        // cfitsio converts from the host's samples; the buffer stays as it is.
        void* data = const_cast<unsigned char*>(samples);
        fits_write_img(file_, sequence_.depth == 16 ? TUSHORT : TBYTE, first, perFrame, data,
                       &status_);
        return status_ == 0;
    }

    bool resize(long frames) {
        long axes[3] = {sequence_.width, sequence_.height, frames};
        fits_resize_img(file_, sequence_.depth == 16 ? USHORT_IMG : BYTE_IMG, 3, axes, &status_);
        return status_ == 0;
    }

    // One row per frame of the cube: its number, times and settings.
    bool frameTable() {
        if (frames_.empty()) return status_ == 0;
        char* names[] = {const_cast<char*>("FRAMENUM"), const_cast<char*>("DATE-END"),
                         const_cast<char*>("EXPTIME"), const_cast<char*>("GAIN"),
                         const_cast<char*>("BLKLEVEL"), const_cast<char*>("CCD-TEMP")};
        char* forms[] = {const_cast<char*>("1K"), const_cast<char*>("26A"),
                         const_cast<char*>("1D"), const_cast<char*>("1J"),
                         const_cast<char*>("1J"), const_cast<char*>("1E")};
        char* units[] = {const_cast<char*>(""), const_cast<char*>("UTC"), const_cast<char*>("s"),
                         const_cast<char*>(""), const_cast<char*>(""), const_cast<char*>("C")};
        fits_create_tbl(file_, BINARY_TBL, 0, 6, names, forms, units, "FRAMES", &status_);
        const size_t n = frames_.size();
        std::vector<LONGLONG> number(n);
        std::vector<std::string> end(n);
        std::vector<char*> endText(n);
        std::vector<double> exposure(n);
        std::vector<int> gain(n), black(n);
        std::vector<float> temperature(n);
        for (size_t i = 0; i < n; ++i) {
            const EzFrameInfo& f = frames_[i];
            number[i] = static_cast<LONGLONG>(f.frame);
            end[i] = isoUtc(f.utc_ns);
            endText[i] = end[i].data();
            exposure[i] = static_cast<double>(f.exposure_ms) / 1000.0;
            gain[i] = f.analog_gain;
            black[i] = f.black_level;
            temperature[i] = f.has_temperature ? f.temperature : NAN;
        }
        const auto rows = static_cast<LONGLONG>(n);
        fits_write_col(file_, TLONGLONG, 1, 1, 1, rows, number.data(), &status_);
        fits_write_col(file_, TSTRING, 2, 1, 1, rows, endText.data(), &status_);
        fits_write_col(file_, TDOUBLE, 3, 1, 1, rows, exposure.data(), &status_);
        fits_write_col(file_, TINT, 4, 1, 1, rows, gain.data(), &status_);
        fits_write_col(file_, TINT, 5, 1, 1, rows, black.data(), &status_);
        fits_write_col(file_, TFLOAT, 6, 1, 1, rows, temperature.data(), &status_);
        return status_ == 0;
    }

    bool close() {
        fits_close_file(file_, &status_);
        file_ = nullptr;
        return status_ == 0;
    }

    bool failed(std::string& error, const char* what) {
        char text[FLEN_STATUS] = {};
        fits_get_errstatus(status_, text);
        error = std::string(what) + " " + path_ + " (cfitsio: " + text + ")";
        fits_clear_errmsg();
        return false;
    }

    std::string path_;
    bool filePerFrame_;
    Sequence sequence_;
    fitsfile* file_ = nullptr;
    int status_ = 0;
    long declared_ = 0;
    std::vector<EzFrameInfo> frames_;
};
}  // namespace

std::unique_ptr<SequenceWriter> makeFitsWriter(const std::string& path, bool filePerFrame) {
    return std::make_unique<FitsWriter>(path, filePerFrame);
}

}  // namespace recording
