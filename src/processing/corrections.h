// Correction algorithms of the frame pipeline: flat field, defect pixels,
// smoothing and bit shift (the calibration masters are src/calibration).
#pragma once

#include <cstdint>

#include "ezcam.h"

// One defect position.
struct _ezPoint {
    uint16_t row;
    uint16_t column;
};

void __flat_field(_ezImage* image, _ezImage* reference);
int __calc_defects(_ezImage* frame, _ezPoint* points, int capacity);
void __defects_correction(_ezImage* frame, const _ezPoint* points, int count);
void __smooth(_ezImage* image, int type);
void __smooth_middle(_ezImage* source, _ezImage* destination);
int __shift_operation(_ezImage* image, int shift);
