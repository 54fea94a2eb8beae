// The steps of the frame path and of sensor control that a model class may
// replace. CamBayer supplies the common shape; a model overrides only the
// step where its hardware behaves differently, and calls the base step for
// the rest. Every hook runs under the camera's settings lock.
#pragma once

#include "camera/frame.h"
#include "ezcam.h"

class ModelHooks {
  public:
    // Geometry and transfer length of the next frame, from the layout in
    // force and the mode's readout.
    virtual void framePlan(FramePlan& plan) = 0;
    // Requests due before the read: a pending resolution, a deferred clock.
    virtual void sendPending() = 0;
    // Judges the received transfer: 0 good, 1 good and the camera asks for
    // a capture, -3 no frame.
    virtual int frameCheck(unsigned char* buffer, const FramePlan& plan) = 0;
    // Samples to their final form in place (byte order, binning, cut).
    virtual void frameShape(_ezImage* image, const FramePlan& plan) = 0;
    // Steps after automatic exposure (defects, black field, fluorescence
    // guide); gets and returns the frame's result.
    virtual int frameFinish(_ezImage* image, int result) = 0;
    // 16-bit permission of a clock at a resolution: 0, 4, -4 or -2.
    virtual int depthState(int clock, int resolutionIndex) = 0;
    // Sends the resolution request built for the mode in force.
    virtual void sendModeRequest() = 0;

  protected:
    ~ModelHooks() = default;
};
