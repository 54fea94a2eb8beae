// Image means and the automatic white-balance measurement.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "processing/geometry.h"
#include "processing/image_record.h"
#include "processing/pixels.h"
#include "processing/tone.h"

using pixels::row;
using pixels::usable;

namespace {

constexpr int kWorkingSize = 512;  // white balance never looks at more pixels than this square

// Grey value used to find the well-exposed part of the frame.
inline int balanceGrey(const unsigned char* p) { return (3 * p[0] + 6 * p[1] + p[2]) / 10; }

}  // namespace

float __calc_gray(_ezImage* image) {
    if (!usable(image)) return std::numeric_limits<float>::quiet_NaN();
    const size_t count = static_cast<size_t>(image->width) * image->height;
    if (count == 0) return std::numeric_limits<float>::quiet_NaN();
    // The first width x height samples in memory; the high byte of 16-bit ones.
    const size_t step = image->depth / 8;
    const unsigned char* p = image->data + (step - 1);
    uint64_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum += p[i * step];
    return static_cast<float>(sum) / static_cast<float>(count);
}

int __calc_avg(_ezImage* image, int mode) {
    if (!usable(image)) return EZ_EIO;
    image->channel_mean[0] = image->channel_mean[1] = image->channel_mean[2] = 0;
    if (mode != 0 && mode != 1) return EZ_OK;
    const size_t count = static_cast<size_t>(image->width) * image->height;
    if (count == 0) return EZ_OK;
    const size_t bps = image->depth / 8, channels = image->channels;
    const size_t used = std::min<size_t>(channels, 3);
    uint64_t sums[3] = {0, 0, 0};
    for (size_t y = 0; y < image->height; ++y) {
        // The byte that carries the 8-bit value; zeros become 1 so that the
        // image can later serve as a divisor.
        unsigned char* p = row(image, y) + (bps - 1);
        for (size_t x = 0; x < image->width; ++x, p += channels * bps) {
            for (size_t k = 0; k < channels; ++k) {
                unsigned char& v = p[k * bps];
                if (v == 0) v = 1;
                if (k < used) sums[k] += v;
            }
        }
    }
    if (channels == 1) {
        const auto mean = static_cast<uint16_t>(sums[0] / count);
        image->channel_mean[0] = image->channel_mean[1] = image->channel_mean[2] = mean;
    } else {
        for (size_t k = 0; k < used; ++k) image->channel_mean[k] = static_cast<uint16_t>(sums[k] / count);
    }
    return EZ_OK;
}

int _color_temperature(_ezImage* image, _ezImage* mask, int* gains) {
    if (!usable(image) || !usable(mask) || !gains || image->depth != 8 || mask->depth != 8 ||
        mask->channels != 1 || mask->width != image->width || mask->height != image->height ||
        (image->channels != 1 && image->channels != 3))
        return -1;
    const int channels = image->channels;
    uint64_t sums[3] = {0, 0, 0};
    uint64_t count = 0;
    for (size_t y = 0; y < image->height; ++y) {
        const unsigned char* p = row(image, y);
        const unsigned char* m = row(mask, y);
        for (size_t x = 0; x < image->width; ++x, p += channels) {
            if (!m[x]) continue;
            if (channels == 3) {
                sums[0] += p[0];
                sums[1] += p[1];
                sums[2] += p[2];
                ++count;
            } else if (p[0] <= 252) {  // saturated samples say nothing about colour
                sums[0] += p[0];
                ++count;
            }
        }
    }
    if (count < 10) return -1;
    int means[3];
    for (int k = 0; k < 3; ++k) {
        const uint64_t sum = channels == 3 ? sums[k] : sums[0];
        means[k] = std::max(static_cast<int>(sum / count), 1);
    }
    const int hi = std::max({means[0], means[1], means[2]});
    const int lo = std::min({means[0], means[1], means[2]});
    // Unity (64) for the brightest channel unless the darkest would need more
    // than 250: then the darkest gets 250 and the others scale with it.
    const double e = hi * 64 / lo > 250 ? hi * (lo * 250.0 / hi) : hi * 64.0;
    for (int k = 0; k < 3; ++k) gains[k] = static_cast<int>(e / means[k]);
    return 0;
}

int __white_balance(_ezImage* image, int* gains) {
    if (!usable(image) || !gains || image->depth != 8 ||
        (image->channels != 1 && image->channels != 3) || image->width == 0 || image->height == 0)
        return -1;
    const int w = std::min<int>(image->width, kWorkingSize);
    const int h = std::min<int>(image->height, kWorkingSize);
    const int channels = image->channels;
    ImagePtr small = makeImage(w, h, 8, channels);
    ImagePtr mask = makeImage(w, h, 8, 1);
    if (!small || !mask) return -1;
    __resize(image, small.get());

    int64_t histogram[256] = {};
    int lo = 250, hi = 0;
    const size_t pixels = static_cast<size_t>(w) * h;
    for (size_t i = 0; i < pixels; ++i) {
        const unsigned char* p = small->data + i * channels;
        const int g = channels == 3 ? balanceGrey(p) : p[0];
        mask->data[i] = static_cast<unsigned char>(g);
        ++histogram[g];
        if (g <= 249) {
            lo = std::min(lo, g);
            hi = std::max(hi, g);
        }
    }
    int64_t total = 0, sum = 0;
    for (int k = lo; k <= hi; ++k) {
        total += histogram[k];
        sum += k * histogram[k];
    }

    // Otsu threshold; the second pass refines from the first pass's threshold
    // and keeps its running count and sum.
    int64_t f = 0, s = 0;
    int t = lo;
    for (int pass = 0; pass < 2; ++pass) {
        double best = -1;
        for (int k = t; k < hi; ++k) {
            if (!histogram[k]) continue;
            f += histogram[k];
            if (f == total) break;
            s += k * histogram[k];
            const double d = static_cast<double>(sum - s) / static_cast<double>(total - f) -
                             static_cast<double>(s) / static_cast<double>(f);
            const double m = d * d * static_cast<double>(f) * static_cast<double>(total - f);
            if (m > best) {
                best = m;
                t = k;
            }
        }
    }

    for (size_t i = 0; i < pixels; ++i)
        if (mask->data[i] < t || mask->data[i] > 250) mask->data[i] = 0;
    return _color_temperature(small.get(), mask.get(), gains);
}
