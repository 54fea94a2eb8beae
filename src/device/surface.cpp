// The named-camera call surface: each function finds its camera by name and
// runs one camera operation, or returns its not-found result.
#include <algorithm>
#include <cmath>
#include <string>
#include <type_traits>

#include "calibration/colour_fit.h"
#include "camera/cam_bayer.h"
#include "device/registry.h"
#include "ezcam.h"
#include "guarded.h"
#include "log.h"
#include "sim/sim_bus.h"

namespace {
// Runs op on the named camera with its settings locked; notFound without one.
// When op throws: EZ_EIO where notFound is a status, otherwise notFound again
// (a size, a name, the exposure: the caller sees no value).
template <typename Op, typename R = std::invoke_result_t<Op&, CamBayer&>>
R call(const char* name, std::type_identity_t<R> notFound, Op&& op,
       const char* where = __builtin_FUNCTION()) {
    R failure = notFound;
    if constexpr (std::is_same_v<R, int>)
        if (notFound < 0) failure = EZ_EIO;
    return ezcam::guarded(
        failure,
        [&]() -> R {
            std::shared_ptr<CamBayer> camera = ezcam::findCamera(name);
            if (!camera) return notFound;
            auto lock = camera->lockSettings();
            return op(*camera);
        },
        where);
}

template <typename Op>
void run(const char* name, Op&& op, const char* where = __builtin_FUNCTION()) {
    ezcam::guarded(
        [&] {
            std::shared_ptr<CamBayer> camera = ezcam::findCamera(name);
            if (!camera) return;
            auto lock = camera->lockSettings();
            op(*camera);
        },
        where);
}

// Runs op on the named camera without its settings lock: for calls that
// keep their own state (calibration) and may take long.
template <typename Op>
int unlocked(const char* name, Op&& op, const char* where = __builtin_FUNCTION()) {
    return ezcam::guarded(
        EZ_EIO,
        [&]() -> int {
            std::shared_ptr<CamBayer> camera = ezcam::findCamera(name);
            return camera ? op(*camera) : EZ_ENOCAM;
        },
        where);
}

// A text into a caller's buffer of `length` bytes: at most length - 1 bytes
// and a terminator; EZ_ERANGE when it did not fit or there is no buffer.
int copyText(const std::string& value, char* out, int length) {
    if (!out || length < 1) return EZ_ERANGE;
    const size_t n = std::min(value.size(), static_cast<size_t>(length - 1));
    value.copy(out, n);
    out[n] = '\0';
    return n == value.size() ? EZ_OK : EZ_ERANGE;
}

bool validChannel(int channel) {
    return channel >= 0 && channel <= 2;
}
std::string text(const char* value) {
    return value ? value : "";
}
bool hasText(const char* value) {
    return value && *value;
}
}  // namespace

extern "C" {

// ---- Identity and buffer sizes ------------------------------------------------

int DataHeadLen(const char* name) {
    return call(name, 0, [](CamBayer& c) { return c._head(); });
}
int RecvMemSize(const char* name) {
    return call(name, 0, [](CamBayer& c) { return c._body(); });
}
int DeviceState(const char* name) {
    return call(name, 0, [](CamBayer& c) { return c._state(); });
}
int DeviceProduct(const char* name) {
    return call(name, 0, [](CamBayer& c) { return c._idproduct(); });
}
int DeviceVendor(const char* name) {
    return call(name, 0, [](CamBayer& c) { return c._idvendor(); });
}
int DeviceBcd(const char* name) {
    return call(name, 0, [](CamBayer& c) { return c._bcddevice(); });
}
int USBBcd(const char* name) {
    return call(name, 0, [](CamBayer& c) { return c._bcdusb(); });
}
int DeviceVersion(const char* name) {
    return call(name, 0, [](CamBayer& c) {
        int version = 0;
        c._versions(&version);
        return version;
    });
}

// ---- Resolution and pixel clock ------------------------------------------------

int SetResolution(int index, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_resolution(index, false); });
}
int GetResolution(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._resolution(); });
}
int GetResolutionCount(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._resolution_count(); });
}
const char* GetResItemName(int index, const char* name) {
    return call(name, static_cast<const char*>(nullptr),
                [&](CamBayer& c) { return c._resolution_string_at_index(index); });
}
int GetResWidth(int index, const char* name) {
    return call(name, EZ_ERANGE, [&](CamBayer& c) { return c._resolution_width_at_index(index); });
}
int GetResHeight(int index, const char* name) {
    return call(name, EZ_ERANGE, [&](CamBayer& c) { return c._resolution_height_at_index(index); });
}
int SetPixelclock(int index, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_pixsclock(index); });
}
int GetPixelclock(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._pixsclock(); });
}
int GetPixelclockCount(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._pixsclock_count(); });
}
const char* GetPixclkItemName(int index, const char* name) {
    return call(name, static_cast<const char*>(nullptr),
                [&](CamBayer& c) { return c._pixsclock_string_at_index(index); });
}

