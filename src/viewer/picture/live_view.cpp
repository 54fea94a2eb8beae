// The live picture.
#include "viewer/picture/live_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "viewer/picture/histogram_view.h"
#include "viewer/picture/pixel_readout.h"
#include "viewer/picture/scale_bar.h"

namespace viewer {

namespace {

// One notch of the wheel zooms by a fourth of an octave.
constexpr double kWheelNotch = 120;
constexpr double kNotchesPerOctave = 4;

}  // namespace

LiveView::LiveView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(320, 240);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

// ---- Show thread ------------------------------------------------------------

void LiveView::present(const DisplayFrame& frame, const FrameSettings& settings) {
    if (suspended || inFlight.exchange(true)) return;
    std::shared_ptr<const ShownFrame> shown = keeper.keep(frame, settings);
    if (!shown) {
        inFlight = false;
        return;
    }
    Zoom z;
    QSize size;
    bool overlay;
    unsigned made;
    {
        std::lock_guard guard(viewLock);
        z = zoom;
        size = viewSize;
        overlay = clipping;
        made = generation;
    }
    RenderedView rendered =
        frameRenderer.render(*shown, z.transform(size, shown->size()), size, overlay);
    QMetaObject::invokeMethod(
        this, [this, shown, rendered, made] { show(shown, rendered, made); }, Qt::QueuedConnection);
}

// ---- Window thread ----------------------------------------------------------

void LiveView::show(std::shared_ptr<const ShownFrame> shown, const RenderedView& rendered,
                    unsigned made) {
    const bool resized = !current || current->size() != shown->size();
    current = std::move(shown);
    // Said for assistive tools, and for scripts that drive the window.
    if (resized)
        setAccessibleDescription(
            QStringLiteral("%1 × %2").arg(current->size().width()).arg(current->size().height()));
    ++drawn;
    bool stale;
    {
        std::lock_guard guard(viewLock);
        if (resized) {
            // Another resolution or region: the whole new picture first.
            zoom.fitToView();
            ++generation;
        }
        // Rendered for another zoom or size than the widget's now.
        stale = made != generation || viewSize != size();
        viewSize = size();
    }
    if (stale)
        view = windowRenderer.render(*current, transform(), size(), clippingShown());
    else
        view = rendered;
    if (histogramView) histogramView->setHistogram(current->histogram);
    update();
    inFlight = false;
    updateReadout();
    if (resized) emit zoomChanged();
    emit frameShown();
}

void LiveView::clearPicture() {
    current.reset();
    setAccessibleDescription(QString());
    view = {};
    update();
    updateReadout();
}

ViewTransform LiveView::transform() const {
    std::lock_guard guard(viewLock);
    return zoom.transform(size(), current ? current->size() : QSize());
}

QRect LiveView::pictureRect() const {
    if (!current) return {};
    const ViewTransform t = transform();
    const QSize s = current->size();
    return QRectF(t.toView({0, 0}), t.toView(QPointF(s.width(), s.height()))).toRect();
}

bool LiveView::fitting() const {
    std::lock_guard guard(viewLock);
    return zoom.fitting();
}

double LiveView::scale() const {
    std::lock_guard guard(viewLock);
    return zoom.scaleFor(size(), current ? current->size() : QSize());
}

void LiveView::fitToView() {
    {
        std::lock_guard guard(viewLock);
        zoom.fitToView();
    }
    viewChanged();
}

void LiveView::zoomTo(double newScale, const QPointF* about) {
    if (!current) return;
    {
        std::lock_guard guard(viewLock);
        zoom.zoomTo(newScale, size(), current->size(), about);
    }
    viewChanged();
}

void LiveView::setClippingShown(bool on) {
    {
        std::lock_guard guard(viewLock);
        clipping = on;
    }
    viewChanged();
}

bool LiveView::clippingShown() const {
    std::lock_guard guard(viewLock);
    return clipping;
}

void LiveView::setScaleBar(double microns) {
    micronsPerPixel = microns > 0 ? microns : 0;
    update();
}

void LiveView::viewChanged() {
    {
        std::lock_guard guard(viewLock);
        ++generation;
        viewSize = size();
    }
    view = current ? windowRenderer.render(*current, transform(), size(), clippingShown())
                   : RenderedView{};
    update();
    updateReadout();
    emit zoomChanged();
}

QPoint LiveView::imagePixelAt(QPointF point) const {
    return transform().pixelAt(QPoint(int(std::floor(point.x())), int(std::floor(point.y()))));
}

void LiveView::updateReadout() {
    std::optional<PixelReadout> readout;
    if (cursorInside && current) readout = readoutAt(*current, imagePixelAt(cursor));
    emit readoutChanged(readout ? readoutText(*readout) : QString());
}

void LiveView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
    if (!current || view.image.isNull()) return;
    painter.drawImage(view.placed.topLeft(), view.image);
    if (drag == Drag::Region) {
        const ViewTransform t = transform();
        const QRect pixels = QRect(regionFrom, regionTo).normalized();
        const QRectF shown(t.toView(pixels.topLeft()),
                           t.toView(pixels.bottomRight() + QPoint(1, 1)));
        // A chart's rectangle in another colour than a region's.
        painter.setPen(QPen(chartTool ? QColor(0, 220, 255) : QColor(255, 220, 0), 1, Qt::DashLine));
        painter.drawRect(shown.adjusted(0, 0, -1, -1));
    }
    if (micronsPerPixel > 0) {
        // As long as a fifth of the visible picture at most.
        const ScaleBar bar = chooseScaleBar(micronsPerPixel / scale(), view.placed.width() / 5.0);
        painter.translate(view.placed.topLeft());
        paintScaleBar(painter, view.placed.size(), bar);
    }
}

