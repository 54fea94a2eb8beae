// Automatic exposure and automatic gain.
#include <algorithm>
#include <cstring>

#include "camera/exposure_loop.h"

#include "processing/pixels.h"

namespace {
constexpr int kDeadBand = 16;            // levels around the target that need no change
constexpr float kLongestExposure = 300;  // milliseconds the loop may ask for
constexpr int kDarkestMean = 10;         // a black frame counts as this mean
constexpr int kGainStep = 161;           // analog-gain step of the gain search
constexpr int kBrightEnough = 150 - 16;  // top mean that ends the gain search

// Sum of the 8-bit values (high bytes of 16-bit samples) of a one-channel frame.
uint64_t sampleSum(const _ezImage* frame) {
    const size_t bps = frame->depth / 8;
    uint64_t sum = 0;
    for (size_t y = 0; y < frame->height; ++y) {
        const unsigned char* p = pixels::row(frame, y) + (bps - 1);
        for (size_t x = 0; x < frame->width; ++x, p += bps) sum += *p;
    }
    return sum;
}

}  // namespace

ExposureLoop::ExposureLoop(SensorControl& sensor, CamBase& ops) : sensor_(sensor), ops_(ops) {
    target.define(110, 60, 180, 1, true);
}

int32_t ExposureLoop::histogramValue(int index) const {
    int32_t value = 0;
    std::memcpy(&value, statistics + static_cast<size_t>(index) * sizeof(int32_t), sizeof value);
    return value;
}

// Proportional in one step: the exposure is scaled by target / mean. Every
// interval-th frame is measured, the first one after a reset included.
int ExposureLoop::stepExposure(_ezImage* frame, int interval) {
    if (interval > 0) {
        if (count_ % interval != 0) {
            ++count_;
            return EZ_OK;
        }
        count_ = 1;
    }
    if (!pixels::usable(frame) || frame->channels != 1) return EZ_OK;
    const uint64_t count = static_cast<uint64_t>(frame->width) * frame->height;
    if (count == 0) return EZ_OK;
    const int mean = std::max(static_cast<int>(sampleSum(frame) / count), kDarkestMean);
    const int aim = target.value;
    if (mean - aim >= -kDeadBand && mean - aim <= kDeadBand) return EZ_OK;
    const float inForce = sensor_.exposureInForce();
    if (inForce <= 0) return EZ_OK;
    ops_._set_exposure(std::min(static_cast<float>(aim) * inForce / static_cast<float>(mean),
                           kLongestExposure));
    return EZ_OK;
}

// Raises the analog gain a step at a time until the brightest part of the
// image is bright enough: 0 bright enough, 1 the gain is at its top (the top
// level then stands as the histogram's high bound), -3 keep going.
int ExposureLoop::stepGain(_ezImage* image, int interval) {
    if (interval <= 0) interval = 1;
    ++count_;
    if (count_ % interval != 0) return -3;
    if (!pixels::usable(image) || (image->channels != 1 && image->channels != 3)) return -3;
    // The histogram goes to the camera's own statistics area.
    _ezImage view = *image;
    view.extra = statistics;
    if (__calc_histogram(&view) != EZ_OK) return -3;
    int32_t block[kHistogramBlock];
    std::memcpy(block, statistics, sizeof block);
    const int low = std::clamp(block[kHistogramLow], 0, 255);
    const int high = std::clamp(block[kHistogramHigh], 0, 255);
    const int64_t d = static_cast<int64_t>(image->width) * image->height / 8000;

    // Top level: the brightest 1/8000 of the pixels lie above it.
    int top = high;
    if (high >= low) {
        int64_t count = 0;
        top = low;
        for (int i = high; i >= low; --i) {
            count += block[i];
            if (count > d) {
                top = i;
                break;
            }
        }
    }
    int64_t q = 0, s = 0;
    for (int i = top;; --i) {
        q += block[i];
        s += static_cast<int64_t>(i) * block[i];
        if (!(q >= 50 * d && i > low)) break;
    }
    // An empty top (an image without samples) counts as dark.
    const int64_t topMean = q > 0 ? s / q : 0;
    const int measurement = count_ / interval;
    if (measurement >= 1 && measurement <= 2)
        gainHistory[measurement - 1] = q > 0 ? static_cast<double>(s) / static_cast<double>(q) : 0.0;
    if (topMean >= kBrightEnough) return 0;
    if (sensor_.analogGain.value > sensor_.analogGain.max - kGainStep) {
        const int32_t bound = top;
        std::memcpy(statistics + kHistogramHigh * sizeof(int32_t), &bound, sizeof bound);
        return 1;
    }
    ops_._set_analog_gain(sensor_.analogGain.value + kGainStep);
    return -3;
}

