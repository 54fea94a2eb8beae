// CamBayer: construction, identity, and the operations that forward to
// sensor control, the device link and the product's features.
#include "camera/cam_bayer.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "log.h"
#include "shared_state.h"

CamBayer::CamBayer()
    : sensor_(*this, *this),
      reader_(sensor_, *this),
      exposure_(sensor_, *this),
      fluo_(sensor_, exposure_, pipeline_, *this),
      features_(sensor_, *this) {}

CamBayer::~CamBayer() {
    if (link_.state() == 1) {
        EZURB stop{};
        SensorControl::buildRequest(stop, 0xbb, 0, 0);
        sensor_.sendRequest(stop);
        link_.setState(0);
    }
}

bool CamBayer::suspended() const {
    return shared::load(suspended_) != 0;
}
void CamBayer::setSuspended(bool on) {
    shared::store(suspended_, on ? 1 : 0);
}

// ---- Identity ----------------------------------------------------------

const char* CamBayer::_name() {
    return name_.c_str();
}
int CamBayer::_body() {
    return sensor_.bodyLen;
}
int CamBayer::_head() {
    return sensor_.headLen;
}
int CamBayer::_state() {
    return link_.state();
}
void CamBayer::_set_state(int value) {
    link_.setState(value);
}
int CamBayer::_idproduct() {
    return link_.product();
}
int CamBayer::_idvendor() {
    return link_.vendor();
}
int CamBayer::_bcddevice() {
    return link_.release();
}
int CamBayer::_bcdusb() {
    return link_.bcdUsb();
}
int CamBayer::_channles() {
    return sensor_.channels;
}
int CamBayer::_bayer() {
    return sensor_.bayerPattern;
}

void CamBayer::setDisplayName(const std::string& display, int& counter) {
    modelName_ = display;
    name_ = display;
    // One character, '0' + counter, while that is printable ASCII; past '~'
    // the byte would leave ASCII and at 256 wrap to NUL, cutting the name
    // short in C and colliding with another camera's, so the count follows
    // in decimal instead.
    if (counter >= 0 && '0' + counter <= '~')
        name_.push_back(static_cast<char>('0' + counter));
    else
        name_ += "~" + std::to_string(counter);
    ++counter;
}

// ---- USB transport -------------------------------------------------------

int CamBayer::__open_driver(std::shared_ptr<usb::Device> device) {
    auto lock = lockSettings();
    if (!device) return EZ_EIO;
    if (link_.open(std::move(device)) != EZ_OK) return EZ_EIO;
    sensor_.release = link_.release();
    _claim_device();
    if (sensor_.quirks.skipsVersionAtOpen) {
        ezlog::info("%0x %0x", link_.product(), link_.vendor());
    } else {
        int version = 0;
        _versions(&version);
        firmwareVersion_ = version;
    }
    return EZ_OK;
}

int CamBayer::_sumbit_ctl_urb(uint32_t timeout, uint32_t attempts, EZURB* urb) {
    if (!urb) return static_cast<int>(usb::kError);
    return static_cast<int>(link_.control(*urb, timeout, attempts));
}

int CamBayer::_read_bulk_data(unsigned char* buffer, int length, int* received) {
    unsigned timeout = 0;
    {
        auto lock = lockSettings();
        timeout = reader_.timeoutMs();
    }
    return link_.bulkRead(buffer, length, received, timeout);
}

// A real sensor needs the pauses the protocol asks for (after a start, a
// stop, a mode change); a simulated one does not, so it is not slowed down.
int CamBayer::_delay(int milliseconds) {
    if (milliseconds > 0 && link_.needsPauses())
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return EZ_OK;
}

int CamBayer::_sensor_suspend() {
    EZURB stop{};
    SensorControl::buildRequest(stop, 0xbb, 0, 0);
    sensor_.sendRequest(stop);
    link_.setState(0);
    return EZ_OK;
}

int CamBayer::_extern_snap() {
    return features_.externalSnap();
}

// ---- Sensor control ------------------------------------------------------

