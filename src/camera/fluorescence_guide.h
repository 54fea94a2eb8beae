// The fluorescence guide: for a dim sample, it first raises the gain until
// the brightest part of the frame shows, then, on request, derives a long
// exposure from one measured frame and returns to a fixed gain. It reads
// frames the reader hands it and commands sensor control through the
// camera's operations.
//
// Threads: under the camera's settings lock.
#pragma once

#include <cstdint>

#include "camera/cam_base.h"
#include "camera/exposure_loop.h"
#include "camera/sensor_control.h"
#include "pipeline/pipeline.h"

class FluoGuide {
  public:
    FluoGuide(SensorControl& sensor, ExposureLoop& loop, FramePipeline& pipeline, CamBase& ops)
        : sensor_(sensor), loop_(loop), pipeline_(pipeline), ops_(ops) {}
    FluoGuide(const FluoGuide&) = delete;
    FluoGuide& operator=(const FluoGuide&) = delete;

    // type 0: keep a parameter; 1: start (gain search at a long exposure);
    // 2: derive the exposure from the next frame and end. -4 on a model
    // without long exposure.
    int command(int type, int value);
    // Ends the guide where it stands.
    void stop() { gainSearch_ = endRequested_ = 0; }
    // Whether step() has anything to do.
    bool running() const { return gainSearch_ || endRequested_; }
    // One step on a frame: 0, or EZ_FLUO_GAIN when the gain search ended,
    // EZ_FLUO_EXPOSURE when the exposure was derived.
    int step(_ezImage* image, int interval);

  private:
    SensorControl& sensor_;
    ExposureLoop& loop_;
    FramePipeline& pipeline_;
    CamBase& ops_;
    uint8_t gainSearch_ = 0;
    uint8_t endRequested_ = 0;
    int32_t parameter_ = 1;
    uint8_t parameterSet_ = 0;
};
