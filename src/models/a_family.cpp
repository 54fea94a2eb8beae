// The A family: sensors programmed register by register, a gain mapping per
// sensor, no long exposure and no black level.

#include "log.h"
#include "models/model_row.h"
#include "models/models.h"

int cntVAo200C1 = 0, cntVAh200C1 = 0, cntVAo131C1 = 0, cntVE131 = 0, cntVE131_ = 0;
int cntVAo300C1 = 0, cntVE300 = 0, cntVAo131M1 = 0, cntVAh131M1 = 0, cntVAo500C1 = 0;
int cntVE500 = 0, cntVAo1KC1 = 0, cntVE1K = 0, cntVAo500M1 = 0, cntVAh500M1 = 0;

namespace {
constexpr Limits kNoLongExposure{0, 0, 0, 0, 0};
constexpr Limits kNoBlackLevel{0, 0, 100, 0, 0};
constexpr Limits kExposure6000{300, 1, 6000, 30, 1};

// clang-format off
// channels, bayer, registers (gain, exposure, long exposure, black level),
// resolution, pixel clock, analogGain, exposure, longExposure, blackLevel,
// rawDepth, bodyLen, gain mapping
constexpr SensorRow kSensorVAo200C1{
    3, 3, 0x2f, 9, 0, 2, choose(VAh200C1Res, 0, 0), choose(VAh200C1Clk, 0, 1),
    {30, 1, 80, 30, 1}, kExposure6000, kNoLongExposure, kNoBlackLevel, kDepthOff, BodyLen::A, gainVA200};
constexpr SensorRow kSensorVAo131C1{
    3, 3, 0x2f, 9, 0, 2, choose(VAo131C1Res, 0, 0), choose(VAo131C1Clk, 0, 1),
    {30, 1, 80, 30, 1}, kExposure6000, kNoLongExposure, kNoBlackLevel, kDepthOff, BodyLen::A, gainVA131};
// VAh131C1 on the newer sensor (releases 0xa001, 0xb003) and on the older one.
constexpr SensorRow kSensorVAh131C1New{
    3, 3, 0x35, 9, 0, 2, choose(VAc500C1Res, 0, 0), choose(VAc500C1Clk, 1, 1),
    {30, 7, 80, 30, 1}, kExposure6000, kNoLongExposure, kNoBlackLevel, kDepthOff, BodyLen::D, gainVA500};
constexpr SensorRow kSensorVAh131C1Old{
    3, 3, 0x2f, 9, 0, 2, choose(VAo131C1Res, 0, 0), choose(VAo131C1Clk, 0, 1),
    {30, 1, 80, 30, 1}, kExposure6000, kNoLongExposure, kNoBlackLevel, kDepthOff, BodyLen::D, gainVA131};
constexpr SensorRow kSensorVAo300C1{
    3, 3, 0x35, 9, 0, 2, choose(VAo300C1Res, 0, 0), choose(VAo300C1Clk, 0, 1),
    {30, 1, 159, 30, 1}, kExposure6000, kNoLongExposure, kNoBlackLevel, kDepth8Only, BodyLen::A, gainVA300};
constexpr SensorRow kSensorVAo131M1{
    1, 0, 0x35, 9, 0, 2, choose(VAo131M1Res, 0, 0), choose(VAo131M1Clk, 0, 1),
    {30, 10, 71, 30, 1}, {300, 1, 10000, 30, 1}, kNoLongExposure, kNoBlackLevel, kDepthOff, BodyLen::B, gainVA131M};
// VAo500C1: the clock table follows the release (0xa100: the faster clocks).
constexpr SensorRow kSensorVAo500C1V1{
    3, 3, 0x35, 9, 0, 2, choose(VAo500C1Res, 0, 0), choose(VAo500C1V1Clk, 0, 1),
    {30, 7, 174, 30, 1}, {300, 1, 15464, 30, 1}, kNoLongExposure, {48, 25, 128, 48, 0}, kDepthOff, BodyLen::E, gainVA500};
constexpr SensorRow kSensorVAo500C1V0{
    3, 3, 0x35, 9, 0, 2, choose(VAo500C1Res, 0, 0), choose(VAo500C1V0Clk, 0, 1),
    {30, 7, 174, 30, 1}, {300, 1, 15464, 30, 1}, kNoLongExposure, {48, 25, 128, 48, 0}, kDepthOff, BodyLen::E, gainVA500};
constexpr SensorRow kSensorVAo1KC1{
    3, 4, 0x305e, 0x3012, 0, 2, choose(VAo1KC1Res, 0, 0), choose(VAo1KC1Clk, 0, 1),
    {110, 1, 310, 110, 1}, {300, 1, 4000, 300, 1}, kNoLongExposure, kNoBlackLevel, kDepth8Only, BodyLen::A, gainVA1K};
// Same sensor as VAo1KC1 with its own modes; bodyLen stays VAo1KC1's.
constexpr SensorRow kSensorVAh1KC1{
    3, 4, 0x305e, 0x3012, 0, 2, choose(VAh1KC1Res, 0, 0), choose(VAo1KC1Clk, 0, 1),
    {110, 1, 310, 110, 1}, {300, 1, 4000, 300, 1}, kNoLongExposure, kNoBlackLevel, kDepth8Only, BodyLen::Keep, gainVA1K};
constexpr SensorRow kSensorVAo500M1{
    1, 0, 0x35, 9, 0, 2, choose(VAo500M1Res, 0, 0), choose(VAo500M1Clk, 0, 1),
    {30, 1, 174, 30, 1}, {300, 1, 65500, 30, 1}, kNoLongExposure, kNoBlackLevel, kDepthOff, BodyLen::C, gainVA500};

// display name, counter, sensor, saturation value, saturation table, packetLen, bulkPipe
constexpr ModelRow kVAo200C1{"QC200.", &cntVAo200C1, &kSensorVAo200C1, 100, 128, 0, 0};
constexpr ModelRow kVAh200C1{"QCH200.", &cntVAh200C1, nullptr, 0, 0, 0, 0};
constexpr ModelRow kVAo131C1{"QC130.", &cntVAo131C1, &kSensorVAo131C1, 100, 128, 0, 0};
constexpr ModelRow kVAh131C1New{"QCH131.", &cntVE131_, &kSensorVAh131C1New, 0, 0, 0, 0};
constexpr ModelRow kVAh131C1Old{"QCH130.", &cntVE131, &kSensorVAh131C1Old, 0, 0, 0, 0};
constexpr ModelRow kVAo300C1{"QC300.", &cntVAo300C1, &kSensorVAo300C1, 100, 100, 0, 0};
constexpr ModelRow kVAh300C1{"QCH300.", &cntVE300, nullptr, 0, 0, 0, 0};
constexpr ModelRow kVAo131M1{"QC130M.", &cntVAo131M1, &kSensorVAo131M1, 0, 0, 0, 0};
constexpr ModelRow kVAh131M1{"QCH130M.", &cntVAh131M1, nullptr, 0, 0, 0, 0};
constexpr ModelRow kVAo500C1{"QC500.", &cntVAo500C1, nullptr, 100, 100, 0, 0};
constexpr ModelRow kVAo500C1V1{nullptr, nullptr, &kSensorVAo500C1V1, 0, 0, 0, 0};
constexpr ModelRow kVAo500C1V0{nullptr, nullptr, &kSensorVAo500C1V0, 0, 0, 0, 0};
constexpr ModelRow kVAh500C1{"QCH500.", &cntVE500, nullptr, 0, 0, 0, 0};
constexpr ModelRow kVAo1KC1{"QC1000.", &cntVAo1KC1, &kSensorVAo1KC1, 85, 85, 0, 0};
constexpr ModelRow kVAh1KC1{"QCH1000.", &cntVE1K, &kSensorVAh1KC1, 0, 0, 0, 0};
constexpr ModelRow kVAo500M1{"QC500M.", &cntVAo500M1, &kSensorVAo500M1, 0, 0, 0, 0};
constexpr ModelRow kVAh500M1{"QCH500M.", &cntVAh500M1, nullptr, 0, 0, 0, 0};

// releases, row, new-hardware request, cooler on / edge off, temperature, edge state
constexpr ClaimRow kVAh131C1Claim[] = {
    {{{0xa001, 0xb003}}, &kVAh131C1New, false, false, false, -1},
    {{}, &kVAh131C1Old, false, false, false, -1},
};
constexpr ClaimRow kVAo500C1Claim[] = {
    {{{0xa100}}, &kVAo500C1V1, false, false, false, -1},
    {{}, &kVAo500C1V0, false, false, false, -1},
};
// releases, kind, capture flag, exact request
// The h cameras report their capture button in the trailer; on the newer
// boards of some of them the trailer closes a padding packet.
constexpr FrameLayout kTrailer[] = {{{}, FrameLayout::Trailer, true, false}};
constexpr FrameLayout kTrailerPaddedB002[] = {
    {{{0xb002}}, FrameLayout::PaddedTrailer, true, false},
    {{}, FrameLayout::Trailer, true, false}};
constexpr FrameLayout kTrailerPaddedB002B003[] = {
    {{{0xb002, 0xb003}}, FrameLayout::PaddedTrailer, true, false},
    {{}, FrameLayout::Trailer, true, false}};
// The g cameras: one byte after the samples; only VAg300C1 carries the flag.
constexpr FrameLayout kExtraByte[] = {{{}, FrameLayout::ExtraByte, false, false}};
constexpr FrameLayout kExtraByteFlag[] = {{{}, FrameLayout::ExtraByte, true, false}};
// clang-format on
}  // namespace

