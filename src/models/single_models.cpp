// The two models of their own: the 5-megapixel colour camera V3h5MC1 and
// the 2048 x 2048 monochrome camera VSi400M1.
#include "models/model_row.h"
#include "models/models.h"

int cntV3h5MC1 = 0, cntVSi400M1 = 0;

namespace {
// clang-format off
// channels, bayer, registers (gain, exposure, long exposure, black level),
// resolution, pixel clock, analogGain, exposure, longExposure, blackLevel,
// rawDepth, bodyLen, gain mapping
constexpr SensorRow kSensorV3h5MC1{
    3, 4, 0x35, 9, 0, 2, choose(V3h5MC1Res, 0, 0), choose(V3h5MC1Clk, 1, 1),
    {1, 1, 174, 1, 1}, {300, 1, 65500, 30, 1}, {0, 0, 0, 0, 0}, {0, 0, 100, 0, 0}, kDepthOn, BodyLen::C, gainVA500};
constexpr SensorRow kSensorVSi400M1{
    1, 0, 0x41, 0x42, 0x43, 0x44, choose(VSi400M1Res, 0, 0), choose(VSi400M1Clk, 0, 1),
    {0, 0, 1, 1, 1}, {5000, 0, 65535, 5000, 1}, {0, 0, 8191, 0, 1}, {0, 0, 8191, 0, 1}, kDepthOn, BodyLen::C, gainUnchanged};

// display name, counter, sensor, saturation value, saturation table, packetLen, bulkPipe
constexpr ModelRow kV3h5MC1{nullptr, nullptr, nullptr, 100, 100, 0, 0};
constexpr ModelRow kV3h5MC1Claim{"QU5M.", &cntV3h5MC1, &kSensorV3h5MC1, 0, 0, 0, 0};
constexpr ModelRow kVSi400M1{"Miravel.", &cntVSi400M1, &kSensorVSi400M1, 0, 0, 512, 0};
// clang-format on
}  // namespace

// The name stays "kvdt" and the sensor unset until the device is claimed.
V3h5MC1::V3h5MC1() {
    applyModel(kV3h5MC1);
}
int V3h5MC1::_claim_device() {
    applyModel(kV3h5MC1Claim);
    return 0;
}
int V3h5MC1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}

VSi400M1::VSi400M1() {
    applyModel(kVSi400M1);
}
int VSi400M1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
