// The pixel readout of the status line: the position under the cursor, the
// raw frame's samples there (the whole Bayer tile on a colour sensor) and the
// finished pixel's value.
#pragma once

#include <QPoint>
#include <QString>
#include <optional>

#include "viewer/picture/shown_frame.h"

namespace viewer {

struct PixelReadout {
    QPoint at;  // the finished pixel
    int channels = 1;
    int finished[3] = {};  // at the finished image's depth
    int finishedDepth = 8;
    bool hasRaw = false;
    QPoint rawAt;             // the raw sample the pixel was made at
    int bayer = 0;            // 0: a monochrome sensor, one raw sample
    int tile[4] = {};         // the 2 x 2 tile holding rawAt: row by row
    int tileSite = 0;         // rawAt's place in the tile
    bool tileInside[4] = {};  // the tile's samples that lie inside the frame
};

// The readout of finished pixel `at`; nothing outside the picture.
std::optional<PixelReadout> readoutAt(const ShownFrame& frame, QPoint at);

// "x 12  y 34 · raw R 210 G 198 [G 201] B 80 · RGB 230 220 190"
QString readoutText(const PixelReadout& readout);

// The filter colours of a Bayer code's tile, row by row ("BGGR" for code 1).
const char* bayerSites(int bayer);

}  // namespace viewer
