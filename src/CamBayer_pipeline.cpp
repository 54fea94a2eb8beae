// Frame pipeline: raw frame to finished image, the processing settings and
// their tone and colour passes.
#include "CamBayer.h"

// Decoding, border cut, tone and colour passes, stretch and still capture
// are not built yet.
int CamBayer::_raw2image(unsigned char*, unsigned char*, bool) {
    return -4;
}

// ---- Settings whose setters rebuild a staged table ----------------------
// The table rebuilds come with the frame pipeline; until then the setters
// change nothing and report -4 where they have a result.
void CamBayer::_set_gamma(int) {}
int CamBayer::_set_gamma(int, int) {
    return -4;
}
void CamBayer::_set_contrast(int) {}
void CamBayer::_set_saturation(int) {}
void CamBayer::_set_digital_gain(int, int, int) {}
int CamBayer::_set_stretch(int, int, bool) {
    return -4;
}
int CamBayer::_set_stretch(int, int, bool, int) {
    return -4;
}

// ---- Reading the settings --------------------------------------------------

namespace {
int reportRange(const SoftWareValue& setting, int* min, int* max, int* step) {
    if (min) *min = setting.min;
    if (max) *max = setting.max;
    if (step) *step = setting.step;
    return 0;
}
}  // namespace

int CamBayer::_gamma() {
    return gamma[0].value;
}
int CamBayer::_gamma_range(int* min, int* max, int* step) {
    return reportRange(gamma[0], min, max, step);
}
int CamBayer::_gamma(int channel) {
    if (channel < 0 || channel > 2) return -2;
    return gamma[channels == 1 ? 0 : channel].value;
}
int CamBayer::_gamma_range(int* min, int* max, int* step, int channel) {
    if (channel < 0 || channel > 2) return -2;
    return reportRange(gamma[channels == 1 ? 0 : channel], min, max, step);
}
int CamBayer::_contrast() {
    return contrast.value;
}
int CamBayer::_contrast_range(int* min, int* max, int* step) {
    return reportRange(contrast, min, max, step);
}
int CamBayer::_saturation() {
    return saturation.supported ? saturation.value : -4;
}
int CamBayer::_saturation_range(int* min, int* max, int* step) {
    return saturation.supported ? reportRange(saturation, min, max, step) : -4;
}
int CamBayer::_digital_gain(int* gain0, int* gain1, int* gain2) {
    if (!digitalGain[0].supported) return -4;
    if (gain0) *gain0 = digitalGain[0].value;
    if (gain1) *gain1 = digitalGain[1].value;
    if (gain2) *gain2 = digitalGain[2].value;
    return 0;
}
int CamBayer::_digital_gain_range(int* min, int* max, int* step) {
    return digitalGain[0].supported ? reportRange(digitalGain[0], min, max, step) : -4;
}
int CamBayer::_stretch(int* low, int* high, bool* automatic) {
    return _stretch(low, high, automatic, 0);
}
int CamBayer::_stretch(int* low, int* high, bool* automatic, int channel) {
    if (channel < 0 || channel > 2) return -2;
    const SoftWareValue& setting = stretch[channels == 1 ? 0 : channel];
    if (low) *low = setting.min;
    if (high) *high = setting.max;
    if (automatic) *automatic = setting.value != 0;
    return 0;
}
int CamBayer::_stretch_range(int* min, int* max, int* step) {
    return _stretch_range(min, max, step, 0);
}
int CamBayer::_stretch_range(int* min, int* max, int* step, int channel) {
    if (channel < 0 || channel > 2) return -2;
    if (min) *min = 0;
    if (max) *max = 255;
    if (step) *step = 1;
    return 0;
}

// ---- Plain switches ------------------------------------------------------------

void CamBayer::_set_flip(int code) {
    flip = static_cast<uint8_t>(code);
}
int CamBayer::_flip() {
    return flip;
}
void CamBayer::_set_rotate(int code) {
    rotate = static_cast<uint8_t>(code);
}
int CamBayer::_rotate() {
    return rotate;
}
// Grey view and colour enhancement exist on colour cameras only.
void CamBayer::_set_monochrome(bool on) {
    if (saturation.supported) monochrome = on;
}
int CamBayer::_monochrome(bool* on) {
    if (!saturation.supported) return -4;
    if (on) *on = monochrome != 0;
    return 0;
}
void CamBayer::_set_color_enhancement(bool on) {
    if (saturation.supported) colorEnhancement = on;
}
int CamBayer::_color_enhancement(bool* on) {
    if (!saturation.supported) return -4;
    if (on) *on = colorEnhancement != 0;
    return 0;
}
void CamBayer::_set_histogram(bool on) {
    histogramOn = on;
}
int CamBayer::_histogram(bool* on) {
    if (on) *on = histogramOn != 0;
    return 0;
}

// ---- Pipeline stages -------------------------------------------------------------

// The tone and colour passes and the stretch pass come with the frame pipeline.
int CamBayer::_gray_image_process(_ezImage*) {
    return -4;
}
int CamBayer::_mono_image_process(_ezImage*) {
    return -4;
}
int CamBayer::_colr_image_process(_ezImage*) {
    return -4;
}
void CamBayer::_image_stretch(_ezImage*) {}

void CamBayer::_init_save_image(_ezImage* image) {
    if (!image) return;
    image->bayer = static_cast<uint8_t>(bayerPattern);
    const PixelClockEntry* clock = clockEntry(pixelClock.value);
    image->pixel_clock = clock ? clock->mode : 0;
    image->analog_gain = analogGain.value;
    image->black_level = blackLevel.value;
    image->idproduct = idProduct;
    image->idvendor = idVendor;
    image->bcddevice = bcdDevice;
}
