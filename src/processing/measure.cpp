// Point and Bayer-position intensity readouts.
#include "processing/measure.h"

#include <utility>

#include "processing/pixels.h"

using pixels::load;
using pixels::row;
using pixels::usable;

namespace {

template <typename T>
void sumTiles(const _ezImage* image, uint64_t (&sums)[4]) {
    const size_t tilesX = image->width / 2, tilesY = image->height / 2;
    const size_t step = image->channels;  // samples from one pixel to the next
    for (size_t ty = 0; ty < tilesY; ++ty) {
        const unsigned char* r0 = row(image, 2 * ty);
        const unsigned char* r1 = row(image, 2 * ty + 1);
        for (size_t tx = 0; tx < tilesX; ++tx) {
            const size_t c = 2 * tx * step;
            sums[0] += load<T>(r0, c);
            sums[1] += load<T>(r0, c + step);
            sums[2] += load<T>(r1, c);
            sums[3] += load<T>(r1, c + step);
        }
    }
}

}  // namespace

int __pt_gray(int x, int y, const _ezImage* image) {
    if (!usable(image) || x < 0 || y < 0 || x >= image->width || y >= image->height) return EZ_ERANGE;
    const size_t bps = image->depth / 8;
    const unsigned char* p = row(image, y) + static_cast<size_t>(x) * image->channels * bps;
    auto sample = [&](int k) -> int { return bps == 1 ? p[k] : pixels::load16(p + 2 * k); };
    if (image->channels >= 3) return (sample(0) + 6 * sample(1) + 3 * sample(2)) / 10;
    return sample(0);
}

int __image_intensity(_ezImage* image, float* mean, float* m0, float* m1, float* m2, float* m3) {
    if (!image) return EZ_ERANGE;
    if (image->decoded) return EZ_ENOTSUP;
    if (!usable(image)) return EZ_ERANGE;
    const size_t tiles = static_cast<size_t>(image->width / 2) * (image->height / 2);
    // Without one whole 2 x 2 tile there is no mean to report.
    if (tiles == 0) return EZ_ERANGE;
    uint64_t sums[4] = {0, 0, 0, 0};
    if (image->depth == 8)
        sumTiles<uint8_t>(image, sums);
    else
        sumTiles<uint16_t>(image, sums);
    float m[4];
    for (int i = 0; i < 4; ++i) m[i] = static_cast<float>(sums[i]) / static_cast<float>(tiles);

    // Order as red, green beside red, green beside blue, blue (red is channel 2
    // of the decoders). The tile positions are top-left, top-right,
    // bottom-left, bottom-right.
    switch (image->bayer) {
    case 2:  // G R / B G
        std::swap(m[0], m[1]);
        std::swap(m[2], m[3]);
        break;
    case 3:  // B G / G R
        std::swap(m[0], m[3]);
        std::swap(m[1], m[2]);
        break;
    case 4: {  // G B / R G
        const float tl = m[0], tr = m[1], bl = m[2], br = m[3];
        m[0] = bl;
        m[1] = br;
        m[2] = tl;
        m[3] = tr;
        break;
    }
    default:  // R G / G B, or no mosaic
        break;
    }
    if (m0) *m0 = m[0];
    if (m1) *m1 = m[1];
    if (m2) *m2 = m[2];
    if (m3) *m3 = m[3];
    if (mean) *mean = (m[0] + m[1] + m[2] + m[3]) * 0.25f;
    return EZ_OK;
}
