// The fluorescence guide.
#include <cstring>

#include "camera/fluorescence_guide.h"

#include "processing/measure.h"
#include "processing/pixels.h"
#include "processing/tone.h"

namespace {
constexpr int kGuideGain = 244;
}

int FluoGuide::command(int type, int value) {
    if (!sensor_.longExposure.supported) return EZ_ENOTSUP;
    switch (type) {
        case 0:
            parameter_ = value;
            parameterSet_ = 1;
            break;
        case 1: {
            ops_._set_autoexposure(false);
            if (sensor_.pixelRate > 0) {
                const int64_t lines = static_cast<int64_t>(sensor_.exposure.max - 10) * sensor_.lineLength;
                ops_._set_exposure(static_cast<float>(static_cast<double>(lines) / sensor_.pixelRate));
            }
            ops_._set_analog_gain(kGuideGain);
            ops_._restart_exposure();
            ops_._set_pixsclock(sensor_.pixelClock.value);
            for (int c = 0; c < (sensor_.channels == 1 ? 1 : 3); ++c) ops_._set_stretch(0, 255, false, c);
            loop_.reset();
            gainSearch_ = 1;
            break;
        }
        case 2:
            endRequested_ = 1;
            break;
        default:
            break;
    }
    return EZ_OK;
}

int FluoGuide::step(_ezImage* image, int interval) {
    const int count = sensor_.channels == 1 ? 1 : 3;
    int result = EZ_OK;
    if (gainSearch_) {
        const int gain = loop_.stepGain(image, interval);
        if (gain == 1) {
            gainSearch_ = 0;
            const int32_t top = loop_.histogramValue(kHistogramHigh);
            for (int c = 0; c < count; ++c) ops_._set_stretch(0, top, false, c);
            result = EZ_FLUO_GAIN;
        } else if (gain == 0) {
            gainSearch_ = 0;
            result = EZ_FLUO_GAIN;
        }
    }
    if (!endRequested_) return result;
    endRequested_ = 0;
    if (!pixels::usable(image) || (image->channels != 1 && image->channels != 3)) return result;

    // The pixels above the mean, from the top down, until 5 % are counted. A
    // record without pixels has no mean (not a number) and counts none.
    int64_t q = 0, s = 0;
    if (image->width > 0 && image->height > 0) {
        const int mean = static_cast<int>(__calc_gray(image));
        _ezImage view = *image;
        view.extra = loop_.statistics;
        __calc_histogram(&view);
        int32_t block[kHistogramBlock];
        std::memcpy(block, loop_.statistics, sizeof block);
        const int high = block[kHistogramHigh];
        const int64_t limit = 5 * static_cast<int64_t>(image->width) * image->height / 100;
        if (high >= mean && high >= 0 && high <= 255) {
            for (int i = high;; --i) {
                q += block[i];
                s += static_cast<int64_t>(i) * block[i];
                if (!(q >= limit && i > mean)) break;
            }
        }
    }
    ops_._set_autoexposure(false);
    // Nothing counted, or no gain history: the exposure is left as it is.
    if (q > 0 && pipeline_.stretch[0].max > 0 && loop_.gainHistory[0] > 0 && sensor_.pixelRate > 0) {
        const auto lines = static_cast<float>(static_cast<double>(sensor_.exposure.value) * s / q * 255 /
                                              pipeline_.stretch[0].max / loop_.gainHistory[0]);
        ops_._set_exposure(static_cast<float>(static_cast<float>(sensor_.lineLength) * lines /
                                         static_cast<double>(sensor_.pixelRate)));
    }
    ops_._set_analog_gain(kGuideGain);
    for (int c = 0; c < count; ++c) ops_._set_stretch(0, 255, false, c);
    ops_._restart_exposure();
    return EZ_FLUO_EXPOSURE;
}
