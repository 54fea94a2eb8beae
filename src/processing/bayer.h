// Bayer codes (0 monochrome, 1 to 4 the four placements of the 2 x 2 tile at
// the frame's first sample): the site pattern the decoders walk and the
// pattern's name for the outside world. One table each, for every user.
#pragma once

#include "ezcam.h"

namespace bayer {

// Site pattern of even and odd rows per Bayer code: whether the row's
// non-green sites are red (as the decoders name them), and whether column 1
// is green.
struct RowPattern {
    bool red;
    bool greenFirst;
};
// The codes of ezcam.h (named by their filters) index the tables below in
// this order; the comments give the decoders' names.
static_assert(EZ_BAYER_MONO == 0 && EZ_BAYER_BGGR == 1 && EZ_BAYER_GBRG == 2 &&
              EZ_BAYER_RGGB == 3 && EZ_BAYER_GRBG == 4);
inline constexpr int kCodes = 5;
inline constexpr RowPattern kRowPatterns[kCodes][2] = {
    {{false, false}, {false, false}},  // no mosaic
    {{true, true}, {false, false}},    // R G / G B
    {{true, false}, {false, true}},    // G R / B G
    {{false, true}, {true, false}},    // B G / G R
    {{false, false}, {true, true}},    // G B / R G
};

// The decoders' own names of the tile's colours, top left, top right,
// bottom left, bottom right: a site they call red lands in channel 2, the
// one every writer and the display present as blue. "" for 0 and any code
// outside 1..4.
inline const char* codeName(int code) {
    static constexpr const char* kNames[] = {"", "RGGB", "GRBG", "BGGR", "GBRG"};
    return code >= 0 && code <= 4 ? kNames[code] : "";
}

// The colours of the filters themselves, in the same order: a site the
// decoders call red sits under a blue filter and the reverse, so that a
// program debayering a raw recording by this name sees the colours of the
// finished image. Every name for the outside world (file headers, the
// pixel readout) is this one. "" for 0 and any code outside 1..4.
inline const char* patternName(int code) {
    static constexpr const char* kNames[] = {"", "BGGR", "GBRG", "RGGB", "GRBG"};
    return code >= 0 && code <= 4 ? kNames[code] : "";
}

// Whether the site (x, y) of a frame with this code sits under a red
// (0), green (1) or blue (2) filter; 1 for a monochrome sensor.
inline int filterAt(int code, int x, int y) {
    const char* name = patternName(code);
    if (!*name) return 1;
    const char c = name[(y & 1) * 2 + (x & 1)];
    return c == 'R' ? 0 : c == 'G' ? 1 : 2;
}

}  // namespace bayer
