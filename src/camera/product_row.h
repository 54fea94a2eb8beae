// What a product is, as the camera reads it: the row types of the product
// table and of the catalogue rows that build a camera (resolution and clock
// tables, sensor rows, frame layouts, features, quirks, resume order). The
// rows themselves are data in src/models.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "pipeline/pipeline.h"

class CamBayer;


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

// The readout of one mode of a table among `readouts`, or null when the
// mode arrives at its stored size.
inline const ModeReadout* findReadout(std::span<const ModeReadout> readouts,
                                      const ResolutionEntry* table, int resolution) {
    for (const ModeReadout& readout : readouts)
        if (readout.table == table && readout.resolution == resolution) return &readout;
    return nullptr;
}

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


// A sensor setting as the catalogue gives it: value/min/max/def and whether
// the model offers it. Every step is 1.
struct Limits {
    uint16_t value;
    uint16_t min;
    uint16_t max;
    uint16_t def;
    uint8_t supported;
};

// The raw bit depth, whose step is part of the row.
struct DepthLimits {
    uint16_t value;
    uint16_t min;
    uint16_t max;
    uint16_t step;
    uint16_t def;
    uint8_t supported;
};

constexpr DepthLimits kDepthOff{8, 8, 16, 8, 8, 0};
constexpr DepthLimits kDepthOn{8, 8, 16, 8, 8, 1};
constexpr DepthLimits kDepth8Only{8, 8, 8, 0, 8, 0};

// A model's resolution or pixel-clock table with its initial and default index.
template <class Entry>
struct TableChoice {
    const Entry* table;
    uint16_t count;
    uint16_t value;
    uint16_t def;
};

template <class Entry, size_t N>
constexpr TableChoice<Entry> choose(const Entry (&table)[N], uint16_t value, uint16_t def) {
    return {table, static_cast<uint16_t>(N), value, def};
}

// How bodyLen follows from the frame bytes F of entry 0 of the resolution
// table in force and the header length H.
enum class BodyLen : uint8_t {
    Keep,  // left as the constructing class set it
    A,     // F + H + 2048
    B,     // 2 (F + H) + 2048
    C,     // 2 (F + H) + 4096
    D,     // H + 2 F + 2048
    E,     // 2 H + 10245226
};

// Analog gain step to sensor register value.
using GainMap = uint16_t (*)(int gain);

struct SensorRow {
    int32_t channels;  // 3 colour, 1 monochrome
    int32_t bayerPattern;
    uint16_t regAnalogGain;
    uint16_t regExposure;
    uint16_t regLongExposure;
    uint16_t regBlackLevel;
    TableChoice<ResolutionEntry> resolution;
    TableChoice<PixelClockEntry> pixelClock;
    Limits analogGain;
    Limits exposure;
    Limits longExposure;
    Limits blackLevel;
    DepthLimits rawDepth;
    BodyLen bodyLen;
    GainMap gain;
    const Retime* retime = nullptr;  // null: the base re-timing
};

// One step of a model's construction or claim. Null or zero members leave
// what an earlier step set.
struct ModelRow {
    const char* displayName;  // null: the name stays
    int* counter;             // the instance counter the name takes its digit from
    const SensorRow* sensor;
    uint8_t saturationValue;  // 0: no colour settings built in this step
    uint8_t saturationTable;  // parameter the saturation table is built for
    int32_t packetLen;
    int32_t edgeInhibition = -1;  // edge-inhibition state, or -1 to keep
};

// A row chosen by the device release when the device is claimed, with the
// requests some cooled models send at that point.
struct ClaimRow {
    ReleaseList releases;
    const ModelRow* row;
    bool newHardwareRequest;  // request 0xb8, value 1, index 2
    bool coolerOnEdgeOff;     // cooler on, then edge inhibition off
    bool readTemperature;     // once, between the two
    const char* message = nullptr;  // the model's own line, logged at info level
};

// The first row whose releases hold this release (the last row should
// hold every release); rows must not be empty.
inline const ClaimRow& pickClaim(std::span<const ClaimRow> rows, uint16_t release) {
    for (const ClaimRow& row : rows)
        if (row.releases.contains(release)) return row;
    return rows.back();
}