// ---- Raw format and frames ---------------------------------------------------------

int GetRawSize(int* width, int* height, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._raw_size(width, height); });
}
int GetRawDepth(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._raw_depth(); });
}
int SetRawDepth(int bits, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_raw_depth(bits); });
}
int GetRawDepthState(int pixel_clock, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._raw_depth_state(pixel_clock); });
}
// Frame reads lock the settings themselves, around everything but the bulk
// transfer; frame processing takes no settings lock (staged tables and
// switch bytes carry the settings to it). A suspended camera gives no frame
// and is not asked for one.
int GetRawData(unsigned char* buffer, int size, const char* name) {
    return GetRawDataInfo(buffer, size, nullptr, name);
}
int GetRawDataInfo(unsigned char* buffer, int size, EzFrameInfo* info, const char* name) {
    return ezcam::guarded(EZ_EIO, [&]() -> int {
        std::shared_ptr<CamBayer> camera = ezcam::findCamera(name);
        if (!camera) return EZ_ENOCAM;
        if (camera->suspended()) return EZ_EIO;
        return camera->rawDataInfo(buffer, size, info);
    });
}
int GetRawDataEx(EzFrameCallback callback, unsigned char* buffer, int size, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) {
        return buffer ? c._raw_data_asyn(callback, buffer, size) : EZ_ERANGE;
    });
}
int GetRawBayernPattern(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._bayer(); });
}
int GetImageChannles(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._channles(); });
}
// A raw buffer that is not an image record is -2: its fields would say how
// far to read.
int DecodeRaw2Image(unsigned char* raw, unsigned char* image, const char* name) {
    return ezcam::guarded(EZ_EIO, [&]() -> int {
        std::shared_ptr<CamBayer> camera = ezcam::findCamera(name);
        if (!camera) return EZ_ENOCAM;
        _ezImage record;
        if (!ezReadRecord(raw, &record)) return EZ_ERANGE;
        return camera->_raw2image(raw, image, true);
    });
}

// ---- Exposure, gain, black level ------------------------------------------------------

int GetAnaloggainRange(int* min, int* max, int* step, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._analog_gain_range(min, max, step); });
}
int GetAnaloggain(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._analog_gain(); });
}
int SetAnaloggain(int gain, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_analog_gain(gain); });
}
int GetExposureRange(float* min, float* max, float* step, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._exposure_range(min, max, step); });
}
float GetExposure(const char* name) {
    return call(name, -1.0f, [](CamBayer& c) { return c._exposure(); });
}
// NaN, infinities and negative times are no exposure: -2, nothing sent.
int SetExposure(float milliseconds, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) -> int {
        if (!std::isfinite(milliseconds) || milliseconds < 0.0f) return EZ_ERANGE;
        return c._set_exposure(milliseconds);
    });
}
int ResetSupport(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._restart_state(); });
}
int ResetDevice(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._restart_exposure(); });
}
int SetBlacklevel(int level, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_blacklevel(level); });
}
int GetBlacklevel(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._blacklevel(); });
}
int GetBlacklevelRange(int* min, int* max, int* step, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._blacklevel_range(min, max, step); });
}

// ---- Region of interest -----------------------------------------------------------------

