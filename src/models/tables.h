// Row layouts of the models' resolution and pixel-clock tables. The tables
// themselves are plain data, one per model class (<class>Res, <class>Clk).
#pragma once

#include <cstddef>
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

// Device releases a row or a layout is for; an empty list matches every
// release.
struct ReleaseList {
    uint16_t releases[4];
    bool contains(uint16_t release) const {
        bool any = false;
        for (uint16_t r : releases) {
            if (r == 0) continue;
            any = true;
            if (r == release) return true;
        }
        return !any;
    }
};

// When a requested region of interest is programmed into the sensor
// (requests 0xbd, 0xbe) instead of being cut out of each frame in memory,
// and whether the frame that programs it is dropped.
struct RoiRule {
    enum When : uint8_t {
        FirstResolution,  // at resolution index 0
        FullWidth,        // in a mode of the full sensor width
        Always,
        Never,  // always cut in memory
    } when = FirstResolution;
    uint16_t fullWidth = 0;  // stored width that counts as full (FullWidth)
    bool dropFrame = true;   // the programming frame reports -3
};

// How a device frames one transfer on the bulk pipe. A model lists its
// layouts with the device releases they are for.
struct FrameLayout {
    enum Kind : uint8_t {
        Header,         // ten 0x88 open the header, then the samples
        Unmarked,       // a header area the reader does not examine, then the samples
        Trailer,        // samples after the header area, then 0x88, flag, one byte
        PaddedTrailer,  // samples, then one packet whose last three bytes are 0x88, flag, one
        ExtraByte,      // samples, then one byte; no marker
        Bare,           // samples only; no marker, the third byte from the end is cleared
        Signature,      // samples opening with "XTDT", no packet opening with ten 0xbb;
                        // 16-bit samples packed as 12 bits
        Trailer4,       // samples, then 0x88, one byte, flag, one byte
        Tail4,          // samples, then four bytes not examined
    };
    ReleaseList releases;
    Kind kind;
    bool captureFlag;   // 0xcc two bytes before the end makes the frame's result 1
    bool exactRequest;  // ask for the expected count only, not a header area more
    RoiRule roi{};
    bool hostOrder = false;      // 16-bit samples arrive least significant byte first
    bool headAt16Full = false;   // at 16 bits, mode 0 carries one header area more
};

// A mode the device reads out at another size than the one its table
// stores (the full sensor, a doubled width, whole sensor rows): the frame
// arrives as width x height samples and is binned in software, or cut at
// cutX, to the mode's size.
struct ModeReadout {
    const ResolutionEntry* table;  // the resolution table the mode belongs to
    uint8_t resolution;            // index in that table
    uint16_t width;                // samples per row the device sends
    uint16_t height;
    uint8_t binX;  // software binning, Bayer-aware on colour sensors
    uint8_t binY;
    uint16_t cutX;  // first column of the stored size, when cut out (binning 1)
};

// Exposure limits of one resolution mode, for the families whose exposure
// travels as a total line count in the mode requests.
struct ExposureLimits {
    uint8_t mode;             // resolution mode code
    uint16_t exposureMax;     // lines per period in that mode, or 0 to keep
    int32_t longExposureMax;  // periods allowed, or -1 to keep
};

// How a sensor re-times after a mode or clock change: the base computation
// (the exposure register keeps the line count), the families whose exposure
// travels as a total line count in the mode requests (their limits by mode,
// and whether the line length is taken again from the new mode, else only
// the clock scales), or not at all (every mode and clock has one timing).
struct Retime {
    enum Kind : uint8_t { Base, Carried, Fixed } kind;
    const ExposureLimits* limits;
    uint8_t count;
    bool rereadLineLength;
};

template <size_t N>
constexpr Retime carried(const ExposureLimits (&limits)[N], bool rereadLineLength) {
    return {Retime::Carried, limits, static_cast<uint8_t>(N), rereadLineLength};
}

// The models' tables, named after the model class that owns them. The array
// bounds are the entry counts (std::size gives them).
extern const ResolutionEntry VAh200C1Res[3];
extern const ResolutionEntry VAo131C1Res[2];
extern const ResolutionEntry VAc500C1Res[2];
extern const ResolutionEntry VAo300C1Res[5];
extern const ResolutionEntry VAo131M1Res[1];
extern const ResolutionEntry VAo500C1Res[5];
extern const ResolutionEntry VAo1KC1Res[5];
extern const ResolutionEntry VAh1KC1Res[3];
extern const ResolutionEntry VAo500M1Res[5];
extern const ResolutionEntry V3h5MC1Res[5];
extern const ResolutionEntry VSo035M1Res[4];
extern const ResolutionEntry VSo035C1Res[3];
extern const ResolutionEntry VS200C1Res[1];
extern const ResolutionEntry VSo036C1Res[3];
extern const ResolutionEntry VDo205M1Res[3];
extern const ResolutionEntry VDh205C1Res[1];
extern const ResolutionEntry VDo285M1Res[3];
extern const ResolutionEntry VDh285C1Res[2];
extern const ResolutionEntry VDh674C1Res[3];
extern const ResolutionEntry VDh674M1V1Res[3];
extern const ResolutionEntry VDh674M1V0Res[3];
extern const ResolutionEntry VDh694M1V1Res[3];
extern const ResolutionEntry VDh694C1V1Res[5];
extern const ResolutionEntry VDh687M1V1Res[3];
extern const ResolutionEntry VDh687M1Res[3];
extern const ResolutionEntry VDo282C1Res[4];
extern const ResolutionEntry VSi400M1Res[4];
extern const PixelClockEntry VAh200C1Clk[2];
extern const PixelClockEntry VAo131C1Clk[2];
extern const PixelClockEntry VAc500C1Clk[2];
extern const PixelClockEntry VAo300C1Clk[3];
extern const PixelClockEntry VAo131M1Clk[3];
extern const PixelClockEntry VAo500C1V1Clk[3];
extern const PixelClockEntry VAo500C1V0Clk[3];
extern const PixelClockEntry VAo1KC1Clk[5];
extern const PixelClockEntry VAo500M1Clk[3];
extern const PixelClockEntry V3h5MC1Clk[3];
extern const PixelClockEntry VSo035M1Clk[3];
extern const PixelClockEntry VSo035C1Clk[3];
extern const PixelClockEntry VS200C1Clk[4];
extern const PixelClockEntry VSo036C1Clk[4];
extern const PixelClockEntry VDo205M1Clk[5];
extern const PixelClockEntry VDh205C1Clk[2];
extern const PixelClockEntry VDo285M1Clk[5];
extern const PixelClockEntry VDh285C1Clk[2];
extern const PixelClockEntry VDh674C1Clk[2];
extern const PixelClockEntry VDh674M1Clk2[5];
extern const PixelClockEntry VDh674M1Clk[5];
extern const PixelClockEntry VDh694M1Clk[5];
extern const PixelClockEntry VDh94C1Clk[2];
extern const PixelClockEntry VDh687M1Clk2[5];
extern const PixelClockEntry VDh687M1Clk[5];
extern const PixelClockEntry VDo282C1Clk[3];
extern const PixelClockEntry VSi400M1Clk[3];

// The readout of one mode of a table, or null when the mode arrives at its
// stored size.
const ModeReadout* findReadout(const ResolutionEntry* table, int resolution);
