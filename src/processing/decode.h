// The Bayer decoders.
#pragma once

#include "ezcam.h"

// Bilinear Bayer decoding of a one-channel raw frame into a three-channel
// image of the same depth; bayer 0 copies the samples unchanged.
void __decode_rawdatafast(_ezImage* source, _ezImage* destination, int bayer);
// The same, with the paired pixels colour-corrected (colour_correction.h).
void __decode_rawdata(_ezImage* source, _ezImage* destination, int bayer);

// The decoders leave the outer rows and columns unwritten: repeats their
// neighbours there, for images that are measured whole.
void fillDecodedBorder(_ezImage* image);