int CamBayer::_default() {
    _set_analog_gain(sensor_.analogGain.def);
    _set_pixsclock(sensor_.pixelClock.def);
    _set_blacklevel(sensor_.blackLevel.def);
    return EZ_OK;
}
int CamBayer::_set_resolution(int index, bool sendNow) {
    return sensor_.setResolution(index, sendNow);
}
int CamBayer::_resolution() {
    return sensor_.resolution.value;
}
int CamBayer::_resolution_count() {
    return sensor_.resolution.max;
}
const char* CamBayer::_resolution_string_at_index(int index) {
    const ResolutionEntry* entry = sensor_.resolutionEntry(index);
    return entry ? entry->label : nullptr;
}
int CamBayer::_resolution_width_at_index(int index) {
    const ResolutionEntry* entry = sensor_.resolutionEntry(index);
    return entry ? entry->width - 8 : EZ_ERANGE;
}
int CamBayer::_resolution_height_at_index(int index) {
    const ResolutionEntry* entry = sensor_.resolutionEntry(index);
    return entry ? entry->height - 8 : EZ_ERANGE;
}
int CamBayer::_set_pixsclock(int index) {
    return sensor_.setPixelClock(index);
}
int CamBayer::_pixsclock() {
    return sensor_.pixelClock.value;
}
int CamBayer::_pixsclock_count() {
    return sensor_.pixelClock.max;
}
const char* CamBayer::_pixsclock_string_at_index(int index) {
    const PixelClockEntry* entry = sensor_.clockEntry(index);
    return entry ? entry->label : nullptr;
}
int CamBayer::_set_analog_gain(int gain) {
    return sensor_.setAnalogGain(gain);
}
int CamBayer::_analog_gain_range(int* min, int* max, int* step) {
    if (min) *min = sensor_.analogGain.min;
    if (max) *max = sensor_.analogGain.max;
    if (step) *step = sensor_.analogGain.step;
    return EZ_OK;
}
int CamBayer::_analog_gain() {
    return sensor_.analogGain.value;
}
void CamBayer::_retime() {
    sensor_.retime();
}
int CamBayer::_set_exposure(float milliseconds) {
    return sensor_.setExposure(milliseconds);
}
int CamBayer::_exposure_range(float* min, float* max, float* step) {
    return sensor_.exposureRange(min, max, step);
}
float CamBayer::_exposure() {
    return sensor_.exposureMs();
}
int CamBayer::_restart_exposure() {
    return sensor_.restartExposure();
}
int CamBayer::_restart_state() {
    return sensor_.restartState();
}
int CamBayer::_raw_size(int* width, int* height) {
    int w = 0;
    int h = 0;
    sensor_.frameSize(w, h);
    if (pipeline_.rotate == 1 || pipeline_.rotate == 2) std::swap(w, h);
    if (width) *width = w;
    if (height) *height = h;
    return EZ_OK;
}
int CamBayer::_raw_depth_state(int clock) {
    return depthState(clock, sensor_.resolution.value);
}
int CamBayer::_raw_depth() {
    return sensor_.rawDepth.value;
}
int CamBayer::_set_raw_depth(int bits) {
    return sensor_.setRawDepth(bits);
}
int CamBayer::_set_blacklevel(int level) {
    return sensor_.setBlackLevel(level);
}
int CamBayer::_blacklevel() {
    return sensor_.blackLevel.value;
}
int CamBayer::_blacklevel_range(int* min, int* max, int* step) {
    const SensorSetting& level = sensor_.blackLevel;
    if (!level.supported) return EZ_ENOTSUP;
    if (min) *min = level.min;
    if (max) *max = level.max;
    if (step) *step = level.step;
    return EZ_OK;
}
int CamBayer::_set_roi(int x, int y, int width, int height) {
    return sensor_.setRegion(x, y, width, height);
}
int CamBayer::_roi(int* x, int* y, int* width, int* height) {
    return sensor_.region(x, y, width, height);
}
int CamBayer::_set_roi_state(bool on) {
    return sensor_.setRegionState(on);
}
int CamBayer::_roi_state(bool* on) {
    if (on) *on = sensor_.regionOn();
    return EZ_OK;
}

// ---- The base versions of the model steps ---------------------------------

int CamBayer::depthState(int clock, int resolutionIndex) {
    return sensor_.depthState(clock, resolutionIndex);
}
void CamBayer::sendModeRequest() {
    sensor_.sendRequest(sensor_.resolution.urb);
}

// ---- Product features --------------------------------------------------------

int CamBayer::_set_edge_inhibition(bool on) {
    return features_.setEdgeInhibition(on);
}
int CamBayer::_edge_inhibition(bool* on) {
    return features_.edgeInhibition(on);
}
int CamBayer::_set_gpio(int line, bool on) {
    return features_.setGpio(line, on);
}
int CamBayer::_gpio(int line, bool* on) {
    return features_.gpio(line, on);
}
int CamBayer::_set_cooled(bool on) {
    return features_.setCooled(on);
}
int CamBayer::_cooled(bool* on) {
    return features_.cooled(on);
}
int CamBayer::_temperature(float* celsius) {
    return features_.temperature(celsius);
}
int CamBayer::_set_sharpness(int value) {
    return features_.setSharpness(value);
}
int CamBayer::_sharpness() {
    return features_.sharpness();
}
int CamBayer::_sharpness_range(int* min, int* max, int* step) {
    return features_.sharpnessRange(min, max, step);
}
int CamBayer::_set_denoise(int value) {
    return features_.setDenoise(value);
}
int CamBayer::_denoise() {
    return features_.denoise();
}
int CamBayer::_denoise_range(int* min, int* max, int* step) {
    return features_.denoiseRange(min, max, step);
}
int CamBayer::_set_hdr(bool on) {
    return features_.setHdr(on);
}
int CamBayer::_hdr(bool* on) {
    return features_.hdr(on);
}
int CamBayer::_set_shift_operator(int value) {
    return features_.setShiftOperator(value);
}
int CamBayer::_shift_operator() {
    return features_.shiftOperator();
}
int CamBayer::_shift_operator_range(int* min, int* max, int* step) {
    return features_.shiftOperatorRange(min, max, step);
}

// ---- Not offered by the base camera --------------------------------------

int CamBayer::_set_filter(bool) {
    return EZ_ENOTSUP;
}
int CamBayer::_get_filter(bool* on) {
    if (on) *on = false;
    return EZ_ENOTSUP;
}
int CamBayer::_white_balance(bool*) {
    return EZ_ENOTSUP;
}
int CamBayer::_update_firmware(std::string) {
    return EZ_ENOTSUP;
}
// Only the models with a black-field reference take one.
void CamBayer::_blackfield() {}
