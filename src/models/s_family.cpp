// The S family: gain written unchanged; most with long exposure.
#include <algorithm>

#include "models/models.h"

int cntVSo035M1 = 0, cntVSh035M1 = 0, cntVSo035C1 = 0, cntVSh035C1 = 0, cntVS200C1 = 0;
int cntVSo036C1 = 0, cntVSh036C1 = 0;

namespace {
constexpr int kBlackOffset = 60;  // VS200C1's black-level register counts from 60

// VSo036C1's lowest gain follows the clock: the slowest clock needs more.
constexpr uint8_t kClockLower = 0xa3;
constexpr uint16_t kGainFloorLower = 31;
constexpr uint16_t kGainFloor = 8;
}  // namespace

void VS200C1::sendLines(uint32_t lines) {
    SensorControl& s = sensorControl();
    s.writeRegister(s.exposure, s.regExposure, static_cast<uint16_t>(lines >> 16));
    s.writeRegister(s.longExposure, s.regLongExposure, static_cast<uint16_t>(lines & 0xffff));
}

void VS200C1::_retime() {
    SensorControl& s = sensorControl();
    if (!s.sensorRow || !s.sensorRow->retime) return;
    const Retime& retime = *s.sensorRow->retime;
    sendLines(s.retimeCarried(retime.limits, retime.count, retime.rereadLineLength, false));
}

int VS200C1::_set_exposure(float milliseconds) {
    SensorControl& s = sensorControl();
    const double perLine = s.lineLength > 0 ? static_cast<double>(s.pixelRate) * milliseconds / s.lineLength : 0.0;
    const uint32_t most = (s.longExposure.max + 1u) * std::max<uint32_t>(s.exposure.max, 1) - 1;
    const uint32_t lines = std::min(std::max(SensorControl::toLines(perLine + 0.5), uint32_t{s.exposure.min}), most);
    s.exposure.value = static_cast<uint16_t>(lines % std::max<uint32_t>(s.exposure.max, 1));
    s.longExposure.value = static_cast<uint16_t>(lines / std::max<uint32_t>(s.exposure.max, 1));
    sendLines(lines);
    return EZ_OK;
}

int VS200C1::_set_blacklevel(int level) {
    SensorControl& s = sensorControl();
    if (!s.blackLevel.supported) return EZ_ENOTSUP;
    if (level < s.blackLevel.min || level > s.blackLevel.max) return EZ_ERANGE;
    s.writeRegister(s.blackLevel, s.regBlackLevel, static_cast<uint16_t>(level + kBlackOffset));
    s.blackLevel.value = static_cast<uint16_t>(level);
    return EZ_OK;
}

void VSo036C1::_retime() {
    CamBayer::_retime();
    SensorControl& s = sensorControl();
    const PixelClockEntry* clock = s.clockEntry(s.pixelClock.value);
    if (!clock) return;
    if (clock->mode == kClockLower) {
        s.analogGain.min = kGainFloorLower;
        if (s.analogGain.value < kGainFloorLower) _set_analog_gain(kGainFloorLower);
    } else {
        s.analogGain.min = kGainFloor;
    }
}
