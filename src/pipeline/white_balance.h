// One-shot white balance of a colour pipeline.
#pragma once

#include "ezcam.h"
#include "pipeline/pipeline.h"

// Measures the raw frame in `buffer` (decoded with the sensor's Bayer code)
// and stages the three digital gains; they take effect from the next frame.
// The rectangle, if given, is in the coordinates of the image as displayed
// (after rotation and flip); null: the whole frame by the grey-world rule.
// -4 without colour, -2 for a buffer that is no raw record or a rectangle
// outside the frame, -3 when memory runs out.
int measureWhiteBalance(FramePipeline& pipeline, unsigned char* buffer, const __IMG_RECT* rect,
                        int bayerPattern, int headLen);
