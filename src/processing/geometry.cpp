// In-place geometry: flip, quarter turns, cut-out, bilinear resize, binning,
// Bayer decimation, field weaving and 16-bit byte order.
#include "processing/geometry.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "processing/image_record.h"
#include "processing/pixels.h"

using pixels::load;
using pixels::row;
using pixels::rowBytes;
using pixels::store;
using pixels::usable;

namespace {

// Describes the record again at a new size over the same pixel block.
void redescribe(_ezImage* image, int width, int height) {
    ezInitImageHeader(image, width, height, image->channels, image->depth, image->header_size,
                      image->data, image->resolution, image->decoded);
}

// Calls f with the pixel size as a compile-time constant for the common
// layouts (1 or 3 channels of 8 or 16 bits), as a plain size otherwise.
template <typename F>
void withPixelSize(size_t n, F&& f) {
    switch (n) {
    case 1: f(std::integral_constant<size_t, 1>{}); break;
    case 2: f(std::integral_constant<size_t, 2>{}); break;
    case 3: f(std::integral_constant<size_t, 3>{}); break;
    case 6: f(std::integral_constant<size_t, 6>{}); break;
    default: f(n); break;
    }
}

size_t pixelBytes(const _ezImage* image) {
    return static_cast<size_t>(image->channels) * (image->depth / 8);
}

// Rotation scratch: tiles keep both the reads and the scattered writes in cache.
constexpr size_t kTile = 64;

template <typename N>
void rotateInto(const _ezImage* image, unsigned char* out, bool clockwise, N pixel) {
    const size_t n = pixel;
    const size_t w = image->width, h = image->height;
    const size_t outStride = h * n;  // the new width is the old height
    for (size_t ty = 0; ty < h; ty += kTile) {
        const size_t yEnd = std::min(ty + kTile, h);
        for (size_t tx = 0; tx < w; tx += kTile) {
            const size_t xEnd = std::min(tx + kTile, w);
            for (size_t y = ty; y < yEnd; ++y) {
                const unsigned char* src = row(image, y);
                if (clockwise) {
                    // (x, y) -> column h - 1 - y, row x
                    unsigned char* dst = out + (h - 1 - y) * n;
                    for (size_t x = tx; x < xEnd; ++x) std::memcpy(dst + x * outStride, src + x * n, n);
                } else {
                    // (x, y) -> column y, row w - 1 - x
                    unsigned char* dst = out + y * n;
                    for (size_t x = tx; x < xEnd; ++x)
                        std::memcpy(dst + (w - 1 - x) * outStride, src + x * n, n);
                }
            }
        }
    }
}

template <typename T>
T clampSum(uint32_t sum) {
    constexpr uint32_t top = std::numeric_limits<T>::max();
    return static_cast<T>(sum < top ? sum : top);
}

// Horizontal binning pass shared by the monochrome (Group 1) and Bayer
// (Group 2) variants: output sample j sums the `factor` input samples
// (j / Group) * Group * factor + j % Group + m * Group, m = 0 .. factor - 1.
// Rows end up packed `outWidth` samples apart; the output never overtakes
// the input, so rows may be rewritten in place.
template <typename T, size_t Group>
void binRows(_ezImage* image, int factor, size_t outWidth) {
    const size_t outBytes = outWidth * sizeof(T);
    for (size_t y = 0; y < image->height; ++y) {
        const unsigned char* in = row(image, y);
        unsigned char* out = image->data + y * outBytes;
        for (size_t j = 0; j < outWidth; ++j) {
            const size_t base = (j / Group) * Group * factor + j % Group;
            uint32_t sum = 0;
            for (int m = 0; m < factor; ++m) sum += load<T>(in, base + m * Group);
            store<T>(out, j, clampSum<T>(sum));
        }
    }
}

// Vertical binning pass over rows packed `width` samples apart: output row r
// sums rows (r / Group) * Group * factor + r % Group + m * Group.
template <typename T, size_t Group>
void binColumns(unsigned char* data, size_t width, size_t outHeight, int factor) {
    const size_t rowLen = width * sizeof(T);
    for (size_t r = 0; r < outHeight; ++r) {
        const size_t base = (r / Group) * Group * factor + r % Group;
        unsigned char* out = data + r * rowLen;
        for (size_t j = 0; j < width; ++j) {
            uint32_t sum = 0;
            for (int m = 0; m < factor; ++m) sum += load<T>(data + (base + m * Group) * rowLen, j);
            store<T>(out, j, clampSum<T>(sum));
        }
    }
}

template <typename T, size_t Group>
void binImage(_ezImage* image, int bx, int by, int outWidth, int outHeight, bool vertical) {
    // A factor of 1 still repacks rows when the width is cut to a multiple of 4.
    if (bx > 1 || image->stride != outWidth * sizeof(T))
        binRows<T, Group>(image, bx, static_cast<size_t>(outWidth));
    if (vertical) binColumns<T, Group>(image->data, outWidth, outHeight, by);
    redescribe(image, outWidth, outHeight);
}

template <typename T>
void resizeInto(const _ezImage* source, _ezImage* destination) {
    const int w = source->width, h = source->height;
    const int dw = destination->width, dh = destination->height;
    const size_t n = destination->channels;
    const size_t srcRow = static_cast<size_t>(w) * n;  // packed source rows
    const float bx = static_cast<float>(w) / static_cast<float>(dw);
    const float by = static_cast<float>(h) / static_cast<float>(dh);

    // Column positions once per call. Every neighbour index is clamped into the
    // source: an enlarged image would otherwise read past its right and bottom
    // edges, and the bottom rows' left neighbour of column 0 would fall into the
    // previous row; clamping it to column 0 is our choice there.
    std::vector<size_t> x0(dw), right(dw), left(dw);
    std::vector<float> fx(dw);
    for (int x = 0; x < dw; ++x) {
        const float sx = static_cast<float>(x) * bx;
        const int i = static_cast<int>(sx);
        fx[x] = sx - static_cast<float>(i);
        const int c = std::min(i, w - 1);
        x0[x] = static_cast<size_t>(c) * n;
        right[x] = static_cast<size_t>(std::min(c + 1, w - 1)) * n;
        left[x] = static_cast<size_t>(std::max(c - 1, 0)) * n;
    }

    unsigned char* out = destination->data;
    size_t o = 0;
    for (int y = 0; y < dh; ++y) {
        const float sy = static_cast<float>(y) * by;
        const int i = static_cast<int>(sy);
        const float fy = sy - static_cast<float>(i);
        const int r0 = std::min(i, h - 1);
        // The last three rows take their second neighbours above and to the left.
        const bool bottom = y + 3 >= dh;
        const int r1 = bottom ? std::max(r0 - 1, 0) : std::min(r0 + 1, h - 1);
        const unsigned char* row0 = source->data + static_cast<size_t>(r0) * srcRow * sizeof(T);
        const unsigned char* row1 = source->data + static_cast<size_t>(r1) * srcRow * sizeof(T);
        const std::vector<size_t>& second = bottom ? left : right;
        for (int x = 0; x < dw; ++x) {
            const float f = fx[x];
            for (size_t k = 0; k < n; ++k) {
                const float p11 = load<T>(row1, second[x] + k);
                const float p01 = load<T>(row1, x0[x] + k);
                const float p10 = load<T>(row0, second[x] + k);
                const float p00 = load<T>(row0, x0[x] + k);
                const float v = p11 * fy * f + p01 * fy * (1 - f) + p10 * (1 - fy) * f +
                                p00 * (1 - fy) * (1 - f);
                store<T>(out, o++, static_cast<T>(static_cast<int>(v)));
            }
        }
    }
}

template <typename T>
void skipImage(_ezImage* image, int sx, int sy) {
    const size_t w = image->width, h = image->height;
    const size_t nw = w / sx, nh = h / sy;
    size_t rowLen = image->stride;
    if (sx > 1) {
        const size_t pairs = nw / 2, outLen = nw * sizeof(T);
        for (size_t y = 0; y < h; ++y) {
            const unsigned char* in = row(image, y);
            unsigned char* out = image->data + y * outLen;
            for (size_t k = 0; k < pairs; ++k) {
                const size_t c = 2 * k * sx;
                store<T>(out, 2 * k, load<T>(in, c));
                store<T>(out, 2 * k + 1, load<T>(in, c + 1));
            }
        }
        rowLen = outLen;
    } else if (rowLen != nw * sizeof(T)) {
        // Padded rows: pack them so that the new stride describes them.
        for (size_t y = 0; y < h; ++y)
            std::memmove(image->data + y * nw * sizeof(T), row(image, y), nw * sizeof(T));
        rowLen = nw * sizeof(T);
    }
    if (sy > 1 && nh > 1) {
        const size_t outLen = nw * sizeof(T);
        for (size_t k = 0; k < nh / 2; ++k) {
            const size_t r = 2 * k * sy;
            std::memmove(image->data + 2 * k * outLen, image->data + r * rowLen, outLen);
            std::memmove(image->data + (2 * k + 1) * outLen, image->data + (r + 1) * rowLen, outLen);
        }
    }
    redescribe(image, static_cast<int>(nw), static_cast<int>(nh));
}

}  // namespace

