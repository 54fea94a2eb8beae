// Correction algorithms of the frame pipeline: flat field, hot pixels, smoothing
// and bit shift (the calibration masters are src/calibration).
#include "processing/corrections.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "processing/median.h"
#include "processing/pixels.h"

using pixels::load;
using pixels::row;
using pixels::rowBytes;
using pixels::store;
using pixels::usable;

namespace {

// Exact quotient n / d for n < 2^32 / 255 and 1 <= d <= 255 by one multiply:
// with c = ceil(2^32 / d), floor(n * c / 2^32) == floor(n / d) in that range.
struct Reciprocals {
    uint64_t c[256];
    Reciprocals() {
        constexpr uint64_t one = uint64_t{1} << 32;
        // The reference is supposed to hold no zeros; one that does divides by 1.
        c[0] = one;
        for (uint64_t d = 1; d < 256; ++d) c[d] = (one + d - 1) / d;
    }
};
const Reciprocals kReciprocals;

// Corrected value of every (reference, value) pair for one channel mean, so
// that the pass over the frame costs one table read per sample.
using FlatTable = std::array<unsigned char, 256 * 256>;

void buildFlatTable(FlatTable& table, uint32_t mean) {
    const uint64_t* recip = kReciprocals.c;
    for (size_t r = 0; r < 256; ++r)
        for (uint32_t v = 0; v < 256; ++v) {
            const uint64_t q = (uint64_t{mean * v} * recip[r]) >> 32;
            table[r << 8 | v] = static_cast<unsigned char>(q < 255 ? q : 255);
        }
}

template <size_t Bps, size_t Channels>
void flatField(_ezImage* image, const _ezImage* reference, const FlatTable* tables) {
    const size_t w = image->width;
    for (size_t y = 0; y < image->height; ++y) {
        unsigned char* p = row(image, y) + (Bps - 1);  // the 8-bit value; a low byte stays
        const unsigned char* r = row(reference, y);
        for (size_t x = 0; x < w; ++x, p += Channels * Bps, r += Channels)
            for (size_t k = 0; k < Channels; ++k) p[k * Bps] = tables[k][size_t{r[k]} << 8 | p[k * Bps]];
    }
}

template <typename T>
int findDefects(const _ezImage* frame, _ezPoint* points, int capacity) {
    constexpr uint32_t top = std::numeric_limits<T>::max();
    constexpr uint32_t floor = sizeof(T) == 1 ? 32 : 8192;  // dark samples are never defects
    const int w = frame->width, h = frame->height;
    int count = 0;
    for (int y = 2; y < h - 2; ++y) {
        const unsigned char* p = row(frame, y);
        for (int c = 2; c < w - 2; ++c) {
            const uint32_t v = load<T>(p, c);
            if (v <= floor) continue;
            // Three times the brighter same-colour neighbour, capped at full scale.
            const uint32_t limit = std::min(3 * std::max<uint32_t>(load<T>(p, c - 2), load<T>(p, c + 2)), top);
            if (v <= limit) continue;
            points[count] = {static_cast<uint16_t>(y), static_cast<uint16_t>(c)};
            if (count == capacity - 3) return EZ_EIO;  // the list is full
            ++count;
        }
    }
    return count;
}

template <int Type, size_t Bps>
void smoothImage(_ezImage* image) {
    const size_t w = image->width, h = image->height;
    const size_t channels = image->channels, step = channels * Bps;
    for (size_t y = 0; y < h; ++y) {
        // Works in place: the row above and the left neighbour are already filtered.
        unsigned char* cur = row(image, y) + (Bps - 1);
        const unsigned char* up = row(image, y == 0 ? 0 : y - 1) + (Bps - 1);
        const unsigned char* down = row(image, y + 1 == h ? y : y + 1) + (Bps - 1);
        for (size_t x = 1; x + 1 < w; ++x) {
            for (size_t k = 0; k < channels; ++k) {
                const size_t i = x * step + k * Bps;
                if constexpr (Type == 1) {
                    cur[i] = median9<unsigned char>({up[i - step], up[i], up[i + step], cur[i - step], cur[i],
                                                     cur[i + step], down[i - step], down[i], down[i + step]});
                } else {
                    const unsigned sum = 4u * cur[i] + 2u * (up[i] + down[i] + cur[i - step] + cur[i + step]) +
                                         up[i - step] + up[i + step] + down[i - step] + down[i + step];
                    cur[i] = static_cast<unsigned char>(sum >> 4);
                }
            }
        }
    }
}

template <int Type>
void smoothDepth(_ezImage* image) {
    if (image->depth == 8)
        smoothImage<Type, 1>(image);
    else
        smoothImage<Type, 2>(image);
}

template <typename T>
void shiftSamples(_ezImage* image, int shift) {
    constexpr uint32_t top = std::numeric_limits<T>::max();
    const size_t samples = static_cast<size_t>(image->width) * image->channels;
    for (size_t y = 0; y < image->height; ++y) {
        unsigned char* p = row(image, y);
        if (shift > 0) {
            for (size_t i = 0; i < samples; ++i)
                store<T>(p, i, static_cast<T>(std::min(uint32_t{load<T>(p, i)} << shift, top)));
        } else {
            for (size_t i = 0; i < samples; ++i) store<T>(p, i, static_cast<T>(load<T>(p, i) >> -shift));
        }
    }
}

}  // namespace

