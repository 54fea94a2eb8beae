// Sample access and record checks shared by the image algorithms.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ezcam.h"
#include "processing/image_record.h"

static_assert(std::endian::native == std::endian::little,
              "16-bit samples are stored least significant byte first");

namespace pixels {

// Bytes of one packed row: width x channels samples.
inline size_t rowBytes(const _ezImage* image) {
    return static_cast<size_t>(image->width) * image->channels * (image->depth / 8);
}

// A record whose pixels can be walked: 8- or 16-bit samples, at least one
// channel, and rows no closer than one packed row (a stride that overflowed
// its 16 bits would make rows overlap).
inline bool usable(const _ezImage* image) {
    return image && image->data && (image->depth == 8 || image->depth == 16) &&
           image->channels > 0 && image->stride >= rowBytes(image);
}

// A caller's frame buffer that starts with a usable record (the one record
// check: whole signature, header no shorter than the record), depth 8 or 16,
// a size.
inline bool rawRecord(const _ezImage* frame) {
    _ezImage head;
    return ezReadRecord(reinterpret_cast<const unsigned char*>(frame), &head) &&
           (head.depth == 8 || head.depth == 16) && head.width > 0 && head.height > 0;
}

inline unsigned char* row(const _ezImage* image, size_t y) {
    return image->data + y * image->stride;
}

// Pixel buffers need not be 2-byte aligned (header sizes come from callers).
inline uint16_t load16(const unsigned char* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void store16(unsigned char* p, uint16_t v) { std::memcpy(p, &v, 2); }

// Typed sample access by index into a byte row.
template <typename T>
inline T load(const unsigned char* p, size_t i) {
    if constexpr (sizeof(T) == 1)
        return p[i];
    else
        return load16(p + 2 * i);
}
template <typename T>
inline void store(unsigned char* p, size_t i, T v) {
    if constexpr (sizeof(T) == 1)
        p[i] = v;
    else
        store16(p + 2 * i, v);
}

}  // namespace pixels
