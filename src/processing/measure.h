// Intensity measurement on image records.
#pragma once

#include "ezcam.h"

// Grey value at column x, row y ((c0 + 6 c1 + 3 c2) / 10 for colour); -2 for a
// position outside the image or a depth other than 8 and 16.
int __pt_gray(int x, int y, const _ezImage* image);
// Means of the four Bayer positions reordered to red, green (red row), green
// (blue row), blue, and their mean; 0, -2 bad depth, -4 decoded image.
int __image_intensity(_ezImage* image, float* mean, float* m0, float* m1, float* m2, float* m3);