VAo200C1::VAo200C1() {
    applyModel(kVAo200C1);
}
int VAo200C1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VAh200C1::VAh200C1() {
    applyModel(kVAh200C1);
    frameLayouts = kTrailer;
    runsDefectStep = true;
}

VAo131C1::VAo131C1() {
    applyModel(kVAo131C1);
}
int VAo131C1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VAg131C1::VAg131C1() {
    frameLayouts = kExtraByte;
    runsDefectStep = true;
}
VAh131C1::VAh131C1() {
    frameLayouts = kTrailerPaddedB002B003;
    runsDefectStep = true;
}
int VAh131C1::_claim_device() {
    applyModel(*pickClaim(kVAh131C1Claim, bcdDevice).row);
    return 0;
}

VAo300C1::VAo300C1() {
    applyModel(kVAo300C1);
}
int VAo300C1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VAg300C1::VAg300C1() {
    frameLayouts = kExtraByteFlag;
    runsDefectStep = true;
}
VAh300C1::VAh300C1() {
    applyModel(kVAh300C1);
    frameLayouts = kTrailerPaddedB002;
    runsDefectStep = true;
}

VAo131M1::VAo131M1() {
    applyModel(kVAo131M1);
}
int VAo131M1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VAg131M1::VAg131M1() {
    frameLayouts = kExtraByte;
    runsDefectStep = true;
}
VAh131M1::VAh131M1() {
    applyModel(kVAh131M1);
    frameLayouts = kTrailer;
    runsDefectStep = true;
}