int SetRoi(int x, int y, int width, int height, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_roi(x, y, width, height); });
}
int GetRoi(int* x, int* y, int* width, int* height, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._roi(x, y, width, height); });
}
int SetRoiState(bool on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_roi_state(on); });
}
int GetRoiState(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._roi_state(on); });
}

// ---- Information memory -----------------------------------------------------------------------

int WriteInf(char* buffer, int length, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._wmem_inf(buffer, length); });
}
int ReadInf(char* buffer, int length, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._rmem_inf(buffer, length); });
}

// ---- Model features -----------------------------------------------------------------------------

int SetEdgeInhibition(bool on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) -> int {
        if (c.sensorControl().quirks.refusesEdgeInhibition) return EZ_ENOTSUP;
        return c._set_edge_inhibition(on);
    });
}
int GetEdgeInhibition(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._edge_inhibition(on); });
}
int SetGpio(int line, bool on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_gpio(line, on); });
}
int Gpio(int line, bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._gpio(line, on); });
}
int SetCooled(bool on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_cooled(on); });
}
int GetCooled(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._cooled(on); });
}
int GetTemperature(float* celsius, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._temperature(celsius); });
}
int SetSharpness(int value, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_sharpness(value); });
}
int GetSharpness(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._sharpness(); });
}
int GetSharpnessRange(int* min, int* max, int* step, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._sharpness_range(min, max, step); });
}
int SetDenoise(int value, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_denoise(value); });
}
int GetDenoise(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._denoise(); });
}
int GetDenoiseRange(int* min, int* max, int* step, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._denoise_range(min, max, step); });
}
int SetHDR(bool on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_hdr(on); });
}
int GetHDR(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._hdr(on); });
}
int SetShiftOperator(int value, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_shift_operator(value); });
}
int GetShiftOperator(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._shift_operator(); });
}
int GetShiftOperatorRange(int* min, int* max, int* step, const char* name) {
    return call(name, EZ_ENOCAM,
                [&](CamBayer& c) { return c._shift_operator_range(min, max, step); });
}
int SetFilter(bool on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_filter(on); });
}
int GetFilter(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._get_filter(on); });
}

// ---- Tone and colour ---------------------------------------------------------------------------

void SetGamma(int value, const char* name) {
    run(name, [&](CamBayer& c) { c._set_gamma(value); });
}
int GetGamma(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._gamma(); });
}
int GetGammaRange(int* min, int* max, int* step, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._gamma_range(min, max, step); });
}
void SetGammaEx(int value, int channel, const char* name) {
    if (!validChannel(channel)) return;
    run(name, [&](CamBayer& c) { c._set_gamma(value, channel); });
}
int GetGammaEx(int channel, const char* name) {
    if (!validChannel(channel)) return EZ_ERANGE;
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._gamma(channel); });
}
int GetGammaRangeEx(int* min, int* max, int* step, int channel, const char* name) {
    if (!validChannel(channel)) return EZ_ERANGE;
    return call(name, EZ_ENOCAM,
                [&](CamBayer& c) { return c._gamma_range(min, max, step, channel); });
}
void SetContrast(int value, const char* name) {
    run(name, [&](CamBayer& c) { c._set_contrast(value); });
}
int GetContrast(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._contrast(); });
}
int GetContrastRange(int* min, int* max, int* step, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._contrast_range(min, max, step); });
}
int SetStretch(int low, int high, bool automatic, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_stretch(low, high, automatic); });
}
int GetStretch(int* low, int* high, bool* automatic, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._stretch(low, high, automatic); });
}
int GetStretchRange(int* min, int* max, int* step, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._stretch_range(min, max, step); });
}
int SetStretchEx(int low, int high, bool automatic, int channel, const char* name) {
    if (!validChannel(channel)) return EZ_ERANGE;
    return call(name, EZ_ENOCAM,
                [&](CamBayer& c) { return c._set_stretch(low, high, automatic, channel); });
}
int GetStretchEx(int* low, int* high, bool* automatic, int channel, const char* name) {
    if (!validChannel(channel)) return EZ_ERANGE;
    return call(name, EZ_ENOCAM,
                [&](CamBayer& c) { return c._stretch(low, high, automatic, channel); });
}
int GetStretchRangeEx(int* min, int* max, int* step, int channel, const char* name) {
    if (!validChannel(channel)) return EZ_ERANGE;
    return call(name, EZ_ENOCAM,
                [&](CamBayer& c) { return c._stretch_range(min, max, step, channel); });
}
void SetSaturation(int value, const char* name) {
    run(name, [&](CamBayer& c) { c._set_saturation(value); });
}
int GetSaturation(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._saturation(); });
}
int GetSaturationRange(int* min, int* max, int* step, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._saturation_range(min, max, step); });
}
void SetChannelGain(int gain0, int gain1, int gain2, const char* name) {
    run(name, [&](CamBayer& c) { c._set_digital_gain(gain0, gain1, gain2); });
}
int GetChannelGain(int* gain0, int* gain1, int* gain2, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._digital_gain(gain0, gain1, gain2); });
}
int GetChannelGainRange(int* min, int* max, int* step, const char* name) {
    return call(name, EZ_ENOCAM,
                [&](CamBayer& c) { return c._digital_gain_range(min, max, step); });
}
void SetMonochrome(bool on, const char* name) {
    run(name, [&](CamBayer& c) { c._set_monochrome(on); });
}
int GetMonochrome(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._monochrome(on); });
}
void SetColorEnhancement(bool on, const char* name) {
    run(name, [&](CamBayer& c) { c._set_color_enhancement(on); });
}
int GetColorEnhancement(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._color_enhancement(on); });
}
void SetHistogramState(bool on, const char* name) {
    run(name, [&](CamBayer& c) { c._set_histogram(on); });
}
int GetHistogramState(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._histogram(on); });
}

