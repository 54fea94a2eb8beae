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
// The codes of ezcam.h index the tables below in this order.
static_assert(EZ_BAYER_MONO == 0 && EZ_BAYER_RGGB == 1 && EZ_BAYER_GRBG == 2 &&
              EZ_BAYER_BGGR == 3 && EZ_BAYER_GBRG == 4);
inline constexpr RowPattern kRowPatterns[EZ_BAYER_GBRG + 1][2] = {
    {{false, false}, {false, false}},  // no mosaic
    {{true, true}, {false, false}},    // R G / G B
    {{true, false}, {false, true}},    // G R / B G
    {{false, true}, {true, false}},    // B G / G R
    {{false, false}, {true, true}},    // G B / R G
};

// The tile's colours, top left, top right, bottom left, bottom right; "" for
// 0 and any code outside 1..4.
inline const char* patternName(int code) {
    // By code: EZ_BAYER_MONO, _RGGB, _GRBG, _BGGR, _GBRG.
    static constexpr const char* kNames[EZ_BAYER_GBRG + 1] = {"", "RGGB", "GRBG", "BGGR", "GBRG"};
    return code >= EZ_BAYER_MONO && code <= EZ_BAYER_GBRG ? kNames[code] : "";
}

}  // namespace bayer
