// What the frame reader keeps beside each frame: counters since the stream
// started, when the transfer ended, and the settings in force.
#include <cctype>
#include <cstdlib>
#include <string>

#include "CamBayer.h"

namespace {
constexpr int64_t kTemperatureEveryNs = 1'000'000'000;  // a status request at most once a second

int64_t nanoseconds(const timespec& t) {
    return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// Binning a mode's label states ("672X504 2x2Bin", "1016X760 2x2 Bin"): the
// N of "NxN" before "Bin"; 1 without "Bin"; 0 for "Bin" without a factor.
int labelBinning(const char* label) {
    const std::string text = label ? label : "";
    const size_t bin = text.find("Bin");
    if (bin == std::string::npos) return 1;
    const size_t x = text.rfind('x', bin);
    if (x == std::string::npos || x == 0 || !std::isdigit(static_cast<unsigned char>(text[x - 1])))
        return 0;
    size_t from = x;
    while (from > 0 && std::isdigit(static_cast<unsigned char>(text[from - 1]))) --from;
    return std::atoi(text.c_str() + from);
}
}  // namespace

void CamBayer::restartFrameCount() {
    auto lock = lockSettings();
    const int8_t temperatureState = frameTally.temperatureState;
    frameTally = FrameTally{};
    // Whether the model has a temperature does not change with the stream.
    if (temperatureState < 0) frameTally.temperatureState = temperatureState;
}

void CamBayer::noteFrame(int result, const unsigned char* buffer, const FramePlan& plan,
                         EzFrameInfo* info) {
    if (result != EZ_OK && result != EZ_CAPTURE && result != EZ_EIO) return;
    auto lock = lockSettings();
    FrameTally& tally = frameTally;
    if (result == EZ_EIO) {
        ++tally.lost;
        if (plan.modeChange) ++tally.modeDrops;
        if (info) {
            info->frames_lost = tally.lost;
            info->mode_drops = tally.modeDrops;
        }
        return;
    }

    const uint64_t number = tally.delivered++;
    const bool keep = calibration.on();
    if (!info && !keep) return;

    // The temperature is asked only for callers that want the frame
    // described, so plain reads send nothing more than the frame request.
    const int64_t now = nanoseconds(plan.transferEnd);
    if (tally.temperatureState >= 0 &&
        (tally.temperatureAskedNs == 0 || now - tally.temperatureAskedNs >= kTemperatureEveryNs)) {
        tally.temperatureAskedNs = now;
        float celsius = 0.0f;
        const int status = _temperature(&celsius);
        if (status == EZ_OK) {
            tally.temperature = celsius;
            tally.temperatureState = 1;
        } else if (status == EZ_ENOTSUP) {
            tally.temperatureState = -1;
        }
    }

    const auto* image = reinterpret_cast<const _ezImage*>(buffer);
    EzFrameInfo out{};
    out.frame = number;
    out.frames_lost = tally.lost;
    out.mode_drops = tally.modeDrops;
    out.monotonic_ns = now;
    out.utc_ns = nanoseconds(plan.transferEndUtc);
    out.exposure_ms = exposureInForce();
    out.has_temperature = tally.temperatureState > 0 ? 1 : 0;
    out.temperature = tally.temperature;
    out.analog_gain = analogGain.value;
    out.black_level = blackLevel.value;
    out.pixel_clock = pixelClock.value;
    out.resolution = plan.resolution;
    out.width = image->width;
    out.height = image->height;
    // A frame of the programmed region's size is that region; otherwise one
    // of the requested region's size was cut out in memory.
    if (roiActive && image->width == roiInSensor.width && image->height == roiInSensor.height) {
        out.roi_x = roiInSensor.x;
        out.roi_y = roiInSensor.y;
    } else if (roiRequested && image->width == urbRoiSize.value &&
               image->height == urbRoiSize.index) {
        out.roi_x = urbRoiOrigin.value;
        out.roi_y = urbRoiOrigin.index;
    }
    if (plan.binX > 1 || plan.binY > 1) {
        out.x_binning = plan.binX;
        out.y_binning = plan.binY;
    } else {
        const ResolutionEntry* entry = resolutionEntry(plan.resolution);
        out.x_binning = out.y_binning = labelBinning(entry ? entry->label : nullptr);
    }
    out.depth = image->depth;
    out.bayer = channels == 1 ? 0 : bayerPattern;
    if (info) *info = out;
    tally.latest = out;  // the settings calibration matches its masters to
}
