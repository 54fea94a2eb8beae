// The operations a product offers that are one request or register write.
#include <algorithm>

#include "camera/product_features.h"

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
constexpr uint16_t kOutputCode = 0x5f;  // + pin: the output's code in the low byte
constexpr int kOutputs = 3;
constexpr uint16_t kTriggerRelease = 0xb002;  // the only hardware with a trigger query
}  // namespace

void ProductFeatures::adopt(const Features& features) {
    features_ = features;
    sharpness_ = features.sharpness.initial;
    denoise_ = features.denoise.initial;
}

void ProductFeatures::sendSwitch(uint16_t value, uint16_t index) {
    EZURB urb{};
    SensorControl::buildRequest(urb, kRequestSwitch, value, index);
    sensor_.sendRequest(urb);
}

int ProductFeatures::readStatus(unsigned char (&reply)[64], uint32_t* received) {
    EZURB query{};
    query.requestType = 0xc0;
    query.request = 0xb6;
    query.value = 0;
    query.index = 1;
    query.length = sizeof reply;
    query.data = reply;
    const int status = ops_._sumbit_ctl_urb(1000, 1, &query);
    if (received) *received = query.lengthDone;
    return status;
}

int ProductFeatures::externalSnap() {
    if (sensor_.release != kTriggerRelease) return 0;
    unsigned char reply[64] = {};
    uint32_t received = 0;
    readStatus(reply, &received);
    return reply[2] == 0xcc ? 1 : 0;
}

// ---- Cooler and edge inhibition ----------------------------------------------------

int ProductFeatures::setEdgeInhibition(bool on) {
    if (!features_.edgeInhibition) return EZ_ENOTSUP;
    edgeInhibitionState = on ? kEdgeInhibitionOn : 0;
    sendSwitch(static_cast<uint16_t>(edgeInhibitionState), kSwitchEdge);
    return EZ_OK;
}

int ProductFeatures::edgeInhibition(bool* on) const {
    if (!features_.edgeInhibition) return EZ_ENOTSUP;
    if (on) *on = edgeInhibitionState == kEdgeInhibitionOn;
    return EZ_OK;
}

int ProductFeatures::setCooled(bool on) {
    if (!features_.cooler) return EZ_ENOTSUP;
    coolerOn_ = on ? 1 : 0;
    sendSwitch(coolerOn_, kSwitchCooler);
    return EZ_OK;
}

int ProductFeatures::cooled(bool* on) const {
    if (!features_.cooler) return EZ_ENOTSUP;
    if (on) *on = coolerOn_ != 0;
    return EZ_OK;
}

// ---- General-purpose outputs ------------------------------------------------------

int ProductFeatures::setGpio(int pin, bool on) {
    if (!features_.gpio) return EZ_ENOTSUP;
    if (pin < 1 || pin > kOutputs) return EZ_ERANGE;
    gpioState_[pin - 1] = on ? 1 : 0;
    // Index 0: the output's code in the low byte, its state in the high one.
    sendSwitch(static_cast<uint16_t>((kOutputCode + pin) | (on ? 0x100 : 0)), 0);
    return EZ_OK;
}

int ProductFeatures::gpio(int pin, bool* on) const {
    if (!features_.gpio) return EZ_ENOTSUP;
    if (pin < 1 || pin > kOutputs) return EZ_ERANGE;
    if (on) *on = gpioState_[pin - 1] == 1;
    return EZ_OK;
}

// ---- Temperature -------------------------------------------------------------------

int ProductFeatures::temperature(float* celsius) {
    const Features& f = features_;
    if (!f.temperature || !f.temperatureReleases.contains(sensor_.release)) return EZ_ENOTSUP;
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

int ProductFeatures::setShiftOperator(int value) {
    const ShiftOperator& shift = features_.shift;
    if (shift.via == ShiftOperator::None) return EZ_ENOTSUP;
    if (shift.clampMax >= 0) value = std::clamp(value, 0, static_cast<int>(shift.clampMax));
    shiftOperator_ = value;
    if (shift.via == ShiftOperator::Switch)
        sendSwitch(static_cast<uint16_t>(value), shift.address);
    else
        sensor_.sendRegister(shift.address, static_cast<uint16_t>(value));
    return EZ_OK;
}

int ProductFeatures::shiftOperator() const {
    return features_.shift.via == ShiftOperator::None ? EZ_ENOTSUP : shiftOperator_;
}

int ProductFeatures::shiftOperatorRange(int* min, int* max, int* step) const {
    const ShiftOperator& shift = features_.shift;
    if (shift.via == ShiftOperator::None) return EZ_ENOTSUP;
    if (min) *min = 0;
    if (max) *max = shift.reportedMax;
    if (step) *step = 1;
    return EZ_OK;
}

// The in-camera settings take what they are given: their ranges are advice.
int ProductFeatures::setSharpness(int value) {
    const RegisterSetting& setting = features_.sharpness;
    if (!setting.reg) return EZ_ENOTSUP;
    sharpness_ = value;
    sensor_.sendRegister(setting.reg, static_cast<uint16_t>(value));
    return EZ_OK;
}
int ProductFeatures::sharpness() const {
    return features_.sharpness.reg ? sharpness_ : EZ_ENOTSUP;
}
int ProductFeatures::sharpnessRange(int* min, int* max, int* step) const {
    return registerRange(features_.sharpness, min, max, step);
}

int ProductFeatures::setDenoise(int value) {
    const RegisterSetting& setting = features_.denoise;
    if (!setting.reg) return EZ_ENOTSUP;
    denoise_ = value;
    sensor_.sendRegister(setting.reg, static_cast<uint16_t>(value));
    return EZ_OK;
}
int ProductFeatures::denoise() const {
    return features_.denoise.reg ? denoise_ : EZ_ENOTSUP;
}
int ProductFeatures::denoiseRange(int* min, int* max, int* step) const {
    return registerRange(features_.denoise, min, max, step);
}

int ProductFeatures::setHdr(bool on) {
    const uint16_t reg = features_.hdrRegister;
    if (!reg) return EZ_ENOTSUP;
    hdrOn_ = on ? 1 : 0;
    sensor_.sendRegister(reg, hdrOn_);
    return EZ_OK;
}

int ProductFeatures::hdr(bool* on) const {
    if (!features_.hdrRegister) return EZ_ENOTSUP;
    if (on) *on = hdrOn_ != 0;
    return EZ_OK;
}
