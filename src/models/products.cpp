// The product table and the catalogue rows it refers to: every fact of
// every product on the host side, as data. The model classes (models.h)
// only hold behaviour.
#include "models/products.h"

#include "models/model_row.h"
#include "models/models.h"
#include "models/tables.h"
#include "processing/pattern_filter.h"

namespace {
template <class Camera>
std::unique_ptr<CamBayer> make() {
    return std::make_unique<Camera>();
}

// ---- Limits shared by several sensors ---------------------------------------

constexpr Limits kNoLongExposure{0, 0, 0, 0, 0};
constexpr Limits kNoBlackLevel{0, 0, 100, 0, 0};
constexpr Limits kExposure6000{300, 1, 6000, 30, 1};
constexpr Limits kBlackLevelOn{0, 0, 100, 0, 1};
constexpr Limits kLongExposure100{0, 0, 100, 0, 1};
constexpr Limits kLongExposure4000{0, 0, 4000, 0, 1};
constexpr Limits kBlackLevel285{0, 0, 255, 0, 1};
constexpr Limits kGain285{83, 83, 1023, 83, 1};
constexpr Limits kExposure2261{300, 1, 2261, 30, 1};

// ---- Re-timing: exposure limits by resolution mode --------------------------

// mode code, lines per period (0: keep), periods allowed (-1: keep)
constexpr ExposureLimits kLimitsVSo035M1[] = {
    {0xc0, 1080, 100}, {0xc1, 540, 100}, {0xc2, 540, 0}, {0xc3, 860, 100}, {0xc4, 538, 0}};
constexpr ExposureLimits kLimitsVSo035C1[] = {{0xc0, 1080, 100}, {0xc1, 540, 100}, {0xc2, 540, 0}};
constexpr ExposureLimits kLimitsVSo036C1[] = {{0xc0, 60000, -1}, {0xc1, 1608, -1}, {0xc2, 1608, -1}};
constexpr ExposureLimits kLimitsVS200C1[] = {{0xc0, 1250, -1}, {0xc6, 700, -1}, {0xc7, 700, -1}};
constexpr ExposureLimits kLimitsVDo205M1[] = {{10, 1068, -1}, {11, 546, -1}, {12, 284, -1}};
constexpr ExposureLimits kLimitsVDh674M1[] = {{10, 1521, -1}, {11, 759, -1}, {13, 759, -1}};
constexpr ExposureLimits kLimitsVDh694M1[] = {{10, 2261, -1}, {11, 1129, -1}, {13, 1129, -1}};
constexpr ExposureLimits kLimitsVDh694C1[] = {{10, 2261, -1}, {11, 1211, -1}, {12, 855, -1}, {13, 1129, -1}};
constexpr ExposureLimits kLimitsVDo282C1[] = {{0xc0, 0, 0}, {0xc1, 0, 300}};
constexpr ExposureLimits kLimitsVDh282C1[] = {{0xc0, 0, 0}, {0xc1, 0, 4000}};

constexpr Retime kRetimeVSo035M1 = carried(kLimitsVSo035M1, true);
constexpr Retime kRetimeVSo035C1 = carried(kLimitsVSo035C1, true);
constexpr Retime kRetimeVSo036C1 = carried(kLimitsVSo036C1, true);
constexpr Retime kRetimeVS200C1 = carried(kLimitsVS200C1, true);
constexpr Retime kRetimeVDo205M1 = carried(kLimitsVDo205M1, true);
constexpr Retime kRetimeClockOnly{Retime::Carried, nullptr, 0, false};  // VDo285M1 and its kin
constexpr Retime kRetimeVDh674M1 = carried(kLimitsVDh674M1, true);
constexpr Retime kRetimeVDh694M1 = carried(kLimitsVDh694M1, true);
constexpr Retime kRetimeVDh694C1 = carried(kLimitsVDh694C1, true);
constexpr Retime kRetimeVDo282C1 = carried(kLimitsVDo282C1, false);
constexpr Retime kRetimeVDh282C1 = carried(kLimitsVDh282C1, false);
// One line length and one clock rate for every mode: nothing to re-time.
constexpr Retime kRetimeFixed{Retime::Fixed, nullptr, 0, false};

// ---- Sensor rows -------------------------------------------------------------
// clang-format off
// channels, bayer, registers (gain, exposure, long exposure, black level),
// resolution, pixel clock, analogGain, exposure, longExposure, blackLevel,
// rawDepth, bodyLen, gain mapping, re-timing (none: the base one)

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
constexpr SensorRow kSensorV3h5MC1{
    3, 4, 0x35, 9, 0, 2, choose(V3h5MC1Res, 0, 0), choose(V3h5MC1Clk, 1, 1),
    {1, 1, 174, 1, 1}, {300, 1, 65500, 30, 1}, {0, 0, 0, 0, 0}, {0, 0, 100, 0, 0}, kDepthOn, BodyLen::C, gainVA500};
constexpr SensorRow kSensorVSi400M1{
    1, 0, 0x41, 0x42, 0x43, 0x44, choose(VSi400M1Res, 0, 0), choose(VSi400M1Clk, 0, 1),
    {0, 0, 1, 1, 1}, {5000, 0, 65535, 5000, 1}, {0, 0, 8191, 0, 1}, {0, 0, 8191, 0, 1}, kDepthOn, BodyLen::C, gainUnchanged,
    &kRetimeFixed};

constexpr SensorRow kSensorVSo035M1{
    1, 0, 1, 3, 4, 2, choose(VSo035M1Res, 0, 0), choose(VSo035M1Clk, 0, 1),
    {30, 1, 119, 30, 1}, {300, 1, 1080, 30, 1}, kLongExposure100, kBlackLevelOn, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVSo035M1};
constexpr SensorRow kSensorVSo035C1{
    3, 2, 1, 3, 4, 2, choose(VSo035C1Res, 0, 0), choose(VSo035C1Clk, 0, 1),
    {30, 1, 119, 30, 1}, {30, 1, 1080, 30, 1}, kLongExposure100, kBlackLevelOn, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVSo035C1};
constexpr SensorRow kSensorVS200C1{
    3, 2, 0xa0, 0xa2, 0xa3, 0xa1, choose(VS200C1Res, 0, 0), choose(VS200C1Clk, 2, 0),
    {40, 1, 80, 30, 1}, {100, 1, 1250, 30, 1}, {0, 0, 30, 0, 1}, kBlackLevelOn, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVS200C1};
constexpr SensorRow kSensorVSo036C1{
    3, 2, 1, 3, 4, 2, choose(VSo036C1Res, 0, 0), choose(VSo036C1Clk, 0, 1),
    {30, 8, 140, 30, 1}, {300, 1, 5000, 30, 1}, {0, 0, 0, 0, 0}, kBlackLevelOn, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVSo036C1};

constexpr SensorRow kSensorVDo205M1{
    1, 0, 1, 0x63, 0x62, 2, choose(VDo205M1Res, 0, 0), choose(VDo205M1Clk, 0, 1),
    {297, 170, 1023, 297, 1}, {300, 1, 1068, 30, 1}, kLongExposure4000, {0, 0, 1023, 0, 1}, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVDo205M1};
// Colour sensor on VDo205M1's electronics; bodyLen stays VDo205M1's.
constexpr SensorRow kSensorVDh205C1{
    3, 4, 1, 0x63, 0x62, 2, choose(VDh205C1Res, 0, 0), choose(VDh205C1Clk, 0, 1),
    {297, 170, 1023, 297, 1}, {300, 1, 1068, 30, 1}, kLongExposure4000, {0, 0, 1023, 0, 1}, kDepthOn, BodyLen::Keep, gainUnchanged,
    &kRetimeVDo205M1};
constexpr SensorRow kSensorVDo285M1{
    1, 0, 1, 0x63, 0x62, 2, choose(VDo285M1Res, 0, 0), choose(VDo285M1Clk, 0, 0),
    kGain285, {300, 1, 1068, 30, 1}, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeClockOnly};
constexpr SensorRow kSensorVDh285C1{
    3, 4, 1, 0x63, 0x62, 2, choose(VDh285C1Res, 0, 1), choose(VDh285C1Clk, 0, 0),
    kGain285, {300, 1, 1068, 30, 1}, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::Keep, gainUnchanged,
    &kRetimeClockOnly};
constexpr SensorRow kSensorVDh674C1{
    3, 3, 1, 0x63, 0x62, 2, choose(VDh674C1Res, 0, 0), choose(VDh674C1Clk, 0, 0),
    kGain285, {300, 1, 1521, 30, 1}, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeClockOnly};
// Claimed sensors: newer hardware (V1) and the tables of the older one.
constexpr SensorRow kSensorVDh674M1V1{
    1, 0, 1, 0x63, 0x62, 2, choose(VDh674M1V1Res, 0, 0), choose(VDh674M1Clk2, 1, 1),
    kGain285, {300, 1, 1521, 30, 1}, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVDh674M1};
// The older sensor boards keep VDo285M1's lines per period.
constexpr SensorRow kSensorVDh674M1V0{
    1, 0, 1, 0x63, 0x62, 2, choose(VDh674M1V0Res, 0, 0), choose(VDh674M1Clk, 0, 0),
    kGain285, {300, 1, 1521, 30, 1}, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeClockOnly};
constexpr SensorRow kSensorVDh694M1V1{
    1, 0, 1, 0x63, 0x62, 2, choose(VDh694M1V1Res, 0, 0), choose(VDh694M1Clk, 1, 1),
    {143, 143, 1023, 143, 1}, kExposure2261, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVDh694M1};
constexpr SensorRow kSensorVDh694M1V0{
    1, 0, 1, 0x63, 0x62, 2, choose(VDo285M1Res, 0, 0), choose(VDo285M1Clk, 0, 0),
    {143, 143, 1023, 143, 1}, kExposure2261, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVDh694M1};
constexpr SensorRow kSensorVDh694C1V1{
    3, 4, 1, 0x63, 0x62, 2, choose(VDh694C1V1Res, 0, 0), choose(VDh94C1Clk, 0, 0),
    {256, 256, 1023, 256, 1}, kExposure2261, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVDh694C1};
constexpr SensorRow kSensorVDh694C1V0{
    3, 4, 1, 0x63, 0x62, 2, choose(VDo285M1Res, 0, 0), choose(VDo285M1Clk, 0, 0),
    {256, 256, 1023, 256, 1}, kExposure2261, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVDh694C1};
constexpr SensorRow kSensorVDh687M1V1{
    1, 0, 1, 0x63, 0x62, 2, choose(VDh687M1V1Res, 0, 0), choose(VDh687M1Clk2, 1, 1),
    {256, 1, 1023, 256, 1}, kExposure2261, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVDh694M1};
constexpr SensorRow kSensorVDh687M1V0{
    1, 0, 1, 0x63, 0x62, 2, choose(VDh687M1Res, 0, 0), choose(VDh687M1Clk, 0, 0),
    {256, 1, 1023, 256, 1}, kExposure2261, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVDh694M1};
constexpr SensorRow kSensorVDo282C1{
    3, 4, 1, 0x63, 0x62, 2, choose(VDo282C1Res, 0, 0), choose(VDo282C1Clk, 0, 1),
    {297, 188, 1023, 200, 1}, {300, 18, 1060, 30, 1}, {0, 0, 300, 0, 1}, {0, 0, 100, 0, 1}, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVDo282C1};
constexpr SensorRow kSensorVDh282C1{
    3, 4, 1, 0x63, 0x62, 2, choose(VDo282C1Res, 0, 0), choose(VDo282C1Clk, 0, 1),
    {297, 188, 1023, 200, 1}, {300, 18, 1060, 300, 1}, kLongExposure4000, {0, 0, 100, 0, 1}, kDepthOn, BodyLen::D, gainUnchanged,
    &kRetimeVDh282C1};

// ---- Model rows: names, counters, colour settings ---------------------------
// display name, counter, sensor, saturation value, saturation table, packetLen,
// edge inhibition (-1: keep)

constexpr ModelRow kVAo200C1{"QC200.", &cntVAo200C1, &kSensorVAo200C1, 100, 128, 0};
constexpr ModelRow kVAh200C1{"QCH200.", &cntVAh200C1, nullptr, 0, 0, 0};
constexpr ModelRow kVAo131C1{"QC130.", &cntVAo131C1, &kSensorVAo131C1, 100, 128, 0};
constexpr ModelRow kVAh131C1New{"QCH131.", &cntVE131_, &kSensorVAh131C1New, 0, 0, 0};
constexpr ModelRow kVAh131C1Old{"QCH130.", &cntVE131, &kSensorVAh131C1Old, 0, 0, 0};
constexpr ModelRow kVAo300C1{"QC300.", &cntVAo300C1, &kSensorVAo300C1, 100, 100, 0};
constexpr ModelRow kVAh300C1{"QCH300.", &cntVE300, nullptr, 0, 0, 0};
constexpr ModelRow kVAo131M1{"QC130M.", &cntVAo131M1, &kSensorVAo131M1, 0, 0, 0};
constexpr ModelRow kVAh131M1{"QCH130M.", &cntVAh131M1, nullptr, 0, 0, 0};
// VAo500C1 names itself and builds its colour settings when created;
// everything else waits for the device, whose release picks the clocks.
constexpr ModelRow kVAo500C1{"QC500.", &cntVAo500C1, nullptr, 100, 100, 0};
constexpr ModelRow kVAo500C1V1{nullptr, nullptr, &kSensorVAo500C1V1, 0, 0, 0};
constexpr ModelRow kVAo500C1V0{nullptr, nullptr, &kSensorVAo500C1V0, 0, 0, 0};
constexpr ModelRow kVAh500C1{"QCH500.", &cntVE500, nullptr, 0, 0, 0};
constexpr ModelRow kVAo1KC1{"QC1000.", &cntVAo1KC1, &kSensorVAo1KC1, 85, 85, 0};
constexpr ModelRow kVAh1KC1{"QCH1000.", &cntVE1K, &kSensorVAh1KC1, 0, 0, 0};
constexpr ModelRow kVAo500M1{"QC500M.", &cntVAo500M1, &kSensorVAo500M1, 0, 0, 0};
constexpr ModelRow kVAh500M1{"QCH500M.", &cntVAh500M1, nullptr, 0, 0, 0};
// V3h5MC1 keeps the name "kvdt" and no sensor until the device is claimed.
constexpr ModelRow kV3h5MC1{nullptr, nullptr, nullptr, 100, 100, 0};
constexpr ModelRow kV3h5MC1Claim{"QU5M.", &cntV3h5MC1, &kSensorV3h5MC1, 0, 0, 0};
constexpr ModelRow kVSi400M1{"Miravel.", &cntVSi400M1, &kSensorVSi400M1, 0, 0, 512};

constexpr ModelRow kVSo035M1{"Norvan M15.", &cntVSo035M1, &kSensorVSo035M1, 0, 0, 0};
constexpr ModelRow kVSh035M1{"Norvan MH15.", &cntVSh035M1, nullptr, 0, 0, 0};
constexpr ModelRow kVSo035C1{"Norvan C15.", &cntVSo035C1, &kSensorVSo035C1, 100, 128, 0};
constexpr ModelRow kVSh035C1{"Norvan CH15.", &cntVSh035C1, nullptr, 0, 0, 0};
constexpr ModelRow kVS200C1{"IMX122.", &cntVS200C1, &kSensorVS200C1, 100, 128, 61440};
constexpr ModelRow kVSo036C1{"Norvan C30.", &cntVSo036C1, &kSensorVSo036C1, 100, 128, 0};
constexpr ModelRow kVSh036C1{"Norvan CH30.", &cntVSh036C1, nullptr, 0, 0, 0};

constexpr int32_t kEdgeOn = 17;
constexpr ModelRow kVDo205M1{"RCC-1.41L.", &cntVDo205M1, &kSensorVDo205M1, 0, 0, 0};
constexpr ModelRow kVDh205M1{"RCH-1.4L.", &cntVDh205M1, nullptr, 0, 0, 0};
constexpr ModelRow kVDh205C1{"RCH-1.4CL.", &cntVDh205C1, &kSensorVDh205C1, 100, 128, 0};
constexpr ModelRow kVDo285M1{"RCC-1.4H.", &cntVDo285M1, &kSensorVDo285M1, 0, 0, 0, 0};
constexpr ModelRow kVDh285M1{"RCH-1.4.", &cntVDh285M1, nullptr, 0, 0, 0};
constexpr ModelRow kVDh285C1{"RCH-1.4C.", &cntVDh285C1, &kSensorVDh285C1, 100, 128, 0};
constexpr ModelRow kVDh674C1{"R-674C.", &cntVDh674C1, &kSensorVDh674C1, 0, 0, 0, kEdgeOn};
constexpr ModelRow kVDh674M1V1{"R-674.", &cntVDh674M1, &kSensorVDh674M1V1, 0, 0, 0};
constexpr ModelRow kVDh674M1V0{"R-674.", &cntVDh674M1, &kSensorVDh674M1V0, 0, 0, 0};
constexpr ModelRow kVDh694M1V1{"R-694.", &cntVDh694M1, &kSensorVDh694M1V1, 0, 0, 0};
constexpr ModelRow kVDh694M1V0{"R-694.", &cntVDh694M1, &kSensorVDh694M1V0, 0, 0, 0};
// VDh694C1 is built on VDh285M1's monochrome rows: colour settings here.
constexpr ModelRow kVDh694C1{nullptr, nullptr, nullptr, 100, 128, 0};
constexpr ModelRow kVDh694C1V1{"R-694C.", &cntVDh694C1, &kSensorVDh694C1V1, 0, 0, 0};
constexpr ModelRow kVDh694C1V0{"R-694C.", &cntVDh694C1, &kSensorVDh694C1V0, 0, 0, 0};
constexpr ModelRow kVDh687M1V1{"R-687.", &cntVDh687M1, &kSensorVDh687M1V1, 0, 0, 0, kEdgeOn};
constexpr ModelRow kVDh687M1V0{"R-687.", &cntVDh687M1, &kSensorVDh687M1V0, 0, 0, 0, kEdgeOn};
constexpr ModelRow kVDo282C1{"RCC-5.0.", &cntVDo282C1, &kSensorVDo282C1, 100, 128, 0};
constexpr ModelRow kVDh282C1{"RCH-5.0.", &cntVDh282C1, &kSensorVDh282C1, 100, 128, 0, 0};

// ---- Construction: the rows each product's constructors apply, in order ----
// A derived class applies its base class's rows first (and advances its
// counter); a class built as another has that class's rows only.

constexpr const ModelRow* kBuildVAo200C1[] = {&kVAo200C1};
constexpr const ModelRow* kBuildVAh200C1[] = {&kVAo200C1, &kVAh200C1};
constexpr const ModelRow* kBuildVAo131C1[] = {&kVAo131C1};
constexpr const ModelRow* kBuildVAo300C1[] = {&kVAo300C1};
constexpr const ModelRow* kBuildVAh300C1[] = {&kVAo300C1, &kVAh300C1};
constexpr const ModelRow* kBuildVAo131M1[] = {&kVAo131M1};
constexpr const ModelRow* kBuildVAh131M1[] = {&kVAo131M1, &kVAh131M1};
constexpr const ModelRow* kBuildVAo500C1[] = {&kVAo500C1};
constexpr const ModelRow* kBuildVAh500C1[] = {&kVAo500C1, &kVAh500C1};
constexpr const ModelRow* kBuildVAo1KC1[] = {&kVAo1KC1};
constexpr const ModelRow* kBuildVAh1KC1[] = {&kVAo1KC1, &kVAh1KC1};
constexpr const ModelRow* kBuildVAo500M1[] = {&kVAo500M1};
constexpr const ModelRow* kBuildVAh500M1[] = {&kVAo500M1, &kVAh500M1};
constexpr const ModelRow* kBuildV3h5MC1[] = {&kV3h5MC1};
constexpr const ModelRow* kBuildVSi400M1[] = {&kVSi400M1};
constexpr const ModelRow* kBuildVSo035M1[] = {&kVSo035M1};
constexpr const ModelRow* kBuildVSh035M1[] = {&kVSo035M1, &kVSh035M1};
constexpr const ModelRow* kBuildVSo035C1[] = {&kVSo035C1};
constexpr const ModelRow* kBuildVSh035C1[] = {&kVSo035C1, &kVSh035C1};
constexpr const ModelRow* kBuildVS200C1[] = {&kVS200C1};
constexpr const ModelRow* kBuildVSo036C1[] = {&kVSo036C1};
constexpr const ModelRow* kBuildVSh036C1[] = {&kVSo036C1, &kVSh036C1};
constexpr const ModelRow* kBuildVDo205M1[] = {&kVDo205M1};
constexpr const ModelRow* kBuildVDh205M1[] = {&kVDo205M1, &kVDh205M1};
constexpr const ModelRow* kBuildVDh205C1[] = {&kVDo205M1, &kVDh205C1};
constexpr const ModelRow* kBuildVDo285M1[] = {&kVDo285M1};
constexpr const ModelRow* kBuildVDh285M1[] = {&kVDo285M1, &kVDh285M1};
constexpr const ModelRow* kBuildVDh285C1[] = {&kVDo285M1, &kVDh285M1, &kVDh285C1};
constexpr const ModelRow* kBuildVDh674C1[] = {&kVDo285M1, &kVDh285M1, &kVDh285C1, &kVDh674C1};
constexpr const ModelRow* kBuildVDh694C1[] = {&kVDo285M1, &kVDh285M1, &kVDh694C1};
constexpr const ModelRow* kBuildVDo282C1[] = {&kVDo282C1};
constexpr const ModelRow* kBuildVDh282C1[] = {&kVDh282C1};

// ---- Claim: rows chosen by the device release ---------------------------------
// releases, row, new-hardware request, cooler on / edge off, temperature read

constexpr ClaimRow kClaimVAh131C1[] = {
    {{{0xa001, 0xb003}}, &kVAh131C1New, false, false, false},
    {{}, &kVAh131C1Old, false, false, false},
};
constexpr ClaimRow kClaimVAo500C1[] = {
    {{{0xa100}}, &kVAo500C1V1, false, false, false, "VAo500C1::_claim_device"},
    {{}, &kVAo500C1V0, false, false, false, "VAo500C1::_claim_device"},
};
constexpr ClaimRow kClaimV3h5MC1[] = {{{}, &kV3h5MC1Claim, false, false, false}};
constexpr ClaimRow kClaimVDh674M1[] = {
    {{{0xa001, 0xa004, 0xa104}}, &kVDh674M1V1, true, true, true},
    {{}, &kVDh674M1V0, false, true, true},
};
constexpr ClaimRow kClaimVDh694M1[] = {
    {{{0xa001, 0xa004, 0xa104, 0xa106}}, &kVDh694M1V1, false, true, false},
    {{}, &kVDh694M1V0, false, true, false},
};
constexpr ClaimRow kClaimVDh694C1[] = {
    {{{0xa001}}, &kVDh694C1V1, false, false, false},
    {{}, &kVDh694C1V0, false, false, false},
};
constexpr ClaimRow kClaimVDh687M1[] = {
    {{{0xa001}}, &kVDh687M1V1, true, false, false},
    {{}, &kVDh687M1V0, false, false, false},
};

// ---- Frame layouts by release ---------------------------------------------------
// releases, kind, capture flag, exact request, region rule, host order,
// a header area more at 16 bits in mode 0

constexpr RoiRule kRoiInMemory{RoiRule::Never};
constexpr RoiRule kRoiAtResolution0{RoiRule::FirstResolution};

// The o cameras' marked header, the region cut in memory.
constexpr FrameLayout kHeaderInMemory[] = {{{}, FrameLayout::Header, false, false, kRoiInMemory}};
// VDo282C1's header area is not examined.
constexpr FrameLayout kUnmarkedInMemory[] = {{{}, FrameLayout::Unmarked, false, false, kRoiInMemory}};
// The h cameras report their capture button in the trailer; on the newer
// boards of some of them the trailer closes a padding packet and a region
// is programmed at the first resolution.
constexpr FrameLayout kTrailerInMemory[] = {{{}, FrameLayout::Trailer, true, false, kRoiInMemory}};
constexpr FrameLayout kTrailer[] = {{{}, FrameLayout::Trailer, true, false}};
constexpr FrameLayout kVAh131C1Layout[] = {
    {{{0xb002, 0xb003}}, FrameLayout::PaddedTrailer, true, false, kRoiAtResolution0},
    {{}, FrameLayout::Trailer, true, false, kRoiInMemory}};
constexpr FrameLayout kVAh300C1Layout[] = {
    {{{0xb002}}, FrameLayout::PaddedTrailer, true, false, kRoiAtResolution0},
    {{}, FrameLayout::Trailer, true, false, {RoiRule::FullWidth, 2048, false}}};
// VAh500C1's full mode carries a header area more at 16 bits; only its
// normal board sends 16-bit samples most significant byte first.
constexpr FrameLayout kVAh500C1Layout[] = {
    {{{0xb002}}, FrameLayout::PaddedTrailer, true, false, kRoiAtResolution0, true, true},
    {{}, FrameLayout::Trailer, true, false, {RoiRule::FullWidth, 2592, false}, false, true}};
// The g cameras: one byte after the samples; only VAg300C1 carries the flag.
// A region is programmed at the full width, dropping that frame.
constexpr FrameLayout kVAg131Layout[] = {
    {{}, FrameLayout::ExtraByte, false, false, {RoiRule::FullWidth, 1280, true}}};
constexpr FrameLayout kVAg300C1Layout[] = {
    {{}, FrameLayout::ExtraByte, true, false, {RoiRule::FullWidth, 2048, true}}};
constexpr FrameLayout kV3h5MC1Layout[] = {
    {{}, FrameLayout::Trailer4, true, false, {RoiRule::FullWidth, 2592, false}, true}};
constexpr FrameLayout kVSi400M1Layout[] = {
    {{}, FrameLayout::Tail4, false, true, {RoiRule::Always, 0, false}, true}};
constexpr FrameLayout kSignedInMemory[] = {{{}, FrameLayout::Signature, false, false, kRoiInMemory}};
// The D family's h cameras ask for exactly the samples and the trailer; the
// larger cooled ones report their capture button in it.
constexpr FrameLayout kExactTrailer[] = {{{}, FrameLayout::Trailer, false, true, kRoiInMemory}};
constexpr FrameLayout kExactTrailerFlag[] = {{{}, FrameLayout::Trailer, true, true, kRoiInMemory}};
constexpr FrameLayout kVDh674M1Layout[] = {
    {{{0xb001}}, FrameLayout::PaddedTrailer, true, false, kRoiInMemory},
    {{}, FrameLayout::Trailer, true, true, kRoiInMemory}};
constexpr FrameLayout kVDh694M1Layout[] = {
    {{{0xa106}}, FrameLayout::Bare, false, true, kRoiInMemory},
    {{}, FrameLayout::Trailer, true, true, kRoiInMemory}};

// ---- Resume orders ------------------------------------------------------------------

constexpr ResumeStep kResumeBase[] = {{ResumeStep::Start},      {ResumeStep::Pause, 300},
                                      {ResumeStep::Depth},      {ResumeStep::Clock},
                                      {ResumeStep::Gain},       {ResumeStep::BlackLevel},
                                      {ResumeStep::Resolution}};
// The D family restarts with its resolution request, which carries the exposure.
constexpr ResumeStep kResumeD[] = {{ResumeStep::Depth}, {ResumeStep::Clock}, {ResumeStep::Gain},
                                   {ResumeStep::BlackLevel}, {ResumeStep::Resolution}};
constexpr ResumeStep kResumeVSo035C1[] = {{ResumeStep::Resolution}, {ResumeStep::Clock},
                                          {ResumeStep::Depth}, {ResumeStep::Gain},
                                          {ResumeStep::BlackLevel}};
constexpr ResumeStep kResumeVS200C1[] = {
    {ResumeStep::Start}, {ResumeStep::Acknowledge}, {ResumeStep::Resolution},
    {ResumeStep::Depth}, {ResumeStep::Clock},       {ResumeStep::Gain},
    {ResumeStep::BlackLevel}, {ResumeStep::Exposure}, {ResumeStep::Pause, 10}};

// ---- Features and quirks ----------------------------------------------------------

constexpr ReleaseList kTemperatureReleases{{0xa001, 0xa004, 0xa104}};
constexpr Features kCooled{.cooler = true, .edgeInhibition = true};
constexpr Features kCooledWithSensor{.cooler = true, .edgeInhibition = true, .temperature = true,
                                     .temperatureReleases = kTemperatureReleases};
constexpr Features kCooledAuto{.cooler = true, .edgeInhibition = true, .autoEdgeInhibition = true,
                               .temperature = true, .temperatureReleases = kTemperatureReleases};
// The range reports 4 as the top, yet the camera takes shifts up to 8.
constexpr Features kCooledShift{.cooler = true, .edgeInhibition = true, .autoEdgeInhibition = true,
                                .temperature = true, .temperatureReleases = kTemperatureReleases,
                                .shift = {ShiftOperator::Switch, 3, 8, 4}};
constexpr Features kOutputs{.gpio = true};
// The 2048 x 2048 camera sharpens, removes noise, shifts and combines
// exposures itself: register writes, unclamped.
constexpr Features kInCamera{.temperature = true,
                             .shift = {ShiftOperator::Register, 0x49, -1, 8},
                             .hdrRegister = 0x46,
                             .sharpness = {0x47, 4096, 3600},
                             .denoise = {0x48, 1024, 576}};

constexpr ProductQuirks kSendsExposure{.retimeSendsExposure = true};
constexpr ProductQuirks kRestartPause{.restartPauseMs = 400};

constexpr ModelSteps kPatternMedian{__pattern_median, ModelSteps::Border::Always, true};
constexpr ModelSteps kNoBorderCameraFlips{nullptr, ModelSteps::Border::Never, false};

constexpr Vendors kMiravel = Vendors::Miravel;

// clang-format on

// Steps of the readers: layouts, defect step, AE interval, fluorescence interval.
constexpr ReaderSteps kHeaderReader{kHeaderInMemory};
constexpr ReaderSteps kTrailerDefects{kTrailerInMemory, true};

constexpr ProductRow kProducts[] = {
    // ---- Watched by default, in the order the watches are registered ----
    {.product = 0xc003, .model = "VAo1KC1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAo1KC1, .resume = kResumeBase, .quirks = kSendsExposure},
    {.product = 0xc004, .model = "VAo500C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAo500C1, .claim = kClaimVAo500C1, .resume = kResumeBase,
     .quirks = kSendsExposure},
    {.product = 0xc005, .model = "VSo035C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVSo035C1, .reader = {kHeaderInMemory, true}, .resume = kResumeVSo035C1,
     .quirks = kSendsExposure},
    {.product = 0xc006, .model = "VAo500M1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAo500M1, .resume = kResumeBase, .quirks = kSendsExposure},
    {.product = 0xc007, .model = "VAo300C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAo300C1, .resume = kResumeBase, .quirks = kSendsExposure},
    {.product = 0xc008, .model = "VAo131C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAo131C1, .resume = kResumeBase, .quirks = kSendsExposure},
    {.product = 0xc009, .model = "VSo036C1", .create = make<VSo036C1>, .watched = true,
     .build = kBuildVSo036C1, .resume = kResumeBase, .quirks = kSendsExposure},
    {.product = 0xc00a, .model = "VSo035M1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVSo035M1, .resume = kResumeBase, .quirks = kSendsExposure},
    {.product = 0xc00c, .model = "VS200C1", .create = make<VS200C1>, .watched = true,
     .build = kBuildVS200C1, .reader = {kSignedInMemory}, .resume = kResumeVS200C1,
     .quirks = kSendsExposure},
    // VDo282C1 and VDh282C1 take each frame as it arrives: the mode's width
    // x height samples (the binned modes: the whole sensor, binned). Taken
    // as twice that width it would describe twice the samples the transfer
    // carries, at 16 bits more than the buffer holds; and none of their
    // modes is one whose two fields arrive one after the other.
    {.product = 0xd001, .model = "VDo282C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVDo282C1, .reader = {kUnmarkedInMemory}, .resume = kResumeD,
     .quirks = kSendsExposure},
    {.product = 0xd002, .watched = true},  // watched, but no model drives it
    {.product = 0xd004, .model = "VDo205M1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVDo205M1, .reader = kHeaderReader, .resume = kResumeD,
     .quirks = kSendsExposure},
    {.product = 0xd006, .model = "VDo285M1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVDo285M1, .reader = kHeaderReader, .resume = kResumeD, .features = kCooled,
     .quirks = kSendsExposure},
    {.product = 0xd007, .watched = true},  // watched, but no model drives it
    {.product = 0xf007, .model = "VAg300C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAo300C1, .reader = {kVAg300C1Layout, true}, .resume = kResumeBase,
     .quirks = kSendsExposure},
    {.product = 0xf008, .model = "VAg131C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAo131C1, .reader = {kVAg131Layout, true}, .resume = kResumeBase,
     .quirks = kSendsExposure},
    {.product = 0xf00b, .model = "VAg131M1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAo131M1, .reader = {kVAg131Layout, true}, .finish = kPatternMedian,
     .resume = kResumeBase, .quirks = kSendsExposure},
    {.product = 0xe001, .model = "VDh282C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVDh282C1, .reader = {kExactTrailerFlag, false, 3, 3}, .resume = kResumeD},
    {.product = 0xe004, .model = "VDh205M1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVDh205M1, .reader = {kExactTrailer}, .resume = kResumeD},
    {.product = 0xe006, .model = "VDh285M1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVDh285M1, .reader = {kExactTrailer}, .resume = kResumeD, .features = kCooled,
     .quirks = kRestartPause},
    {.product = 0xe80a, .model = "VDh674C1", .create = make<CamBayer>, .watched = true,
     .bulkPipe = 2, .build = kBuildVDh674C1, .reader = {kExactTrailer, false, 3, 3},
     .resume = kResumeD, .features = kCooled, .quirks = kRestartPause},
    {.product = 0xe008, .model = "VDh205C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVDh205C1, .reader = {kExactTrailer}, .resume = kResumeD},
    {.product = 0xe009, .model = "VDh285C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVDh285C1, .reader = {kExactTrailer}, .resume = kResumeD, .features = kCooled,
     .quirks = kRestartPause},
    {.product = 0xe00a, .model = "VDh674M1", .create = make<VDh674M1>, .watched = true,
     .bulkPipe = 2, .build = kBuildVDh285M1, .claim = kClaimVDh674M1,
     .reader = {kVDh674M1Layout, false, 2, 3}, .resume = kResumeD, .features = kCooledAuto,
     .quirks = {.restartPauseMs = 400, .refusesEdgeInhibition = true}},
    {.product = 0xe00b, .model = "VDh687M1", .create = make<VDh674M1>, .watched = true,
     .bulkPipe = 2, .build = kBuildVDh285M1, .claim = kClaimVDh687M1,
     .reader = {kExactTrailerFlag, false, 3, 3}, .resume = kResumeD,
     .features = kCooledWithSensor, .quirks = kRestartPause},
    {.product = 0xe00c, .model = "VDh694M1", .create = make<VDh694M1>, .watched = true,
     .bulkPipe = 2, .build = kBuildVDh285M1, .claim = kClaimVDh694M1,
     .reader = {kVDh694M1Layout, false, 2, 3}, .resume = kResumeD, .features = kCooledShift,
     .quirks = {.restartPauseMs = 400, .refusesEdgeInhibition = true}},
    {.product = 0xe80c, .model = "VDh694C1", .create = make<VDh694C1>, .watched = true,
     .bulkPipe = 2, .build = kBuildVDh694C1, .claim = kClaimVDh694C1,
     .reader = {kExactTrailerFlag, false, 2, 2}, .resume = kResumeD, .features = kCooledShift},
    {.product = 0xa008, .model = "VAh131C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAo131C1, .claim = kClaimVAh131C1, .reader = {kVAh131C1Layout, true},
     .resume = kResumeBase},
    {.product = 0xa007, .model = "VAh300C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAh300C1, .reader = {kVAh300C1Layout, true}, .resume = kResumeBase},
    {.product = 0xa004, .model = "VAh500C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAh500C1, .claim = kClaimVAo500C1, .reader = {kVAh500C1Layout, true},
     .resume = kResumeBase, .features = kOutputs},
    {.product = 0xa003, .model = "VAh1KC1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAh1KC1, .reader = kTrailerDefects, .resume = kResumeBase,
     .quirks = {.deferPixelClock = true}},
    {.product = 0xa005, .model = "VSh035C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVSh035C1, .reader = {kTrailer}, .resume = kResumeVSo035C1,
     .quirks = {.regainAfterResolution = true, .noLongExposureRestart = true,
                .skipsVersionAtOpen = true}},
    {.product = 0xa00a, .model = "VSh035M1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVSh035M1, .reader = {kTrailer}, .resume = kResumeBase,
     .quirks = {.regainAfterResolution = true, .noLongExposureRestart = true}},
    {.product = 0xa009, .model = "VSh036C1", .create = make<VSo036C1>, .watched = true,
     .build = kBuildVSh036C1, .reader = {kTrailer}, .resume = kResumeBase,
     .quirks = {.regainAfterResolution = true, .noLongExposureRestart = true,
                .exposureInTwoRegisters = true}},
    {.product = 0xa00d, .model = "VAh500C1", .create = make<CamBayer>, .watched = true,
     .build = kBuildVAh500C1, .claim = kClaimVAo500C1, .reader = {kVAh500C1Layout, true},
     .resume = kResumeBase, .features = kOutputs},
    {.product = 0xa811, .model = "VAh200C1", .create = make<VAh200C1>, .watched = true,
     .build = kBuildVAh200C1, .reader = kTrailerDefects, .resume = kResumeBase},

    // ---- Created on request only ----
    {.product = 0xa006, .model = "VAh500M1", .create = make<CamBayer>,
     .build = kBuildVAh500M1, .reader = kTrailerDefects, .resume = kResumeBase},
    {.product = 0xa00b, .model = "VAh131M1", .create = make<CamBayer>,
     .build = kBuildVAh131M1, .reader = kTrailerDefects, .finish = kPatternMedian,
     .resume = kResumeBase},
    {.product = 0xac11, .model = "V3h5MC1", .create = make<CamBayer>, .build = kBuildV3h5MC1,
     .claim = kClaimV3h5MC1, .reader = {kV3h5MC1Layout, true, 4}, .resume = kResumeBase},
    {.product = 0xc00b, .model = "VAo131M1", .create = make<CamBayer>,
     .build = kBuildVAo131M1, .finish = kPatternMedian, .resume = kResumeBase,
     .quirks = kSendsExposure},
    {.product = 0xc811, .model = "VAo200C1", .create = make<CamBayer>,
     .build = kBuildVAo200C1, .resume = kResumeBase},
    {.vendors = kMiravel, .product = 0x6401, .model = "VSi400M1", .create = make<VSi400M1>,
     .build = kBuildVSi400M1, .reader = {kVSi400M1Layout, true}, .finish = kNoBorderCameraFlips,
     .resume = kResumeBase, .features = kInCamera},
};

constexpr uint16_t kSharedVendorIds[] = {0x0547, 0x8020, 0x8021};
constexpr uint16_t kMiravelVendorIds[] = {0x4b56};
constexpr uint16_t kOriginalVendor = 0x0547;  // the only vendor whose 0xa005 skips the version
}  // namespace

std::span<const uint16_t> vendorIds(Vendors vendors) {
    if (vendors == Vendors::Miravel) return kMiravelVendorIds;
    return kSharedVendorIds;
}

std::span<const ProductRow> productTable() {
    return kProducts;
}

const ProductRow* findProduct(uint16_t vendor, uint16_t product) {
    for (const ProductRow& row : kProducts) {
        if (row.product != product) continue;
        for (uint16_t id : vendorIds(row.vendors))
            if (id == vendor) return &row;
    }
    return nullptr;
}

ProductQuirks productQuirks(uint16_t vendor, uint16_t product) {
    const ProductRow* row = findProduct(vendor, product);
    if (!row) return {};
    ProductQuirks quirks = row->quirks;
    if (vendor != kOriginalVendor) quirks.skipsVersionAtOpen = false;
    return quirks;
}

std::unique_ptr<CamBayer> _create_device(uint16_t product, uint16_t vendor) {
    const ProductRow* row = findProduct(vendor, product);
    if (!row || !row->create) return nullptr;
    std::unique_ptr<CamBayer> camera = row->create();
    camera->adoptProduct(*row, productQuirks(vendor, product), modeReadouts());
    return camera;
}