// Behaviour tied to the USB product rather than to the model class.
struct ProductQuirks {
    bool retimeSendsExposure = false;     // base re-timing writes the exposure register at once
    bool deferPixelClock = false;         // pixel-clock request waits for the next frame read
    bool regainAfterResolution = false;   // gain written again after an immediate resolution change
    bool noLongExposureRestart = false;   // long-exposure restart refused
    uint16_t restartPauseMs = 0;          // pause between stop and restart of a long exposure
    bool skipsVersionAtOpen = false;      // its firmware version is not asked for at open
    bool refusesEdgeInhibition = false;   // the call surface answers -4 without asking the camera
    bool exposureInTwoRegisters = false;  // exposure written as rest and periods even without
                                          // long exposure
};

// A camera setting that is one sensor register (request 0xb7), range 0..max.
struct RegisterSetting {
    uint16_t reg = 0;  // 0: not offered
    uint16_t max = 0;
    uint16_t initial = 0;
};

// The bit-shift operator: the cooled cameras' switch 3 (clamped, and
// reported with a smaller range) or a sensor register written unclamped.
struct ShiftOperator {
    enum Via : uint8_t { None, Switch, Register } via = None;
    uint16_t address = 0;      // switch index or register
    int16_t clampMax = -1;     // highest value sent, or -1 for no clamping
    uint16_t reportedMax = 0;  // the range reported
};

// The operations a product offers that are single requests; the others
// answer -4.
struct Features {
    bool cooler = false;                // request 0xb8, index 1: on 1, off 0
    bool edgeInhibition = false;        // request 0xb8, index 0: on 17, off 0
    bool autoEdgeInhibition = false;    // on firmware 0xa101, 0xa102 it follows the exposure
    bool gpio = false;                  // request 0xb8, index 0: outputs 1 to 3
    bool temperature = false;           // request 0xb6, index 1
    ReleaseList temperatureReleases{};  // the hardware that has the sensor (empty: all)
    ShiftOperator shift{};
    uint16_t hdrRegister = 0;  // HDR on (1) or off (0); 0: not offered
    RegisterSetting sharpness{};
    RegisterSetting denoise{};
};

// One step of resuming the sensor. The camera counts as streaming from the
// first step that is not Start.
struct ResumeStep {
    enum Kind : uint8_t {
        Start,        // request 0xba
        Acknowledge,  // the frame request 0xb3
        Depth,
        Clock,
        Gain,
        BlackLevel,
        Resolution,  // sent at once
        Exposure,    // the exposure register writes last built
        Pause,
    } kind;
    uint16_t pauseMs = 0;
};

// The frame reader's steps beyond the common procedure.
struct ReaderSteps {
    std::span<const FrameLayout> layouts{};  // by release; none: the marked header
    bool defectStep = false;           // a requested defect search (5 or -5), then the correction
    uint8_t aeInterval = 3;            // frames between automatic-exposure steps
    uint8_t fluorescenceInterval = 0;  // frames between fluorescence-guide steps; 0: none
};

// The vendor ids a row is for: the three that share one product table, or
// the one vendor of VSi400M1.
enum class Vendors : uint8_t { Shared, Miravel };
std::span<const uint16_t> vendorIds(Vendors vendors);

using Factory = std::unique_ptr<CamBayer> (*)();

struct ProductRow {
    Vendors vendors = Vendors::Shared;
    uint16_t product = 0;
    const char* model = nullptr;  // the class; null: watched, but no model drives it
    Factory create = nullptr;
    bool watched = false;                      // claimed by default, under vendor 0x0547
    uint32_t bulkPipe = 1;                     // the bulk pipe frames arrive on
    std::span<const ModelRow* const> build{};  // applied in order when created
    std::span<const ClaimRow> claim{};         // the first that holds the release, at claim
    ReaderSteps reader{};
    ModelSteps finish{};  // where its frames are finished differently
    std::span<const ResumeStep> resume{};
    Features features{};
    ProductQuirks quirks{};
};

