// The Bayer decoders.
#pragma once

#include <cstdint>

#include "ezcam.h"

// Bilinear Bayer decoding of a one-channel raw frame into a three-channel
// image of the same depth; bayer 0 copies the samples unchanged.
void __decode_rawdatafast(_ezImage* source, _ezImage* destination, int bayer);
// The same, with the paired pixels colour-corrected (colour_correction.h).
void __decode_rawdata(_ezImage* source, _ezImage* destination, int bayer);
// The plain decoding with every decoded pixel through the Q12 colour matrix
// `matrix` (colour_matrix.h) instead.
void decodeThroughMatrix(_ezImage* source, _ezImage* destination, int bayer, const int32_t* matrix);

// The decoders leave the outer rows and columns unwritten: repeats their
// neighbours there, for images that are measured whole.
void fillDecodedBorder(_ezImage* image);