// ---- Geometry
// ------------------------------------------------------------------------------------------

void SetFlip(int code, const char* name) {
    run(name, [&](CamBayer& c) { c._set_flip(code); });
}
int GetFlip(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._flip(); });
}
void SetRotate(int code, const char* name) {
    run(name, [&](CamBayer& c) { c._set_rotate(code); });
}
int GetRotate(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._rotate(); });
}

// ---- Calibration
// -----------------------------------------------------------------------------------------

int GetFlatfieldState(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._ff_state(on); });
}
void SetFlatfieldState(bool on, const char* name) {
    run(name, [&](CamBayer& c) { c._set_ff_state(on); });
}
// The camera's frame operations refuse a buffer that is not a usable raw
// record with -2 (the same record check as every buffer call).
int CalcFlatfield(unsigned char* raw, bool flag, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._calc_flat_field(raw, flag); });
}
void CalcDefectCorrection(const char* name) {
    run(name, [](CamBayer& c) { c._calc_defect_correction(); });
}
int SetDefectCorrectionState(bool on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_dc_state(on); });
}
int GetDefectCorrectionState(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._dc_state(on); });
}
void CalcBlackField(const char* name) {
    run(name, [](CamBayer& c) { c._blackfield(); });
}
int SetBlackFieldState(bool on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._set_blackfield_state(on); });
}
int GetBlackFieldState(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._blackfield_state(on); });
}

// ---- Calibration masters -----------------------------------------------------------