void __flip(_ezImage* image, int code) {
    if (!usable(image)) return;
    const size_t h = image->height, w = image->width, bytes = rowBytes(image);
    if (code & EZ_FLIP_UPSIDE_DOWN) {
        // Rows are exchanged through a small stack buffer, a piece at a time.
        unsigned char tmp[4096];
        for (size_t k = 0; k < h / 2; ++k) {
            unsigned char* top = row(image, k);
            unsigned char* bottom = row(image, h - 1 - k);
            for (size_t i = 0; i < bytes; i += sizeof tmp) {
                const size_t len = std::min(sizeof tmp, bytes - i);
                std::memcpy(tmp, top + i, len);
                std::memcpy(top + i, bottom + i, len);
                std::memcpy(bottom + i, tmp, len);
            }
        }
    }
    if (code & EZ_FLIP_MIRROR) {
        withPixelSize(pixelBytes(image), [&](auto pixel) {
            const size_t n = pixel;
            unsigned char tmp[2 * 255];
            for (size_t y = 0; y < h; ++y) {
                unsigned char* a = row(image, y);
                unsigned char* b = a + (w - 1) * n;
                for (size_t k = 0; k < w / 2; ++k, a += n, b -= n) {
                    std::memcpy(tmp, a, n);
                    std::memcpy(a, b, n);
                    std::memcpy(b, tmp, n);
                }
            }
        });
    }
}

