// Fluorescence guide and point intensity on the camera.
//
// The guide first raises the gain until a dim sample's brightest part shows
// (driven by the frame reader through _fluorescence), then, on request,
// derives a long exposure from one measured frame and returns to a fixed gain.
#include <cstring>

#include "CamBayer.h"
#include "processing/measure.h"
#include "processing/pixels.h"
#include "processing/tone.h"

namespace {
constexpr int kGuideGain = 244;
}

int CamBayer::_pt_gray(int x, int y, _ezImage* image) {
    if (!image) return EZ_ERANGE;
    return __pt_gray(x, y, image);
}

int CamBayer::_fluorescence_guide(int type, int value) {
    if (!longExposure.supported) return EZ_ENOTSUP;
    switch (type) {
        case 0:
            fluoParam = value;
            fluoParamSet = 1;
            break;
        case 1: {
            _set_autoexposure(false);
            if (pixelRate > 0) {
                const int64_t lines = static_cast<int64_t>(exposure.max - 10) * lineLength;
                _set_exposure(static_cast<float>(static_cast<double>(lines) / pixelRate));
            }
            _set_analog_gain(kGuideGain);
            _restart_exposure();
            _set_pixsclock(pixelClock.value);
            for (int c = 0; c < (channels == 1 ? 1 : 3); ++c) _set_stretch(0, 255, false, c);
            aeState = 0;
            fluoGuideOn = 1;
            break;
        }
        case 2:
            fluoGuideEnd = 1;
            break;
        default:
            break;
    }
    return EZ_OK;
}

int CamBayer::_fluorescence(_ezImage* image, int interval) {
    const int count = channels == 1 ? 1 : 3;
    int result = EZ_OK;
    if (fluoGuideOn) {
        const int gain = _calc_auto_gain(image, interval);
        if (gain == 1) {
            fluoGuideOn = 0;
            int32_t top = 255;
            std::memcpy(&top, measureStatistics + kHistogramHigh * sizeof(int32_t), sizeof top);
            for (int c = 0; c < count; ++c) _set_stretch(0, top, false, c);
            result = EZ_FLUO_GAIN;
        } else if (gain == 0) {
            fluoGuideOn = 0;
            result = EZ_FLUO_GAIN;
        }
    }
    if (!fluoGuideEnd) return result;
    fluoGuideEnd = 0;
    if (!pixels::usable(image) || (image->channels != 1 && image->channels != 3)) return result;

    // The pixels above the mean, from the top down, until 5 % are counted. A
    // record without pixels has no mean (not a number) and counts none.
    int64_t q = 0, s = 0;
    if (image->width > 0 && image->height > 0) {
        const int mean = static_cast<int>(__calc_gray(image));
        _ezImage view = *image;
        view.extra = measureStatistics;
        __calc_histogram(&view);
        int32_t block[kHistogramBlock];
        std::memcpy(block, measureStatistics, sizeof block);
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
    _set_autoexposure(false);
    // Nothing counted, or no gain history: the exposure is left as it is.
    if (q > 0 && pipeline.stretch[0].max > 0 && agHistory[0] > 0 && pixelRate > 0) {
        const auto lines = static_cast<float>(static_cast<double>(exposure.value) * s / q * 255 /
                                              pipeline.stretch[0].max / agHistory[0]);
        _set_exposure(static_cast<float>(static_cast<float>(lineLength) * lines /
                                         static_cast<double>(pixelRate)));
    }
    _set_analog_gain(kGuideGain);
    for (int c = 0; c < count; ++c) _set_stretch(0, 255, false, c);
    _restart_exposure();
    return EZ_FLUO_EXPOSURE;
}
