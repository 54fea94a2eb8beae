// Still capture: a consumer of finished frames. A still is armed for a
// resolution and a set of formats; the first finished frame of the armed
// size is written, in every armed format, and the stream returns to the
// resolution it had before.
//
// Threads: arm() and take() under the camera's settings lock; due() from
// the frame thread without it; writeFiles() without any lock (it only
// touches the frame and the files).
#pragma once

#include <cstdint>
#include <string>

#include "ezcam.h"

class StillCapture {
  public:
    // What a RAW still is stamped with: the conditions of its frame.
    struct Stamp {
        uint8_t bayer = 0;
        uint8_t pixelClockMode = 0;
        uint16_t analogGain = 0;
        uint16_t blackLevel = 0;
        uint16_t product = 0;
        uint16_t vendor = 0;
        uint16_t release = 0;
    };
    // The still a frame matched.
    struct Taken {
        std::string path;
        int formats = 0;
        int returnTo = 0;  // the resolution to go back to
    };

    // Arms a still of width x height (as the finished frame will be, after
    // rotation) at `resolution`; `former` is where the stream returns to.
    // Armed again before it was served, the stream still returns to the
    // resolution it had before the first request.
    void arm(std::string path, int width, int height, int former);
    bool due() const;
    bool armed() const { return due(); }
    int returnResolution() const { return returnTo_; }
    // The size of the finished frame the armed still waits for.
    int width() const { return width_; }
    int height() const { return height_; }
    // Whether this finished frame (of raw frame `resolution`) is the armed
    // still: then the request is handed out and disarmed.
    bool take(int rawResolution, int resolutionInForce, int width, int height, Taken& taken);
    // Writes one file per format bit, in the order RAW, JPEG, BMP, PNG,
    // TIFF, each named base + extension: RAW from the raw record (stamped
    // first), the others from the finished image. Returns how many writes
    // failed; a failed format does not stop the others.
    static int writeFiles(_ezImage* raw, const _ezImage* image, int formats,
                          const std::string& base, const Stamp& stamp);

    int16_t format = EZ_FORMAT_JPEG;       // the formats a still is written in
    EzSnapCallback callback = nullptr;     // kept for the callback form of the request

  private:
    mutable uint8_t request_ = 0;  // read without the settings lock (shared_state.h)
    uint16_t returnTo_ = 0;
    uint16_t width_ = 0;
    uint16_t height_ = 0;
    std::string path_;
};
