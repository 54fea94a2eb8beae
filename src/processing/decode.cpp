// Colour-correction table and the bilinear Bayer decoders.
#include "processing/decode.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "processing/decode_simd.h"
#include "processing/pixels.h"

// 16-bit samples are stored least significant byte first and read as host words.
static_assert(std::endian::native == std::endian::little);

unsigned char* pCCM = nullptr;
double m00 = 0, m01 = 0, m02 = 0, m10 = 0, m11 = 0, m12 = 0, m20 = 0, m21 = 0, m22 = 0;

namespace {

constexpr size_t kCcmBytes = size_t{256} * 256 * 256 * 3;

// Fade toward the identity: 0 below 180, rising to 1 at 255.
double fade(int x) {
    return x / 180 ? (x - 180) / 75.0 : 0.0;
}

unsigned char truncateClamp(double v) {
    const int t = static_cast<int>(v);  // |v| stays well below 1000
    return static_cast<unsigned char>(t < 0 ? 0 : t > 255 ? 255 : t);
}

// The three sums of each output channel are evaluated in the same order as
// (a*x - b*y) - c*z with a, b, c depending on the channel's own input only;
// hoisting the per-channel factors out of the loops keeps every double
// operation identical, so the table is bit-exact with the direct formula.
void buildTable(unsigned char* table) {
    double aB[256], c20[256], c21[256];  // blue row, indexed by B
    double aG[256], c10[256], c12[256];  // green row, indexed by G
    for (int v = 0; v < 256; ++v) {
        const double f = fade(v);
        aB[v] = (m22 + (1 - m22) * f) * v;
        c20[v] = m20 * (1 - f);
        c21[v] = m21 * (1 - f);
        aG[v] = (m11 + (1 - m11) * f) * v;
        c10[v] = m10 * (1 - f);
        c12[v] = m12 * (1 - f);
    }
    double blueBase[256];
    unsigned char* out = table;
    for (int r = 0; r < 256; ++r) {
        const double fr = fade(r);
        const double aR = (m00 + (1 - m00) * fr) * r;
        const double c01 = m01 * (1 - fr);
        const double c02 = m02 * (1 - fr);
        for (int b = 0; b < 256; ++b) blueBase[b] = aB[b] - c20[b] * r;
        for (int g = 0; g < 256; ++g) {
            const double redBase = aR - c01 * g;
            const double greenBase = aG[g] - c10[g] * r;
            const double c12g = c12[g];
            for (int b = 0; b < 256; ++b, out += 3) {
                out[0] = truncateClamp(redBase - c02 * b);
                out[1] = truncateClamp(greenBase - c12g * b);
                out[2] = truncateClamp(blueBase[b] - c21[b] * g);
            }
        }
    }
}

// How a decoded pixel (channel 0 blue, 1 green, 2 red) is stored.
struct Direct {
    template <typename T>
    void operator()(T* d, unsigned b, unsigned g, unsigned r) const {
        d[0] = static_cast<T>(b);
        d[1] = static_cast<T>(g);
        d[2] = static_cast<T>(r);
    }
    // Pixels stored by the vector loop are already final.
    template <typename T>
    void inPlace(T*, int) const {}
};

struct Corrected {
    const unsigned char* table;

