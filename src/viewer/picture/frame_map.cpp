// How finished pixels lie on the raw frame.
#include "viewer/picture/frame_map.h"

namespace viewer {

std::optional<FrameMap> FrameMap::of(QSize finished, QSize raw, int rotate, int flip) {
    if (rotate != 1 && rotate != 2) rotate = 0;
    const QSize cut = rotate ? finished.transposed() : finished;
    const int spareX = raw.width() - cut.width(), spareY = raw.height() - cut.height();
    if (finished.isEmpty() || spareX < 0 || spareY < 0 || spareX % 2 || spareY % 2)
        return std::nullopt;
    return FrameMap{finished, raw, spareX / 2, spareY / 2, rotate, flip & 3};
}

QPoint FrameMap::rawOf(QPoint p) const {
    int x = p.x(), y = p.y();
    // Undo the flips, then the turn (the pipeline turns first).
    if (flip & 1) x = finished.width() - 1 - x;
    if (flip & 2) y = finished.height() - 1 - y;
    int cx = x, cy = y;
    if (rotate == 2) {  // clockwise: (x, y) -> (h - 1 - y, x) of the cut image
        cx = y;
        cy = finished.width() - 1 - x;
    } else if (rotate == 1) {  // counter-clockwise: (x, y) -> (y, w - 1 - x)
        cx = finished.height() - 1 - y;
        cy = x;
    }
    return {cx + borderX, cy + borderY};
}

}  // namespace viewer
