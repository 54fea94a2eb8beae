// The finishing filter of the 1.3-megapixel monochrome sensors, whose pixels
// alternate in a checkerboard of two responses.
#pragma once

#include "ezcam.h"

// From `in` into `out` (both one channel, same size and depth, 8 or 16 bits):
// on alternate sites each output sample is the rounded mean of the four
// direct neighbours of the sample below it, and its right-hand neighbour
// the centre weighted 4 with its four diagonal neighbours. The result lies
// one row higher than the input; the last three rows and the columns the
// pairs do not reach keep the input's samples.
void __pattern_filter(const _ezImage* in, _ezImage* out);

// The decoding of those sensors' frames: the pattern filter, then a 3 x 3
// median of the result.
void __pattern_median(_ezImage* raw, _ezImage* image);
