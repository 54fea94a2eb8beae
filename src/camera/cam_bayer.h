// CamBayer: the one implementation of the camera interface, composed of
// parts along the frame's path (each in its own files, with its thread
// rules at the top):
//
//   DeviceLink       device_link.h       requests and bulk reads
//   SensorControl    sensor_control.h    settings, re-timing, pending requests
//   FrameReader      frame_reader.h      plan, check, shape and describe a frame
//   ExposureLoop     exposure_loop.h     automatic exposure and gain
//   FluoGuide        fluorescence_guide.h
//   StillCapture     still_capture.h     a consumer of finished frames
//   FramePipeline    pipeline/pipeline.h raw frame to finished image
//   ProductFeatures  product_features.h  single-request features of a product
//
// The operations forward to the parts; frame_path.cpp holds the one reading
// procedure that passes a frame from part to part. Model classes
// (src/models) replace a step through ModelHooks or an operation where
// their hardware differs; what a product is comes from its row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "calibration/camera_calibration.h"
#include "camera/cam_base.h"
#include "camera/device_link.h"
#include "camera/exposure_loop.h"
#include "camera/fluorescence_guide.h"
#include "camera/frame.h"
#include "camera/frame_reader.h"
#include "camera/model_hooks.h"
#include "camera/product_features.h"
#include "camera/product_row.h"
#include "camera/sensor_control.h"
#include "camera/still_capture.h"
#include "pipeline/pipeline.h"
#include "usb/usb.h"

class CamBayer : public CamBase, protected ModelHooks {
  public:
    CamBayer();
    ~CamBayer() override;
    CamBayer(const CamBayer&) = delete;
    CamBayer& operator=(const CamBayer&) = delete;

    // Serialises settings against the frame boundary. The call surface holds
    // it around every operation except frame reads and frame processing.
    // Frame reads take it themselves for all but the bulk transfer, so a
    // setter never waits for a whole exposure. Frame processing does not
    // take it: processing settings reach it through their staged tables and
    // switch bytes (shared_state.h); only serving a still takes it.
    std::unique_lock<std::recursive_mutex> lockSettings() {
        return std::unique_lock<std::recursive_mutex>(settingsMutex_);
    }

    // Takes over a created camera's product row (reader, finishing,
    // features), the quirks of its USB pair, and applies the rows that
    // build it; `readouts` are the modes read out at another size than
    // their tables store.
    void adoptProduct(const ProductRow& row, const ProductQuirks& quirks,
                      std::span<const ModeReadout> readouts);

    // ---- USB transport ----
    int __open_driver(std::shared_ptr<usb::Device> device) override;
    int _claim_device() override;
    int _sumbit_ctl_urb(uint32_t timeout, uint32_t attempts, EZURB* urb) override;
    int _read_bulk_data(unsigned char* buffer, int length, int* received) override;
    int _delay(int milliseconds) override;
    int _sensor_suspend() override;
    int _sensor_resume() override;

    // ---- Identity ----
    const char* _name() override;
    int _body() override;
    int _head() override;
    int _state() override;
    void _set_state(int state) override;
    int _idproduct() override;
    int _idvendor() override;
    int _bcddevice() override;
    int _bcdusb() override;
    int _versions(int* version) override;
    int _channles() override;
    int _bayer() override;

    // ---- Sensor control ----
    int _default() override;
    int _set_resolution(int index, bool sendNow) override;
    int _resolution() override;
    int _resolution_count() override;
    const char* _resolution_string_at_index(int index) override;
    int _resolution_width_at_index(int index) override;
    int _resolution_height_at_index(int index) override;
    int _set_pixsclock(int index) override;
    int _pixsclock() override;
    int _pixsclock_count() override;
    const char* _pixsclock_string_at_index(int index) override;
    int _set_analog_gain(int gain) override;  // through the gain mapping of the sensor row
    int _analog_gain_range(int* min, int* max, int* step) override;
    int _analog_gain() override;
    void _retime() override;
    int _set_exposure(float milliseconds) override;
    int _exposure_range(float* min, float* max, float* step) override;
    float _exposure() override;
    int _restart_exposure() override;
    int _restart_state() override;
    int _raw_size(int* width, int* height) override;
    int _raw_depth_state(int clock) override;
    int _raw_depth() override;
    int _set_raw_depth(int bits) override;

    // ---- Frames ----
    int _raw_data(unsigned char* buffer, int size) override;
    // _raw_data that also describes the frame in info (null: counts only);
    // see GetRawDataInfo. restartFrameCount: a stream starts, counts from 0.
    int rawDataInfo(unsigned char* buffer, int size, EzFrameInfo* info);
    void restartFrameCount();
    int _raw_data_asyn(EzFrameCallback callback, unsigned char* buffer, int size) override;
    int _raw2image(unsigned char* raw, unsigned char* image, bool crop) override;

