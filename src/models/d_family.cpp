// The D family: gain written unchanged, long exposure; from VDo285M1 on a
// cooler and an edge-inhibition switch, the larger sensors a temperature
// reading and a bit-shift operator.
#include <algorithm>
#include <cstring>
#include <ctime>

#include "models/model_row.h"
#include "models/models.h"
#include "processing/calibration.h"

int cntVDo205M1 = 0, cntVDh205M1 = 0, cntVDh205C1 = 0, cntVDo285M1 = 0, cntVDh285M1 = 0;
int cntVDh285C1 = 0, cntVDh674C1 = 0, cntVDh674M1 = 0, cntVDh687M1 = 0, cntVDh694M1 = 0;
int cntVDh694C1 = 0, cntVDo282C1 = 0, cntVDh282C1 = 0;

namespace {
constexpr int32_t kEdgeOn = 17;
constexpr int32_t kEdgeOff = 0;
constexpr uint8_t kRequestSwitch = 0xb8;  // switches of the cooled cameras, by index
constexpr uint16_t kSwitchEdge = 0;
constexpr uint16_t kSwitchCooler = 1;
constexpr uint16_t kSwitchNewHardware = 2;
constexpr uint16_t kSwitchShift = 3;
constexpr int kShiftMax = 8;
constexpr int kShiftReportedMax = 4;
// Frames between steps of the fluorescence guide in the cooled cameras'
// readers, and between automatic-exposure steps in the larger ones.
constexpr int kGuideInterval = 3;
constexpr int kFastAeInterval = 2;
constexpr int kAeInterval = 3;  // the common reader's

// Hardware with a temperature sensor.
constexpr ReleaseList kTemperatureReleases{{0xa001, 0xa004, 0xa104}};

constexpr Limits kLongExposure4000{0, 0, 4000, 0, 1};
constexpr Limits kBlackLevel285{0, 0, 255, 0, 1};
constexpr Limits kGain285{83, 83, 1023, 83, 1};
constexpr Limits kExposure2261{300, 1, 2261, 30, 1};

// clang-format off
// channels, bayer, registers (gain, exposure, long exposure, black level),
// resolution, pixel clock, analogGain, exposure, longExposure, blackLevel,
// rawDepth, bodyLen, gain mapping
constexpr SensorRow kSensorVDo205M1{
    1, 0, 1, 0x63, 0x62, 2, choose(VDo205M1Res, 0, 0), choose(VDo205M1Clk, 0, 1),
    {297, 170, 1023, 297, 1}, {300, 1, 1068, 30, 1}, kLongExposure4000, {0, 0, 1023, 0, 1}, kDepthOn, BodyLen::D, gainUnchanged};
// Colour sensor on VDo205M1's electronics; bodyLen stays VDo205M1's.
constexpr SensorRow kSensorVDh205C1{
    3, 4, 1, 0x63, 0x62, 2, choose(VDh205C1Res, 0, 0), choose(VDh205C1Clk, 0, 1),
    {297, 170, 1023, 297, 1}, {300, 1, 1068, 30, 1}, kLongExposure4000, {0, 0, 1023, 0, 1}, kDepthOn, BodyLen::Keep, gainUnchanged};
constexpr SensorRow kSensorVDo285M1{
    1, 0, 1, 0x63, 0x62, 2, choose(VDo285M1Res, 0, 0), choose(VDo285M1Clk, 0, 0),
    kGain285, {300, 1, 1068, 30, 1}, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVDh285C1{
    3, 4, 1, 0x63, 0x62, 2, choose(VDh285C1Res, 0, 1), choose(VDh285C1Clk, 0, 0),
    kGain285, {300, 1, 1068, 30, 1}, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::Keep, gainUnchanged};
constexpr SensorRow kSensorVDh674C1{
    3, 3, 1, 0x63, 0x62, 2, choose(VDh674C1Res, 0, 0), choose(VDh674C1Clk, 0, 0),
    kGain285, {300, 1, 1521, 30, 1}, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged};
// Claimed sensors: newer hardware (V1) and the tables of the older one.
constexpr SensorRow kSensorVDh674M1V1{
    1, 0, 1, 0x63, 0x62, 2, choose(VDh674M1V1Res, 0, 0), choose(VDh674M1Clk2, 1, 1),
    kGain285, {300, 1, 1521, 30, 1}, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVDh674M1V0{
    1, 0, 1, 0x63, 0x62, 2, choose(VDh674M1V0Res, 0, 0), choose(VDh674M1Clk, 0, 0),
    kGain285, {300, 1, 1521, 30, 1}, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVDh694M1V1{
    1, 0, 1, 0x63, 0x62, 2, choose(VDh694M1V1Res, 0, 0), choose(VDh694M1Clk, 1, 1),
    {143, 143, 1023, 143, 1}, kExposure2261, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVDh694M1V0{
    1, 0, 1, 0x63, 0x62, 2, choose(VDo285M1Res, 0, 0), choose(VDo285M1Clk, 0, 0),
    {143, 143, 1023, 143, 1}, kExposure2261, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVDh694C1V1{
    3, 4, 1, 0x63, 0x62, 2, choose(VDh694C1V1Res, 0, 0), choose(VDh94C1Clk, 0, 0),
    {256, 256, 1023, 256, 1}, kExposure2261, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVDh694C1V0{
    3, 4, 1, 0x63, 0x62, 2, choose(VDo285M1Res, 0, 0), choose(VDo285M1Clk, 0, 0),
    {256, 256, 1023, 256, 1}, kExposure2261, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVDh687M1V1{
    1, 0, 1, 0x63, 0x62, 2, choose(VDh687M1V1Res, 0, 0), choose(VDh687M1Clk2, 1, 1),
    {256, 1, 1023, 256, 1}, kExposure2261, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVDh687M1V0{
    1, 0, 1, 0x63, 0x62, 2, choose(VDh687M1Res, 0, 0), choose(VDh687M1Clk, 0, 0),
    {256, 1, 1023, 256, 1}, kExposure2261, kLongExposure4000, kBlackLevel285, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVDo282C1{
    3, 4, 1, 0x63, 0x62, 2, choose(VDo282C1Res, 0, 0), choose(VDo282C1Clk, 0, 1),
    {297, 188, 1023, 200, 1}, {300, 18, 1060, 30, 1}, {0, 0, 300, 0, 1}, {0, 0, 100, 0, 1}, kDepthOn, BodyLen::D, gainUnchanged};
constexpr SensorRow kSensorVDh282C1{
    3, 4, 1, 0x63, 0x62, 2, choose(VDo282C1Res, 0, 0), choose(VDo282C1Clk, 0, 1),
    {297, 188, 1023, 200, 1}, {300, 18, 1060, 300, 1}, kLongExposure4000, {0, 0, 100, 0, 1}, kDepthOn, BodyLen::D, gainUnchanged};

// display name, counter, sensor, saturation value, saturation table, packetLen, bulkPipe
constexpr ModelRow kVDo205M1{"RCC-1.41L.", &cntVDo205M1, &kSensorVDo205M1, 0, 0, 0, 0};
constexpr ModelRow kVDh205M1{"RCH-1.4L.", &cntVDh205M1, nullptr, 0, 0, 0, 0};
constexpr ModelRow kVDh205C1{"RCH-1.4CL.", &cntVDh205C1, &kSensorVDh205C1, 100, 128, 0, 0};
constexpr ModelRow kVDo285M1{"RCC-1.4H.", &cntVDo285M1, &kSensorVDo285M1, 0, 0, 0, 0};
constexpr ModelRow kVDh285M1{"RCH-1.4.", &cntVDh285M1, nullptr, 0, 0, 0, 0};
constexpr ModelRow kVDh285C1{"RCH-1.4C.", &cntVDh285C1, &kSensorVDh285C1, 100, 128, 0, 0};
constexpr ModelRow kVDh674C1{"R-674C.", &cntVDh674C1, &kSensorVDh674C1, 0, 0, 0, 2};
constexpr ModelRow kVDh674M1V1{"R-674.", &cntVDh674M1, &kSensorVDh674M1V1, 0, 0, 0, 0};
constexpr ModelRow kVDh674M1V0{"R-674.", &cntVDh674M1, &kSensorVDh674M1V0, 0, 0, 0, 0};
constexpr ModelRow kVDh694M1V1{"R-694.", &cntVDh694M1, &kSensorVDh694M1V1, 0, 0, 0, 0};
constexpr ModelRow kVDh694M1V0{"R-694.", &cntVDh694M1, &kSensorVDh694M1V0, 0, 0, 0, 0};
// VDh694C1 is built on VDh285M1's monochrome constructor: colour settings here.
constexpr ModelRow kVDh694C1{nullptr, nullptr, nullptr, 100, 128, 0, 2};
constexpr ModelRow kVDh694C1V1{"R-694C.", &cntVDh694C1, &kSensorVDh694C1V1, 0, 0, 0, 0};
constexpr ModelRow kVDh694C1V0{"R-694C.", &cntVDh694C1, &kSensorVDh694C1V0, 0, 0, 0, 0};
constexpr ModelRow kVDh687M1V1{"R-687.", &cntVDh687M1, &kSensorVDh687M1V1, 0, 0, 0, 0};
constexpr ModelRow kVDh687M1V0{"R-687.", &cntVDh687M1, &kSensorVDh687M1V0, 0, 0, 0, 0};
constexpr ModelRow kVDo282C1{"RCC-5.0.", &cntVDo282C1, &kSensorVDo282C1, 100, 128, 0, 0};
constexpr ModelRow kVDh282C1{"RCH-5.0.", &cntVDh282C1, &kSensorVDh282C1, 100, 128, 0, 0};

// releases, row, new-hardware request, cooler on / edge off, temperature, edge state
constexpr ClaimRow kVDh674M1Claim[] = {
    {{{0xa001, 0xa004, 0xa104}}, &kVDh674M1V1, true, true, true, -1},
    {{}, &kVDh674M1V0, false, true, true, -1},
};
constexpr ClaimRow kVDh694M1Claim[] = {
    {{{0xa001, 0xa004, 0xa104, 0xa106}}, &kVDh694M1V1, false, true, false, -1},
    {{}, &kVDh694M1V0, false, true, false, -1},
};
constexpr ClaimRow kVDh694C1Claim[] = {
    {{{0xa001}}, &kVDh694C1V1, false, false, false, -1},
    {{}, &kVDh694C1V0, false, false, false, -1},
};
constexpr ClaimRow kVDh687M1Claim[] = {
    {{{0xa001}}, &kVDh687M1V1, true, false, false, kEdgeOn},
    {{}, &kVDh687M1V0, false, false, false, kEdgeOn},
};

// releases, kind, capture flag, exact request
// The h cameras ask for exactly the samples and the trailer; the larger
// cooled ones report their capture button in it.
constexpr FrameLayout kExactTrailer[] = {{{}, FrameLayout::Trailer, false, true}};
constexpr FrameLayout kVDh674M1Layout[] = {
    {{{0xb001}}, FrameLayout::PaddedTrailer, true, false},
    {{}, FrameLayout::Trailer, true, true}};
constexpr FrameLayout kExactTrailerFlag[] = {{{}, FrameLayout::Trailer, true, true}};
constexpr FrameLayout kVDh694M1Layout[] = {
    {{{0xa106}}, FrameLayout::Bare, false, true},
    {{}, FrameLayout::Trailer, true, true}};

// mode code, lines per period (0: keep), periods allowed (-1: keep)
// The re-timings: a mode's lines per period where the sensor changes them,
// and whether the new mode's line length is taken.
constexpr ExposureLimits kLimitsVDo205M1[] = {{10, 1068, -1}, {11, 546, -1}, {12, 284, -1}};
constexpr ExposureLimits kLimitsVDh674M1[] = {{10, 1521, -1}, {11, 759, -1}, {13, 759, -1}};
constexpr ExposureLimits kLimitsVDh694M1[] = {{10, 2261, -1}, {11, 1129, -1}, {13, 1129, -1}};
constexpr ExposureLimits kLimitsVDh694C1[] = {{10, 2261, -1}, {11, 1211, -1}, {12, 855, -1}, {13, 1129, -1}};
constexpr ExposureLimits kLimitsVDo282C1[] = {{0xc0, 0, 0}, {0xc1, 0, 300}};
constexpr ExposureLimits kLimitsVDh282C1[] = {{0xc0, 0, 0}, {0xc1, 0, 4000}};
constexpr CarriedRetime kRetimeVDo205M1 = carried(kLimitsVDo205M1, true);
constexpr CarriedRetime kRetimeClockOnly{nullptr, 0, false};  // VDo285M1 and its kin
constexpr CarriedRetime kRetimeVDh674M1 = carried(kLimitsVDh674M1, true);
constexpr CarriedRetime kRetimeVDh694M1 = carried(kLimitsVDh694M1, true);
constexpr CarriedRetime kRetimeVDh694C1 = carried(kLimitsVDh694C1, true);
constexpr CarriedRetime kRetimeVDo282C1 = carried(kLimitsVDo282C1, false);
constexpr CarriedRetime kRetimeVDh282C1 = carried(kLimitsVDh282C1, false);
// clang-format on

}  // namespace

VDo205M1::VDo205M1() {
    carriedRetime = &kRetimeVDo205M1;
    applyModel(kVDo205M1);
}
int VDo205M1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
VDh205M1::VDh205M1() {
    applyModel(kVDh205M1);
    frameLayouts = kExactTrailer;
}
VDh205C1::VDh205C1() {
    applyModel(kVDh205C1);
    frameLayouts = kExactTrailer;
}

VDo285M1::VDo285M1() {
    carriedRetime = &kRetimeClockOnly;
    applyModel(kVDo285M1);
}
int VDo285M1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}

void VDo285M1::sendSwitch(uint16_t value, uint16_t index) {
    EZURB urb{};
    buildRequest(urb, kRequestSwitch, value, index);
    sendRequest(urb);
}

int VDo285M1::_set_edge_inhibition(bool on) {
    edgeInhibition = on ? kEdgeOn : kEdgeOff;
    sendSwitch(static_cast<uint16_t>(edgeInhibition), kSwitchEdge);
    return 0;
}

int VDo285M1::_edge_inhibition(bool* on) {
    if (on) *on = edgeInhibition == kEdgeOn;
    return 0;
}

int VDo285M1::_set_cooled(bool on) {
    coolerOn = on ? 1 : 0;
    sendSwitch(coolerOn, kSwitchCooler);
    return 0;
}

int VDo285M1::_cooled(bool* on) {
    if (on) *on = coolerOn != 0;
    return 0;
}

VDh285M1::VDh285M1() {
    applyModel(kVDh285M1);
    frameLayouts = kExactTrailer;
}
VDh285C1::VDh285C1() {
    applyModel(kVDh285C1);
    frameLayouts = kExactTrailer;
}
VDh674C1::VDh674C1() {
    applyModel(kVDh674C1);
    frameLayouts = kExactTrailer;
    fluorescenceInterval = kGuideInterval;
    edgeInhibition = kEdgeOn;
}

// ---- Claimed by release: VDh674M1, VDh687M1, VDh694M1, VDh694C1 -------------

// What the reader of a camera claimed by release does beyond the common
// steps, and how it re-times.
struct CooledReader {
    std::span<const FrameLayout> layouts;
    const CarriedRetime* retime;
    bool autoEdgeInhibition;
    int fluorescenceInterval;
    int aeInterval;
};

namespace {
// layouts, re-timing, automatic edge inhibition, fluorescence and AE intervals
constexpr CooledReader kReaderVDh674M1V1{kVDh674M1Layout, &kRetimeVDh674M1, true, kGuideInterval,
                                         kFastAeInterval};
// The older sensor boards keep VDo285M1's lines per period.
constexpr CooledReader kReaderVDh674M1V0{kVDh674M1Layout, &kRetimeClockOnly, true, kGuideInterval,
                                         kFastAeInterval};
constexpr CooledReader kReaderVDh687M1{kExactTrailerFlag, &kRetimeVDh694M1, false, kGuideInterval,
                                       kAeInterval};
constexpr CooledReader kReaderVDh694M1{kVDh694M1Layout, &kRetimeVDh694M1, true, kGuideInterval,
                                       kFastAeInterval};
constexpr CooledReader kReaderVDh694C1{kExactTrailerFlag, &kRetimeVDh694C1, true, kFastAeInterval,
                                       kFastAeInterval};
}  // namespace

void VDh674M1::claimWith(const ClaimRow& claim, const CooledReader& reader) {
    carriedRetime = reader.retime;
    frameLayouts = reader.layouts;
    autoEdgeInhibition = reader.autoEdgeInhibition;
    fluorescenceInterval = reader.fluorescenceInterval;
    aeInterval = reader.aeInterval;
    applyModel(*claim.row);
    if (claim.edgeInhibition >= 0) edgeInhibition = claim.edgeInhibition;
    if (claim.newHardwareRequest) sendSwitch(1, kSwitchNewHardware);
    if (claim.coolerOnEdgeOff) _set_cooled(true);
    if (claim.readTemperature) {
        float celsius = 0.0f;
        _temperature(&celsius);
    }
    if (claim.coolerOnEdgeOff) _set_edge_inhibition(false);
}

int VDh674M1::_claim_device() {
    claimWith(pickClaim(kVDh674M1Claim, bcdDevice),
              kTemperatureReleases.contains(bcdDevice) ? kReaderVDh674M1V1 : kReaderVDh674M1V0);
    return 0;
}

namespace {
constexpr int32_t kEdgeFirmwareA = 0xa101;  // firmware that wants edge inhibition driven
constexpr int32_t kEdgeFirmwareB = 0xa102;
constexpr int32_t kEdgeLateMs = 7000;     // margin below the last exposure for switching off
constexpr int32_t kEdgeLongMs = 15001;    // exposures from here on keep edge inhibition on

int64_t monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}
}  // namespace

int VDh674M1::frameCheck(unsigned char* buffer, const FramePlan& plan) {
    const bool automatic =
        autoEdgeInhibition && (firmwareVersion == kEdgeFirmwareA || firmwareVersion == kEdgeFirmwareB);
    const int64_t now = monotonicMs();
    if (automatic) {
        const int64_t elapsed =
            now - (int64_t{lastFrameTime.tv_sec} * 1000 + lastFrameTime.tv_usec / 1000);
        const int64_t late = int64_t{lastExposure} - kEdgeLateMs;
        if (late >= 0 && late < elapsed && edgeInhibition == kEdgeOn) _set_edge_inhibition(false);
    }
    const int result = CamBayer::frameCheck(buffer, plan);
    if (automatic && result >= 0) {
        lastFrameTime.tv_sec = static_cast<time_t>(now / 1000);
        lastFrameTime.tv_usec = static_cast<suseconds_t>(now % 1000 * 1000);
        lastExposure = static_cast<int32_t>(_exposure());
        _set_edge_inhibition(lastExposure >= kEdgeLongMs);
    }
    return result;
}

int VDh674M1::_temperature(float* celsius) {
    if (!kTemperatureReleases.contains(bcdDevice)) return -4;
    unsigned char reply[64] = {};
    uint32_t received = 0;
    // A failed or short answer carries no reading: the value stays as it was.
    if (readStatus(reply, &received) != 0 || received < 2) return -3;
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
    return 0;
}

int VDh687M1::_claim_device() {
    claimWith(pickClaim(kVDh687M1Claim, bcdDevice), kReaderVDh687M1);
    return 0;
}

int VDh694M1::_claim_device() {
    claimWith(pickClaim(kVDh694M1Claim, bcdDevice), kReaderVDh694M1);
    return 0;
}

// The range reports 4 as the top, yet the camera takes shifts up to 8.
int VDh694M1::_set_shift_operator(int value) {
    shiftOperator = std::clamp(value, 0, kShiftMax);
    sendSwitch(static_cast<uint16_t>(shiftOperator), kSwitchShift);
    return 0;
}

int VDh694M1::_shift_operator() {
    return shiftOperator;
}

int VDh694M1::_shift_operator_range(int* min, int* max, int* step) {
    if (min) *min = 0;
    if (max) *max = kShiftReportedMax;
    if (step) *step = 1;
    return 0;
}

// ---- Black field (VDh694M1) ------------------------------------------------------

namespace {
constexpr uint8_t kRequestDarkExposure = 0xbb;  // starts the black-field exposure
constexpr int kDarkSettleMs = 400;
constexpr float kDarkExposureMs = 10000.0f;
constexpr size_t kReferenceLinesOffset = 44;  // reserved bytes of the reference's record

float referenceLines(const _ezImage& reference) {
    float lines = 0;
    std::memcpy(&lines, reinterpret_cast<const unsigned char*>(&reference) + kReferenceLinesOffset,
                sizeof lines);
    return lines;
}

// sample := max(0, sample - reference x k), k in 16.16 fixed point; the
// two records have the same size and depth.
template <class Sample>
void subtractScaled(_ezImage* image, const _ezImage* reference, uint64_t k) {
    for (int y = 0; y < image->height; ++y) {
        auto* row = reinterpret_cast<Sample*>(image->data + static_cast<size_t>(y) * image->stride);
        const auto* dark =
            reinterpret_cast<const Sample*>(reference->data + static_cast<size_t>(y) * reference->stride);
        for (int x = 0; x < image->width; ++x) {
            const uint64_t d = (dark[x] * k) >> 16;
            row[x] = d >= row[x] ? 0 : static_cast<Sample>(row[x] - d);
        }
    }
}
}  // namespace

uint32_t VDh694M1::totalLines() const {
    return static_cast<uint32_t>(exposure.max) * longExposure.value + exposure.value;
}

void VDh694M1::_blackfield() {
    EZURB dark{};
    buildRequest(dark, kRequestDarkExposure, 0, 0);
    sendRequest(dark);
    _delay(kDarkSettleMs);
    blackFieldExposure = _exposure();
    // Ten seconds' worth of lines ride in the mode requests.
    const PixelClockEntry* clock = clockEntry(pixelClock.value);
    const uint32_t lines =
        clock && lineLength > 0 ? toLines(clock->rate * kDarkExposureMs / lineLength) : 0;
    if (!buildResolutionRequest()) return;
    carryLines(resolution.urb, lines);
    carryLines(pixelClock.urb, lines);
    sendRequest(resolution.urb);
    blackFieldLines = lines;
    blackFieldCapture = 1;
}

int VDh694M1::frameFinish(_ezImage* image, int result) {
    if (blackFieldCapture) {
        blackFieldCapture = 0;
        ImagePtr reference = makeImage(image->width, image->height, image->depth, 1,
                                       image->header_size, image->resolution);
        if (reference) {
            // The lines it was exposed for: the stored exposure never
            // changed, only the request carried ten seconds.
            const float lines = static_cast<float>(blackFieldLines);
            std::memcpy(reinterpret_cast<unsigned char*>(reference.get()) + kReferenceLinesOffset,
                        &lines, sizeof lines);
            __smooth_middle(image, reference.get());
            blackFieldImage = std::move(reference);
        }
        // Back to the exposure in force before: the stored count did not
        // change, so it goes out in the mode request again.
        _set_exposure(blackFieldExposure);
        _retime();
        if (buildResolutionRequest()) sendRequest(resolution.urb);
    }
    const _ezImage* reference = blackFieldImage.get();
    if (blackFieldOn && reference && reference->width == image->width &&
        reference->height == image->height && reference->depth == image->depth) {
        const float taken = referenceLines(*reference);
        const double k = taken > 0 ? totalLines() / static_cast<double>(taken) : 0.0;
        const auto k16 = static_cast<uint64_t>(std::min(k, 65535.0) * 65536.0);
        if (image->depth == 16)
            subtractScaled<uint16_t>(image, reference, k16);
        else
            subtractScaled<uint8_t>(image, reference, k16);
    }
    return CamBayer::frameFinish(image, result);
}

VDh694C1::VDh694C1() {
    applyModel(kVDh694C1);
}

int VDh694C1::frameFinish(_ezImage* image, int result) {
    return CamBayer::frameFinish(image, result);
}

int VDh694C1::_claim_device() {
    claimWith(pickClaim(kVDh694C1Claim, bcdDevice), kReaderVDh694C1);
    return 0;
}

VDo282C1::VDo282C1() {
    carriedRetime = &kRetimeVDo282C1;
    applyModel(kVDo282C1);
}
int VDo282C1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}

VDh282C1::VDh282C1() {
    carriedRetime = &kRetimeVDh282C1;
    applyModel(kVDh282C1);
    frameLayouts = kExactTrailerFlag;
    fluorescenceInterval = kGuideInterval;
}
int VDh282C1::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}
