// The model classes. Each one applies its catalogue row (after its base
// class's, where it has one) and replaces an operation only where its
// hardware differs. Classes without a constructor of their own keep every
// value of the class they are built as, its name and counter included.
#pragma once

#include <cstdint>

#include "CamBayer.h"

struct ClaimRow;
struct CooledReader;

// Instance counters: process-wide, never reset; their digit ends the names.
extern int cntVAo200C1, cntVAh200C1, cntVAo131C1, cntVE131, cntVE131_, cntVAo300C1, cntVE300;
extern int cntVAo131M1, cntVAh131M1, cntVAo500C1, cntVE500, cntVAo1KC1, cntVE1K;
extern int cntVAo500M1, cntVAh500M1, cntV3h5MC1;
extern int cntVSo035M1, cntVSh035M1, cntVSo035C1, cntVSh035C1, cntVS200C1, cntVSo036C1, cntVSh036C1;
extern int cntVDo205M1, cntVDh205M1, cntVDh205C1, cntVDo285M1, cntVDh285M1, cntVDh285C1;
extern int cntVDh674C1, cntVDh674M1, cntVDh687M1, cntVDh694M1, cntVDh694C1;
extern int cntVDo282C1, cntVDh282C1, cntVSi400M1;

// ---- A family: register-driven sensors, a gain mapping per class ----------

class VAo200C1 : public CamBayer {
  public:
    VAo200C1();
    int _set_analog_gain(int gain) override;
};
class VAh200C1 : public VAo200C1 {
  public:
    VAh200C1();
};

class VAo131C1 : public CamBayer {
  public:
    VAo131C1();
    int _set_analog_gain(int gain) override;  // through the row in force
};
class VAg131C1 : public VAo131C1 {
  public:
    VAg131C1();
};
// Two sensor generations behind one product: the release picks tables,
// gain mapping and name.
class VAh131C1 : public VAo131C1 {
  public:
    VAh131C1();
    int _claim_device() override;
};

class VAo300C1 : public CamBayer {
  public:
    VAo300C1();
    int _set_analog_gain(int gain) override;
};
class VAg300C1 : public VAo300C1 {
  public:
    VAg300C1();
};
class VAh300C1 : public VAo300C1 {
  public:
    VAh300C1();
};

class VAo131M1 : public CamBayer {
  public:
    VAo131M1();
    int _set_analog_gain(int gain) override;
};
class VAg131M1 : public VAo131M1 {
  public:
    VAg131M1();
};
class VAh131M1 : public VAg131M1 {
  public:
    VAh131M1();
};

// Names itself and builds its colour settings when constructed; everything
// else waits for the device, whose release picks the clock table.
class VAo500C1 : public CamBayer {
  public:
    VAo500C1();
    int _claim_device() override;
    int _set_analog_gain(int gain) override;
};
// Three general-purpose outputs, pins 1 to 3.
class VAh500C1 : public VAo500C1 {
  public:
    VAh500C1();
    int _set_gpio(int pin, bool on) override;
    int _gpio(int pin, bool* on) override;

    uint8_t gpioState[3] = {};  // the state last set on each output
};

class VAo1KC1 : public CamBayer {
  public:
    VAo1KC1();
    int _set_analog_gain(int gain) override;
};
class VAh1KC1 : public VAo1KC1 {
  public:
    VAh1KC1();
};

class VAo500M1 : public CamBayer {
  public:
    VAo500M1();
    int _set_analog_gain(int gain) override;
};
class VAh500M1 : public VAo500M1 {
  public:
    VAh500M1();
};

// ---- Models of their own ----------------------------------------------------

// Named and configured only once the device is claimed.
class V3h5MC1 : public CamBayer {
  public:
    V3h5MC1();
    int _claim_device() override;
    int _set_analog_gain(int gain) override;
};

class VSi400M1 : public CamBayer {
  public:
    VSi400M1();
    int _set_analog_gain(int gain) override;
};

// ---- S family: gain written unchanged ---------------------------------------

class VSo035M1 : public CamBayer {
  public:
    VSo035M1();
    int _set_analog_gain(int gain) override;
};
class VSh035M1 : public VSo035M1 {
  public:
    VSh035M1();
};

class VSo035C1 : public CamBayer {
  public:
    VSo035C1();
    int _set_analog_gain(int gain) override;
};
class VSh035C1 : public VSo035C1 {
  public:
    VSh035C1();
};

