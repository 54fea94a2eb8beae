// The visible part of a shown frame scaled to the view.
#include "viewer/view_render.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace viewer {

namespace {

struct Tables {
    const int32_t* columns;
    const int32_t* nextColumns;
    const int32_t* rawColumns;
    int count;
};

// One view row. Ch samples per picture pixel; Mean takes the 2 x 2 mean;
// RawBytes 0 draws no overlay, else the raw samples' size.
template <int Ch, bool Mean, int RawBytes>
void renderRow(uint32_t* __restrict out, const uchar* row, const uchar* next, const uchar* raw,
               int clipLevel, const Tables& t) {
    for (int u = 0; u < t.count; ++u) {
        const int x = t.columns[u];
        uint32_t c[Ch];
        for (int k = 0; k < Ch; ++k) {
            if constexpr (Mean) {
                const int x2 = t.nextColumns[u];
                c[k] = (row[x + k] + row[x2 + k] + next[x + k] + next[x2 + k] + 2) >> 2;
            } else {
                c[k] = row[x + k];
            }
        }
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

using RowKernel = void (*)(uint32_t*, const uchar*, const uchar*, const uchar*, int,
                           const Tables&);

template <int Ch, bool Mean>
RowKernel kernelFor(int rawBytes) {
    if (rawBytes == 1) return renderRow<Ch, Mean, 1>;
    if (rawBytes == 2) return renderRow<Ch, Mean, 2>;
    return renderRow<Ch, Mean, 0>;
}

RowKernel kernelFor(int channels, bool mean, int rawBytes) {
    if (channels == 3) return mean ? kernelFor<3, true>(rawBytes) : kernelFor<3, false>(rawBytes);
    return mean ? kernelFor<1, true>(rawBytes) : kernelFor<1, false>(rawBytes);
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

    // The tables: the kernel's only arithmetic is adding their entries.
    const auto rawOffset = [&](QPoint p) {
        const QPoint r = frame.map->rawOf(p);
        return int32_t(r.y() * frame.raw->width + r.x());
    };
    columns.resize(placed.width());
    nextColumns.resize(placed.width());
    rawColumns.assign(placed.width(), 0);
    for (int u = 0; u < placed.width(); ++u) {
        const int x = pixelOf(t.originX, t.scale, placed.left() + u, size.width());
        columns[u] = x * channels;
        nextColumns[u] = std::min(x + 1, size.width() - 1) * channels;
        if (overlay) rawColumns[u] = rawOffset({x, 0}) - rawOffset({0, 0});
    }
    rows.resize(placed.height());
    nextRows.resize(placed.height());
    rawRows.assign(placed.height(), 0);
    for (int v = 0; v < placed.height(); ++v) {
        const int y = pixelOf(t.originY, t.scale, placed.top() + v, size.height());
        rows[v] = y;
        nextRows[v] = std::min(y + 1, size.height() - 1);
        if (overlay) rawRows[v] = rawOffset({0, y});
    }

    const RowKernel kernel = kernelFor(channels, t.scale < 1, rawBytes);
    const Tables tables{columns.data(), nextColumns.data(), rawColumns.data(), placed.width()};
    const int level = rawClipLevel(overlay ? frame.raw->depth : 8);
    const uchar* raw = overlay ? frame.raw->bytes.data() : nullptr;
    QImage image = images.make(placed.size(), QImage::Format_RGB32, [&](QImage& out) {
        for (int v = 0; v < placed.height(); ++v)
            kernel(reinterpret_cast<uint32_t*>(out.scanLine(v)),
                   frame.picture.constScanLine(rows[v]), frame.picture.constScanLine(nextRows[v]),
                   raw ? raw + size_t(rawRows[v]) * rawBytes : nullptr, level, tables);
    });
    return {image, placed};
}

}  // namespace viewer
