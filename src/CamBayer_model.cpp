// What a camera does by its product row: the claim-time choices, the order
// it resumes in, and the operations that are one request or register write
// (cooler, edge inhibition, outputs, temperature, shift operator and the
// in-camera settings). A product without the feature answers -4.
#include <algorithm>

#include "CamBayer.h"
#include "log.h"

namespace {
int registerRange(const RegisterSetting& setting, int* min, int* max, int* step) {
    if (!setting.reg) return EZ_ENOTSUP;
    if (min) *min = 0;
    if (max) *max = setting.max;
    if (step) *step = 1;
    return EZ_OK;
}

constexpr uint8_t kRequestSwitch = 0xb8;  // switches of the cooled cameras, by index
constexpr uint16_t kSwitchEdge = 0;
constexpr uint16_t kSwitchCooler = 1;
constexpr uint16_t kSwitchNewHardware = 2;
constexpr uint16_t kOutputCode = 0x5f;  // + pin: the output's code in the low byte
constexpr int kOutputs = 3;
}  // namespace

const Features& CamBayer::features() const {
    static const Features kNone;
    return productRow ? productRow->features : kNone;
}

void CamBayer::sendSwitch(uint16_t value, uint16_t index) {
    EZURB urb{};
    buildRequest(urb, kRequestSwitch, value, index);
    sendRequest(urb);
}

int CamBayer::sendRegister(uint16_t reg, uint16_t value) {
    EZURB urb{};
    buildRequest(urb, 0xb7, value, reg);
    return sendRequest(urb);
}

// ---- Claim and resume ----------------------------------------------------------

int CamBayer::_claim_device() {
    if (!productRow || productRow->claim.empty()) return EZ_OK;
    const ClaimRow& claim = pickClaim(productRow->claim, bcdDevice);
    if (claim.message) ezlog::info("%s", claim.message);
    applyModel(*claim.row);
    if (claim.newHardwareRequest) sendSwitch(1, kSwitchNewHardware);
    if (claim.coolerOnEdgeOff) _set_cooled(true);
    if (claim.readTemperature) {
        float celsius = 0.0f;
        _temperature(&celsius);
    }
    if (claim.coolerOnEdgeOff) _set_edge_inhibition(false);
    return EZ_OK;
}

int CamBayer::_sensor_resume() {
    static constexpr ResumeStep kBase[] = {
        {ResumeStep::Start}, {ResumeStep::Pause, 300}, {ResumeStep::Depth},     {ResumeStep::Clock},
        {ResumeStep::Gain},  {ResumeStep::BlackLevel}, {ResumeStep::Resolution}};
    const std::span<const ResumeStep> steps = productRow && !productRow->resume.empty()
                                                  ? productRow->resume
                                                  : std::span<const ResumeStep>(kBase);
    bool streaming = false;
    for (const ResumeStep& step : steps) {
        if (!streaming && step.kind != ResumeStep::Start) {
            shared::store(state, 1);
            streaming = true;
        }
        switch (step.kind) {
            case ResumeStep::Start: {
                EZURB start{};
                buildRequest(start, 0xba, 0, 0);
                sendRequest(start);
                break;
            }
            case ResumeStep::Acknowledge:
                sendRequest(urbFrameRequest);
                break;
            case ResumeStep::Depth:
                _set_raw_depth(rawDepth.value);
                break;
            case ResumeStep::Clock:
                _set_pixsclock(pixelClock.value);
                break;
            case ResumeStep::Gain:
                _set_analog_gain(analogGain.value);
                break;
            case ResumeStep::BlackLevel:
                _set_blacklevel(blackLevel.value);
                break;
            case ResumeStep::Resolution:
                _set_resolution(resolution.value, true);
                break;
            case ResumeStep::Exposure:
                // The register writes last built, in case no step above sent them.
                if (exposure.urb.request) sendRequest(exposure.urb);
                if (longExposure.urb.request) sendRequest(longExposure.urb);
                break;
            case ResumeStep::Pause:
                _delay(step.pauseMs);
                break;
        }
    }
    if (!streaming) shared::store(state, 1);
    return EZ_OK;
}

// ---- Cooler and edge inhibition ----------------------------------------------------

int CamBayer::_set_edge_inhibition(bool on) {
    if (!features().edgeInhibition) return EZ_ENOTSUP;
    edgeInhibition = on ? kEdgeInhibitionOn : 0;
    sendSwitch(static_cast<uint16_t>(edgeInhibition), kSwitchEdge);
    return EZ_OK;
}

int CamBayer::_edge_inhibition(bool* on) {
    if (!features().edgeInhibition) return EZ_ENOTSUP;
    if (on) *on = edgeInhibition == kEdgeInhibitionOn;
    return EZ_OK;
}

int CamBayer::_set_cooled(bool on) {
    if (!features().cooler) return EZ_ENOTSUP;
    coolerOn = on ? 1 : 0;
    sendSwitch(coolerOn, kSwitchCooler);
    return EZ_OK;
}

