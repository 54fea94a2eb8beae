// Bilinear Bayer decoders, with and without the colour correction, and the
// choice of the kernel set they run.
#include "processing/decode.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "processing/kernel_set.h"
#include "processing/pixels.h"
#include "processing/bayer.h"

// 16-bit samples are stored least significant byte first and read as host words.
static_assert(std::endian::native == std::endian::little);

namespace kernels {

bool runs(const Set& set) {
    __builtin_cpu_init();
    if (&set == &kAvx512)
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vl");
    if (&set == &kAvx2) return __builtin_cpu_supports("avx2");
    return true;
}

const Set& active() {
    static const Set* const chosen = [] {
        const char* cap = std::getenv("EZCAM_SIMD");
        const std::string_view allowed = cap ? cap : "avx512";
        if (allowed == "avx512" && runs(kAvx512)) return &kAvx512;
        if ((allowed == "avx512" || allowed == "avx2") && runs(kAvx2)) return &kAvx2;
        return &kSse2;
    }();
    return *chosen;
}

}  // namespace kernels

namespace {

using bayer::kRowPatterns;
using bayer::RowPattern;

// Rows 1 .. height - 3 are written; row 0, the last two rows and the first
// and last columns keep the destination buffer's previous content.
template <typename T>
void decodeFrame(const _ezImage* source, _ezImage* destination, int bayer, bool corrected,
                 const int32_t* matrix) {
    const kernels::Set& set = kernels::active();
    kernels::DecodeRow<T> decodeRow;
    if constexpr (sizeof(T) == 1)
        decodeRow = set.decode8;
    else
        decodeRow = set.decode16;
    const int width = source->width;
    const int height = source->height;
    const size_t inStride = source->stride;
    const size_t outStride = destination->stride;
    for (int y = 1; y <= height - 3; ++y) {
        const auto* cur = reinterpret_cast<const T*>(source->data + y * inStride);
        const auto* up = reinterpret_cast<const T*>(source->data + (y - 1) * inStride);
        const auto* dn = reinterpret_cast<const T*>(source->data + (y + 1) * inStride);
        auto* out = reinterpret_cast<T*>(destination->data + y * outStride);
        const RowPattern& p = kRowPatterns[bayer][y & 1];
        decodeRow(up, cur, dn, out + 3, width, 1, width - 2, p.red, p.greenFirst, corrected,
                  matrix);
    }
}

// Whether the two records describe a frame we can safely decode: both have
// pixels, the same size and depth (8 or 16), strides covering their rows,
// 16-bit pixels on even addresses, and the destination has room for what the
// decoder writes (three channels for a mosaic, one for the monochrome copy).
bool decodable(const _ezImage* source, const _ezImage* destination, int bayer) {
    if (!source->data || !destination->data) return false;
    if (source->depth != 8 && source->depth != 16) return false;
    if (destination->depth != source->depth) return false;
    if (destination->width != source->width || destination->height != source->height) return false;
    const int bytes = source->depth / 8;
    const int outChannels = bayer == 0 ? 1 : 3;
    if (bayer != 0 && destination->channels != 3) return false;
    if (source->stride < source->width * bytes) return false;
    if (destination->stride < destination->width * outChannels * bytes) return false;
    if (bytes == 2 && bayer != 0) {
        const auto aligned = [](const void* p, size_t step) {
            return reinterpret_cast<uintptr_t>(p) % 2 == 0 && step % 2 == 0;
        };
        if (!aligned(source->data, source->stride) ||
            !aligned(destination->data, destination->stride))
            return false;
    }
    return true;
}

void decode(_ezImage* source, _ezImage* destination, int bayer, bool corrected,
            const int32_t* matrix) {
    if (!source || !destination) return;
    destination->decoded = 1;
    if (bayer < 0 || bayer > 4 || !decodable(source, destination, bayer)) return;
    if (bayer == 0) {
        std::memcpy(destination->data, source->data,
                    size_t{source->width} * source->height * (source->depth / 8));
        return;
    }
    if (source->height < 4 || source->width < 3) return;
    if (source->depth == 8)
        decodeFrame<uint8_t>(source, destination, bayer, corrected, matrix);
    else
        decodeFrame<uint16_t>(source, destination, bayer, corrected, matrix);
}

}  // namespace

void __decode_rawdatafast(_ezImage* source, _ezImage* destination, int bayer) {
    decode(source, destination, bayer, false, nullptr);
}

void __decode_rawdata(_ezImage* source, _ezImage* destination, int bayer) {
    decode(source, destination, bayer, true, nullptr);
}

void decodeThroughMatrix(_ezImage* source, _ezImage* destination, int bayer, const int32_t* matrix) {
    decode(source, destination, bayer, false, matrix);
}

void fillDecodedBorder(_ezImage* image) {
    const size_t w = image->width, h = image->height;
    if (w < 3 || h < 4) return;
    const size_t n = image->channels * (image->depth / 8);
    for (size_t y = 1; y + 2 < h; ++y) {
        unsigned char* row = pixels::row(image, y);
        std::memcpy(row, row + n, n);
        std::memcpy(row + (w - 1) * n, row + (w - 2) * n, n);
    }
    const size_t bytes = w * n;
    std::memcpy(pixels::row(image, 0), pixels::row(image, 1), bytes);
    std::memcpy(pixels::row(image, h - 2), pixels::row(image, h - 3), bytes);
    std::memcpy(pixels::row(image, h - 1), pixels::row(image, h - 3), bytes);
}
