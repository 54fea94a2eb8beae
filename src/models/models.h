// The model classes: only the products whose hardware behaves differently
// from CamBayer's common shape have one. What a product is lives in its row
// of the product table (products.cpp); every other product is a CamBayer
// built from its rows.
#pragma once

#include <cstdint>
#include <ctime>

#include "camera/cam_bayer.h"

// Instance counters: process-wide, never reset; their digit ends the names.
extern int cntVAo200C1, cntVAh200C1, cntVAo131C1, cntVE131, cntVE131_, cntVAo300C1, cntVE300;
extern int cntVAo131M1, cntVAh131M1, cntVAo500C1, cntVE500, cntVAo1KC1, cntVE1K;
extern int cntVAo500M1, cntVAh500M1, cntV3h5MC1;
extern int cntVSo035M1, cntVSh035M1, cntVSo035C1, cntVSh035C1, cntVS200C1, cntVSo036C1, cntVSh036C1;
extern int cntVDo205M1, cntVDh205M1, cntVDh205C1, cntVDo285M1, cntVDh285M1, cntVDh285C1;
extern int cntVDh674C1, cntVDh674M1, cntVDh687M1, cntVDh694M1, cntVDh694C1;
extern int cntVDo282C1, cntVDh282C1, cntVSi400M1;

// Sets its exposure again once a deferred mode change has gone out.
class VAh200C1 : public CamBayer {
  protected:
    void sendPending() override;
};

// The 2048 x 2048 camera flips its frames itself and restarts its exposure
// with the start request.
class VSi400M1 : public CamBayer {
  public:
    int _restart_exposure() override;
    void _set_flip(int code) override;
};

// Its exposure is one 32-bit line count split over two registers, and its
// black level is offset by 60.
class VS200C1 : public CamBayer {
  public:
    void _retime() override;
    int _set_exposure(float milliseconds) override;
    int _set_blacklevel(int level) override;

  private:
    // High 16 bits of the line count to regExposure, low 16 to regLongExposure.
    void sendLines(uint32_t lines);
};

// The slowest clock raises the lowest gain (VSo036C1, VSh036C1).
class VSo036C1 : public CamBayer {
  public:
    void _retime() override;
};

// On the firmware that needs it, edge inhibition follows the exposure: on
// after a frame exposed for more than 15 s, off after a shorter one, and
// switched off before the frame is checked once more time has passed since
// the last frame than its exposure less 7 s (VDh674M1, VDh687M1).
class VDh674M1 : public CamBayer {
  protected:
    int frameCheck(unsigned char* buffer, const FramePlan& plan) override;

  private:
    int32_t lastExposure_ = 0;  // milliseconds of the last frame checked
    int64_t lastFrameMs_ = 0;   // monotonic time it was checked at
};

// Refuses full resolution at 16 bits on the fast clocks and sends its clock
// after every mode change; takes a black-field (dark) reference over ten
// seconds that it subtracts, scaled to the exposure, when the black field is on.
class VDh694M1 : public VDh674M1 {
  public:
    int _set_resolution(int index, bool sendNow) override;
    void _blackfield() override;

  protected:
    int frameFinish(_ezImage* image, int result) override;
    // Full resolution has no 16-bit mode on the fast clocks.
    int depthState(int clock, int resolutionIndex) override;
    // The mode request, the pause the sensor needs, then the clock request.
    void sendModeRequest() override;

  private:
    uint8_t blackFieldCapture_ = 0;  // the next frame becomes the reference
    ImagePtr blackFieldImage_;       // the reference; its offset-44 field: line count taken at
    float blackFieldExposure_ = 0;   // exposure to restore after the reference
    uint32_t blackFieldLines_ = 0;   // lines the reference is exposed for
};

// Its reader neither takes nor subtracts a black-field reference, so it
// starts no dark exposure either (see _blackfield).
class VDh694C1 : public VDh694M1 {
  public:
    void _blackfield() override;

  protected:
    int frameFinish(_ezImage* image, int result) override;
};