    void operator()(uint8_t* d, unsigned b, unsigned g, unsigned r) const {
        const unsigned char* e = table + ((r << 16) | (g << 8) | b) * size_t{3};
        d[0] = e[2];
        d[1] = e[1];
        d[2] = e[0];
    }
    // The table corrects the high bytes; the low bytes stay as interpolated.
    void operator()(uint16_t* d, unsigned b, unsigned g, unsigned r) const {
        const unsigned char* e = table + (((r >> 8) << 16) | (g & 0xff00) | (b >> 8)) * size_t{3};
        d[0] = static_cast<uint16_t>((e[2] << 8) | (b & 0xff));
        d[1] = static_cast<uint16_t>((e[1] << 8) | (g & 0xff));
        d[2] = static_cast<uint16_t>((e[0] << 8) | (r & 0xff));
    }
    // Corrects `count` pixels that the vector loop stored.
    template <typename T>
    void inPlace(T* d, int count) const {
        for (int i = 0; i < count; ++i, d += 3) (*this)(d, d[0], d[1], d[2]);
    }
};

// One output row from source rows up, cur, dn. RedSites: the row's non-green
// sites are red (its green sites then have red left and right, blue above and
// below); otherwise blue. Column 1, when green, and a red/blue site left over
// at width - 2 are single pixels: plain green, never corrected. Pairs (a
// red/blue site, then a green site) get the smoothed green and the policy.
template <typename T, typename Policy, bool RedSites>
void decodeRow(const T* up, const T* cur, const T* dn, T* out, int width, bool greenFirst,
               const Policy& store) {
    const Direct direct;
    const int last = width - 2;
    int x = 1;
    if (greenFirst && x <= last) {
        const unsigned across = (cur[0] + cur[2] + 1u) >> 1;
        const unsigned along = (up[1] + dn[1] + 1u) >> 1;
        if constexpr (RedSites)
            direct(out + 3, along, cur[1], across);
        else
            direct(out + 3, across, cur[1], along);
        x = 2;
    }
    x = decode_simd::decodeRun<RedSites>(up, cur, dn, out, x, last, [&store](T* pixels, int count) {
        store.inPlace(pixels, count);
    });
    for (; x < last; x += 2) {
        const unsigned own = cur[x];
        const unsigned green = (up[x] + dn[x] + cur[x - 1] + cur[x + 1] + 2u) >> 2;
        const unsigned diagonal = (up[x - 1] + up[x + 1] + dn[x - 1] + dn[x + 1] + 2u) >> 2;
        const unsigned across = (own + cur[x + 2] + 1u) >> 1;
        const unsigned along = (up[x + 1] + dn[x + 1] + 1u) >> 1;
        const unsigned smooth = (4u * cur[x + 1] + up[x] + up[x + 2] + dn[x] + dn[x + 2]) >> 3;
        T* d = out + 3 * x;
        if constexpr (RedSites) {
            store(d, diagonal, green, own);
            store(d + 3, along, smooth, across);
        } else {
            store(d, own, green, diagonal);
            store(d + 3, across, smooth, along);
        }
    }
    if (x == last) {
        const unsigned own = cur[x];
        const unsigned green = (up[x] + dn[x] + cur[x - 1] + cur[x + 1] + 2u) >> 2;
        const unsigned diagonal = (up[x - 1] + up[x + 1] + dn[x - 1] + dn[x + 1] + 2u) >> 2;
        if constexpr (RedSites)
            direct(out + 3 * x, diagonal, green, own);
        else
            direct(out + 3 * x, own, green, diagonal);
    }
}

// Site pattern of even and odd rows per Bayer code: whether the row's
// non-green sites are red, and whether column 1 is green.
struct RowPattern {
    bool red;
    bool greenFirst;
};
constexpr RowPattern kRowPatterns[5][2] = {
    {{false, false}, {false, false}},  // no mosaic
    {{true, true}, {false, false}},    // R G / G B
    {{true, false}, {false, true}},    // G R / B G
    {{false, true}, {true, false}},    // B G / G R
    {{false, false}, {true, true}},    // G B / R G
};

// Rows 1 .. height - 3 are written; row 0, the last two rows and the first
// and last columns keep the destination buffer's previous content.
template <typename T, typename Policy>
void decodeFrame(const _ezImage* source, _ezImage* destination, int bayer, const Policy& store) {
    using RowFn = void (*)(const T*, const T*, const T*, T*, int, bool, const Policy&);
    RowFn rows[2];
    bool greenFirst[2];
    for (int parity = 0; parity < 2; ++parity) {
        const RowPattern& p = kRowPatterns[bayer][parity];
        rows[parity] = p.red ? decodeRow<T, Policy, true> : decodeRow<T, Policy, false>;
        greenFirst[parity] = p.greenFirst;
    }
    const int width = source->width;
    const int height = source->height;
    const size_t inStride = source->stride;
    const size_t outStride = destination->stride;
    for (int y = 1; y <= height - 3; ++y) {
        const auto* cur = reinterpret_cast<const T*>(source->data + y * inStride);
        const auto* up = reinterpret_cast<const T*>(source->data + (y - 1) * inStride);
        const auto* dn = reinterpret_cast<const T*>(source->data + (y + 1) * inStride);
        auto* out = reinterpret_cast<T*>(destination->data + y * outStride);
        rows[y & 1](up, cur, dn, out, width, greenFirst[y & 1], store);
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

template <typename Policy>
void decode(_ezImage* source, _ezImage* destination, int bayer, const Policy* store) {
    if (!source || !destination) return;
    destination->decoded = 1;
    if (bayer < 0 || bayer > 4 || !decodable(source, destination, bayer)) return;
    if (bayer == 0) {
        std::memcpy(destination->data, source->data,
                    size_t{source->width} * source->height * (source->depth / 8));
        return;
    }
    if (!store || source->height < 4) return;
    if (source->depth == 8)
        decodeFrame<uint8_t>(source, destination, bayer, *store);
    else
        decodeFrame<uint16_t>(source, destination, bayer, *store);
}

}  // namespace

void __init_algorithms() {
    m00 = 1.6259973472;
    m01 = 0.5043470233;
    m02 = 0.0019609669;
    m10 = 0.5418708657;
    m11 = 1.6784839334;
    m12 = 0.2271528925;
    m20 = 0.0612704825;
    m21 = 0.3185587856;
    m22 = 1.3442191098;
    if (!pCCM) pCCM = static_cast<unsigned char*>(std::malloc(kCcmBytes));
    if (pCCM) buildTable(pCCM);
}

void __exit_algorithms() {
    std::free(pCCM);
    pCCM = nullptr;
}

void __decode_rawdatafast(_ezImage* source, _ezImage* destination, int bayer) {
    const Direct direct;
    decode(source, destination, bayer, &direct);
}

void __decode_rawdata(_ezImage* source, _ezImage* destination, int bayer) {
    // Without the table the mosaic is left undecoded (the copy of a monochrome
    // frame needs no table).
    const Corrected corrected{pCCM};
    decode(source, destination, bayer, pCCM ? &corrected : nullptr);
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
