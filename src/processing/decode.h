// Colour-correction table and the Bayer decoders.
#pragma once

#include "ezcam.h"

// Process-wide 256 x 256 x 256 x 3 colour-correction table, indexed by
// (R * 65536 + G * 256 + B) * 3 and holding R', G', B'; null until built.
extern unsigned char* pCCM;
// Colour-correction coefficients (magnitudes; the off-diagonal terms subtract).
extern double m00, m01, m02, m10, m11, m12, m20, m21, m22;

// Builds pCCM (allocating it once) and sets the coefficients.
void __init_algorithms();
// Frees pCCM.
void __exit_algorithms();

// Bilinear Bayer decoding of a one-channel raw frame into a three-channel
// image of the same depth; bayer 0 copies the samples unchanged.
void __decode_rawdatafast(_ezImage* source, _ezImage* destination, int bayer);
// The same, with the paired pixels passed through pCCM.
void __decode_rawdata(_ezImage* source, _ezImage* destination, int bayer);

// The decoders leave the outer rows and columns unwritten: repeats their
// neighbours there, for images that are measured whole.
void fillDecodedBorder(_ezImage* image);
