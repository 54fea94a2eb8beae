// The product table: one row per USB product the SDK knows, holding all
// that product is on the host side: the class that drives it, whether the
// SDK watches for it by default, the catalogue rows that build and claim
// it, how its frames travel by device release, its frame reader's steps,
// its finishing, the order it resumes in, the features it offers and its
// quirks. Everything else reads these rows.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "models/model_row.h"
#include "models/tables.h"
#include "pipeline/pipeline.h"

class CamBayer;

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

// Every row: first the 36 products watched by default, in the order their
// watches are registered, then the products only created on request
// (EZCAM_EXTRA_IDS). The default claims are the rows with `watched`, under
// vendor 0x0547; a pair is creatable when its row has a class, under each
// of vendorIds(row.vendors).
std::span<const ProductRow> productTable();

// The row of a pair, or null (watched-only rows included).
const ProductRow* findProduct(uint16_t vendor, uint16_t product);

// The quirks of a pair; none for a pair without a row.
ProductQuirks productQuirks(uint16_t vendor, uint16_t product);
