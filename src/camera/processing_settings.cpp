// The camera's frame-processing operations: each forwards to the camera's
// frame pipeline (src/pipeline), telling it the camera's sensor.
#include <cstring>

#include "camera/cam_bayer.h"

// ---- Settings whose setters rebuild a staged table ----------------------

void CamBayer::_set_gamma(int value) {
    pipeline_.setGamma(value, sensor_.channels);
}
int CamBayer::_set_gamma(int value, int channel) {
    return pipeline_.setGamma(value, channel, sensor_.channels);
}
void CamBayer::_set_contrast(int value) {
    pipeline_.setContrast(value);
}
void CamBayer::_set_saturation(int value) {
    pipeline_.setSaturation(value);
}
void CamBayer::_set_digital_gain(int gain0, int gain1, int gain2) {
    pipeline_.setDigitalGain(gain0, gain1, gain2);
}
int CamBayer::_set_stretch(int low, int high, bool automatic) {
    return pipeline_.setStretch(low, high, automatic, sensor_.channels);
}
int CamBayer::_set_stretch(int low, int high, bool automatic, int channel) {
    return pipeline_.setStretch(low, high, automatic, channel, sensor_.channels);
}

// ---- Reading the settings --------------------------------------------------

namespace {
int reportRange(const SoftWareValue& setting, int* min, int* max, int* step) {
    if (min) *min = setting.min;
    if (max) *max = setting.max;
    if (step) *step = setting.step;
    return EZ_OK;
}
}  // namespace

int CamBayer::_gamma() {
    return pipeline_.gamma[0].value;
}
int CamBayer::_gamma_range(int* min, int* max, int* step) {
    return reportRange(pipeline_.gamma[0], min, max, step);
}
int CamBayer::_gamma(int channel) {
    if (channel < 0 || channel > 2) return EZ_ERANGE;
    return pipeline_.gammaOf(channel, sensor_.channels).value;
}
int CamBayer::_gamma_range(int* min, int* max, int* step, int channel) {
    if (channel < 0 || channel > 2) return EZ_ERANGE;
    return reportRange(pipeline_.gammaOf(channel, sensor_.channels), min, max, step);
}
int CamBayer::_contrast() {
    return pipeline_.contrast.value;
}
int CamBayer::_contrast_range(int* min, int* max, int* step) {
    return reportRange(pipeline_.contrast, min, max, step);
}
int CamBayer::_saturation() {
    if (!pipeline_.colour()) return EZ_ENOTSUP;
    return pipeline_.saturation.value;
}
int CamBayer::_saturation_range(int* min, int* max, int* step) {
    return pipeline_.colour() ? reportRange(pipeline_.saturation, min, max, step) : EZ_ENOTSUP;
}
int CamBayer::_digital_gain(int* gain0, int* gain1, int* gain2) {
    const SoftWareValue* gains = pipeline_.digitalGain;
    if (!gains[0].supported) return EZ_ENOTSUP;
    if (gain0) *gain0 = gains[0].value;
    if (gain1) *gain1 = gains[1].value;
    if (gain2) *gain2 = gains[2].value;
    return EZ_OK;
}
int CamBayer::_digital_gain_range(int* min, int* max, int* step) {
    const SoftWareValue& gain = pipeline_.digitalGain[0];
    return gain.supported ? reportRange(gain, min, max, step) : EZ_ENOTSUP;
}
int CamBayer::_stretch(int* low, int* high, bool* automatic) {
    return _stretch(low, high, automatic, 0);
}
int CamBayer::_stretch(int* low, int* high, bool* automatic, int channel) {
    if (channel < 0 || channel > 2) return EZ_ERANGE;
    const SoftWareValue& setting = pipeline_.stretchOf(channel, sensor_.channels);
    if (low) *low = setting.min;
    if (high) *high = setting.max;
    if (automatic) *automatic = setting.value != 0;
    return EZ_OK;
}
int CamBayer::_stretch_range(int* min, int* max, int* step) {
    return _stretch_range(min, max, step, 0);
}
int CamBayer::_stretch_range(int* min, int* max, int* step, int channel) {
    if (channel < 0 || channel > 2) return EZ_ERANGE;
    if (min) *min = 0;
    if (max) *max = 255;
    if (step) *step = 1;
    return EZ_OK;
}

// ---- Plain switches, read once per frame -----------------------------------------

void CamBayer::_set_flip(int code) {
    pipeline_.setFlip(code);
}
int CamBayer::_flip() {
    return pipeline_.flip;
}
void CamBayer::_set_rotate(int code) {
    pipeline_.setRotate(code);
}
int CamBayer::_rotate() {
    return pipeline_.rotate;
}
// Grey view and colour enhancement exist on colour cameras only.
void CamBayer::_set_monochrome(bool on) {
    if (pipeline_.colour()) pipeline_.setMonochrome(on);
}
int CamBayer::_monochrome(bool* on) {
    if (!pipeline_.colour()) return EZ_ENOTSUP;
    if (on) *on = pipeline_.monochrome != 0;
    return EZ_OK;
}
void CamBayer::_set_color_enhancement(bool on) {
    if (pipeline_.colour()) pipeline_.setColorEnhancement(on);
}
int CamBayer::_color_enhancement(bool* on) {
    if (!pipeline_.colour()) return EZ_ENOTSUP;
    if (on) *on = pipeline_.colorEnhancement != 0;
    return EZ_OK;
}
void CamBayer::_set_histogram(bool on) {
    pipeline_.setHistogram(on);
}
int CamBayer::_histogram(bool* on) {
    if (on) *on = pipeline_.histogramOn != 0;
    return EZ_OK;
}

// ---- Pipeline stages -------------------------------------------------------------

int CamBayer::_gray_image_process(_ezImage* image) {
    return pipeline_.greyTone(image);
}
int CamBayer::_mono_image_process(_ezImage* image) {
    return pipeline_.monoTone(image);
}
int CamBayer::_colr_image_process(_ezImage* image) {
    return pipeline_.colourTone(image);
}
void CamBayer::_image_stretch(_ezImage* image) {
    pipeline_.stretchImage(image);
}
void CamBayer::_image_fladfield(_ezImage* image) {
    pipeline_.flatField(image);
}
// Runs on the frame thread: copies a complete staged table or nothing, and
// never waits for the setter (shared_state.h).
void CamBayer::_swap_software(SoftWareValue* setting, int length) {
    if (!setting || length <= 0) return;
    setting->takeOver(static_cast<size_t>(length));
}
