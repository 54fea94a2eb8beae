// Calibration of raw samples before demosaicing: per pixel out = raw x gain
// + offset (the masters' (raw - dark) / flat x mean(flat) folded into two
// tables), then the hot pixels replaced from their nearest same-colour
// neighbours in the row. Built aside by whoever chooses the masters and
// handed to the frame pipeline whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ezcam.h"

struct RawCalibration {
    int width = 0;
    int height = 0;
    int depth = 8;
    std::vector<float> gain;    // width x height: mean(flat) / flat, or 1
    std::vector<float> offset;  // width x height: -dark x gain
    std::vector<uint32_t> hot;  // sample indices, in order
    int step = 1;               // to the nearest same-colour sample in a row: 2 on a mosaic
    std::string names;          // the masters, for messages

    // Whether a raw frame is of the size and depth the tables were made for.
    bool fits(const _ezImage* raw) const {
        return raw->width == width && raw->height == height && raw->depth == depth;
    }
    // Rows [first, first + count) of `raw` into `out` (rows of width samples,
    // 16-bit ones in host order), clipped to the sample range.
    void rows(const _ezImage* raw, unsigned char* out, int first, int count) const;
    // Hot pixels of the calibrated frame in `out`, from the mean of their
    // left and right same-colour neighbours (the one there is at an edge).
    void repair(unsigned char* out) const;
};
