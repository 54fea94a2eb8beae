// The S family: gain written unchanged; most with long exposure.
#include <algorithm>

#include "models/model_row.h"
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
    writeRegister(exposure, regExposure, static_cast<uint16_t>(lines >> 16));
    writeRegister(longExposure, regLongExposure, static_cast<uint16_t>(lines & 0xffff));
}

void VS200C1::_retime() {
    if (!sensorRow || !sensorRow->retime) return;
    const Retime& retime = *sensorRow->retime;
    sendLines(retimeCarried(retime.limits, retime.count, retime.rereadLineLength, false));
}

int VS200C1::_set_exposure(float milliseconds) {
    const double perLine = lineLength > 0 ? static_cast<double>(pixelRate) * milliseconds / lineLength : 0.0;
    const uint32_t most = (longExposure.max + 1u) * std::max<uint32_t>(exposure.max, 1) - 1;
    const uint32_t lines = std::min(std::max(toLines(perLine + 0.5), uint32_t{exposure.min}), most);
    prevLongExposure = longExposure.value;
    exposure.value = static_cast<uint16_t>(lines % std::max<uint32_t>(exposure.max, 1));
    longExposure.value = static_cast<uint16_t>(lines / std::max<uint32_t>(exposure.max, 1));
    sendLines(lines);
    return 0;
}

int VS200C1::_set_blacklevel(int level) {
    if (!blackLevel.supported) return -4;
    if (level < blackLevel.min || level > blackLevel.max) return -2;
    writeRegister(blackLevel, regBlackLevel, static_cast<uint16_t>(level + kBlackOffset));
    blackLevel.value = static_cast<uint16_t>(level);
    return 0;
}

void VSo036C1::_retime() {
    CamBayer::_retime();
    const PixelClockEntry* clock = clockEntry(pixelClock.value);
    if (!clock) return;
    if (clock->mode == kClockLower) {
        analogGain.min = kGainFloorLower;
        if (analogGain.value < kGainFloorLower) _set_analog_gain(kGainFloorLower);
    } else {
        analogGain.min = kGainFloor;
    }
}