int CamBayer::_cooled(bool* on) {
    if (!features().cooler) return EZ_ENOTSUP;
    if (on) *on = coolerOn != 0;
    return EZ_OK;
}

// ---- General-purpose outputs ------------------------------------------------------

int CamBayer::_set_gpio(int pin, bool on) {
    if (!features().gpio) return EZ_ENOTSUP;
    if (pin < 1 || pin > kOutputs) return EZ_ERANGE;
    gpioState[pin - 1] = on ? 1 : 0;
    // Index 0: the output's code in the low byte, its state in the high one.
    sendSwitch(static_cast<uint16_t>((kOutputCode + pin) | (on ? 0x100 : 0)), 0);
    return EZ_OK;
}

int CamBayer::_gpio(int pin, bool* on) {
    if (!features().gpio) return EZ_ENOTSUP;
    if (pin < 1 || pin > kOutputs) return EZ_ERANGE;
    if (on) *on = gpioState[pin - 1] == 1;
    return EZ_OK;
}

// ---- Temperature -------------------------------------------------------------------

int CamBayer::_temperature(float* celsius) {
    const Features& f = features();
    if (!f.temperature || !f.temperatureReleases.contains(bcdDevice)) return EZ_ENOTSUP;
    unsigned char reply[64] = {};
    uint32_t received = 0;
    // A failed (a stall is cleared by the transfer) or short answer carries
    // no reading: -3, and the value stays as it was. Answering 0 would hand
    // out whatever the reply held as a measured temperature; so on every
    // model that reads one, the 2048 x 2048 camera included.
    if (readStatus(reply, &received) != 0 || received < 2) return EZ_EIO;
    const auto n = static_cast<int16_t>(reply[0] | (reply[1] << 8));
    if (celsius) {
        if (n >= 0) {
            *celsius = 0.5f * n;
        } else {
            // Below zero the reading is the low byte, two's complement, in
            // 0.625-degree steps.
            const int m = -(static_cast<int>(n) | 0x7f00);
            *celsius = static_cast<float>(m * -0.5 * 5 * 0.25);
        }
    }
    return EZ_OK;
}

// ---- Shift operator and the in-camera settings ----------------------------------------

int CamBayer::_set_shift_operator(int value) {
    const ShiftOperator& shift = features().shift;
    if (shift.via == ShiftOperator::None) return EZ_ENOTSUP;
    if (shift.clampMax >= 0) value = std::clamp(value, 0, static_cast<int>(shift.clampMax));
    shiftOperator = value;
    if (shift.via == ShiftOperator::Switch)
        sendSwitch(static_cast<uint16_t>(value), shift.address);
    else
        sendRegister(shift.address, static_cast<uint16_t>(value));
    return EZ_OK;
}

int CamBayer::_shift_operator() {
    return features().shift.via == ShiftOperator::None ? EZ_ENOTSUP : shiftOperator;
}

int CamBayer::_shift_operator_range(int* min, int* max, int* step) {
    const ShiftOperator& shift = features().shift;
    if (shift.via == ShiftOperator::None) return EZ_ENOTSUP;
    if (min) *min = 0;
    if (max) *max = shift.reportedMax;
    if (step) *step = 1;
    return EZ_OK;
}

// The in-camera settings take what they are given: their ranges are advice.
int CamBayer::_set_sharpness(int value) {
    const RegisterSetting& setting = features().sharpness;
    if (!setting.reg) return EZ_ENOTSUP;
    sharpnessValue = value;
    sendRegister(setting.reg, static_cast<uint16_t>(value));
    return EZ_OK;
}
int CamBayer::_sharpness() {
    return features().sharpness.reg ? sharpnessValue : EZ_ENOTSUP;
}
int CamBayer::_sharpness_range(int* min, int* max, int* step) {
    return registerRange(features().sharpness, min, max, step);
}

int CamBayer::_set_denoise(int value) {
    const RegisterSetting& setting = features().denoise;
    if (!setting.reg) return EZ_ENOTSUP;
    denoiseValue = value;
    sendRegister(setting.reg, static_cast<uint16_t>(value));
    return EZ_OK;
}
int CamBayer::_denoise() {
    return features().denoise.reg ? denoiseValue : EZ_ENOTSUP;
}
int CamBayer::_denoise_range(int* min, int* max, int* step) {
    return registerRange(features().denoise, min, max, step);
}

int CamBayer::_set_hdr(bool on) {
    const uint16_t reg = features().hdrRegister;
    if (!reg) return EZ_ENOTSUP;
    hdrOn = on ? 1 : 0;
    sendRegister(reg, hdrOn);
    return EZ_OK;
}

int CamBayer::_hdr(bool* on) {
    if (!features().hdrRegister) return EZ_ENOTSUP;
    if (on) *on = hdrOn != 0;
    return EZ_OK;
}