int SetCalibrationState(bool on, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int {
        c.calibration().setOn(on);
        return EZ_OK;
    });
}
int GetCalibrationState(bool* on, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int {
        if (on) *on = c.calibration().on();
        return EZ_OK;
    });
}
int SetCalibrationLibrary(const char* directory, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int {
        c.calibration().setDirectory(directory);
        return EZ_OK;
    });
}
int SetCalibrationMatch(const char* flat_label, float temperature_tolerance, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int {
        if (!(temperature_tolerance >= 0)) return EZ_ERANGE;
        c.calibration().setMatch(text(flat_label), temperature_tolerance);
        return EZ_OK;
    });
}
int GetCalibrationLibrary(char* directory, int length, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int { return copyText(c.calibration().directory(), directory, length); });
}
int GetCalibrationMaster(int kind, char* path, int length, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int {
        const std::optional<calib::Kind> k = calib::kindOf(kind);
        if (!k) return EZ_ERANGE;
        // Chosen for the latest frame, also when no frame was processed since.
        if (const std::optional<calib::Conditions> now = c.latestConditions())
            c.calibration().tablesFor(*now);
        return copyText(c.calibration().inUse(*k), path, length);
    });
}
int GetCalibrationReport(char* report, int length, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int {
        return copyText(c.calibration().report(c.latestConditions()), report, length);
    });
}
int BeginMaster(int kind, const char* label, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int {
        const std::optional<calib::Kind> k = calib::kindOf(kind);
        return k ? c.calibration().begin(*k, text(label)) : EZ_ERANGE;
    });
}
int AddMasterFrame(const unsigned char* raw, const EzFrameInfo* info, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int {
        if (!raw || !info) return EZ_ERANGE;
        return c.calibration().add(reinterpret_cast<const _ezImage*>(raw), c.conditionsOf(*info));
    });
}
// The path buffer carries the reason on every failure, also when no camera
// has the name or the call fails inside the library.
int FinishMaster(char* path, int length, const char* name) {
    std::string why;
    bool stored = false;
    const int result = unlocked(name, [&](CamBayer& c) -> int {
        std::string file;
        const int status = c.calibration().finish(file, why);
        if (status != EZ_OK) return status;
        stored = true;
        return path ? copyText(file, path, length) : EZ_OK;
    });
    if (stored) return result;
    return ezcam::guarded(result, [&]() -> int {
        if (why.empty())
            why = result == EZ_ENOCAM ? "No camera is called '" + text(name) + "'."
                                      : "The master could not be made: the library failed inside it (see the log).";
        copyText(why, path, length);
        return result;
    });
}

// ---- Colour profiles ------------------------------------------------------------

int SaveColorProfile(const char* profile, const double* matrix, char* path, int length, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int {
        if (!matrix) return EZ_ERANGE;
        calib::ColourProfile p;
        p.model = c.modelName();
        p.name = hasText(profile) ? profile : "default";
        for (size_t i = 0; i < 9; ++i) {
            if (!std::isfinite(matrix[i]) || std::fabs(matrix[i]) > 16) return EZ_ERANGE;
            p.matrix[i] = matrix[i];
        }
        if (p.name == "off" || !calib::usableName(p.name)) return EZ_ERANGE;
        std::string file, error;
        if (!calib::writeProfile(p, file, error)) {
            ezlog::warn("%s", error.c_str());
            return EZ_EIO;
        }
        return path ? copyText(file, path, length) : EZ_OK;
    });
}
int SetColorProfile(const char* profile, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int {
        const std::string wanted = text(profile);
        if (wanted.empty() || wanted == "off") {
            c.pipeline().setColourProfile(nullptr);
            return EZ_OK;
        }
        calib::ColourProfile p;
        std::string error;
        if (!calib::readProfile(c.modelName(), wanted, p, error)) {
            ezlog::warn("%s", error.c_str());
            return EZ_ERANGE;
        }
        c.pipeline().setColourProfile(std::make_shared<const calib::ProfileMatrix>(calib::ProfileMatrix::of(p)));
        return EZ_OK;
    });
}
int GetColorProfiles(char* names, int length, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int {
        std::string text;
        for (const std::string& n : calib::profileNames(c.modelName())) text += n + "\n";
        return copyText(text, names, length);
    });
}
int GetColorProfile(char* profile, int length, const char* name) {
    return unlocked(name, [&](CamBayer& c) -> int {
        const auto matrix = c.pipeline().colourProfileInUse();
        return copyText(matrix ? matrix->name : std::string(), profile, length);
    });
}

// Built on the calls above: it takes no lock of its own beyond theirs, so
// setters and the frame reads it makes take turns as any program's do.
int CalcColorProfile(const __IMG_RECT* chart, const char* profile, int frames, EzColorProgress progress,
                     void* user, EzColorFit* fit, const char* name) {
    if (!fit) return EZ_ERANGE;
    *fit = EzColorFit{};
    std::string why;
    const int result = ezcam::guarded(EZ_EIO, [&]() -> int {
        return colourfit::calibrate(name, chart, text(profile), frames, progress, user, *fit, why);
    });
    if (result != EZ_OK)
        copyText(why.empty() ? "The calibration failed inside the library (see the log)." : why, fit->why,
                 sizeof fit->why);
    return result;
}