void LiveView::resizeEvent(QResizeEvent*) {
    viewChanged();
}

void LiveView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / kWheelNotch;
    if (notches == 0 || !current) return;
    const QPointF at = event->position();
    zoomTo(scale() * std::pow(2.0, notches / kNotchesPerOctave), &at);
    event->accept();
}

void LiveView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !current) return;
    dragFrom = event->position();
    if (chartTool || regionTool || event->modifiers() & Qt::ShiftModifier) {
        drag = Drag::Region;
        const QRect inside(QPoint(), current->size());
        const QPoint at = imagePixelAt(dragFrom);
        regionFrom = regionTo =
            QPoint(std::clamp(at.x(), 0, inside.right()), std::clamp(at.y(), 0, inside.bottom()));
    } else {
        drag = Drag::Pan;
        setCursor(Qt::ClosedHandCursor);
    }
}

void LiveView::mouseMoveEvent(QMouseEvent* event) {
    cursor = event->position();
    cursorInside = true;
    if (drag == Drag::Pan && current) {
        {
            std::lock_guard guard(viewLock);
            zoom.panBy(cursor - dragFrom, size(), current->size());
        }
        dragFrom = cursor;
        viewChanged();
    } else if (drag == Drag::Region && current) {
        const QPoint at = imagePixelAt(cursor);
        regionTo = QPoint(std::clamp(at.x(), 0, current->size().width() - 1),
                          std::clamp(at.y(), 0, current->size().height() - 1));
        update();
    }
    updateReadout();
}

void LiveView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const Drag ended = drag;
    drag = Drag::None;
    unsetCursor();
    if (ended != Drag::Region) return;
    update();
    const QRect region = QRect(regionFrom, regionTo).normalized();
    if (region.width() <= 1 || region.height() <= 1) return;
    if (chartTool)
        emit chartDrawn(region);
    else
        emit regionDrawn(region);
}

void LiveView::setChartTool(bool on) {
    chartTool = on;
    if (!on && drag == Drag::Region) {
        drag = Drag::None;
        update();
    }
}

void LiveView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !current) return;
    if (fitting()) {
        const QPointF at = event->position();
        zoomTo(1, &at);
    } else {
        fitToView();
    }
}

void LiveView::enterEvent(QEnterEvent* event) {
    cursor = event->position();
    cursorInside = true;
    updateReadout();
}

void LiveView::leaveEvent(QEvent*) {
    cursorInside = false;
    updateReadout();
}

}  // namespace viewer