void __rotate(_ezImage* image, int code) {
    if ((code != EZ_ROTATE_LEFT && code != EZ_ROTATE_RIGHT) || !usable(image)) return;
    const size_t n = pixelBytes(image);
    const size_t bytes = static_cast<size_t>(image->width) * image->height * n;
    std::unique_ptr<unsigned char[]> scratch(new (std::nothrow) unsigned char[bytes]);
    if (!scratch) return;  // the image stays as it was
    withPixelSize(n, [&](auto pixel) { rotateInto(image, scratch.get(), code == EZ_ROTATE_RIGHT, pixel); });
    std::memcpy(image->data, scratch.get(), bytes);
    redescribe(image, image->height, image->width);
}

void __roi(_ezImage* image, int x, int y, int w, int h) {
    if (!usable(image)) return;
    if (w == image->width && h == image->height) return;
    // A region reaching outside the image would read and write past its rows.
    if (x < 0 || y < 0 || w < 0 || h < 0 || int64_t{x} + w > image->width ||
        int64_t{y} + h > image->height)
        return;
    const size_t n = pixelBytes(image);
    const size_t outLen = static_cast<size_t>(w) * n;
    for (int i = 0; i < h; ++i)
        std::memmove(image->data + i * outLen, row(image, y + i) + x * n, outLen);
    redescribe(image, w, h);
}

