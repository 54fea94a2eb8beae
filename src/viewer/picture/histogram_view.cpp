// A small live histogram of the displayed image.
#include "viewer/picture/histogram_view.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace viewer {

HistogramView::HistogramView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(128, 48);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void HistogramView::setHistogram(const Histogram& histogram) {
    shown = histogram;
    update();
}

void HistogramView::setLogarithmic(bool on) {
    logCounts = on;
    update();
}

void HistogramView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(24, 24, 24));
    if (shown.channels != 1 && shown.channels != 3) return;
    // Square-root heights keep small populations visible beside a large peak;
    // logarithmic ones even single pixels.
    uint32_t top = 1;
    for (int c = 0; c < shown.channels; ++c)
        top = std::max(top, *std::max_element(shown.bins[c].begin(), shown.bins[c].end()));
    const auto measure = [this](uint32_t count) {
        return logCounts ? std::log1p(double(count)) : std::sqrt(double(count));
    };
    const double scale = (height() - 2) / measure(top);
    static const QColor kColours[] = {QColor(230, 60, 60), QColor(60, 200, 60),
                                      QColor(70, 110, 240)};
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Plus);
    for (int c = 0; c < shown.channels; ++c) {
        QPainterPath path;
        path.moveTo(0, height());
        for (int level = 0; level < 256; ++level) {
            const double x = (level + 0.5) * width() / 256.0;
            path.lineTo(x, height() - 1 - measure(shown.bins[c][level]) * scale);
        }
        path.lineTo(width(), height());
        path.closeSubpath();
        QColor colour = shown.channels == 1 ? QColor(200, 200, 200) : kColours[c];
        colour.setAlpha(170);
        painter.fillPath(path, colour);
    }
}

}  // namespace viewer
