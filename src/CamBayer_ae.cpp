// Automatic exposure, automatic gain and one-shot white balance.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "CamBayer.h"
#include "processing/decode.h"
#include "processing/geometry.h"
#include "processing/pixels.h"
#include "processing/tone.h"

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

// An owned frame buffer: the record, then its pixels after `header` bytes.
struct FrameBuffer {
    std::unique_ptr<unsigned char[]> bytes;
    _ezImage* record = nullptr;
    bool make(int width, int height, int channels, int depth, int header, int resolution) {
        const size_t size = static_cast<size_t>(header) +
                            static_cast<size_t>(width) * height * channels * (depth / 8);
        bytes.reset(new (std::nothrow) unsigned char[size]());
        if (!bytes) return false;
        record = reinterpret_cast<_ezImage*>(bytes.get());
        ezInitImageHeader(record, width, height, channels, depth, header, bytes.get() + header,
                          resolution, 0);
        return true;
    }
};

}  // namespace

// The decoder leaves the outer rows and columns unwritten: repeat their
// neighbours there, so that whole-image measurements see only real pixels.
void CamBayer::fillDecodedBorder(_ezImage* image) {
    ::fillDecodedBorder(image);
}

bool CamBayer::rawRecord(const _ezImage* frame) {
    return pixels::rawRecord(frame);
}

void CamBayer::_set_autoexposure(bool on) {
    autoExposure = on;
}
int CamBayer::_autoexposure(bool* on) {
    if (on) *on = autoExposure != 0;
    return 0;
}
void CamBayer::_set_aetarget(int target) {
    if (target >= aeTarget.min && target <= aeTarget.max)
        aeTarget.value = static_cast<uint8_t>(target);
}
int CamBayer::_aetarget() {
    return aeTarget.value;
}
int CamBayer::_aetarget_range(int* min, int* max, int* step) {
    if (!aeTarget.supported) return -4;
    if (min) *min = aeTarget.min;
    if (max) *max = aeTarget.max;
    if (step) *step = aeTarget.step;
    return 0;
}

float CamBayer::exposureInForce() const {
    if (pixelRate <= 0) return 0;
    const float lines = static_cast<float>(exposure.value) +
                        static_cast<float>(longExposure.value) * static_cast<float>(exposure.max);
    return lines * static_cast<float>(lineLength) / static_cast<float>(pixelRate);
}

// Proportional in one step: the exposure is scaled by target / mean. Every
// interval-th frame is measured, the first one after a reset included.
int CamBayer::_calc_auto_exposure(_ezImage* frame, int interval) {
    if (interval > 0) {
        if (aeState % interval != 0) {
            ++aeState;
            return 0;
        }
        aeState = 1;
    }
    if (!pixels::usable(frame) || frame->channels != 1) return 0;
    const uint64_t count = static_cast<uint64_t>(frame->width) * frame->height;
    if (count == 0) return 0;
    const int mean = std::max(static_cast<int>(sampleSum(frame) / count), kDarkestMean);
    const int target = aeTarget.value;
    if (mean - target >= -kDeadBand && mean - target <= kDeadBand) return 0;
    const float inForce = exposureInForce();
    if (inForce <= 0) return 0;
    _set_exposure(std::min(static_cast<float>(target) * inForce / static_cast<float>(mean),
                           kLongestExposure));
    return 0;
}

// Raises the analog gain a step at a time until the brightest part of the
// image is bright enough: 0 bright enough, 1 the gain is at its top (the top
// level then stands as the histogram's high bound), -3 keep going.
int CamBayer::_calc_auto_gain(_ezImage* image, int interval) {
    if (interval <= 0) interval = 1;
    ++aeState;
    if (aeState % interval != 0) return -3;
    if (!pixels::usable(image) || (image->channels != 1 && image->channels != 3)) return -3;
    // The histogram goes to the camera's own statistics area.
    _ezImage view = *image;
    view.extra = measureStatistics;
    if (__calc_histogram(&view) != 0) return -3;
    int32_t block[kHistogramBlock];
    std::memcpy(block, measureStatistics, sizeof block);
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
    const int measurement = aeState / interval;
    if (measurement >= 1 && measurement <= 2)
        agHistory[measurement - 1] = q > 0 ? static_cast<double>(s) / static_cast<double>(q) : 0.0;
    if (topMean >= kBrightEnough) return 0;
    if (analogGain.value > analogGain.max - kGainStep) {
        const int32_t bound = top;
        std::memcpy(measureStatistics + kHistogramHigh * sizeof(int32_t), &bound, sizeof bound);
        return 1;
    }
    _set_analog_gain(analogGain.value + kGainStep);
    return -3;
}

