// The visible part of a shown frame scaled to the view.
#include "viewer/picture/view_render.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace viewer {

namespace {

constexpr int kMaxBox = 4;

struct Tables {
    const int32_t* columns;     // sample offset of each view pixel's box in the row
    const int32_t* rawColumns;  // raw sample offset of its centre, from the row's
    int count;
};

// One view row from one row of samples `row`: picture bytes (Count 1), or
// sums of boxes of Count picture samples. Ch samples per pixel; RawBytes 0
// draws no overlay, else the raw samples' size.
template <typename Sample, int Ch, int Count, int RawBytes>
void renderRow(uint32_t* __restrict out, const Sample* __restrict row, const uchar* raw,
               int clipLevel, const Tables& t) {
    for (int u = 0; u < t.count; ++u) {
        const Sample* p = row + t.columns[u];
        uint32_t c[Ch];
        for (int k = 0; k < Ch; ++k) c[k] = (uint32_t(p[k]) + Count / 2) / Count;
        uint32_t pixel =
            Ch == 3 ? 0xff000000u | c[0] << 16 | c[1] << 8 | c[2] : 0xff000000u | c[0] * 0x010101u;
        if constexpr (RawBytes > 0) {
            int sample;
            if constexpr (RawBytes == 1) {
                sample = raw[t.rawColumns[u]];
            } else {
                uint16_t wide;
                std::memcpy(&wide, raw + 2 * ptrdiff_t(t.rawColumns[u]), 2);
                sample = wide;
            }
            const uint32_t clipped = 0u - uint32_t(sample >= clipLevel);
            pixel = (pixel & ~clipped) | (kClippedColour & clipped);
        }
        out[u] = pixel;
    }
}

// The sums of N x N boxes of picture samples, for box starts [from, end):
// first the N rows sample by sample, then N neighbouring pixels (Ch samples
// apart), in place. 16 samples at a time with SSE2 (part of every x86-64
// processor).
template <int N, int Ch>
void boxSums(uint16_t* __restrict sums, const uchar* const* rows, int from, int end) {
    const int last = end + (N - 1) * Ch;  // the rows' samples the boxes reach
    int x = from;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; x + 16 <= last; x += 16) {
        __m128i low = zero, high = zero;
        for (int j = 0; j < N; ++j) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[j] + x));
            low = _mm_add_epi16(low, _mm_unpacklo_epi8(v, zero));
            high = _mm_add_epi16(high, _mm_unpackhi_epi8(v, zero));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + x), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + x + 8), high);
    }
#endif
    for (; x < last; ++x) {
        uint16_t s = 0;
        for (int j = 0; j < N; ++j) s = uint16_t(s + rows[j][x]);
        sums[x] = s;
    }
    // Along the row: each sum takes the next N - 1 pixels' (not yet overwritten).
    x = from;
#if defined(__SSE2__)
    for (; x + 8 <= end; x += 8) {
        __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + x));
        for (int i = 1; i < N; ++i)
            s = _mm_add_epi16(s,
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + x + i * Ch)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + x), s);
    }
#endif
    for (; x < end; ++x) {
        uint16_t s = sums[x];
        for (int i = 1; i < N; ++i) s = uint16_t(s + sums[x + i * Ch]);
        sums[x] = s;
    }
}

// The kernels of one frame: chosen once by channels, box and overlay.
struct Kernels {
    void (*pixels)(uint32_t*, const uchar*, const uchar*, int, const Tables&) = nullptr;
    void (*boxes)(uint32_t*, const uint16_t*, const uchar*, int, const Tables&) = nullptr;
    void (*sums)(uint16_t*, const uchar* const*, int, int) = nullptr;
};

template <typename Sample, int Ch, int Count>
auto rowFor(int rawBytes) {
    return rawBytes == 1   ? renderRow<Sample, Ch, Count, 1>
           : rawBytes == 2 ? renderRow<Sample, Ch, Count, 2>
                           : renderRow<Sample, Ch, Count, 0>;
}

