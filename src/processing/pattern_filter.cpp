// The checkerboard filter of the 1.3-megapixel monochrome sensors.
#include "processing/pattern_filter.h"

#include <cstring>

#include "processing/corrections.h"
#include "processing/pixels.h"

namespace {
using pixels::load;
using pixels::row;
using pixels::store;

template <typename T>
void filter(const _ezImage* in, _ezImage* out) {
    const size_t w = in->width, h = in->height;
    const size_t bytes = w * sizeof(T);
    // Rows and columns the pairs do not reach keep the input's samples.
    for (size_t y = 0; y < h; ++y) std::memcpy(row(out, y), row(in, y), bytes);
    for (size_t r = 0; r + 3 < h; ++r) {
        const unsigned char* top = row(in, r);
        const unsigned char* mid = row(in, r + 1);
        const unsigned char* low = row(in, r + 2);
        unsigned char* dst = row(out, r);
        // Phase 1 on the first row, then 0, 1, 0 ...; both samples of a pair
        // and every neighbour stay inside the row.
        for (size_t x = 1 + (r % 2 == 0 ? 1 : 0); x + 2 < w; x += 2) {
            const uint32_t cross = uint32_t{load<T>(mid, x - 1)} + load<T>(top, x) +
                                   load<T>(mid, x + 1) + load<T>(low, x);
            store<T>(dst, x, static_cast<T>((cross + 2) / 4));
            const uint32_t diagonal = 4 * uint32_t{load<T>(mid, x + 1)} + load<T>(top, x) +
                                      load<T>(top, x + 2) + load<T>(low, x) + load<T>(low, x + 2);
            store<T>(dst, x + 1, static_cast<T>(diagonal / 8));
        }
    }
}
}  // namespace

void __pattern_filter(const _ezImage* in, _ezImage* out) {
    if (!pixels::usable(in) || !pixels::usable(out) || in->channels != 1 || out->channels != 1 ||
        in->depth != out->depth || in->width != out->width || in->height != out->height)
        return;
    if (in->depth == 8)
        filter<uint8_t>(in, out);
    else
        filter<uint16_t>(in, out);
}

void __pattern_median(_ezImage* raw, _ezImage* image) {
    __pattern_filter(raw, image);
    __smooth(image, 1);
}