void __flat_field(_ezImage* image, _ezImage* reference) {
    // The reference must be an 8-bit image of the frame's size and layout.
    if (!usable(image) || !usable(reference) || reference->depth != 8 ||
        reference->channels != image->channels || reference->width != image->width ||
        reference->height != image->height)
        return;
    const uint16_t* m = reference->channel_mean;
    const size_t channels = image->channels;
    if (channels != 1 && channels != 3) return;
    std::unique_ptr<FlatTable[]> tables(new (std::nothrow) FlatTable[channels]);
    if (!tables) return;
    // One channel: the reference's three means are equal.
    for (size_t k = 0; k < channels; ++k) buildFlatTable(tables[k], channels == 3 ? m[k] : m[1]);
    if (channels == 3) {
        if (image->depth == 8)
            flatField<1, 3>(image, reference, tables.get());
        else
            flatField<2, 3>(image, reference, tables.get());
    } else {
        if (image->depth == 8)
            flatField<1, 1>(image, reference, tables.get());
        else
            flatField<2, 1>(image, reference, tables.get());
    }
}

int __calc_defects(_ezImage* frame, _ezPoint* points, int capacity) {
    if (!frame || !points || capacity < 3) return EZ_EIO;
    if (static_cast<int64_t>(frame->width) * frame->height < 320000) return EZ_EIO;
    if (!frame->data) return EZ_EIO;
    // Other depths, and anything but a one-channel mosaic, hold no hot pixels to find.
    if (!usable(frame) || frame->channels != 1) return 0;
    return frame->depth == 8 ? findDefects<uint8_t>(frame, points, capacity)
                             : findDefects<uint16_t>(frame, points, capacity);
}

void __defects_correction(_ezImage* frame, const _ezPoint* points, int count) {
    if (!usable(frame) || frame->channels != 1 || !points) return;
    const size_t bps = frame->depth / 8;
    for (int i = 0; i < count; ++i) {
        const _ezPoint pt = points[i];
        // The list may come from a frame of another size: never leave the row.
        if (pt.row >= frame->height || pt.column >= frame->width || pt.column < 2) continue;
        unsigned char* p = row(frame, pt.row) + pt.column * bps;
        std::memcpy(p, p - 2 * bps, bps);
    }
}

void __smooth(_ezImage* image, int type) {
    if (!usable(image) || image->width <= 2) return;
    if (type == 1)
        smoothDepth<1>(image);
    else if (type == 2)
        smoothDepth<2>(image);
}

void __smooth_middle(_ezImage* source, _ezImage* destination) {
    if (!usable(source) || !usable(destination) || source->depth != 16 || source->channels != 1 ||
        destination->depth != 16 || destination->channels != 1 || destination->width != source->width ||
        destination->height != source->height)
        return;
    const size_t w = source->width, h = source->height;
    if (w == 0) return;
    for (size_t y = 0; y < h; ++y) {
        const unsigned char* up = row(source, y == 0 ? 0 : y - 1);
        const unsigned char* cur = row(source, y);
        const unsigned char* down = row(source, y + 1 == h ? y : y + 1);
        unsigned char* out = row(destination, y);
        for (size_t x = 1; x + 1 < w; ++x) {
            store<uint16_t>(out, x,
                            median9<uint16_t>({load<uint16_t>(up, x - 1), load<uint16_t>(up, x),
                                               load<uint16_t>(up, x + 1), load<uint16_t>(cur, x - 1),
                                               load<uint16_t>(cur, x), load<uint16_t>(cur, x + 1),
                                               load<uint16_t>(down, x - 1), load<uint16_t>(down, x),
                                               load<uint16_t>(down, x + 1)}));
        }
        store<uint16_t>(out, 0, load<uint16_t>(up, 0));
        if (w >= 2) store<uint16_t>(out, w - 1, load<uint16_t>(out, w - 2));
    }
}

int __shift_operation(_ezImage* image, int shift) {
    if (shift < -8 || shift > 8 || !usable(image)) return EZ_ERANGE;
    if (shift == 0) return EZ_OK;
    if (image->depth == 8)
        shiftSamples<uint8_t>(image, shift);
    else
        shiftSamples<uint16_t>(image, shift);
    return EZ_OK;
}
