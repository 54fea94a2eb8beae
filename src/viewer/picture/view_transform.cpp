// Zoom and pan of the live picture.
#include "viewer/picture/view_transform.h"

#include <algorithm>
#include <cmath>

namespace viewer {

namespace {

double fittedScale(QSize view, QSize image) {
    if (image.isEmpty() || view.isEmpty()) return 1;
    return std::min(double(view.width()) / image.width(), double(view.height()) / image.height());
}

}  // namespace

QPoint ViewTransform::pixelAt(QPoint view) const {
    const QPointF p = toImage(QPointF(view.x() + 0.5, view.y() + 0.5));
    return {int(std::floor(p.x())), int(std::floor(p.y()))};
}

QRect ViewTransform::visibleRect(QSize view, QSize image) const {
    // View pixel u shows the image when its centre falls inside: 0 <= origin
    // + (u + 0.5) / scale < width.
    const auto first = [&](double origin) {
        return std::max(0, int(std::ceil(-origin * scale - 0.5)));
    };
    const auto end = [&](double origin, int length, int limit) {
        return std::min(limit, int(std::ceil((length - origin) * scale - 0.5)));
    };
    const int left = first(originX), top = first(originY);
    const int right = end(originX, image.width(), view.width());
    const int bottom = end(originY, image.height(), view.height());
    if (right <= left || bottom <= top) return {};
    return QRect(left, top, right - left, bottom - top);
}

double Zoom::scaleFor(QSize view, QSize image) const {
    return fit ? fittedScale(view, image) : scale;
}

QPointF Zoom::clampedCentre(QPointF c, double s, QSize view, QSize image) const {
    const auto axis = [s](double value, int viewLength, int imageLength) {
        const double half = viewLength / (2 * s);
        if (2 * half >= imageLength) return imageLength / 2.0;
        return std::clamp(value, half, imageLength - half);
    };
    return {axis(c.x(), view.width(), image.width()), axis(c.y(), view.height(), image.height())};
}

ViewTransform Zoom::transform(QSize view, QSize image) const {
    const double s = scaleFor(view, image);
    const QPointF c = fit ? QPointF(image.width() / 2.0, image.height() / 2.0)
                          : clampedCentre(centre, s, view, image);
    return {s, c.x() - view.width() / (2 * s), c.y() - view.height() / (2 * s)};
}

void Zoom::zoomTo(double newScale, QSize view, QSize image, const QPointF* about) {
    // Smaller than fitted is fitted, except that a picture smaller than the
    // view may still be shown 1:1.
    const double fitted = fittedScale(view, image);
    if (!(newScale > 0) || newScale == fitted || newScale < std::min(fitted, 1.0)) {
        fit = true;
        return;
    }
    const ViewTransform before = transform(view, image);
    const QPointF anchor = about ? *about : QPointF(view.width() / 2.0, view.height() / 2.0);
    const QPointF kept = before.toImage(anchor);
    scale = std::min(newScale, kMaxScale);
    fit = false;
    // The anchor keeps its image point: centre = point - (anchor - view centre) / scale.
    centre =
        clampedCentre(kept - (anchor - QPointF(view.width() / 2.0, view.height() / 2.0)) / scale,
                      scale, view, image);
}

void Zoom::panBy(QPointF delta, QSize view, QSize image) {
    if (fit) {
        // A fitted picture lies whole in the view: nothing to move.
        return;
    }
    centre = clampedCentre(centre - delta / scale, scale, view, image);
}

}  // namespace viewer
