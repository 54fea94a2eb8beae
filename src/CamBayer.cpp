// CamBayer: construction, destruction, identity, the operations the base
// camera does not offer, and the helpers its models share.
#include "CamBayer.h"

#include <algorithm>
#include <cstring>


CamBayer::CamBayer() {
    rawDepth.value = 8;
    rawDepth.min = 8;
    rawDepth.max = 16;
    rawDepth.step = 8;
    rawDepth.def = 8;
    blackLevel.max = 255;
    blackLevel.step = 1;
    buildRequest(urbFrameRequest, 0xb3, 0, 0);
    buildRequest(urbRoiOrigin, 0xbd, 0, 0);
    buildRequest(urbRoiSize, 0xbe, 0, 0);
    aeTarget.define(110, 60, 180, 1, true);
}

CamBayer::~CamBayer() {
    if (state == 1) {
        EZURB stop{};
        buildRequest(stop, 0xbb, 0, 0);
        sendRequest(stop);
        shared::store(state, 0);
    }
    usbInterface.reset();
    if (usbDevice) usbDevice->close();
    usbDevice.reset();
}

// ---- Identity ----------------------------------------------------------

const char* CamBayer::_name() {
    return name.c_str();
}
int CamBayer::_body() {
    return bodyLen;
}
int CamBayer::_head() {
    return headLen;
}
int CamBayer::_state() {
    return shared::load(state);
}
void CamBayer::_set_state(int value) {
    shared::store(state, value);
}
int CamBayer::_idproduct() {
    return idProduct;
}
int CamBayer::_idvendor() {
    return idVendor;
}
int CamBayer::_bcddevice() {
    return bcdDevice;
}
int CamBayer::_bcdusb() {
    return bcdUsb;
}
int CamBayer::_channles() {
    return channels;
}
int CamBayer::_bayer() {
    return bayerPattern;
}

// ---- Not offered by the base camera --------------------------------------

int CamBayer::_set_filter(bool) {
    return -4;
}
int CamBayer::_get_filter(bool* on) {
    if (on) *on = false;
    return -4;
}
int CamBayer::_white_balance(bool*) {
    return -4;
}
int CamBayer::_update_firmware(std::string) {
    return -4;
}
// Only the models with a black-field reference take one.
void CamBayer::_blackfield() {}

// ---- Helpers for models ----------------------------------------------------

const ResolutionEntry* CamBayer::resolutionEntry(int index) const {
    const auto* table = static_cast<const ResolutionEntry*>(resolution.table);
    if (!table || index < 0 || index >= resolution.max) return nullptr;
    return &table[index];
}

const PixelClockEntry* CamBayer::clockEntry(int index) const {
    const auto* table = static_cast<const PixelClockEntry*>(pixelClock.table);
    if (!table || index < 0 || index >= pixelClock.max) return nullptr;
    return &table[index];
}

void CamBayer::buildRequest(EZURB& urb, uint8_t request, uint16_t value, uint16_t index) {
    urb = EZURB{};
    urb.requestType = 0x40;
    urb.request = request;
    urb.value = value;
    urb.index = index;
}

int CamBayer::sendRequest(EZURB& urb) {
    return _sumbit_ctl_urb(1000, 1, &urb);
}

int CamBayer::writeRegister(SensorSetting& setting, uint16_t reg, uint16_t value) {
    buildRequest(setting.urb, 0xb7, value, reg);
    return sendRequest(setting.urb);
}

int CamBayer::applyAnalogGain(int gain, uint16_t (*toRegister)(int gain)) {
    gain = std::clamp(gain, static_cast<int>(analogGain.min),
                      std::max(static_cast<int>(analogGain.min), static_cast<int>(analogGain.max)));
    writeRegister(analogGain, regAnalogGain, toRegister(gain));
    analogGain.value = static_cast<uint16_t>(gain);
    return 0;
}

void CamBayer::setDisplayName(const std::string& display, int& counter) {
    modelName = display;
    name = display;
    // One character, '0' + counter, while that is printable ASCII; past '~'
    // the byte would leave ASCII and at 256 wrap to NUL, cutting the name
    // short in C and colliding with another camera's, so the count follows
    // in decimal instead.
    if (counter >= 0 && '0' + counter <= '~')
        name.push_back(static_cast<char>('0' + counter));
    else
        name += "~" + std::to_string(counter);
    ++counter;
}

void CamBayer::loadTiming() {
    if (const ResolutionEntry* entry = resolutionEntry(resolution.value))
        lineLength = entry->lineLength;
    if (const PixelClockEntry* entry = clockEntry(pixelClock.value)) pixelRate = entry->rate;
}
