// The camera's frame-processing operations: each forwards to the camera's
// frame pipeline (src/pipeline), telling it the camera's sensor.
#include <cstring>

#include "CamBayer.h"

// ---- Settings whose setters rebuild a staged table ----------------------

void CamBayer::_set_gamma(int value) {
    pipeline.setGamma(value, channels);
}
int CamBayer::_set_gamma(int value, int channel) {
    return pipeline.setGamma(value, channel, channels);
}
void CamBayer::_set_contrast(int value) {
    pipeline.setContrast(value);
}
void CamBayer::_set_saturation(int value) {
    pipeline.setSaturation(value);
}
void CamBayer::_set_digital_gain(int gain0, int gain1, int gain2) {
    pipeline.setDigitalGain(gain0, gain1, gain2);
}
int CamBayer::_set_stretch(int low, int high, bool automatic) {
    return pipeline.setStretch(low, high, automatic, channels);
}
int CamBayer::_set_stretch(int low, int high, bool automatic, int channel) {
    return pipeline.setStretch(low, high, automatic, channel, channels);
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
    return pipeline.gamma[0].value;
}
int CamBayer::_gamma_range(int* min, int* max, int* step) {
    return reportRange(pipeline.gamma[0], min, max, step);
}
int CamBayer::_gamma(int channel) {
    if (channel < 0 || channel > 2) return -2;
    return pipeline.gammaOf(channel, channels).value;
}
int CamBayer::_gamma_range(int* min, int* max, int* step, int channel) {
    if (channel < 0 || channel > 2) return -2;
    return reportRange(pipeline.gammaOf(channel, channels), min, max, step);
}
int CamBayer::_contrast() {
    return pipeline.contrast.value;
}
int CamBayer::_contrast_range(int* min, int* max, int* step) {
    return reportRange(pipeline.contrast, min, max, step);
}
int CamBayer::_saturation() {
    return pipeline.colour() ? pipeline.saturation.value : -4;
}
int CamBayer::_saturation_range(int* min, int* max, int* step) {
    return pipeline.colour() ? reportRange(pipeline.saturation, min, max, step) : -4;
}
int CamBayer::_digital_gain(int* gain0, int* gain1, int* gain2) {
    const SoftWareValue* gains = pipeline.digitalGain;
    if (!gains[0].supported) return -4;
    if (gain0) *gain0 = gains[0].value;
    if (gain1) *gain1 = gains[1].value;
    if (gain2) *gain2 = gains[2].value;
    return 0;
}
int CamBayer::_digital_gain_range(int* min, int* max, int* step) {
    const SoftWareValue& gain = pipeline.digitalGain[0];
    return gain.supported ? reportRange(gain, min, max, step) : -4;
}
int CamBayer::_stretch(int* low, int* high, bool* automatic) {
    return _stretch(low, high, automatic, 0);
}
int CamBayer::_stretch(int* low, int* high, bool* automatic, int channel) {
    if (channel < 0 || channel > 2) return -2;
    const SoftWareValue& setting = pipeline.stretchOf(channel, channels);
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

// ---- Plain switches, read once per frame -----------------------------------------

void CamBayer::_set_flip(int code) {
    pipeline.setFlip(code);
}
int CamBayer::_flip() {
    return pipeline.flip;
}
void CamBayer::_set_rotate(int code) {
    pipeline.setRotate(code);
}
int CamBayer::_rotate() {
    return pipeline.rotate;
}
// Grey view and colour enhancement exist on colour cameras only.
void CamBayer::_set_monochrome(bool on) {
    if (pipeline.colour()) pipeline.setMonochrome(on);
}
int CamBayer::_monochrome(bool* on) {
    if (!pipeline.colour()) return -4;
    if (on) *on = pipeline.monochrome != 0;
    return 0;
}
void CamBayer::_set_color_enhancement(bool on) {
    if (pipeline.colour()) pipeline.setColorEnhancement(on);
}
int CamBayer::_color_enhancement(bool* on) {
    if (!pipeline.colour()) return -4;
    if (on) *on = pipeline.colorEnhancement != 0;
    return 0;
}
void CamBayer::_set_histogram(bool on) {
    pipeline.setHistogram(on);
}
int CamBayer::_histogram(bool* on) {
    if (on) *on = pipeline.histogramOn != 0;
    return 0;
}

// ---- The pipeline -----------------------------------------------------------------

int CamBayer::_raw2image(unsigned char* rawBuffer, unsigned char* imageBuffer, bool crop) {
    if (shared::load(state) == 3) return -1;
    const int result = pipeline.run(rawBuffer, imageBuffer, crop, sensor());
    if (result != 0) return result;
    serveStill(reinterpret_cast<_ezImage*>(rawBuffer), reinterpret_cast<_ezImage*>(imageBuffer));
    return 0;
}

void CamBayer::serveStill(_ezImage* raw, _ezImage* image) {
    if (!shared::load(snapRequest, std::memory_order_acquire)) return;
    auto settings = lockSettings();
    // The snap size counts the border the frame carries, where it has one.
    const int margin = pipeline.modelSteps.border == ModelSteps::Border::Never ? 0 : 8;
    if (!snapRequest || raw->resolution != resolution.value || image->width != snapWidth - margin ||
        image->height != snapHeight - margin)
        return;
    writeStillFiles(raw, image, snapFormat, snapPath);
    setSnapRequest(false);
    if (snapResolution != resolution.value) _set_resolution(snapResolution, false);
}

// ---- Pipeline stages -------------------------------------------------------------

int CamBayer::_gray_image_process(_ezImage* image) {
    return pipeline.greyTone(image);
}
int CamBayer::_mono_image_process(_ezImage* image) {
    return pipeline.monoTone(image);
}
int CamBayer::_colr_image_process(_ezImage* image) {
    return pipeline.colourTone(image);
}
void CamBayer::_image_stretch(_ezImage* image) {
    pipeline.stretchImage(image);
}
void CamBayer::_image_fladfield(_ezImage* image) {
    pipeline.flatField(image);
}
// Runs on the frame thread: copies a complete staged table or nothing, and
// never waits for the setter (shared_state.h).
void CamBayer::_swap_software(SoftWareValue* setting, int length) {
    if (!setting || length <= 0) return;
    setting->takeOver(static_cast<size_t>(length));
}

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
