// The live picture.
#include "viewer/live_view.h"

#include <QPainter>

#include "viewer/histogram_view.h"

namespace viewer {

LiveView::LiveView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(320, 240);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LiveView::present(const DisplayFrame& frame) {
    if (suspended || inFlight.exchange(true)) return;
    const QImage copy = pool.copyOf(frame);
    if (histogramView) histogramOf(frame, histogram);
    if (copy.isNull()) {
        inFlight = false;
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, copy, h = histogram] { show(copy, h); }, Qt::QueuedConnection);
}

void LiveView::show(const QImage& image, const Histogram& h) {
    picture = image;
    ++drawn;
    if (histogramView) histogramView->setHistogram(h);
    update();
    inFlight = false;
}

QRect LiveView::pictureRect() const {
    if (picture.isNull()) return {};
    const QSize fitted = picture.size().scaled(size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

void LiveView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
    if (picture.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(pictureRect(), picture);
}

}  // namespace viewer