VAo500C1::VAo500C1() {
    applyModel(kVAo500C1);
}
int VAo500C1::_claim_device() {
    ezlog::info("VAo500C1::_claim_device");
    applyModel(*pickClaim(kVAo500C1Claim, bcdDevice).row);
    return 0;
}
int VAo500C1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VAh500C1::VAh500C1() {
    applyModel(kVAh500C1);
    frameLayouts = kTrailerPaddedB002;
    runsDefectStep = true;
}

int VAh500C1::_set_gpio(int pin, bool on) {
    if (pin < 1 || pin > 3) return -2;
    gpioState[pin - 1] = on ? 1 : 0;
    // Request 0xb8, index 0: the output's code in the low byte, its state in
    // the high one.
    EZURB urb{};
    buildRequest(urb, 0xb8, static_cast<uint16_t>((0x5f + pin) | (on ? 0x100 : 0)), 0);
    sendRequest(urb);
    return 0;
}
int VAh500C1::_gpio(int pin, bool* on) {
    if (pin < 1 || pin > 3) return -2;
    if (on) *on = gpioState[pin - 1] == 1;
    return 0;
}

VAo1KC1::VAo1KC1() {
    applyModel(kVAo1KC1);
}
int VAo1KC1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VAh1KC1::VAh1KC1() {
    applyModel(kVAh1KC1);
    frameLayouts = kTrailer;
    runsDefectStep = true;
}

VAo500M1::VAo500M1() {
    applyModel(kVAo500M1);
}
int VAo500M1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VAh500M1::VAh500M1() {
    applyModel(kVAh500M1);
    frameLayouts = kTrailer;
    runsDefectStep = true;
}
