// Calibration corrections on the camera: flat field, defect pixels, black field.
#include "CamBayer.h"

int CamBayer::_ff_state(bool* on) {
    if (on) *on = flatFieldOn != 0;
    return 0;
}
void CamBayer::_set_ff_state(bool on) {
    flatFieldOn = on;
}
void CamBayer::_calc_defect_correction() {
    defectCalcRequest = 1;
}
int CamBayer::_set_dc_state(bool on) {
    defectCorrectionOn = on;
    return 0;
}
int CamBayer::_dc_state(bool* on) {
    if (on) *on = defectCorrectionOn != 0;
    return 0;
}
int CamBayer::_set_blackfield_state(bool on) {
    blackFieldOn = on;
    return 0;
}
int CamBayer::_blackfield_state(bool* on) {
    if (on) *on = blackFieldOn != 0;
    return 0;
}

// Capturing the flat-field reference from a raw frame is not built yet.
int CamBayer::_calc_flat_field(unsigned char*, bool) {
    return -4;
}
// Applying the flat-field reference is not built yet: images pass unchanged.
void CamBayer::_image_fladfield(_ezImage*) {}