// ---- Automatic exposure and white balance
// ------------------------------------------------------------------

int CalcWhiteBalance(unsigned char* frame, __IMG_RECT* rect, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._calc_white_balance(frame, rect); });
}
int GetWhiteBalanceState(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._white_balance(on); });
}
void SetAutoExposure(bool on, const char* name) {
    run(name, [&](CamBayer& c) { c._set_autoexposure(on); });
}
int GetAutoExposure(bool* on, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._autoexposure(on); });
}
void SetAETarget(int target, const char* name) {
    run(name, [&](CamBayer& c) { c._set_aetarget(target); });
}
int GetAETarget(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) { return c._aetarget(); });
}
int GetAETargetRange(int* min, int* max, int* step, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._aetarget_range(min, max, step); });
}

// ---- Fluorescence guide
// ------------------------------------------------------------------------------------------

int FluorescenceGuide(int type, int value, const char* name) {
    if (type < 0 || type > 2) return EZ_ERANGE;
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._fluorescence_guide(type, value); });
}

// ---- Still capture, files, firmware
// ---------------------------------------------------------------------------------

void SetImageFormat(int format, const char* name) {
    run(name, [&](CamBayer& c) { c._set_snap_format(format); });
}
int GetImageFormat(int* format, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._snap_format(format); });
}
int SaveImage(const char* path, int resolution, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) { return c._saveimage(text(path), resolution); });
}
int SaveFile(unsigned char* buffer, const char* path, int format, const char* name) {
    return call(name, EZ_ENOCAM,
                [&](CamBayer& c) { return c._savefile(buffer, text(path), format); });
}
int SaveImageEx(const char* path, int resolution, EzSnapCallback callback, const char* name) {
    return call(name, EZ_ENOCAM, [&](CamBayer& c) {
        return c._callback_save_iamge(text(path), resolution, callback);
    });
}
int UpdateFirmware(const char* file, const char* name) {
    return call(name, EZ_ENOCAM,
                [&](CamBayer& c) { return hasText(file) ? c._update_firmware(file) : EZ_ERANGE; });
}

// ---- Parameter sets
// ------------------------------------------------------------------------------------------------------

int GetCurrentConfiguration(const char* name) {
    return call(name, EZ_ENOCAM,
                [](CamBayer& c) { return c._current_params(ezcam::documentDirectory()); });
}
// Both report what the set operation met: -2 an index outside 0..25, -3 no
// directory, or a set that could not be written or read whole (loading then
// leaves the camera as it was). A set's values outside this camera's ranges
// are brought into them, not refused.
int SaveConfiguration(int index, const char* name) {
    return call(name, EZ_ENOCAM,
                [&](CamBayer& c) { return c._save_params(index, ezcam::documentDirectory()); });
}
int LoadConfiguration(int index, const char* name) {
    return call(name, EZ_ENOCAM,
                [&](CamBayer& c) { return c._load_params(index, ezcam::documentDirectory()); });
}
int SetDefaultConfiguration(const char* name) {
    return call(name, EZ_ENOCAM, [](CamBayer& c) {
        c._set_autoexposure(false);
        c._set_raw_depth(8);
        c._set_contrast(128);
        c._set_flip(0);
        c._set_monochrome(false);
        c._set_saturation(100);
        for (int channel = 0; channel < c._channles(); ++channel) c._set_gamma(100, channel);
        return c._default();
    });
}

int SimCameraId(const char* name) {
    return ezcam::guarded(EZ_ENOCAM, [&]() -> int {
        std::shared_ptr<CamBayer> camera = ezcam::findCamera(name);
        if (!camera || !camera->link().device()) return EZ_ENOCAM;
        return sim::simBus().idOf(camera->link().device());
    });
}

}  // extern "C"