void __resize(_ezImage* source, _ezImage* destination) {
    if (!usable(source) || !usable(destination)) return;
    // Results take the source's sample size and the destination's layout: a
    // mismatch would write past the destination or read past the source.
    if (source->depth != destination->depth || source->channels != destination->channels) return;
    if (source->width == 0 || source->height == 0) return;
    if (source->depth == 8)
        resizeInto<uint8_t>(source, destination);
    else
        resizeInto<uint16_t>(source, destination);
}

void __mbin(_ezImage* image, int bx, int by) {
    if (!usable(image) || image->channels != 1 || bx < 1 || by < 1) return;
    const int fw = image->width / bx, fh = image->height / by;
    const int w = 4 * (fw / 4), h = 4 * (fh / 4);
    const bool vertical = by > 1 && fh > 3;
    if (image->depth == 8)
        binImage<uint8_t, 1>(image, bx, by, w, h, vertical);
    else
        binImage<uint16_t, 1>(image, bx, by, w, h, vertical);
}

void __cbin(_ezImage* image, int bx, int by) {
    if (!usable(image) || image->channels != 1 || bx < 1 || by < 1) return;
    const int w = 4 * ((image->width / bx) / 4), h = 4 * ((image->height / by) / 4);
    const bool vertical = by > 1 && h > 1;
    if (image->depth == 8)
        binImage<uint8_t, 2>(image, bx, by, w, h, vertical);
    else
        binImage<uint16_t, 2>(image, bx, by, w, h, vertical);
}

void __skip(_ezImage* image, int sx, int sy) {
    if (!usable(image) || image->channels != 1 || sx < 1 || sy < 1) return;
    if (image->depth == 8)
        skipImage<uint8_t>(image, sx, sy);
    else
        skipImage<uint16_t>(image, sx, sy);
}

void __interlace(_ezImage* image, int a, int b) {
    if (!usable(image)) return;
    const int64_t half = image->height / 2;
    // Both fields must lie inside the frame: the first in the scratch rows, the
    // second (rows a + b .. a + b + half - 1) below them.
    if (a < 0 || a + half > b || b > image->height || int64_t{a} + b + half > image->height) return;
    const size_t bytes = rowBytes(image), stride = image->stride;
    std::unique_ptr<unsigned char[]> scratch(new (std::nothrow) unsigned char[b * bytes]);
    if (!scratch) return;
    for (int i = 0; i < b; ++i) std::memcpy(scratch.get() + i * bytes, row(image, i), bytes);
    for (int i = 0; i < half; ++i) {
        std::memcpy(row(image, 2 * i), scratch.get() + (a + i) * bytes, bytes);
        std::memmove(image->data + (2 * i + 1) * stride, row(image, a + b + i), bytes);
    }
}

void __rmac(_ezImage* image, int mode) {
    if (!usable(image) || image->depth != 16 || (mode != 0 && mode != 1)) return;
    // Four samples per 64-bit word; every operation stays inside its 16-bit lane.
    constexpr uint64_t lowBytes = 0x00ff00ff00ff00ffull;
    const auto swap = [](uint64_t v) { return (v & lowBytes) << 8 | ((v >> 8) & lowBytes); };
    // A 12-bit sample sent as 8 high bits then 4 low bits, aligned to the top.
    const auto unpack = [](uint64_t v) { return (v & lowBytes) << 8 | ((v >> 4) & 0x00f000f000f000f0ull); };
    const size_t bytes = rowBytes(image);
    for (size_t y = 0; y < image->height; ++y) {
        unsigned char* p = row(image, y);
        size_t i = 0;
        for (; i + 8 <= bytes; i += 8) {
            uint64_t v;
            std::memcpy(&v, p + i, 8);
            v = mode == 0 ? swap(v) : unpack(v);
            std::memcpy(p + i, &v, 8);
        }
        for (; i < bytes; i += 2) {
            const uint64_t v = pixels::load16(p + i);
            pixels::store16(p + i, static_cast<uint16_t>(mode == 0 ? swap(v) : unpack(v)));
        }
    }
}