    // ---- Black level, region of interest ----
    int _set_blacklevel(int level) override;
    int _blacklevel() override;
    int _blacklevel_range(int* min, int* max, int* step) override;
    int _set_roi(int x, int y, int width, int height) override;
    int _roi(int* x, int* y, int* width, int* height) override;
    int _set_roi_state(bool on) override;
    int _roi_state(bool* on) override;

    // ---- Information memory ----
    int _wmem_inf(char* data, int length) override;
    int _rmem_inf(char* data, int length) override;

    // ---- Model features: not offered by the base camera (-4) ----
    int _set_edge_inhibition(bool on) override;
    int _edge_inhibition(bool* on) override;
    int _set_gpio(int line, bool on) override;
    int _gpio(int line, bool* on) override;
    int _set_cooled(bool on) override;
    int _cooled(bool* on) override;
    int _temperature(float* celsius) override;
    int _set_sharpness(int value) override;
    int _sharpness() override;
    int _sharpness_range(int* min, int* max, int* step) override;
    int _set_denoise(int value) override;
    int _denoise() override;
    int _denoise_range(int* min, int* max, int* step) override;
    int _set_hdr(bool on) override;
    int _hdr(bool* on) override;

    // ---- Processing settings ----
    void _set_gamma(int value) override;
    int _gamma() override;
    int _gamma_range(int* min, int* max, int* step) override;
    int _set_gamma(int value, int channel) override;
    int _gamma(int channel) override;
    int _gamma_range(int* min, int* max, int* step, int channel) override;
    void _set_contrast(int value) override;
    int _contrast() override;
    int _contrast_range(int* min, int* max, int* step) override;
    void _set_saturation(int value) override;
    int _saturation() override;
    int _saturation_range(int* min, int* max, int* step) override;
    void _set_digital_gain(int gain0, int gain1, int gain2) override;
    int _digital_gain(int* gain0, int* gain1, int* gain2) override;
    int _digital_gain_range(int* min, int* max, int* step) override;
    void _set_flip(int code) override;
    int _flip() override;
    void _set_rotate(int code) override;
    int _rotate() override;
    void _set_monochrome(bool on) override;
    int _monochrome(bool* on) override;
    void _set_color_enhancement(bool on) override;
    int _color_enhancement(bool* on) override;
    void _set_autoexposure(bool on) override;
    int _autoexposure(bool* on) override;
    void _set_aetarget(int target) override;
    int _aetarget() override;
    int _aetarget_range(int* min, int* max, int* step) override;
    void _set_histogram(bool on) override;
    int _histogram(bool* on) override;
    int _set_stretch(int low, int high, bool automatic) override;
    int _stretch(int* low, int* high, bool* automatic) override;
    int _stretch_range(int* min, int* max, int* step) override;
    int _set_stretch(int low, int high, bool automatic, int channel) override;
    int _stretch(int* low, int* high, bool* automatic, int channel) override;
    int _stretch_range(int* min, int* max, int* step, int channel) override;

    // ---- Parameter sets ----
    int _current_params(std::string directory) override;
    int _save_params(int index, std::string directory) override;
    int _load_params(int index, std::string directory) override;
    // The bytes of one set file applied to the camera (what _load_params
    // does after reading the file): -3 unless exactly one set.
    int applyParameterSet(const unsigned char* bytes, size_t size);

    // ---- Calibration ----
    int _ff_state(bool* on) override;
    void _set_ff_state(bool on) override;
    void _calc_defect_correction() override;
    int _set_dc_state(bool on) override;
    int _dc_state(bool* on) override;
    void _blackfield() override;
    int _set_blackfield_state(bool on) override;
    int _blackfield_state(bool* on) override;
    int _calc_flat_field(unsigned char* raw, bool flag) override;

    // ---- Automatic exposure, gain, white balance ----
    int _calc_white_balance(unsigned char* frame, __IMG_RECT* rect) override;
    int _white_balance(bool* on) override;
    int _calc_auto_exposure(_ezImage* frame, int interval) override;
    int _calc_auto_gain(_ezImage* image, int interval) override;

    // ---- Still capture ----
    void _set_snap_format(int format) override;
    int _snap_format(int* format) override;
    int _saveimage(std::string path, int resolution) override;
    int _savefile(unsigned char* buffer, std::string path, int format) override;
    int _callback_save_iamge(std::string path, int resolution, EzSnapCallback callback) override;

