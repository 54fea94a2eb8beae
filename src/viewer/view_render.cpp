// The visible part of a shown frame scaled to the view.
#include "viewer/view_render.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace viewer {

namespace {

constexpr int kMaxBox = 4;

struct Tables {
    const int32_t* columns;     // picture byte offset of each view pixel's box
    const int32_t* rawColumns;  // raw sample offset of its centre, from the row's
    int count;
};

// One view row. Ch samples per picture pixel; each view pixel is the mean of
// an N x N box of picture pixels (N = 1: the pixel itself); RawBytes 0 draws
// no overlay, else the raw samples' size.
template <int Ch, int N, int RawBytes>
void renderRow(uint32_t* __restrict out, const uchar* const* rows, const uchar* raw,
               int clipLevel, const Tables& t) {
    for (int u = 0; u < t.count; ++u) {
        const int x = t.columns[u];
        uint32_t c[Ch] = {};
        for (int j = 0; j < N; ++j)
            for (int i = 0; i < N; ++i)
                for (int k = 0; k < Ch; ++k) c[k] += rows[j][x + i * Ch + k];
        for (int k = 0; k < Ch; ++k) c[k] = (c[k] + N * N / 2) / (N * N);
        uint32_t pixel = Ch == 3 ? 0xff000000u | c[0] << 16 | c[1] << 8 | c[2]
                                 : 0xff000000u | c[0] * 0x010101u;
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

using RowKernel = void (*)(uint32_t*, const uchar* const*, const uchar*, int, const Tables&);

template <int Ch, int N>
RowKernel kernelFor(int rawBytes) {
    if (rawBytes == 1) return renderRow<Ch, N, 1>;
    if (rawBytes == 2) return renderRow<Ch, N, 2>;
    return renderRow<Ch, N, 0>;
}

template <int Ch>
RowKernel kernelFor(int box, int rawBytes) {
    switch (box) {
        case 2: return kernelFor<Ch, 2>(rawBytes);
        case 3: return kernelFor<Ch, 3>(rawBytes);
        case 4: return kernelFor<Ch, 4>(rawBytes);
        default: return kernelFor<Ch, 1>(rawBytes);
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
    // The tables: the kernel's only arithmetic is adding their entries.
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

    const RowKernel kernel = channels == 3 ? kernelFor<3>(box, rawBytes) : kernelFor<1>(box, rawBytes);
    const Tables tables{columns.data(), rawColumns.data(), placed.width()};
    const int level = rawClipLevel(overlay ? frame.raw->depth : 8);
    const uchar* raw = overlay ? frame.raw->bytes.data() : nullptr;
    QImage image = images.make(placed.size(), QImage::Format_RGB32, [&](QImage& out) {
        const uchar* boxRows[kMaxBox];
        for (int v = 0; v < placed.height(); ++v) {
            for (int j = 0; j < box; ++j) boxRows[j] = frame.picture.constScanLine(rows[v] + j);
            kernel(reinterpret_cast<uint32_t*>(out.scanLine(v)), boxRows,
                   raw ? raw + size_t(rawRows[v]) * rawBytes : nullptr, level, tables);
        }
    });
    return {image, placed};
}

}  // namespace viewer
