// The S family: gain written unchanged; most with long exposure.
#include <algorithm>
#include <iterator>

#include "models/model_row.h"
#include "models/models.h"

int cntVSo035M1 = 0, cntVSh035M1 = 0, cntVSo035C1 = 0, cntVSh035C1 = 0, cntVS200C1 = 0;
int cntVSo036C1 = 0, cntVSh036C1 = 0;

namespace {
constexpr Limits kBlackLevelOn{0, 0, 100, 0, 1};
constexpr Limits kLongExposure100{0, 0, 100, 0, 1};

// clang-format off
// channels, bayer, registers (gain, exposure, long exposure, black level),
// resolution, pixel clock, analogGain, exposure, longExposure, blackLevel,
// rawDepth, bodyLen, gain mapping
constexpr SensorRow kSensorVSo035M1{
    1, 0, 1, 3, 4, 2, choose(VSo035M1Res, 0, 0), choose(VSo035M1Clk, 0, 1),
    {30, 1, 119, 30, 1}, {300, 1, 1080, 30, 1}, kLongExposure100, kBlackLevelOn, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVSo035C1{
    3, 2, 1, 3, 4, 2, choose(VSo035C1Res, 0, 0), choose(VSo035C1Clk, 0, 1),
    {30, 1, 119, 30, 1}, {30, 1, 1080, 30, 1}, kLongExposure100, kBlackLevelOn, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVS200C1{
    3, 2, 0xa0, 0xa2, 0xa3, 0xa1, choose(VS200C1Res, 0, 0), choose(VS200C1Clk, 2, 0),
    {40, 1, 80, 30, 1}, {100, 1, 1250, 30, 1}, {0, 0, 30, 0, 1}, kBlackLevelOn, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVSo036C1{
    3, 2, 1, 3, 4, 2, choose(VSo036C1Res, 0, 0), choose(VSo036C1Clk, 0, 1),
    {30, 8, 140, 30, 1}, {300, 1, 5000, 30, 1}, {0, 0, 0, 0, 0}, kBlackLevelOn, kDepthOn, BodyLen::D, gainUnchanged};

// display name, counter, sensor, saturation value, saturation table, packetLen, bulkPipe
constexpr ModelRow kVSo035M1{"Norvan M15.", &cntVSo035M1, &kSensorVSo035M1, 0, 0, 0, 0};
constexpr ModelRow kVSh035M1{"Norvan MH15.", &cntVSh035M1, nullptr, 0, 0, 0, 0};
constexpr ModelRow kVSo035C1{"Norvan C15.", &cntVSo035C1, &kSensorVSo035C1, 100, 128, 0, 0};
constexpr ModelRow kVSh035C1{"Norvan CH15.", &cntVSh035C1, nullptr, 0, 0, 0, 0};
constexpr ModelRow kVS200C1{"IMX122.", &cntVS200C1, &kSensorVS200C1, 100, 128, 61440, 0};
constexpr ModelRow kVSo036C1{"Norvan C30.", &cntVSo036C1, &kSensorVSo036C1, 100, 128, 0, 0};
constexpr ModelRow kVSh036C1{"Norvan CH30.", &cntVSh036C1, nullptr, 0, 0, 0, 0};
constexpr int kBlackOffset = 60;  // VS200C1's black-level register counts from 60

// mode code, lines per period (0: keep), periods allowed (-1: keep)
constexpr ExposureLimits kLimitsVSo035M1[] = {
    {0xc0, 1080, 100}, {0xc1, 540, 100}, {0xc2, 540, 0}, {0xc3, 860, 100}, {0xc4, 538, 0}};
constexpr ExposureLimits kLimitsVSo035C1[] = {{0xc0, 1080, 100}, {0xc1, 540, 100}, {0xc2, 540, 0}};
constexpr ExposureLimits kLimitsVSo036C1[] = {{0xc0, 60000, -1}, {0xc1, 1608, -1}, {0xc2, 1608, -1}};
constexpr ExposureLimits kLimitsVS200C1[] = {{0xc0, 1250, -1}, {0xc6, 700, -1}, {0xc7, 700, -1}};
constexpr CarriedRetime kRetimeVSo035M1 = carried(kLimitsVSo035M1, true);
constexpr CarriedRetime kRetimeVSo035C1 = carried(kLimitsVSo035C1, true);
constexpr CarriedRetime kRetimeVSo036C1 = carried(kLimitsVSo036C1, true);

// VSo036C1's lowest gain follows the clock: the slowest clock needs more.
constexpr uint8_t kClockLower = 0xa3;
constexpr uint16_t kGainFloorLower = 31;
constexpr uint16_t kGainFloor = 8;

// The h cameras: trailer after the samples, capture button in it.
constexpr FrameLayout kTrailer[] = {{{}, FrameLayout::Trailer, true, false}};
constexpr FrameLayout kSigned[] = {{{}, FrameLayout::Signature, false, false}};
// clang-format on
}  // namespace

VSo035M1::VSo035M1() {
    carriedRetime = &kRetimeVSo035M1;
    applyModel(kVSo035M1);
}
int VSo035M1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VSh035M1::VSh035M1() {
    applyModel(kVSh035M1);
    frameLayouts = kTrailer;
}

VSo035C1::VSo035C1() {
    carriedRetime = &kRetimeVSo035C1;
    applyModel(kVSo035C1);
    runsDefectStep = true;
}
int VSo035C1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VSh035C1::VSh035C1() {
    applyModel(kVSh035C1);
    frameLayouts = kTrailer;
    runsDefectStep = false;  // its trailer reader has no defect step
}

VS200C1::VS200C1() {
    applyModel(kVS200C1);
    frameLayouts = kSigned;
}
int VS200C1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}

void VS200C1::sendLines(uint32_t lines) {
    writeRegister(exposure, regExposure, static_cast<uint16_t>(lines >> 16));
    writeRegister(longExposure, regLongExposure, static_cast<uint16_t>(lines & 0xffff));
}

void VS200C1::_retime() {
    sendLines(retimeCarried(kLimitsVS200C1, static_cast<int>(std::size(kLimitsVS200C1)), true, false));
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

int VS200C1::_sensor_resume() {
    EZURB start{};
    buildRequest(start, 0xba, 0, 0);
    sendRequest(start);
    shared::store(state, 1);
    sendRequest(urbFrameRequest);
    _set_resolution(resolution.value, true);
    _set_raw_depth(rawDepth.value);
    _set_pixsclock(pixelClock.value);
    _set_analog_gain(analogGain.value);
    _set_blacklevel(blackLevel.value);
    // The line count last built, in case no setter above sent it.
    if (exposure.urb.request) sendRequest(exposure.urb);
    if (longExposure.urb.request) sendRequest(longExposure.urb);
    _delay(10);
    return 0;
}

VSo036C1::VSo036C1() {
    carriedRetime = &kRetimeVSo036C1;
    applyModel(kVSo036C1);
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
int VSo036C1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VSh036C1::VSh036C1() {
    applyModel(kVSh036C1);
    frameLayouts = kTrailer;
}
