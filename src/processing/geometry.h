// In-place geometry on image records: flip, rotation, cut-out, resizing,
// binning, decimation, field weaving and 16-bit byte order.
#pragma once

#include "ezcam.h"

void __flip(_ezImage* image, int code);
void __rotate(_ezImage* image, int code);
void __roi(_ezImage* image, int x, int y, int w, int h);
void __resize(_ezImage* source, _ezImage* destination);
void __mbin(_ezImage* image, int bx, int by);
void __cbin(_ezImage* image, int bx, int by);
void __skip(_ezImage* image, int sx, int sy);
void __interlace(_ezImage* image, int a, int b);
void __rmac(_ezImage* image, int mode);
