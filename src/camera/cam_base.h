// The camera interface: every operation a camera object offers, in a fixed
// slot order. CamBayer implements all of it; model classes replace a few.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ezcam.h"
#include "usb/usb.h"

struct SoftWareValue;

class CamBase {
  public:
    virtual ~CamBase() = default;

    // USB transport.
    virtual int __open_driver(std::shared_ptr<usb::Device> device) = 0;
    virtual int _claim_device() = 0;
    virtual int _sumbit_ctl_urb(uint32_t timeout, uint32_t attempts, EZURB* urb) = 0;
    virtual int _read_bulk_data(unsigned char* buffer, int length, int* received) = 0;
    virtual int _delay(int milliseconds) = 0;
    virtual int _sensor_suspend() = 0;
    virtual int _sensor_resume() = 0;

    // Identity.
    virtual const char* _name() = 0;
    virtual int _body() = 0;
    virtual int _head() = 0;
    virtual int _state() = 0;
    virtual void _set_state(int state) = 0;
    virtual int _idproduct() = 0;
    virtual int _idvendor() = 0;
    virtual int _bcddevice() = 0;
    virtual int _bcdusb() = 0;
    virtual int _versions(int* version) = 0;
    virtual int _channles() = 0;
    virtual int _bayer() = 0;

    // Sensor control.
    virtual int _default() = 0;
    virtual int _set_resolution(int index, bool sendNow) = 0;
    virtual int _resolution() = 0;
    virtual int _resolution_count() = 0;
    virtual const char* _resolution_string_at_index(int index) = 0;
    virtual int _resolution_width_at_index(int index) = 0;
    virtual int _resolution_height_at_index(int index) = 0;
    virtual int _set_pixsclock(int index) = 0;
    virtual int _pixsclock() = 0;
    virtual int _pixsclock_count() = 0;
    virtual const char* _pixsclock_string_at_index(int index) = 0;
    virtual int _set_analog_gain(int gain) = 0;
    virtual int _analog_gain_range(int* min, int* max, int* step) = 0;
    virtual int _analog_gain() = 0;
    virtual void _retime() = 0;
    virtual int _set_exposure(float milliseconds) = 0;
    virtual int _exposure_range(float* min, float* max, float* step) = 0;
    virtual float _exposure() = 0;
    virtual int _restart_exposure() = 0;
    virtual int _restart_state() = 0;
    virtual int _raw_size(int* width, int* height) = 0;
    virtual int _raw_depth_state(int clock) = 0;
    virtual int _raw_depth() = 0;
    virtual int _set_raw_depth(int bits) = 0;

    // Frames.
    virtual int _raw_data(unsigned char* buffer, int size) = 0;
    virtual int _raw_data_asyn(EzFrameCallback callback, unsigned char* buffer, int size) = 0;
    virtual int _raw2image(unsigned char* raw, unsigned char* image, bool crop) = 0;

    // Black level and region of interest.
    virtual int _set_blacklevel(int level) = 0;
    virtual int _blacklevel() = 0;
    virtual int _blacklevel_range(int* min, int* max, int* step) = 0;
    virtual int _set_roi(int x, int y, int width, int height) = 0;
    virtual int _roi(int* x, int* y, int* width, int* height) = 0;
    virtual int _set_roi_state(bool on) = 0;
    virtual int _roi_state(bool* on) = 0;

    // Information memory.
    virtual int _wmem_inf(char* data, int length) = 0;
    virtual int _rmem_inf(char* data, int length) = 0;

    // Model features.
    virtual int _set_edge_inhibition(bool on) = 0;
    virtual int _edge_inhibition(bool* on) = 0;
    virtual int _set_gpio(int line, bool on) = 0;
    virtual int _gpio(int line, bool* on) = 0;
    virtual int _set_cooled(bool on) = 0;
    virtual int _cooled(bool* on) = 0;
    virtual int _temperature(float* celsius) = 0;
    virtual int _set_sharpness(int value) = 0;
    virtual int _sharpness() = 0;
    virtual int _sharpness_range(int* min, int* max, int* step) = 0;
    virtual int _set_denoise(int value) = 0;
    virtual int _denoise() = 0;
    virtual int _denoise_range(int* min, int* max, int* step) = 0;
    virtual int _set_hdr(bool on) = 0;
    virtual int _hdr(bool* on) = 0;

