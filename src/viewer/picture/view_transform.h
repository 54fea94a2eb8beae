// Zoom and pan of the live picture: where the image lies in the view, and the
// mapping between view (widget) and image coordinates. Pure arithmetic, used
// by the window and by the show thread alike.
#pragma once

#include <QPointF>
#include <QRect>
#include <QSize>

namespace viewer {

// A view point (u, v) shows the image point (originX + u / scale,
// originY + v / scale); pixel (x, y) of the image covers [x, x + 1).
struct ViewTransform {
    double scale = 1;  // view pixels per image pixel
    double originX = 0;
    double originY = 0;

    QPointF toImage(QPointF view) const {
        return {originX + view.x() / scale, originY + view.y() / scale};
    }
    QPointF toView(QPointF image) const {
        return {(image.x() - originX) * scale, (image.y() - originY) * scale};
    }
    // The image pixel under a view pixel's centre; may lie outside the image.
    QPoint pixelAt(QPoint view) const;
    // The part of the view the image covers, in whole view pixels.
    QRect visibleRect(QSize view, QSize image) const;
};

// The user's zoom: fitted to the view, or a scale with the image point shown
// at the view's centre. A picture larger than the view is kept covering it;
// a smaller one is centred.
class Zoom {
  public:
    static constexpr double kMaxScale = 32;

    bool fitting() const { return fit; }
    // The scale in force for this view and image.
    double scaleFor(QSize view, QSize image) const;
    ViewTransform transform(QSize view, QSize image) const;

    void fitToView() { fit = true; }
    // A fixed scale with `about` (a view point) keeping its image point; the
    // view's centre when none. Scales below the fitted one (and below 1:1)
    // fit.
    void zoomTo(double scale, QSize view, QSize image, const QPointF* about = nullptr);
    // Moves the picture by `delta` view pixels (as a drag does).
    void panBy(QPointF delta, QSize view, QSize image);

  private:
    QPointF clampedCentre(QPointF centre, double scale, QSize view, QSize image) const;

    bool fit = true;
    double scale = 1;
    QPointF centre;  // image coordinates at the view's centre
};

}  // namespace viewer
