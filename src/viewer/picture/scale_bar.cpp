// The scale bar.
#include "viewer/picture/scale_bar.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "ezcam.h"

namespace viewer {

int binningOf(const QString& label, int width, int fullWidth) {
    static const QRegularExpression named(QStringLiteral("(?<!\\d)(\\d)\\s*[xX*]\\s*\\1(?!\\d)"));
    if (const auto match = named.match(label); match.hasMatch()) return match.captured(1).toInt();
    if (label.contains(QStringLiteral("ROI"), Qt::CaseInsensitive) || width <= 0) return 1;
    const double ratio = double(fullWidth) / width;
    const double whole = std::round(ratio);
    return whole >= 2 && std::abs(ratio - whole) <= 0.05 * whole ? int(whole) : 1;
}

ScaleBar chooseScaleBar(double micronsPerPixel, double longest) {
    if (!(micronsPerPixel > 0) || !(longest >= 1) || !std::isfinite(micronsPerPixel)) return {};
    const double most = longest * micronsPerPixel;  // micrometres
    double decade = std::pow(10.0, std::floor(std::log10(most)));
    double length = 0;
    for (const double mantissa : {5.0, 2.0, 1.0})
        if (mantissa * decade <= most * (1 + 1e-9)) {
            length = mantissa * decade;
            break;
        }
    if (length == 0) length = decade;  // rounding put `most` just below the decade
    ScaleBar bar;
    bar.micrometres = length;
    bar.pixels = length / micronsPerPixel;
    bar.text = length >= 1000 ? QStringLiteral("%1 mm").arg(length / 1000)
                              : QStringLiteral("%1 µm").arg(length);
    return bar;
}

namespace {

int marginFor(QSize size) {
    return std::max(8, std::min(size.width(), size.height()) / 40);
}

int thicknessFor(QSize size) {
    return std::max(3, std::min(size.width(), size.height()) / 150);
}

QFont fontFor(QSize size) {
    QFont font;
    font.setPixelSize(std::max(11, std::min(size.width(), size.height()) / 30));
    font.setBold(true);
    return font;
}

}  // namespace

QRect scaleBarRect(QSize size, const ScaleBar& bar) {
    const int length = int(std::lround(bar.pixels));
    const int margin = marginFor(size), thick = thicknessFor(size);
    return QRect(size.width() - margin - length, size.height() - margin - thick, length, thick);
}

void paintScaleBar(QPainter& painter, QSize size, const ScaleBar& bar) {
    if (!bar.valid()) return;
    const QRect rect = scaleBarRect(size, bar);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(rect.adjusted(-1, -1, 1, 1), Qt::black);
    painter.fillRect(rect, Qt::white);
    // The text right-aligned above the bar, white with a black outline so it
    // reads on any background.
    const QFont font = fontFor(size);
    const QFontMetrics metrics(font);
    QPainterPath text;
    text.addText(rect.right() + 1 - metrics.horizontalAdvance(bar.text),
                 rect.top() - 1 - metrics.descent() - 2, font, bar.text);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.strokePath(text, QPen(Qt::black, 3));
    painter.fillPath(text, Qt::white);
    painter.restore();
}

namespace {

// Blends the mask's grey into every sample by its alpha; `full` is the
// sample's full scale.
template <typename Sample>
void blend(unsigned char* pixels, int width, int channels, const QImage& mask, QPoint at,
           int full) {
    for (int y = 0; y < mask.height(); ++y) {
        const QRgb* m = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        unsigned char* row =
            pixels + (size_t(at.y() + y) * width + at.x()) * channels * sizeof(Sample);
        for (int x = 0; x < mask.width(); ++x) {
            const int a = qAlpha(m[x]);
            if (a == 0) continue;
            const int64_t v = int64_t(qGray(m[x])) * full / 255;
            for (int c = 0; c < channels; ++c) {
                unsigned char* p = row + (size_t(x) * channels + c) * sizeof(Sample);
                Sample s;
                std::memcpy(&s, p, sizeof s);
                s = Sample((int64_t(s) * (255 - a) + v * a + 127) / 255);
                std::memcpy(p, &s, sizeof s);
            }
        }
    }
}

}  // namespace

bool burnScaleBar(unsigned char* image, size_t capacity, const ScaleBar& bar) {
    _ezImage record;
    if (!image || capacity < sizeof record || !bar.valid()) return false;
    std::memcpy(&record, image, sizeof record);
    const size_t bytes = record.depth / 8;
    if (std::memcmp(record.signature, "KVEZ", 4) != 0 || !record.decoded ||
        (record.channels != 1 && record.channels != 3) ||
        (record.depth != 8 && record.depth != 16) || record.header_size < sizeof record ||
        record.header_size > capacity ||
        size_t(record.width) * record.height * record.channels * bytes >
            capacity - record.header_size)
        return false;
    // The bar is painted into a mask over the part of the image it covers,
    // then blended into the samples.
    const QSize size(record.width, record.height);
    const int top = scaleBarRect(size, bar).top() - 3 * fontFor(size).pixelSize();
    const QRect bounds = QRect(0, 0, size.width(), size.height())
                             .intersected(QRect(0, top, size.width(), size.height() - top));
    if (bounds.isEmpty()) return false;
    QImage mask(bounds.size(), QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    {
        QPainter painter(&mask);
        painter.translate(-bounds.topLeft());
        paintScaleBar(painter, size, bar);
    }
    unsigned char* pixels = image + record.header_size;
    if (bytes == 2)
        blend<uint16_t>(pixels, record.width, record.channels, mask, bounds.topLeft(), 65535);
    else
        blend<uint8_t>(pixels, record.width, record.channels, mask, bounds.topLeft(), 255);
    return true;
}

}  // namespace viewer