    // Processing settings.
    virtual void _set_gamma(int value) = 0;
    virtual int _gamma() = 0;
    virtual int _gamma_range(int* min, int* max, int* step) = 0;
    virtual int _set_gamma(int value, int channel) = 0;
    virtual int _gamma(int channel) = 0;
    virtual int _gamma_range(int* min, int* max, int* step, int channel) = 0;
    virtual void _set_contrast(int value) = 0;
    virtual int _contrast() = 0;
    virtual int _contrast_range(int* min, int* max, int* step) = 0;
    virtual void _set_saturation(int value) = 0;
    virtual int _saturation() = 0;
    virtual int _saturation_range(int* min, int* max, int* step) = 0;
    virtual void _set_digital_gain(int gain0, int gain1, int gain2) = 0;
    virtual int _digital_gain(int* gain0, int* gain1, int* gain2) = 0;
    virtual int _digital_gain_range(int* min, int* max, int* step) = 0;
    virtual void _set_flip(int code) = 0;
    virtual int _flip() = 0;
    virtual void _set_rotate(int code) = 0;
    virtual int _rotate() = 0;
    virtual void _set_monochrome(bool on) = 0;
    virtual int _monochrome(bool* on) = 0;
    virtual void _set_color_enhancement(bool on) = 0;
    virtual int _color_enhancement(bool* on) = 0;
    virtual void _set_autoexposure(bool on) = 0;
    virtual int _autoexposure(bool* on) = 0;
    virtual void _set_aetarget(int target) = 0;
    virtual int _aetarget() = 0;
    virtual int _aetarget_range(int* min, int* max, int* step) = 0;
    virtual void _set_histogram(bool on) = 0;
    virtual int _histogram(bool* on) = 0;
    virtual int _set_stretch(int low, int high, bool automatic) = 0;
    virtual int _stretch(int* low, int* high, bool* automatic) = 0;
    virtual int _stretch_range(int* min, int* max, int* step) = 0;
    virtual int _set_stretch(int low, int high, bool automatic, int channel) = 0;
    virtual int _stretch(int* low, int* high, bool* automatic, int channel) = 0;
    virtual int _stretch_range(int* min, int* max, int* step, int channel) = 0;

    // Parameter sets.
    virtual int _current_params(std::string directory) = 0;
    virtual int _save_params(int index, std::string directory) = 0;
    virtual int _load_params(int index, std::string directory) = 0;

    // Calibration.
    virtual int _ff_state(bool* on) = 0;
    virtual void _set_ff_state(bool on) = 0;
    virtual void _calc_defect_correction() = 0;
    virtual int _set_dc_state(bool on) = 0;
    virtual int _dc_state(bool* on) = 0;
    virtual void _blackfield() = 0;
    virtual int _set_blackfield_state(bool on) = 0;
    virtual int _blackfield_state(bool* on) = 0;
    virtual int _calc_flat_field(unsigned char* raw, bool flag) = 0;

    // Automatic exposure, gain and white balance.
    virtual int _calc_white_balance(unsigned char* frame, __IMG_RECT* rect) = 0;
    virtual int _white_balance(bool* on) = 0;
    virtual int _calc_auto_exposure(_ezImage* frame, int interval) = 0;
    virtual int _calc_auto_gain(_ezImage* image, int interval) = 0;

    // Still capture.
    virtual void _set_snap_format(int format) = 0;
    virtual int _snap_format(int* format) = 0;
    virtual int _saveimage(std::string path, int resolution) = 0;
    virtual int _savefile(unsigned char* buffer, std::string path, int format) = 0;
    virtual int _callback_save_iamge(std::string path, int resolution, EzSnapCallback callback) = 0;

    // Measurement and fluorescence guide.
    virtual int _pt_gray(int x, int y, _ezImage* image) = 0;
    virtual int _fluorescence_guide(int type, int value) = 0;
    virtual int _set_shift_operator(int value) = 0;
    virtual int _shift_operator() = 0;
    virtual int _shift_operator_range(int* min, int* max, int* step) = 0;
    virtual int _set_filter(bool on) = 0;
    virtual int _get_filter(bool* on) = 0;
    virtual int _update_firmware(std::string file) = 0;
    virtual int _extern_snap() = 0;
    virtual int _fluorescence(_ezImage* frame, int interval) = 0;

    // Frame pipeline stages.
    virtual int _gray_image_process(_ezImage* image) = 0;
    virtual int _mono_image_process(_ezImage* image) = 0;
    virtual int _colr_image_process(_ezImage* image) = 0;
    virtual void _image_stretch(_ezImage* image) = 0;
    virtual void _image_fladfield(_ezImage* image) = 0;
    virtual void _swap_software(SoftWareValue* setting, int length) = 0;
    virtual void _init_save_image(_ezImage* image) = 0;
};
