// The focus aid's figure.
#include "viewer/picture/focus_measure.h"

#include <algorithm>

#include "viewer/captions.h"

namespace viewer {

double FocusMeter::measure(const QImage& picture) {
    const int w = std::min(picture.width() / 2, 512), h = std::min(picture.height() / 2, 512);
    if (w < 3 || h < 3) return 0;
    const int left = (picture.width() - w) / 2, top = (picture.height() - h) / 2;
    grey.resize(size_t(w) * h);
    const bool colour = picture.format() == QImage::Format_RGB888;
    for (int y = 0; y < h; ++y) {
        const uchar* p = picture.constScanLine(top + y);
        int32_t* g = grey.data() + size_t(y) * w;
        if (colour) {
            p += 3 * left;
            for (int x = 0; x < w; ++x, p += 3) g[x] = (p[0] + 6 * p[1] + 3 * p[2]) / 10;
        } else {
            p += left;
            for (int x = 0; x < w; ++x) g[x] = p[x];
        }
    }
    int64_t sum = 0, sumL = 0, sumL2 = 0;
    for (int y = 1; y + 1 < h; ++y) {
        const int32_t* up = grey.data() + size_t(y - 1) * w;
        const int32_t* row = up + w;
        const int32_t* down = row + w;
        for (int x = 1; x + 1 < w; ++x) {
            const int64_t l = 4 * row[x] - row[x - 1] - row[x + 1] - up[x] - down[x];
            sum += row[x];
            sumL += l;
            sumL2 += l * l;
        }
    }
    const double n = double(w - 2) * (h - 2);
    const double mean = sum / n;
    if (mean <= 0) return 0;
    const double meanL = sumL / n;
    return 1000 * (sumL2 / n - meanL * meanL) / (mean * mean);
}

void FocusRecord::add(double figure) {
    latest = figure;
    best = std::max(best, figure);
}

QString FocusRecord::text() const {
    return L("Focus %1 · best %2")
        .arg(QString::number(latest, 'f', 1), QString::number(best, 'f', 1));
}

}  // namespace viewer
