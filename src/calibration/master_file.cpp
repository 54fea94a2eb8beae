// Calibration masters as FITS files through cfitsio: one 32-bit float image
// with the settings as header keywords, read back with checks, since a
// library directory holds whatever files a user put there.
#include "calibration/master_file.h"

#include <fitsio.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "processing/bayer.h"

namespace calib {
namespace {

// CFANAMES of masters whose BAYERPAT names the filters themselves.
constexpr const char* kFilterNames = "FILTERS";

// The image type each kind is known by in astronomy software.
const char* imageType(Kind kind) {
    switch (kind) {
    case Kind::Dark:
        return "Dark Frame";
    case Kind::Flat:
        return "Flat Field";
    case Kind::Bias:
        return "Bias Frame";
    }
    return "";
}

struct FitsCloser {
    void operator()(fitsfile* f) const {
        int status = 0;
        fits_close_file(f, &status);
    }
};
using FitsFile = std::unique_ptr<fitsfile, FitsCloser>;

std::string fitsError(const std::string& what, const std::string& path, int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    fits_clear_errmsg();
    return what + " " + path + " (cfitsio: " + text + ")";
}

// Header keywords, each optional unless asked for through `status`.
struct Reader {
    fitsfile* f;
    int status = 0;
    bool number(const char* key, double& value) {
        int s = 0;
        double v = 0;
        if (fits_read_key_dbl(f, key, &v, nullptr, &s)) return false;
        value = v;
        return true;
    }
    bool whole(const char* key, int& value) {
        double v = 0;
        if (!number(key, v) || !(std::fabs(v) < 1e9)) return false;
        value = static_cast<int>(std::lround(v));
        return true;
    }
    bool text(const char* key, std::string& value) {
        int s = 0;
        char* long_ = nullptr;
        if (fits_read_key_longstr(f, key, &long_, nullptr, &s)) return false;
        value = long_;
        fits_free_memory(long_, &s);
        return true;
    }
};

}  // namespace

bool writeMaster(const std::string& path, const Master& m, std::string& error) {
    const Conditions& c = m.at;
    if (c.width <= 0 || c.height <= 0 ||
        m.pixels.size() != static_cast<size_t>(c.width) * static_cast<size_t>(c.height)) {
        error = "a master of " + std::to_string(m.pixels.size()) + " samples is not " +
                std::to_string(c.width) + " x " + std::to_string(c.height);
        return false;
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    int status = 0;
    fitsfile* raw = nullptr;
    if (fits_create_diskfile(&raw, path.c_str(), &status))
        return error = fitsError("cannot create", path, status), false;
    FitsFile f(raw);
    long axes[2] = {c.width, c.height};
    fits_create_img(raw, FLOAT_IMG, 2, axes, &status);
    auto text = [&](const char* key, const std::string& value, const char* comment) {
        fits_update_key_longstr(raw, key, value.c_str(), comment, &status);
    };
    auto number = [&](const char* key, double value, int decimals, const char* comment) {
        fits_update_key_fixdbl(raw, key, value, decimals, comment, &status);
    };
    auto whole = [&](const char* key, long long value, const char* comment) {
        fits_update_key_lng(raw, key, value, comment, &status);
    };
    // The long-string convention serves names longer than a card holds.
    fits_write_key_longwarn(raw, &status);
    text("IMAGETYP", imageType(m.kind), "calibration master");
    text("BUNIT", m.kind == Kind::Flat ? "relative" : "DN", m.kind == Kind::Flat
                                                             ? "mean 1 in each Bayer channel"
                                                             : "camera units at its depth");
    // The camera with its index; older masters name the model here and
    // carry no CAMMODEL.
    text("INSTRUME", c.camera.empty() ? c.model : c.camera, "camera");
    text("CAMMODEL", c.model, "camera model");
    whole("DEVREL", c.release, "USB device release");
    whole("DEPTH", c.depth, "bits per sample of the frames");
    whole("XORGSUBF", c.roiX, "[px] region origin in the whole frame");
    whole("YORGSUBF", c.roiY, "[px] region origin in the whole frame");
    whole("XBINNING", c.binX, "sensor pixels per pixel in x (0: not stated)");
    whole("YBINNING", c.binY, "sensor pixels per pixel in y (0: not stated)");
    if (c.bayer) {
        text("BAYERPAT", bayer::patternName(c.bayer), "colour filter array at the first sample");
        text("CFANAMES", kFilterNames, "BAYERPAT names the filters' own colours");
    }
    text("PIXCLOCK", c.clock, "pixel clock");
    whole("GAIN", c.gain, "analog gain setting (camera units)");
    whole("BLKLEVEL", c.black, "black level setting (camera units)");
    number("EXPTIME", c.exposureMs / 1000.0, 7, "[s] exposure time");
    if (c.hasTemperature) number("CCD-TEMP", c.temperature, 2, "[C] sensor temperature");
    whole("NCOMBINE", m.frames, "frames combined");
    number("CLIPSIG", m.clipSigma, 2, "outliers rejected beyond this many sigma");
    text("DATE", m.date, "UTC when the master was made");
    text("ROWORDER", "TOP-DOWN", "first row stored is the sensor's top row");
    if (m.kind == Kind::Flat) {
        text("FLATLABL", m.label, "objective and filter");
        text("OFFSETF", m.offsetFile, "dark or bias taken off before normalising");
    }
    if (m.kind == Kind::Dark && m.hotPixels >= 0)
        whole("HOTPIX", m.hotPixels, "pixels far above the others");
    fits_write_img(raw, TFLOAT, 1, static_cast<LONGLONG>(m.pixels.size()),
                   const_cast<float*>(m.pixels.data()), &status);
    fitsfile* closing = f.release();
    fits_close_file(closing, &status);
    if (status) {
        error = fitsError("cannot write", path, status);
        std::filesystem::remove(path, ignored);
        return false;
    }
    return true;
}

bool readMaster(const std::string& path, Master& m, bool pixels, std::string& error) {
    int status = 0;
    fitsfile* raw = nullptr;
    // A plain file name: no cfitsio filters or extensions taken from it.
    if (fits_open_diskfile(&raw, path.c_str(), READONLY, &status))
        return error = fitsError("cannot open", path, status), false;
    FitsFile f(raw);
    int bitpix = 0, naxis = 0;
    long axes[2] = {0, 0};
    if (fits_get_img_param(raw, 2, &bitpix, &naxis, axes, &status) || naxis != 2)
        return error = path + ": not a two-dimensional image", false;
    Reader r{raw};
    std::string type;
    r.text("IMAGETYP", type);
    Master out;
    bool known = false;
    for (Kind k : kKinds)
        if (type == imageType(k)) out.kind = k, known = true;
    Conditions& c = out.at;
    std::string instrument;
    if (!known || !r.text("INSTRUME", instrument) || !r.whole("DEVREL", c.release) ||
        !r.whole("DEPTH", c.depth) || !r.whole("GAIN", c.gain) || !r.whole("BLKLEVEL", c.black) ||
        !r.number("EXPTIME", c.exposureMs))
        return error = path + ": not a calibration master (keywords missing)", false;
    if (r.text("CAMMODEL", c.model))
        c.camera = instrument;
    else
        c.model = instrument;
    if (axes[0] <= 0 || axes[1] <= 0 || axes[0] > 65535 || axes[1] > 65535 ||
        (c.depth != 8 && c.depth != 16))
        return error = path + ": size or depth out of range", false;
    c.width = static_cast<int>(axes[0]);
    c.height = static_cast<int>(axes[1]);
    c.exposureMs *= 1000.0;
    r.whole("XORGSUBF", c.roiX);
    r.whole("YORGSUBF", c.roiY);
    r.whole("XBINNING", c.binX);
    r.whole("YBINNING", c.binY);
    // Masters without CFANAMES name their pattern as the decoders do (a
    // site called red sits under a blue filter).
    std::string bayer, names;
    r.text("CFANAMES", names);
    const auto nameOf = names == kFilterNames ? bayer::patternName : bayer::codeName;
    if (r.text("BAYERPAT", bayer))
        for (int b = 1; b <= 4; ++b)
            if (bayer == nameOf(b)) c.bayer = b;
    r.text("PIXCLOCK", c.clock);
    c.hasTemperature = r.number("CCD-TEMP", c.temperature);
    r.whole("NCOMBINE", out.frames);
    double sigma = 0;
    if (r.number("CLIPSIG", sigma)) out.clipSigma = static_cast<float>(sigma);
    r.text("DATE", out.date);
    r.text("FLATLABL", out.label);
    r.text("OFFSETF", out.offsetFile);
    r.whole("HOTPIX", out.hotPixels);
    if (pixels) {
        out.pixels.resize(static_cast<size_t>(c.width) * static_cast<size_t>(c.height));
        int anyNull = 0;
        float nothing = 0;
        if (fits_read_img(raw, TFLOAT, 1, static_cast<LONGLONG>(out.pixels.size()), &nothing,
                          out.pixels.data(), &anyNull, &status))
            return error = fitsError("cannot read", path, status), false;
        for (float v : out.pixels)
            if (!std::isfinite(v)) return error = path + ": samples that are not numbers", false;
    }
    m = std::move(out);
    return true;
}

}  // namespace calib
