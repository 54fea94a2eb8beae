// Fluorescence guide and point intensity on the camera.
#include "CamBayer.h"
#include "processing/measure.h"

int CamBayer::_pt_gray(int x, int y, _ezImage* image) {
    if (!image) return -2;
    return __pt_gray(x, y, image);
}

// The guide's gain search and final measurement are not built yet.
int CamBayer::_fluorescence_guide(int, int) {
    return -4;
}
int CamBayer::_fluorescence(_ezImage*, int) {
    return -4;
}
