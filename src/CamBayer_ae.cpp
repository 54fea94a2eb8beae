// Automatic exposure, automatic gain and one-shot white balance.
#include "CamBayer.h"

void CamBayer::_set_autoexposure(bool on) {
    autoExposure = on;
}
int CamBayer::_autoexposure(bool* on) {
    if (on) *on = autoExposure != 0;
    return 0;
}
void CamBayer::_set_aetarget(int target) {
    if (target >= aeTarget.min && target <= aeTarget.max)
        aeTarget.value = static_cast<uint8_t>(target);
}
int CamBayer::_aetarget() {
    return aeTarget.value;
}
int CamBayer::_aetarget_range(int* min, int* max, int* step) {
    if (!aeTarget.supported) return -4;
    if (min) *min = aeTarget.min;
    if (max) *max = aeTarget.max;
    if (step) *step = aeTarget.step;
    return 0;
}

// The exposure control loop (mean level against the target) is not built yet.
int CamBayer::_calc_auto_exposure(_ezImage*, int) {
    return -4;
}
// The gain search over the histogram's top level is not built yet.
int CamBayer::_calc_auto_gain(_ezImage*, int) {
    return -4;
}
// The white-balance measurement and the channel-gain update are not built yet.
int CamBayer::_calc_white_balance(unsigned char*, __IMG_RECT*) {
    return -4;
}
