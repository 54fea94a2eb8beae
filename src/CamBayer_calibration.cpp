// Calibration corrections on the camera: flat field, defect pixels, black
// field. Flat field and defects live in the frame pipeline.
#include "CamBayer.h"

int CamBayer::_ff_state(bool* on) {
    if (on) *on = pipeline.flatFieldOn != 0;
    return 0;
}
void CamBayer::_set_ff_state(bool on) {
    pipeline.setFlatFieldOn(on);
}
void CamBayer::_calc_defect_correction() {
    pipeline.defects.searchRequest = 1;
}
int CamBayer::_set_dc_state(bool on) {
    pipeline.defects.correctionOn = on;
    return 0;
}
int CamBayer::_dc_state(bool* on) {
    if (on) *on = pipeline.defects.correctionOn != 0;
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

// The pipeline takes the new reference over at its next frame; until then
// the old one stays.
int CamBayer::_calc_flat_field(unsigned char* buffer, bool flag) {
    if (flag) return -4;
    return pipeline.captureFlatField(reinterpret_cast<const _ezImage*>(buffer), sensor());
}

int CamBayer::defectStep(_ezImage* frame, int result) {
    return pipeline.defects.step(frame, result);
}