    // ---- Measurement, fluorescence guide, the rest ----
    int _pt_gray(int x, int y, _ezImage* image) override;
    int _fluorescence_guide(int type, int value) override;
    int _set_shift_operator(int value) override;
    int _shift_operator() override;
    int _shift_operator_range(int* min, int* max, int* step) override;
    int _set_filter(bool on) override;
    int _get_filter(bool* on) override;
    int _update_firmware(std::string file) override;
    int _extern_snap() override;
    int _fluorescence(_ezImage* frame, int interval) override;

    // ---- Frame pipeline stages ----
    int _gray_image_process(_ezImage* image) override;
    int _mono_image_process(_ezImage* image) override;
    int _colr_image_process(_ezImage* image) override;
    void _image_stretch(_ezImage* image) override;
    void _image_fladfield(_ezImage* image) override;
    void _swap_software(SoftWareValue* setting, int length) override;
    void _init_save_image(_ezImage* image) override;

    // ---- Parts ----
    DeviceLink& link() { return link_; }
    SensorControl& sensorControl() { return sensor_; }
    const SensorControl& sensorControl() const { return sensor_; }
    FrameReader& frameReader() { return reader_; }
    ExposureLoop& exposureLoop() { return exposure_; }
    FluoGuide& fluoGuide() { return fluo_; }
    StillCapture& stills() { return stills_; }
    FramePipeline& pipeline() { return pipeline_; }
    calib::CameraCalibration& calibration() { return calibration_; }
    ProductFeatures& productFeatures() { return features_; }

    const std::string& name() const { return name_; }
    const std::string& modelName() const { return modelName_; }
    int firmwareVersion() const { return firmwareVersion_; }
    // SuspendDevice until ResumeDevice: no frame reads. Read without a lock.
    bool suspended() const;
    void setSuspended(bool on);
    // The calibration conditions of a described frame, and of the latest
    // frame described.
    calib::Conditions conditionsOf(const EzFrameInfo& info);
    std::optional<calib::Conditions> latestConditions();

  protected:
    // ---- The frame path's steps (ModelHooks): the base versions ----
    void framePlan(FramePlan& plan) override;
    void sendPending() override;
    int frameCheck(unsigned char* buffer, const FramePlan& plan) override;
    void frameShape(_ezImage* image, const FramePlan& plan) override;
    // The defect step on request (the frame's result becomes 5, or -5 when
    // the search fails) and the correction when on; then, with the
    // fluorescence guide running, one step of it every this many frames;
    // its result (2 or 3) replaces the frame's.
    int frameFinish(_ezImage* image, int result) override;
    int depthState(int clock, int resolutionIndex) override;
    void sendModeRequest() override;

    // ---- For models ----
    // What the pipeline is told of this camera's sensor.
    Sensor sensor() const { return Sensor{sensor_.channels, sensor_.bayerPattern}; }
    const Features& features() const { return features_.offered(); }
    bool blackFieldOn() const { return blackFieldOn_ != 0; }
    void setBodyLength(int32_t bytes) { sensor_.bodyLen = bytes; }

  private:
    // The reading procedure; rawDataInfo notes its outcome.
    int readFrame(unsigned char* buffer, int size, FramePlan& plan);
    // Writes the armed still when this finished frame matches it, then
    // returns to the resolution it was armed at.
    void serveStill(_ezImage* raw, _ezImage* image);
    // What a RAW still of this frame is stamped with: its own conditions
    // where it carries them, else the settings in force.
    StillCapture::Stamp stampOf(const _ezImage* raw);
    // Model catalogue: applies one row of a model's constants (name, sensor
    // fields, colour settings, transfer sizes), then timing, bodyLen and
    // _retime.
    void applyModel(const ModelRow& row);
    // modelName := display; name := display + ('0' + counter); counter + 1.
    void setDisplayName(const std::string& display, int& counter);

    std::recursive_mutex settingsMutex_;
    DeviceLink link_;
    SensorControl sensor_;
    FrameReader reader_;
    ExposureLoop exposure_;
    FramePipeline pipeline_;
    FluoGuide fluo_;
    StillCapture stills_;
    ProductFeatures features_;
    calib::CameraCalibration calibration_;

    const ProductRow* productRow_ = nullptr;  // null: a camera made outside the table
    bool runsDefectStep_ = false;
    int fluorescenceInterval_ = 0;  // 0: the reader has no guide
    int aeInterval_ = 3;            // frames between automatic-exposure steps

    std::string name_ = "kvdt";
    std::string modelName_;
    int32_t firmwareVersion_ = 0;
    mutable uint8_t suspended_ = 0;  // shared::
    uint8_t blackFieldOn_ = 0;

    // Asynchronous frame request.
    uint8_t asyncPending_ = 0;
    EzFrameCallback asyncCallback_ = nullptr;
    unsigned char* asyncBuffer_ = nullptr;
    int32_t asyncSize_ = 0;
};
