// Row layouts of the models' resolution and pixel-clock tables. The tables
// themselves are plain data, one per model class (<class>Res, <class>Clk).
#pragma once

#include <cstdint>

struct ResolutionEntry {
    uint8_t mode;         // request value that selects this mode
    uint16_t lineLength;  // line length in pixel clocks
    int32_t frameBytes;   // pixel bytes the model's reader requests for this mode
    uint16_t height;      // stored height (usable height + 8)
    uint16_t width;       // stored width (usable width + 8)
    const char* label;    // usable size as shown to users, e.g. "1592x1192"
};

struct PixelClockEntry {
    uint8_t mode;          // request value that selects this clock
    uint16_t minRes16;     // lowest resolution index at which 16-bit depth is allowed
    int32_t rate;          // pixel clocks per millisecond
    int32_t depth16;       // non-zero when 16-bit depth is possible at this clock
    const char* label;     // e.g. "High"
};
