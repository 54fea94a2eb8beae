// The image record's four operations, and an owning handle for C++ code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ezcam.h"

// Bytes of the statistics area behind the pixels of an image: four histogram
// blocks of 258 32-bit integers (bins, low bound, high bound).
constexpr int kStatisticsBytes = 4 * 258 * 4;

// Reads the image record heading a caller's buffer into *record (copied, as
// the buffer need not be aligned for it). True only when the buffer holds
// the whole signature "KVEZ" and a header at least as long as the record,
// so the pixels start behind the record. When the caller knows the buffer's
// size (capacity), the header and the packed pixels the record describes
// (width x height x channels samples of its depth, 8 or 16 bits) must lie
// inside it as well. Never reads past the signature of a buffer that does
// not start with one; *record is untouched when false.
bool ezReadRecord(const unsigned char* buffer, _ezImage* record, size_t capacity = SIZE_MAX);

// Fills an existing record (note: channels before depth). Leaves bayer, the
// camera fields and channel_mean as they were.
void ezInitImageHeader(_ezImage* image, int width, int height, int channels, int depth,
                       int header_size, unsigned char* data, int resolution, int decoded);

// New record owning its pixel block (note: depth before channels). The block
// also has room for the statistics area, so every operation may be applied to
// it. Returns null when memory runs out.
_ezImage* ezCreateImage(int width, int height, int depth, int channels, int header_size,
                        int resolution);

// Frees a record made by ezCreateImage and nulls the caller's pointer.
void ezReleaseImage(_ezImage** image);

// Copies channel means, bayer code and, if the destination has pixels, the
// source pixels (height x stride bytes). Sizes are the caller's to match.
void ezCopyImage(_ezImage* destination, const _ezImage* source);

struct ImageDeleter {
    void operator()(_ezImage* image) const { ezReleaseImage(&image); }
};
using ImagePtr = std::unique_ptr<_ezImage, ImageDeleter>;

inline ImagePtr makeImage(int width, int height, int depth, int channels, int header_size = 56,
                          int resolution = 0) {
    return ImagePtr(ezCreateImage(width, height, depth, channels, header_size, resolution));
}

// Bytes per sample of a record (1 or 2).
inline int bytesPerSample(const _ezImage* image) { return image->depth / 8; }
