// One-shot white balance: measures a raw frame and sets the pipeline's
// three digital gains.
#include "pipeline/white_balance.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "processing/decode.h"
#include "processing/geometry.h"
#include "processing/pixels.h"
#include "processing/tone.h"

namespace {
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

// Measures a raw frame and sets the three digital gains; they take effect
// from the next frame. The rectangle is in the coordinates of the image as
// displayed (after rotation and flip).
int measureWhiteBalance(FramePipeline& pipeline, unsigned char* buffer, const __IMG_RECT* rect,
                        int bayerPattern, int headLen) {
    if (!pipeline.colour()) return EZ_ENOTSUP;
    auto* raw = reinterpret_cast<_ezImage*>(buffer);
    if (!pixels::rawRecord(raw)) return EZ_ERANGE;
    const int width = raw->width, height = raw->height;
    const int header = headLen >= static_cast<int>(sizeof(_ezImage)) ? headLen : 512;

    // One byte per sample (the high byte of 16-bit ones), then decoded.
    FrameBuffer copy, decoded;
    if (!copy.make(width, height, 1, 8, header, raw->resolution) ||
        !decoded.make(width, height, 3, 8, header, raw->resolution))
        return EZ_EIO;
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
    ::fillDecodedBorder(image);

    int gains[3];
    if (!rect) {
        if (__white_balance(image, gains) != EZ_OK) return EZ_EIO;
        for (int c = 0; c < 3; ++c) {
            const int g = gains[c];
            SoftWareValue& gain = pipeline.digitalGain[c];
            gain.stage({static_cast<uint8_t>(g)},
                       [g](unsigned char* t) { __matrix_channel(g, t, 256); });
            gain.value = static_cast<uint8_t>(g);
        }
        return EZ_OK;
    }

    // Turn the image first: a quarter turn swaps the sides the rectangle is
    // clipped to.
    __rotate(image, pipeline.rotate);
    __flip(image, pipeline.flip);
    const int left = std::max(rect->left, 0);
    const int top = std::max(rect->top, 0);
    const int right = std::min<int>(rect->right, image->width);
    const int bottom = std::min<int>(rect->bottom, image->height);
    if (right - left < 1 || bottom - top < 1) return EZ_ERANGE;
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
    return EZ_OK;
}
