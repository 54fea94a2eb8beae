// The S family: gain written unchanged; most with long exposure.
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
// clang-format on
}  // namespace

VSo035M1::VSo035M1() {
    applyModel(kVSo035M1);
}
int VSo035M1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VSh035M1::VSh035M1() {
    applyModel(kVSh035M1);
}

VSo035C1::VSo035C1() {
    applyModel(kVSo035C1);
}
int VSo035C1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VSh035C1::VSh035C1() {
    applyModel(kVSh035C1);
}

VS200C1::VS200C1() {
    applyModel(kVS200C1);
}
int VS200C1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}

VSo036C1::VSo036C1() {
    applyModel(kVSo036C1);
}
int VSo036C1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VSh036C1::VSh036C1() {
    applyModel(kVSh036C1);
}
