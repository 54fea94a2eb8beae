// A frame as the window holds it once shown: the finished picture at 8 bits,
// copies of the raw frame and of 16-bit finished samples for the pixel
// readout and the clipping overlay, the map between them, its histogram and
// its focus figure. Built on the show thread, read-only afterwards, so the
// window may keep it while newer frames arrive.
#pragma once

#include <QImage>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "viewer/live/display_frame.h"
#include "viewer/live/recycler.h"
#include "viewer/picture/focus_measure.h"
#include "viewer/picture/frame_map.h"

namespace viewer {

// Samples in rows without gaps; 16-bit ones in host order.
struct SampleGrid {
    int width = 0;
    int height = 0;
    int channels = 1;
    int depth = 8;
    int bayer = 0;  // the raw frame's Bayer code, 0 for a monochrome sensor
    std::vector<unsigned char> bytes;

    bool contains(QPoint p) const {
        return p.x() >= 0 && p.y() >= 0 && p.x() < width && p.y() < height;
    }
    int at(QPoint p, int channel = 0) const;
};

struct ShownFrame {
    QImage picture;                          // Grayscale8 or RGB888
    int depth = 8;                           // bits per sample of the finished image
    std::shared_ptr<const SampleGrid> raw;   // null when the raw frame did not fit
    std::shared_ptr<const SampleGrid> deep;  // the 16-bit finished samples; null at 8 bits
    std::optional<FrameMap> map;             // set whenever raw is
    Histogram histogram;
    double focus = 0;

    QSize size() const { return picture.size(); }
};

// The raw sample value at which a pixel counts as clipped: the top code of
// an 8-bit converter; for 16-bit samples, aligned to the top bit, the top
// code of a 10-bit converter, so deeper converters' tops are caught too.
inline int rawClipLevel(int depth) {
    return depth == 16 ? 0xffc0 : 0xff;
}

// The camera's settings a frame was made with, as far as the window needs them.
struct FrameSettings {
    int rotate = 0;
    int flip = 0;
    int bayer = 0;  // the sensor's Bayer code, 0 monochrome
};

// Show thread: turns display frames into shown frames.
class FrameKeeper {
  public:
    // Nothing when the frame's picture cannot be made.
    std::shared_ptr<ShownFrame> keep(const DisplayFrame& frame, const FrameSettings& settings);

  private:
    ImagePool pictures;
    Recycler<SampleGrid> raws;
    Recycler<SampleGrid> deeps;
    FocusMeter focus;
};

}  // namespace viewer
