// Sensor control: the camera's sensor settings, the requests that program
// them, re-timing after a mode or clock change, the requests held back
// until the next frame boundary, and the product row the sensor was built
// from.
//
// Threads: every member is used under the camera's settings lock
// (CamBayer::lockSettings). The frame path reads the settings while it
// plans a frame and at the frame boundary; it never reads them during the
// bulk transfer.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "camera/cam_base.h"
#include "camera/model_hooks.h"
#include "camera/product_row.h"

// One sensor parameter.
struct SensorSetting {
    uint16_t value = 0;
    uint16_t min = 0;
    uint16_t max = 0;  // resolution and pixel clock: number of entries (exclusive)
    uint16_t step = 0;
    uint16_t def = 0;  // used by _default
    uint8_t supported = 0;
    EZURB urb{};                  // the control request last built for this parameter
    const void* table = nullptr;  // resolution: ResolutionEntry[]; pixel clock: PixelClockEntry[]
};

class SensorControl {
  public:
    // ops: the camera's operations, through which requests go out and a
    // model's own re-timing, gain and exposure are reached; hooks: the
    // model's steps (depth rule, mode request).
    SensorControl(CamBase& ops, ModelHooks& hooks);
    SensorControl(const SensorControl&) = delete;
    SensorControl& operator=(const SensorControl&) = delete;

    // ---- The base behaviour of the sensor operations ----
    int setResolution(int index, bool sendNow);
    int setPixelClock(int index);
    int depthState(int clock, int resolutionIndex) const;
    int setRawDepth(int bits);
    int setAnalogGain(int gain);  // through the gain mapping of the sensor row
    void retime();
    int setExposure(float milliseconds);
    float exposureMs() const;  // exposure in force (0 without a pixel rate)
    // The same in single precision, as frames are described and automatic
    // exposure measures it.
    float exposureInForce() const;
    int exposureRange(float* min, float* max, float* step) const;
    int restartState() const;
    int restartExposure();
    int setBlackLevel(int level);
    int setRegion(int x, int y, int width, int height);
    int region(int* x, int* y, int* width, int* height) const;
    int setRegionState(bool on);
    bool regionOn() const { return roiActive || roiRequested; }
    // The frame size the caller's buffer receives (before rotation).
    void frameSize(int& width, int& height) const;
    // Fits a region to the resolution in force (and to one bulk packet
    // where it is programmed into the sensor) into urbRoiOrigin, urbRoiSize.
    void clampRegion(int x, int y, int width, int height);
    // Ends a region in force: the sensor gets the mode in force again.
    void endRegion();

    // ---- At the frame boundary ----
    // The requests held back for it (pending resolution, deferred clock).
    void sendPending();
    // After a frame passed its check: a requested region is programmed into
    // the sensor (-3 where the programming frame is dropped) or cut out of
    // this frame in memory.
    int regionAtBoundary(_ezImage* image, int frameResolution);
    // A region set now is programmed into the sensor (by the layout's rule
    // at the resolution in force), rather than cut out of whole frames.
    bool regionProgrammed() const;
    // The layout the device frames its transfers in: the first holding the
    // camera's release; null: the marked header with the base region rule.
    const FrameLayout* layoutInForce() const;

    // ---- Helpers for models ----
    const ResolutionEntry* resolutionEntry(int index) const;  // null when out of range
    const PixelClockEntry* clockEntry(int index) const;
    const ModeReadout* readoutInForce() const;
    // Builds a host-to-device vendor request (no data stage).
    static void buildRequest(EZURB& urb, uint8_t request, uint16_t value, uint16_t index);
    // Sends with time-out 1000 and one attempt.
    int sendRequest(EZURB& urb);
    // Builds and sends a sensor register write (request 0xb7) in setting.urb.
    int writeRegister(SensorSetting& setting, uint16_t reg, uint16_t value);
    // A register write kept in no sensor setting.
    int sendRegister(uint16_t reg, uint16_t value);
    // The analog-gain contract: clamp to analogGain min..max, write the
    // mapped value to regAnalogGain, store the clamped gain; 0.
    int applyAnalogGain(int gain, uint16_t (*toRegister)(int gain));
    // Computes lineLength and pixelRate from the tables in force.
    void loadTiming();
    // Re-timing of the families whose exposure travels as a total line
    // count in the resolution and pixel-clock requests: the total across
    // periods is scaled to the new timing, clamped, split into remainder
    // lines and periods (register writes built, not sent) and carried in
    // both requests (index: low 16 bits, value high byte: bits 16..23).
    // carry false: the requests are left alone (a model that sends the
    // exposure registers itself).
    uint32_t retimeCarried(const ExposureLimits* limits, int count, bool rereadLineLength,
                           bool carry = true);
    // A total line count into a mode request.
    static void carryLines(EZURB& urb, uint32_t lines);
    // Builds the resolution request for the mode in force unless one was
    // built already; false when the mode has no entry.
    bool buildResolutionRequest();
    // Exposure lines in force, across periods.
    uint32_t totalLines() const;
    // Float to a line count without undefined conversions: NaN and
    // negatives give 0, anything too large the top of the range.
    static uint32_t toLines(double lines);

    // ---- The sensor as the product row built it ----
    const SensorRow* sensorRow = nullptr;
    std::span<const FrameLayout> frameLayouts;
    std::span<const ModeReadout> readouts;  // the modes read out at another size
    ProductQuirks quirks;
    uint16_t release = 0;  // the device release (bcdDevice): picks the layout
    int32_t headLen = 512;
    int32_t packetLen = 512;
    int32_t bodyLen = 0;
    int32_t channels = 3;
    int32_t bayerPattern = 0;
    int32_t lineLength = 0;
    int32_t pixelRate = 0;

    // Request codes and sensor registers.
    uint16_t reqResolution = 0xb4;
    uint16_t reqPixelClock = 0xb5;
    uint16_t reqRawDepth = 0xb9;
    uint16_t regAnalogGain = 0x35;
    uint16_t regExposure = 9;
    uint16_t regLongExposure = 0;
    uint16_t regBlackLevel = 2;

    // Settings.
    SensorSetting resolution;
    SensorSetting pixelClock;
    SensorSetting rawDepth;
    SensorSetting analogGain;
    SensorSetting exposure;
    SensorSetting longExposure;
    SensorSetting blackLevel;
    EZURB urbFrameRequest{};
    EZURB urbRoiOrigin{};  // value x, index y
    EZURB urbRoiSize{};    // value width + 8, index height + 8
    uint8_t roiRequested = 0;
    uint8_t roiActive = 0;
    // The region last programmed into the sensor (0xbd, 0xbe): while
    // roiActive, the frames the device sends. A region set meanwhile waits
    // in urbRoiOrigin and urbRoiSize until the next frame boundary programs it.
    struct SensorRegion {
        uint16_t x = 0, y = 0, width = 0, height = 0;  // width + 8, height + 8 as stored
    } roiInSensor;
    uint8_t resolutionPending = 0;
    uint8_t pixelClockPending = 0;

  private:
    CamBase& ops_;
    ModelHooks& hooks_;
};
