// The D family's behaviour of its own: edge inhibition that follows the
// exposure on the larger cooled cameras, and VDh694M1's black-field reference.
#include <algorithm>
#include <cstring>
#include <ctime>

#include "models/models.h"
#include "processing/corrections.h"

int cntVDo205M1 = 0, cntVDh205M1 = 0, cntVDh205C1 = 0, cntVDo285M1 = 0, cntVDh285M1 = 0;
int cntVDh285C1 = 0, cntVDh674C1 = 0, cntVDh674M1 = 0, cntVDh687M1 = 0, cntVDh694M1 = 0;
int cntVDh694C1 = 0, cntVDo282C1 = 0, cntVDh282C1 = 0;

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
    const bool automatic = features().autoEdgeInhibition &&
                           (firmwareVersion() == kEdgeFirmwareA || firmwareVersion() == kEdgeFirmwareB);
    const int64_t now = monotonicMs();
    if (automatic) {
        const int64_t elapsed = now - lastFrameMs_;
        const int64_t late = int64_t{lastExposure_} - kEdgeLateMs;
        bool on = false;
        if (late >= 0 && late < elapsed && _edge_inhibition(&on) == EZ_OK && on)
            _set_edge_inhibition(false);
    }
    const int result = CamBayer::frameCheck(buffer, plan);
    if (automatic && result >= 0) {
        lastFrameMs_ = now;
        lastExposure_ = static_cast<int32_t>(_exposure());
        _set_edge_inhibition(lastExposure_ >= kEdgeLongMs);
    }
    return result;
}

// ---- Mode changes (VDh694M1, VDh694C1) ------------------------------------------

namespace {
constexpr int kModeSettleMs = 100;        // between the mode and the clock request
constexpr int32_t kFastClockRate = 24000;  // from here on full resolution has no 16-bit mode
}  // namespace

// Full resolution at 16 bits is refused on the fast clocks: the current
// mode stays, is programmed again, and the result says -3. Every other
// choice is the common mode change, judged by depthState: as everywhere, a
// mode the clock allows no 16-bit depth in is refused (4) rather than
// entered. The newer boards' two fast clocks take 16 bits from the third
// mode on only, so there the binned 1360-wide mode is refused at 16 bits as
// well as full resolution.
int VDh694M1::_set_resolution(int index, bool sendNow) {
    const SensorControl& s = sensorControl();
    if (!s.resolutionEntry(index)) return EZ_ERANGE;
    if (index == 0 && s.rawDepth.value == 16 && s.pixelRate >= kFastClockRate) {
        const int result = CamBayer::_set_resolution(s.resolution.value, sendNow);
        return result == EZ_OK ? EZ_EIO : result;
    }
    return CamBayer::_set_resolution(index, sendNow);
}

int VDh694M1::depthState(int clock, int resolutionIndex) {
    const int allowed = CamBayer::depthState(clock, resolutionIndex);
    // The mode setter refuses full resolution at 16 bits on these clocks
    // (-3); the depth and clock setters refuse to lead there, so the camera
    // never stands in it (where a still could not return to it either).
    const PixelClockEntry* entry = sensorControl().clockEntry(clock);
    if (allowed == EZ_OK && resolutionIndex == 0 && entry && entry->rate >= kFastClockRate)
        return EZ_EDEPTH16;
    return allowed;
}

void VDh694M1::sendModeRequest() {
    SensorControl& s = sensorControl();
    s.sendRequest(s.resolution.urb);
    _delay(kModeSettleMs);
    // The clock request carries the same line count; built here when no
    // clock was chosen since the camera was opened.
    if (!s.pixelClock.urb.request) {
        if (const PixelClockEntry* clock = s.clockEntry(s.pixelClock.value)) {
            SensorControl::buildRequest(s.pixelClock.urb, static_cast<uint8_t>(s.reqPixelClock),
                                        clock->mode, 0);
            _retime();
        }
    }
    if (s.pixelClock.urb.request) s.sendRequest(s.pixelClock.urb);
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

// sample := max(0, sample - reference x k), k in 16.16 fixed point (at
// most 65535) and the scaled reference truncated before it is taken off,
// so a sample may keep one count more than the exact difference leaves;
// 8-bit frames alike. The two records have the same size and depth.
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

void VDh694M1::_blackfield() {
    SensorControl& s = sensorControl();
    EZURB dark{};
    SensorControl::buildRequest(dark, kRequestDarkExposure, 0, 0);
    s.sendRequest(dark);
    _delay(kDarkSettleMs);
    blackFieldExposure_ = _exposure();
    // Ten seconds' worth of lines ride in the mode requests.
    const PixelClockEntry* clock = s.clockEntry(s.pixelClock.value);
    const uint32_t lines = clock && s.lineLength > 0
                               ? SensorControl::toLines(clock->rate * kDarkExposureMs / s.lineLength)
                               : 0;
    if (!s.buildResolutionRequest()) return;
    SensorControl::carryLines(s.resolution.urb, lines);
    SensorControl::carryLines(s.pixelClock.urb, lines);
    s.sendRequest(s.resolution.urb);
    blackFieldLines_ = lines;
    blackFieldCapture_ = 1;
}

int VDh694M1::frameFinish(_ezImage* image, int result) {
    SensorControl& s = sensorControl();
    if (blackFieldCapture_) {
        blackFieldCapture_ = 0;
        ImagePtr reference = makeImage(image->width, image->height, image->depth, 1,
                                       image->header_size, image->resolution);
        if (reference) {
            // The lines it was exposed for: the stored exposure never
            // changed, only the request carried ten seconds.
            const float lines = static_cast<float>(blackFieldLines_);
            std::memcpy(reinterpret_cast<unsigned char*>(reference.get()) + kReferenceLinesOffset,
                        &lines, sizeof lines);
            __smooth_middle(image, reference.get());
            blackFieldImage_ = std::move(reference);
        }
        // Back to the exposure in force before: the stored count did not
        // change, so it goes out in the mode request again.
        _set_exposure(blackFieldExposure_);
        _retime();
        if (s.buildResolutionRequest()) s.sendRequest(s.resolution.urb);
    }
    const _ezImage* reference = blackFieldImage_.get();
    if (blackFieldOn() && reference && reference->width == image->width &&
        reference->height == image->height && reference->depth == image->depth) {
        const float taken = referenceLines(*reference);
        const double k = taken > 0 ? s.totalLines() / static_cast<double>(taken) : 0.0;
        const auto k16 = static_cast<uint64_t>(std::min(k, 65535.0) * 65536.0);
        if (image->depth == 16)
            subtractScaled<uint16_t>(image, reference, k16);
        else
            subtractScaled<uint8_t>(image, reference, k16);
    }
    return CamBayer::frameFinish(image, result);
}

// No reference is taken from a colour frame, and it is the taking that
// brings the exposure back: the ten-second dark exposure VDh694M1 starts
// would stay in force, unknown to the exposure the camera reports. So the
// request does nothing here.
void VDh694C1::_blackfield() {}

int VDh694C1::frameFinish(_ezImage* image, int result) {
    return CamBayer::frameFinish(image, result);
}

