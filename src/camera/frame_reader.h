// The frame reader: how a frame travels on the bulk pipe and how it is
// judged. It plans a transfer from the layout and mode in force, judges
// what arrived (count, markers), brings the samples to their final form and
// describes the frame; it sends nothing to the camera but the temperature
// query of a description, and changes no setting.
//
// Threads: every member runs under the camera's settings lock; the bulk
// transfer between plan() and check() runs without it (see CamBayer's
// frame path).
#pragma once

#include <cstdint>
#include <optional>

#include "camera/cam_base.h"
#include "camera/frame.h"
#include "camera/sensor_control.h"

class FrameReader {
  public:
    FrameReader(const SensorControl& sensor, CamBase& ops) : sensor_(sensor), ops_(ops) {}
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // Geometry and transfer length, from the layout in force and the mode's
    // readout. Header layouts: header first, then width x height at the
    // current depth; the others: the samples after the header area, then
    // what closes the frame.
    void plan(FramePlan& plan) const;
    // The caller's buffer holds everything the plan touches: the transfer,
    // the record over the header and the samples it describes. Lowers the
    // request to the buffer where only the surplus asked beyond the frame
    // does not fit. False: the buffer is too small (-2).
    bool fits(FramePlan& plan, int size) const;
    // Every layout: a successful transfer of exactly the frame's count, then
    // the layout's marks; samples the device did not send are zeroed. 0
    // good, 1 good and the camera asks for a capture, -3 no frame.
    int check(unsigned char* buffer, const FramePlan& plan) const;
    // 16-bit samples to host order, then the plan's software binning or cut.
    void shape(_ezImage* image, const FramePlan& plan) const;

    // Counts the read's outcome and, for a frame delivered, describes it
    // (into *info when given). A frame is described when the caller asks or
    // `keep` is set (calibration matches frames to masters); the facts then
    // go into the frame's header area too. The temperature is asked at most
    // once a second, and only for a description.
    void note(int result, unsigned char* buffer, const FramePlan& plan, EzFrameInfo* info,
              bool keep);
    // A stream starts: the counts start from 0.
    void restartCount();
    // The latest frame described.
    std::optional<EzFrameInfo> latest() const { return tally_.latest; }

    // Milliseconds a bulk read may wait: generous against the exposure, so a
    // stopped or unplugged camera frees the reading thread.
    unsigned timeoutMs() const;

  private:
    // What a layout checks beyond the count (markers, signature, no run into
    // the next frame) and the marker bytes it clears; false: no frame.
    bool marks(unsigned char* transfer, unsigned char* samples, const FramePlan& plan) const;

    const SensorControl& sensor_;
    CamBase& ops_;
    struct Tally {
        uint64_t delivered = 0;
        uint64_t lost = 0;
        uint64_t modeDrops = 0;
        int8_t temperatureState = 0;  // 0 no reading yet, 1 read, -1 the model has none
        float temperature = 0.0f;
        int64_t temperatureAskedNs = 0;  // monotonic; 0 never asked
        std::optional<EzFrameInfo> latest;
    } tally_;
};