// Measures a raw frame and sets the three digital gains; they take effect
// from the next frame. The rectangle is in the coordinates of the image as
// displayed (after rotation and flip).
int CamBayer::_calc_white_balance(unsigned char* buffer, __IMG_RECT* rect) {
    if (!pipeline.colour()) return -4;
    auto* raw = reinterpret_cast<_ezImage*>(buffer);
    if (!rawRecord(raw)) return -2;
    const int width = raw->width, height = raw->height;
    const int header = headLen >= static_cast<int>(sizeof(_ezImage)) ? headLen : 512;

    // One byte per sample (the high byte of 16-bit ones), then decoded.
    FrameBuffer copy, decoded;
    if (!copy.make(width, height, 1, 8, header, raw->resolution) ||
        !decoded.make(width, height, 3, 8, header, raw->resolution))
        return -3;
    const size_t bps = raw->depth / 8;
    const size_t rawStride = static_cast<size_t>(width) * bps;
    const unsigned char* from = buffer + raw->header_size;
    for (int y = 0; y < height; ++y) {
        const unsigned char* src = from + y * rawStride + (bps - 1);
        unsigned char* dst = pixels::row(copy.record, y);
        for (int x = 0; x < width; ++x) dst[x] = src[x * bps];
    }
    pipeline.decode(copy.record, decoded.record, bayerPattern);
    _ezImage* image = decoded.record;
    fillDecodedBorder(image);

    int gains[3];
    if (!rect) {
        if (__white_balance(image, gains) != 0) return -3;
        for (int c = 0; c < 3; ++c) {
            const int g = gains[c];
            SoftWareValue& gain = pipeline.digitalGain[c];
            gain.stage({static_cast<uint8_t>(g)},
                       [g](unsigned char* t) { __matrix_channel(g, t, 256); });
            gain.value = static_cast<uint8_t>(g);
        }
        return 0;
    }

    // Turn the image first: a quarter turn swaps the sides the rectangle is
    // clipped to.
    __rotate(image, pipeline.rotate);
    __flip(image, pipeline.flip);
    const int left = std::max(rect->left, 0);
    const int top = std::max(rect->top, 0);
    const int right = std::min<int>(rect->right, image->width);
    const int bottom = std::min<int>(rect->bottom, image->height);
    if (right - left < 1 || bottom - top < 1) return -2;
    uint64_t sums[3] = {0, 0, 0};
    for (int y = top; y < bottom; ++y) {
        const unsigned char* p = pixels::row(image, y) + 3 * left;
        for (int x = left; x < right; ++x, p += 3) {
            sums[0] += p[0];
            sums[1] += p[1];
            sums[2] += p[2];
        }
    }
    const uint64_t area = static_cast<uint64_t>(right - left) * (bottom - top);
    int means[3];
    for (int c = 0; c < 3; ++c) means[c] = std::max(static_cast<int>(sums[c] / area), 1);
    const int hi = std::max({means[0], means[1], means[2]});
    const int lo = std::min({means[0], means[1], means[2]});
    // Unity (64) for the brightest channel unless the darkest would need more
    // than 240: then the darkest gets 240 and the others scale with it.
    const double e = hi * 64 / lo > 240 ? hi * (lo * 240.0 / hi) : hi * 64.0;
    for (int c = 0; c < 3; ++c) {
        const int g = static_cast<int>(e / means[c]);
        SoftWareValue& setting = pipeline.digitalGain[c];
        if (g == setting.value || g < setting.min || g > setting.max) continue;
        setting.stage({static_cast<uint8_t>(g)},
                      [g](unsigned char* t) { __matrix_channel(g, t, 256); });
        setting.value = static_cast<uint8_t>(g);
    }
    return 0;
}
