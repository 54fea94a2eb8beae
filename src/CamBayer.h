// CamBayer: the base implementation of the camera interface. Model classes
// derive from it, fill its tables and limits in their constructors (or in
// _claim_device) and replace the few operations where their hardware differs.
#pragma once

#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "CamBase.h"
#include "calibration/camera_calibration.h"
#include "models/products.h"
#include "models/tables.h"
#include "pipeline/pipeline.h"
#include "processing/calibration.h"
#include "processing/image_record.h"
#include "shared_state.h"
#include "usb/usb.h"

// One sensor parameter.
struct SensorSetting {
    uint16_t value = 0;
    uint16_t min = 0;
    uint16_t max = 0;  // resolution and pixel clock: number of entries (exclusive)
    uint16_t step = 0;
    uint16_t def = 0;  // used by _default
    uint8_t supported = 0;
    EZURB urb{};                  // the control request last built for this parameter
    const void* table = nullptr;  // resolution: ResolutionEntry[]; pixel clock: PixelClockEntry[]
};


class CamBayer : public CamBase {
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
        return std::unique_lock<std::recursive_mutex>(settingsMutex);
    }

    // Arms or disarms the deferred still. The frame pipeline reads the
    // request without the settings lock: arm it after snapPath, snapFormat,
    // snapResolution, snapWidth and snapHeight are set (under the lock).
    void setSnapRequest(bool armed) {
        shared::store(snapRequest, armed ? 1 : 0, std::memory_order_release);
    }

    // Product table (src/models/products.h): takes over a created camera's
    // row (reader, finishing, features) and applies the rows that build it.
    void adoptProduct(const ProductRow& row);

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

  protected:
    // ---- Frame reader shape --------------------------------------------
    // _raw_data is one procedure for every model: plan the transfer, check
    // the caller's buffer, send pending requests, read, acknowledge, check
    // the framing, write the image record, shape the samples, apply the
    // region of interest, run automatic exposure, finish. A model family
    // supplies the steps that differ through these hooks and the data below
    // rather than replacing _raw_data; a replacement would have to hold
    // lockSettings() around everything but the bulk transfer itself.

    // One frame transfer as a family frames it.
    struct FramePlan {
        int width = 0;  // geometry written into the image record
        int height = 0;
        int depth = 8;        // bits per sample of the record
        int offset = 0;       // where the transfer lands: 0 (header first) or headLen
        uint32_t length = 0;  // bytes asked from the bulk pipe
        uint64_t needed = 0;  // extra buffer bytes the family's steps touch (0: none)
        int received = 0;     // bytes the transfer delivered (at most length)
        int resolution = 0;   // resolution index in force when the frame was asked for
        // The sample bytes the device sends (before its trailer), and the
        // exact count a good transfer holds.
        uint32_t pixelBytes = 0;
        uint32_t expected = 0;
        bool transferOk = false;  // the bulk read reported success
        FrameLayout::Kind layout = FrameLayout::Header;
        int binX = 1;  // software binning of a mode read out larger
        int binY = 1;
        int cutX = -1;  // or the column its stored size is cut out at
        int cutWidth = 0;
        int cutHeight = 0;
        bool captureFlag = false;  // this model reports the capture flag
        bool hostOrder = false;    // 16-bit samples arrive least significant byte first
        bool modeChange = false;   // a resolution, clock or region change was pending
        timespec transferEnd{};    // monotonic clock when the transfer returned
        timespec transferEndUtc{}; // the same moment in UTC
    };
    // The reading procedure; rawDataInfo notes its outcome.
    int readFrame(unsigned char* buffer, int size, FramePlan& plan);
    // Geometry and transfer length, from the layout in force and the mode's
    // readout. Header layouts: header first, then width x height at the
    // current depth; the others: the samples after the header area, then
    // what closes the frame.
    virtual void framePlan(FramePlan& plan);
    // Requests due before the read: a pending resolution, a deferred clock.
    virtual void sendPending();
    // Judges the received transfer: 0 good, 1 good and the camera asks for
    // a capture, -3 no frame. Every layout: a successful transfer of exactly
    // the frame's count, then the layout's marks; samples the device did not
    // send are zeroed.
    virtual int frameCheck(unsigned char* buffer, const FramePlan& plan);
    // What a layout checks beyond the count (markers, signature, no run into
    // the next frame) and the marker bytes it clears; false: no frame.
    bool framingMarks(unsigned char* transfer, unsigned char* samples, const FramePlan& plan) const;
    // Samples to their final form in place (byte order, binning). Base:
    // 16-bit samples to host order, then the plan's software binning.
    virtual void frameShape(_ezImage* image, const FramePlan& plan);
    // Steps after automatic exposure (defects, black field); gets and
    // returns the result.
    virtual int frameFinish(_ezImage* image, int result);

    // How the device frames a transfer: the first layout holding the
    // camera's release; none, the marked header with the base region rule.
    std::span<const FrameLayout> frameLayouts;
    const FrameLayout* layoutInForce() const;
    bool acknowledgeFrames = true;  // send urbFrameRequest after every bulk read
    // After automatic exposure: the defect search on request (the frame's
    // result becomes 5, or -5 when the search fails) and the correction when on.
    bool runsDefectStep = false;
    // Then, with the fluorescence guide running or its end requested, one
    // step of it every this many frames; its result (2 or 3) replaces the
    // frame's. 0: the reader has no guide.
    int fluorescenceInterval = 0;
    int aeInterval = 3;             // frames between automatic-exposure steps

    // ---- Helpers for models --------------------------------------------
    const ResolutionEntry* resolutionEntry(int index) const;  // null when out of range
    const PixelClockEntry* clockEntry(int index) const;
    // Builds a host-to-device vendor request (no data stage).
    static void buildRequest(EZURB& urb, uint8_t request, uint16_t value, uint16_t index);
    // Sends with time-out 1000 and one attempt.
    int sendRequest(EZURB& urb);
    // Reads the 64 status bytes (request 0xb6, index 1: capture flag,
    // temperature) into reply; returns the platform status and sets
    // *received to the bytes delivered.
    int readStatus(unsigned char (&reply)[64], uint32_t* received);
    // Builds and sends a sensor register write (request 0xb7) in setting.urb.
    int writeRegister(SensorSetting& setting, uint16_t reg, uint16_t value);
    // The analog-gain contract: clamp to analogGain min..max, write the
    // mapped value to regAnalogGain, store the clamped gain; 0.
    int applyAnalogGain(int gain, uint16_t (*toRegister)(int gain));
    // modelName := display; name := display + ('0' + counter); counter + 1.
    void setDisplayName(const std::string& display, int& counter);
    // Computes lineLength and pixelRate from the tables in force.
    void loadTiming();

    const ProductRow* productRow = nullptr;  // null: a camera made outside the table
    // The single-request operations the product offers; none without a row.
    const Features& features() const;
    // Request 0xb8: the switches of the cooled cameras, chosen by index.
    void sendSwitch(uint16_t value, uint16_t index);
    // A register write (request 0xb7) kept in no sensor setting.
    int sendRegister(uint16_t reg, uint16_t value);
    static constexpr int32_t kEdgeInhibitionOn = 17;

    // Model catalogue (src/models): applies one row of a model's constants
    // (name, sensor fields, colour settings, transfer sizes), then timing,
    // bodyLen and _retime; the analog gain through the row's mapping.
    void applyModel(const ModelRow& row);
    int modelAnalogGain(int gain);
    const SensorRow* sensorRow = nullptr;  // the sensor row in force, if any

    // Re-timing of the families whose exposure travels as a total line
    // count in the resolution and pixel-clock requests: the total across
    // periods is scaled to the new timing, clamped, split into remainder
    // lines and periods (register writes built, not sent) and carried in
    // both requests (index: low 16 bits, value high byte: bits 16..23).
    // _retime does this for a sensor row whose re-timing says so.
    using ExposureLimits = ::ExposureLimits;
    // carry false: the requests are left alone (a model that sends the
    // exposure registers itself).
    uint32_t retimeCarried(const ExposureLimits* limits, int count, bool rereadLineLength,
                           bool carry = true);

    // A total line count into a mode request: index the low 16 bits, the
    // value's high byte bits 16..23.
    static void carryLines(EZURB& urb, uint32_t lines);
    // Builds the resolution request for the mode in force unless one was
    // built already; false when the mode has no entry.
    bool buildResolutionRequest();

    // Float to a line count without undefined conversions: NaN and
    // negatives give 0, anything too large the top of the range.
    static uint32_t toLines(double lines);

    // Milliseconds a bulk read may wait: generous against the exposure, so
    // a stopped or unplugged camera frees the reading thread.
    unsigned readTimeoutMs();

    // ---- Frame pipeline pieces, for model variants of _raw2image ----------
    // What the pipeline is told of this camera's sensor.
    Sensor sensor() const { return Sensor{channels, bayerPattern}; }
    // Writes the armed still when this frame matches it, then disarms it and
    // returns to the resolution it was armed at. Call without lockFrame().
    void serveStill(_ezImage* raw, _ezImage* image);
    // The defect step of frame readers: a requested search (result 5, or
    // -5 when it fails) and the correction while it is on; otherwise
    // returns `result`.
    int defectStep(_ezImage* frame, int result);
    // Exposure in force, milliseconds (0 without a pixel rate).
    float exposureInForce() const;
    // A caller's frame buffer that starts with a usable record: signature,
    // depth 8 or 16, a size, pixels behind the record.
    static bool rawRecord(const _ezImage* frame);
    // The decoders leave the outer rows and columns unwritten: repeats their
    // neighbours there, for images that are measured whole.
    static void fillDecodedBorder(_ezImage* image);

    // Writes one file per format bit, in the order RAW, JPEG, BMP, PNG, TIFF,
    // each named base + extension: RAW from the raw record (stamped with the
    // capture settings first), the others from the finished image. Returns
    // how many writes failed; a failed format does not stop the others.
    int writeStillFiles(_ezImage* raw, const _ezImage* image, int formats,
                        const std::string& base);

    ProductQuirks quirks;  // set when the device is opened

    // ---- Fields ----------------------------------------------------------
  public:
    // Device.
    uint16_t bcdUsb = 0;
    uint16_t idVendor = 0;
    uint16_t idProduct = 0;
    uint16_t bcdDevice = 0;
    std::shared_ptr<usb::Device> usbDevice;     // owned; closed by the destructor
    std::shared_ptr<usb::Device> usbInterface;  // the claimed interface; null when not claimed

    // Identity and sizes.
    std::string name = "kvdt";
    std::string modelName;
    int32_t headLen = 512;
    int32_t packetLen = 512;
    int32_t bodyLen = 0;
    int32_t state = 0;  // 0 idle, 1 streaming, 3 removed; shared::store/load
    uint8_t suspended = 0;  // SuspendDevice until ResumeDevice: no frame reads; shared::
    int32_t aeState = 0;
    int32_t lineLength = 0;
    int32_t pixelRate = 0;
    int32_t channels = 3;
    int32_t bayerPattern = 0;

    // Request codes and sensor registers.
    uint16_t reqResolution = 0xb4;
    uint16_t reqPixelClock = 0xb5;
    uint16_t reqRawDepth = 0xb9;
    uint16_t regAnalogGain = 0x35;
    uint16_t regExposure = 9;
    uint16_t regLongExposure = 0;
    uint16_t regBlackLevel = 2;

    // Sensor settings.
    SensorSetting resolution;
    SensorSetting pixelClock;
    SensorSetting rawDepth;
    SensorSetting analogGain;
    SensorSetting exposure;
    SensorSetting longExposure;
    SensorSetting blackLevel;
    EZURB urbFrameRequest{};
    EZURB urbRoiOrigin{};  // value x, index y
    EZURB urbRoiSize{};    // value width + 8, index height + 8
    uint8_t roiRequested = 0;
    uint8_t roiActive = 0;
    // The region last programmed into the sensor (0xbd, 0xbe): while
    // roiActive, the frames the device sends. A region set meanwhile waits in
    // urbRoiOrigin and urbRoiSize until the next frame boundary programs it.
    struct SensorRegion {
        uint16_t x = 0, y = 0, width = 0, height = 0;  // width + 8, height + 8 as stored
    } roiInSensor;
    uint8_t resolutionPending = 0;
    uint8_t pixelClockPending = 0;

    // Still capture. The frame pipeline reads snapRequest without the
    // settings lock: arm it with setSnapRequest.
    int16_t snapFormat = 8;
    uint16_t snapResolution = 0;
    uint16_t snapWidth = 0;
    uint16_t snapHeight = 0;

    // Switches.
    uint8_t autoExposure = 0;
    uint8_t snapRequest = 0;
    uint8_t coolerOn = 0;
    int32_t edgeInhibition = 0;  // 17 on, 0 off
    uint8_t gpioState[3] = {};   // the state last set on general-purpose outputs 1 to 3
    std::string snapPath;

    // Frame processing: its settings, flat field and defect list.
    FramePipeline pipeline;
    // Calibration masters: the library, the switch, the master being taken.
    calib::CameraCalibration calibration;
    SoftWareValue aeTarget;
    uint32_t bulkPipe = 1;

    // Black field, fluorescence guide, cooled models.
    uint8_t blackFieldOn = 0;
    uint8_t fluoGuideOn = 0;
    uint8_t fluoGuideEnd = 0;
    double agHistory[2] = {0.0, 0.0};
    int32_t fluoParam = 1;
    uint8_t fluoParamSet = 0;
    int32_t shiftOperator = 0;
    int32_t sharpnessValue = 0;  // in-camera settings: the values last written
    int32_t denoiseValue = 0;
    uint8_t hdrOn = 0;
    EzSnapCallback snapCallback = nullptr;
    int32_t lastExposure = 0;
    timeval lastFrameTime{};
    int32_t firmwareVersion = 0;

    // Asynchronous frame request.
    uint8_t asyncPending = 0;
    EzFrameCallback asyncCallback = nullptr;
    unsigned char* asyncBuffer = nullptr;
    int32_t asyncSize = 0;

  private:
    std::recursive_mutex settingsMutex;
    // Histogram of the automatic gain and the fluorescence measurement: kept
    // here, a raw frame's buffer need not have room behind its samples.
    alignas(4) unsigned char measureStatistics[kStatisticsBytes] = {};
    int regionOrProgram(_ezImage* image, int frameResolution);
    // A region set now is programmed into the sensor (by the layout's rule
    // at the resolution in force), rather than cut out of whole frames.
    bool regionProgrammed() const;
    // Counts and readings the reader keeps beside the frames
    // (CamBayer_frame_info.cpp); under the settings lock.
    struct FrameTally {
        uint64_t delivered = 0;
        uint64_t lost = 0;
        uint64_t modeDrops = 0;
        int8_t temperatureState = 0;  // 0 no reading yet, 1 read, -1 the model has none
        float temperature = 0.0f;
        int64_t temperatureAskedNs = 0;  // monotonic; 0 never asked
        std::optional<EzFrameInfo> latest;  // the latest frame described (always while calibration is on)
    } frameTally;
    void noteFrame(int result, const unsigned char* buffer, const FramePlan& plan,
                   EzFrameInfo* info);
    // 16-bit permission of a clock at a resolution: 0, 4, -4 or -2.
    int depthState(int clock, int resolutionIndex);
    void clampRegion(int x, int y, int width, int height);

  public:
    // Calibration (CamBayer_calibration.cpp): the conditions of a described
    // frame, and of the latest frame read while calibration is on.
    calib::Conditions conditionsOf(const EzFrameInfo& info);
    std::optional<calib::Conditions> latestConditions();
};