template <int Ch, int N>
Kernels kernelsFor(int rawBytes) {
    Kernels k;
    if constexpr (N == 1) {
        k.pixels = rowFor<uchar, Ch, 1>(rawBytes);
    } else {
        k.boxes = rowFor<uint16_t, Ch, N * N>(rawBytes);
        k.sums = boxSums<N, Ch>;
    }
    return k;
}

template <int Ch>
Kernels kernelsFor(int box, int rawBytes) {
    switch (box) {
        case 2:
            return kernelsFor<Ch, 2>(rawBytes);
        case 3:
            return kernelsFor<Ch, 3>(rawBytes);
        case 4:
            return kernelsFor<Ch, 4>(rawBytes);
        default:
            return kernelsFor<Ch, 1>(rawBytes);
    }
}

// The image pixel under view pixel `at` along one axis, inside [0, length).
int pixelOf(double origin, double scale, int at, int length) {
    return std::clamp(int(std::floor(origin + (at + 0.5) / scale)), 0, length - 1);
}

}  // namespace

RenderedView ViewRenderer::render(const ShownFrame& frame, const ViewTransform& t, QSize view,
                                  bool clipping) {
    const QSize size = frame.size();
    const QRect placed = t.visibleRect(view, size);
    if (placed.isEmpty() || frame.picture.isNull()) return {};
    const int channels = frame.picture.format() == QImage::Format_Grayscale8 ? 1 : 3;
    const bool overlay = clipping && frame.raw && frame.map;
    const int rawBytes = overlay ? frame.raw->depth / 8 : 0;

    // Below 1:1 a view pixel is the mean of the box of picture pixels it
    // covers (up to 4 x 4), which keeps fine texture from beating with the
    // sampling.
    const int box = std::clamp(int(std::lround(1 / t.scale)), 1,
                               std::min({kMaxBox, size.width(), size.height()}));
    const auto boxStart = [box](int centre, int length) {
        return std::clamp(centre - box / 2, 0, length - box);
    };
    // The tables: the kernels' only arithmetic is adding their entries.
    const auto rawOffset = [&](QPoint p) {
        const QPoint r = frame.map->rawOf(p);
        return int32_t(r.y() * frame.raw->width + r.x());
    };
    columns.resize(placed.width());
    rawColumns.assign(placed.width(), 0);
    for (int u = 0; u < placed.width(); ++u) {
        const int x = pixelOf(t.originX, t.scale, placed.left() + u, size.width());
        columns[u] = boxStart(x, size.width()) * channels;
        if (overlay) rawColumns[u] = rawOffset({x, 0}) - rawOffset({0, 0});
    }
    rows.resize(placed.height());
    rawRows.assign(placed.height(), 0);
    for (int v = 0; v < placed.height(); ++v) {
        const int y = pixelOf(t.originY, t.scale, placed.top() + v, size.height());
        rows[v] = boxStart(y, size.height());
        if (overlay) rawRows[v] = rawOffset({0, y});
    }

    const Kernels kernels =
        channels == 3 ? kernelsFor<3>(box, rawBytes) : kernelsFor<1>(box, rawBytes);
    const Tables tables{columns.data(), rawColumns.data(), placed.width()};
    const int level = rawClipLevel(overlay ? frame.raw->depth : 8);
    const uchar* raw = overlay ? frame.raw->bytes.data() : nullptr;
    // The box starts of a row's view pixels lie in [from, to).
    const int from = columns.front(), to = columns.back() + channels;
    sums.resize(size_t(size.width()) * channels);
    QImage image = images.make(placed.size(), QImage::Format_RGB32, [&](QImage& out) {
        const uchar* boxRows[kMaxBox];
        for (int v = 0; v < placed.height(); ++v) {
            auto* line = reinterpret_cast<uint32_t*>(out.scanLine(v));
            const uchar* rawRow = raw ? raw + size_t(rawRows[v]) * rawBytes : nullptr;
            if (box == 1) {
                kernels.pixels(line, frame.picture.constScanLine(rows[v]), rawRow, level, tables);
                continue;
            }
            for (int j = 0; j < box; ++j) boxRows[j] = frame.picture.constScanLine(rows[v] + j);
            kernels.sums(sums.data(), boxRows, from, to);
            kernels.boxes(line, sums.data(), rawRow, level, tables);
        }
    });
    return {image, placed};
}

}  // namespace viewer
