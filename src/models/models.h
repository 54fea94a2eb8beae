// The model classes. What a product is lives in its row of the product
// table (products.cpp), which also names the rows that build each class;
// a class overrides an operation only where its hardware really behaves
// differently. Classes without behaviour of their own exist so that each
// product creates the class it is known by.
#pragma once

#include <cstdint>

#include "CamBayer.h"

// Instance counters: process-wide, never reset; their digit ends the names.
extern int cntVAo200C1, cntVAh200C1, cntVAo131C1, cntVE131, cntVE131_, cntVAo300C1, cntVE300;
extern int cntVAo131M1, cntVAh131M1, cntVAo500C1, cntVE500, cntVAo1KC1, cntVE1K;
extern int cntVAo500M1, cntVAh500M1, cntV3h5MC1;
extern int cntVSo035M1, cntVSh035M1, cntVSo035C1, cntVSh035C1, cntVS200C1, cntVSo036C1, cntVSh036C1;
extern int cntVDo205M1, cntVDh205M1, cntVDh205C1, cntVDo285M1, cntVDh285M1, cntVDh285C1;
extern int cntVDh674C1, cntVDh674M1, cntVDh687M1, cntVDh694M1, cntVDh694C1;
extern int cntVDo282C1, cntVDh282C1, cntVSi400M1;

// ---- A family: register-driven sensors, a gain mapping per class ----------

class VAo200C1 : public CamBayer {};
// Sets its exposure again once a deferred mode change has gone out.
class VAh200C1 : public VAo200C1 {
  protected:
    void sendPending() override;
};
class VAo131C1 : public CamBayer {};
class VAg131C1 : public VAo131C1 {};
class VAh131C1 : public VAo131C1 {};
class VAo300C1 : public CamBayer {};
class VAg300C1 : public VAo300C1 {};
class VAh300C1 : public VAo300C1 {};
class VAo131M1 : public CamBayer {};
class VAg131M1 : public VAo131M1 {};
class VAh131M1 : public VAg131M1 {};
class VAo500C1 : public CamBayer {};
class VAh500C1 : public VAo500C1 {};
class VAo1KC1 : public CamBayer {};
class VAh1KC1 : public VAo1KC1 {};
class VAo500M1 : public CamBayer {};
class VAh500M1 : public VAo500M1 {};

// ---- Models of their own ----------------------------------------------------

class V3h5MC1 : public CamBayer {};

// The 2048 x 2048 camera flips its frames itself and restarts its exposure
// with the start request.
class VSi400M1 : public CamBayer {
  public:
    int _restart_exposure() override;
    void _set_flip(int code) override;
};

// ---- S family: gain written unchanged ---------------------------------------

class VSo035M1 : public CamBayer {};
class VSh035M1 : public VSo035M1 {};
class VSo035C1 : public CamBayer {};
class VSh035C1 : public VSo035C1 {};

// Its exposure is one 32-bit line count split over two registers, and its
// black level is offset by 60.
class VS200C1 : public CamBayer {
  public:
    void _retime() override;
    int _set_exposure(float milliseconds) override;
    int _set_blacklevel(int level) override;

    uint16_t prevLongExposure = 0;  // longExposure before the last _set_exposure

  private:
    // High 16 bits of the line count to regExposure, low 16 to regLongExposure.
    void sendLines(uint32_t lines);
};

// The slowest clock raises the lowest gain.
class VSo036C1 : public CamBayer {
  public:
    void _retime() override;
};
class VSh036C1 : public VSo036C1 {};

// ---- D family: gain written unchanged, long exposure --------------------------

class VDo205M1 : public CamBayer {};
class VDh205M1 : public VDo205M1 {};
class VDh205C1 : public VDo205M1 {};
class VDo285M1 : public CamBayer {};
class VDh285M1 : public VDo285M1 {};
class VDh285C1 : public VDh285M1 {};
class VDh674C1 : public VDh285C1 {};

// On the firmware that needs it, edge inhibition follows the exposure: on
// after a frame exposed for more than 15 s, off after a shorter one, and
// switched off before the frame is checked once more time has passed since
// the last frame than its exposure less 7 s.
class VDh674M1 : public VDh285M1 {
  protected:
    int frameCheck(unsigned char* buffer, const FramePlan& plan) override;
};
class VDh687M1 : public VDh674M1 {};

// Refuses full resolution at 16 bits on the fast clocks and sends its clock
// after every mode change; takes a black-field (dark) reference over ten
// seconds that it subtracts, scaled to the exposure, when the black field is on.
class VDh694M1 : public VDh674M1 {
  public:
    int _set_resolution(int index, bool sendNow) override;
    void _blackfield() override;

    uint8_t blackFieldCapture = 0;  // the next frame becomes the reference
    ImagePtr blackFieldImage;       // the reference; its offset-44 field: line count taken at
    float blackFieldExposure = 0;   // exposure to restore after the reference
    uint32_t blackFieldLines = 0;   // lines the reference is exposed for

  protected:
    void sendPending() override;
    int frameFinish(_ezImage* image, int result) override;
    // Exposure lines in force, across periods.
    uint32_t totalLines() const;
    // The mode request, the pause the sensor needs, then the clock request.
    void sendModeAndClock();
};
// Its reader neither takes nor subtracts a black-field reference, so it
// starts no dark exposure either (see _blackfield).
class VDh694C1 : public VDh694M1 {
  public:
    void _blackfield() override;

  protected:
    int frameFinish(_ezImage* image, int result) override;
};

class VDo282C1 : public CamBayer {};
class VDh282C1 : public CamBayer {};
