// How the pixels of a finished image lie on the raw frame it was made from:
// the pipeline cuts a border from every side, then turns and flips the rest.
#pragma once

#include <QPoint>
#include <QSize>
#include <optional>

namespace viewer {

struct FrameMap {
    QSize finished;  // the finished image
    QSize raw;       // the raw frame
    int borderX = 0;
    int borderY = 0;
    int rotate = 0;  // 1 a quarter turn counter-clockwise, 2 clockwise (the pipeline's codes)
    int flip = 0;    // bit 0 horizontal, bit 1 vertical

    // The map for these sizes and settings; nothing when the finished image
    // cannot have been cut from the raw frame that way.
    static std::optional<FrameMap> of(QSize finished, QSize raw, int rotate, int flip);

    // The raw sample a finished pixel was made at (the pixel must lie inside).
    QPoint rawOf(QPoint pixel) const;
};

}  // namespace viewer