// Its exposure is one 32-bit line count split over two registers, its
// black level offset by 60, and its frames open with a signature.
class VS200C1 : public CamBayer {
  public:
    VS200C1();
    int _set_analog_gain(int gain) override;
    int _sensor_resume() override;
    void _retime() override;
    int _set_exposure(float milliseconds) override;
    int _set_blacklevel(int level) override;

    uint16_t prevLongExposure = 0;  // longExposure before the last _set_exposure

  private:
    // High 16 bits of the line count to regExposure, low 16 to regLongExposure.
    void sendLines(uint32_t lines);
};

class VSo036C1 : public CamBayer {
  public:
    VSo036C1();
    int _set_analog_gain(int gain) override;
    void _retime() override;  // and the gain floor of the clock
};
class VSh036C1 : public VSo036C1 {
  public:
    VSh036C1();
};

// ---- D family: gain written unchanged, long exposure --------------------------

class VDo205M1 : public CamBayer {
  public:
    VDo205M1();
    int _set_analog_gain(int gain) override;
};
class VDh205M1 : public VDo205M1 {
  public:
    VDh205M1();
};
class VDh205C1 : public VDo205M1 {
  public:
    VDh205C1();
};

// The cooled sensors: cooler and edge-inhibition switches.
class VDo285M1 : public CamBayer {
  public:
    VDo285M1();
    int _set_analog_gain(int gain) override;
    int _set_edge_inhibition(bool on) override;
    int _edge_inhibition(bool* on) override;
    int _set_cooled(bool on) override;
    int _cooled(bool* on) override;

    int32_t edgeInhibition = 0;  // 17 on, 0 off

  protected:
    // Request 0xb8: the switches of the cooled cameras, chosen by index.
    void sendSwitch(uint16_t value, uint16_t index);
};
class VDh285M1 : public VDo285M1 {
  public:
    VDh285M1();
};
class VDh285C1 : public VDh285M1 {
  public:
    VDh285C1();
};
class VDh674C1 : public VDh285C1 {
  public:
    VDh674C1();
};

// Built as VDh285M1; the device release picks the sensor tables at claim.
// The larger sensors read their temperature.
class VDh674M1 : public VDh285M1 {
  public:
    int _claim_device() override;
    int _temperature(float* celsius) override;

  protected:
    // Applies the release's row with the reader's re-timing, sends the
    // requests the row asks for, then sets up the reader.
    void claimWith(const ClaimRow& claim, const CooledReader& reader);
    // On the firmware that needs it, edge inhibition follows the exposure:
    // on after a frame exposed for more than 15 s, off after a shorter one,
    // and switched off before the frame is checked once more time has passed
    // since the last frame than its exposure less 7 s.
    int frameCheck(unsigned char* buffer, const FramePlan& plan) override;
    bool autoEdgeInhibition = false;  // this class drives it (not VDh687M1)
};
class VDh687M1 : public VDh674M1 {
  public:
    int _claim_device() override;
};
// Takes a black-field (dark) reference over ten seconds and subtracts it,
// scaled to the exposure, from later frames when the black field is on.
class VDh694M1 : public VDh674M1 {
  public:
    int _claim_device() override;
    int _set_shift_operator(int value) override;
    int _shift_operator() override;
    int _shift_operator_range(int* min, int* max, int* step) override;
    void _blackfield() override;

    uint8_t blackFieldCapture = 0;  // the next frame becomes the reference
    ImagePtr blackFieldImage;       // the reference; its offset-44 field: line count taken at
    float blackFieldExposure = 0;   // exposure to restore after the reference
    uint32_t blackFieldLines = 0;   // lines the reference is exposed for

  protected:
    int frameFinish(_ezImage* image, int result) override;
    // Exposure lines in force, across periods.
    uint32_t totalLines() const;
};
// Inherits _blackfield; its reader neither takes nor subtracts a reference.
class VDh694C1 : public VDh694M1 {
  public:
    VDh694C1();
    int _claim_device() override;

  protected:
    int frameFinish(_ezImage* image, int result) override;
};

class VDo282C1 : public CamBayer {
  public:
    VDo282C1();
    int _set_analog_gain(int gain) override;
};
class VDh282C1 : public CamBayer {
  public:
    VDh282C1();
    int _set_analog_gain(int gain) override;

    int32_t edgeInhibition = 0;
};
