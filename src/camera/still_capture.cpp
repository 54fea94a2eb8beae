// Still capture: the armed request and the files of a still.
#include "camera/still_capture.h"

#include "ezImage/registry.h"
#include "shared_state.h"

void StillCapture::arm(std::string path, int width, int height, int former) {
    // Armed again before it was served: the first request's return stands.
    if (!due()) returnTo_ = static_cast<uint16_t>(former);
    path_ = std::move(path);
    width_ = static_cast<uint16_t>(width);
    height_ = static_cast<uint16_t>(height);
    shared::store(request_, 1, std::memory_order_release);
}

bool StillCapture::due() const {
    return shared::load(request_, std::memory_order_acquire) != 0;
}

bool StillCapture::take(int rawResolution, int resolutionInForce, int width, int height,
                        Taken& taken) {
    if (!request_ || rawResolution != resolutionInForce || width != width_ || height != height_)
        return false;
    taken.path = path_;
    taken.formats = format;
    taken.returnTo = returnTo_;
    shared::store(request_, 0, std::memory_order_release);
    return true;
}

int StillCapture::writeFiles(_ezImage* raw, const _ezImage* image, int formats,
                             const std::string& base, const Stamp& stamp) {
    struct Format {
        int bit;
        const char* extension;
    };
    static constexpr Format kOrder[] = {
        {EZ_FORMAT_RAW, ".raw"}, {EZ_FORMAT_JPEG, ".jpg"}, {EZ_FORMAT_BMP, ".bmp"},
        {EZ_FORMAT_PNG, ".png"}, {EZ_FORMAT_TIFF, ".tif"}};
    int failures = 0;
    for (const Format& format : kOrder) {
        if (!(formats & format.bit)) continue;
        const _ezImage* source = image;
        if (format.bit == EZ_FORMAT_RAW) {
            if (!raw) {
                ++failures;
                continue;
            }
            raw->bayer = stamp.bayer;
            raw->pixel_clock = stamp.pixelClockMode;
            raw->analog_gain = stamp.analogGain;
            raw->black_level = stamp.blackLevel;
            raw->idproduct = stamp.product;
            raw->idvendor = stamp.vendor;
            raw->bcddevice = stamp.release;
            source = raw;
        }
        if (!source || !ezSaveImage((base + format.extension).c_str(), source)) ++failures;
    }
    return failures;
}
