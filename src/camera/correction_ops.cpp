// The camera's correction operations: flat field and defect pixels (kept in
// the frame pipeline) and the black field.
#include "camera/cam_bayer.h"

int CamBayer::_ff_state(bool* on) {
    if (on) *on = pipeline_.flatFieldOn != 0;
    return EZ_OK;
}
void CamBayer::_set_ff_state(bool on) {
    pipeline_.setFlatFieldOn(on);
}
void CamBayer::_calc_defect_correction() {
    pipeline_.defects.searchRequest = 1;
}
int CamBayer::_set_dc_state(bool on) {
    pipeline_.defects.correctionOn = on;
    return EZ_OK;
}
int CamBayer::_dc_state(bool* on) {
    if (on) *on = pipeline_.defects.correctionOn != 0;
    return EZ_OK;
}
int CamBayer::_set_blackfield_state(bool on) {
    blackFieldOn_ = on;
    return EZ_OK;
}
int CamBayer::_blackfield_state(bool* on) {
    if (on) *on = blackFieldOn_ != 0;
    return EZ_OK;
}

// The pipeline takes the new reference over at its next frame; until then
// the old one stays.
int CamBayer::_calc_flat_field(unsigned char* buffer, bool flag) {
    if (flag) return EZ_ENOTSUP;
    return pipeline_.captureFlatField(reinterpret_cast<const _ezImage*>(buffer), sensor());
}
