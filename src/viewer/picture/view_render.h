// The visible part of a shown frame scaled to the view: what the live picture
// draws. The show thread renders each new frame; the window renders again
// when zoom, pan or the overlay change.
#pragma once

#include <QImage>
#include <QRect>
#include <cstdint>
#include <vector>

#include "viewer/live/display_frame.h"
#include "viewer/picture/shown_frame.h"
#include "viewer/picture/view_transform.h"

namespace viewer {

// Clipped pixels are drawn in this colour (0xAARRGGBB): magenta, rare in
// stained and fluorescent samples alike.
inline constexpr uint32_t kClippedColour = 0xffff00ff;

struct RenderedView {
    QImage image;  // RGB32, drawn 1:1 at placed's top-left corner
    QRect placed;  // in view coordinates
};

// One per thread: its images and tables are its own.
class ViewRenderer {
  public:
    // Pixels are taken at the image pixel under each view pixel's centre;
    // below 1:1 each is the mean of the box of n x n pixels around it, n the
    // nearest whole number to 1 / scale (at most 4). With `clipping`, pixels
    // whose raw sample (at the centre) is at the raw maximum take
    // kClippedColour.
    RenderedView render(const ShownFrame& frame, const ViewTransform& transform, QSize view,
                        bool clipping);

  private:
    ImagePool images;
    // Per view column and row: where its box starts in the picture (byte
    // offset, row), and the raw sample offsets of its centre.
    std::vector<int32_t> columns, rawColumns;
    std::vector<int32_t> rows, rawRows;
    std::vector<uint16_t> sums;  // a view row's box sums, by box start
};

}  // namespace viewer
