// Automatic exposure and automatic gain: loops that measure a frame and
// command sensor control through the camera's operations (a model's own
// exposure or gain setter is the one used).
//
// Threads: under the camera's settings lock, on the thread that reads
// frames (automatic exposure, the fluorescence guide) or on a caller's.
#pragma once

#include <cstdint>

#include "camera/cam_base.h"
#include "camera/sensor_control.h"
#include "processing/image_record.h"
#include "processing/tone.h"

class ExposureLoop {
  public:
    ExposureLoop(SensorControl& sensor, CamBase& ops);
    ExposureLoop(const ExposureLoop&) = delete;
    ExposureLoop& operator=(const ExposureLoop&) = delete;

    // Proportional in one step: the exposure is scaled by target / mean.
    // Every interval-th frame is measured, the first one after a reset
    // included.
    int stepExposure(_ezImage* frame, int interval);
    // Raises the analog gain a step at a time until the brightest part of
    // the image is bright enough: 0 bright enough, 1 the gain is at its top
    // (the top level then stands as the histogram's high bound), -3 keep
    // going.
    int stepGain(_ezImage* image, int interval);
    // The frame count restarts: the next frame is measured.
    void reset() { count_ = 0; }

    bool on = false;       // automatic exposure runs on every frame read
    SoftWareValue target;  // the mean it aims at
    // The top means of the first two gain measurements (the fluorescence
    // guide derives its exposure from them).
    double gainHistory[2] = {0.0, 0.0};
    // The histogram of the last gain or fluorescence measurement: kept
    // here, a raw frame's buffer need not have room behind its samples.
    alignas(4) unsigned char statistics[kStatisticsBytes] = {};
    int32_t histogramValue(int index) const;

  private:
    SensorControl& sensor_;
    CamBase& ops_;
    int32_t count_ = 0;  // frames since the last reset
};
