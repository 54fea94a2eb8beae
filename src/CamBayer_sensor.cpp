// Sensor control: resolution, pixel clock, raw depth, exposure and its
// re-timing, analog gain, black level and region of interest.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "CamBayer.h"
#include "models/model_row.h"

uint32_t CamBayer::toLines(double lines) {
    if (!(lines > 0.0)) return 0;
    if (lines >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(lines);
}

int CamBayer::_default() {
    _set_analog_gain(analogGain.def);
    _set_pixsclock(pixelClock.def);
    _set_blacklevel(blackLevel.def);
    return EZ_OK;
}

// ---- Resolution and pixel clock ------------------------------------------

int CamBayer::_set_resolution(int index, bool sendNow) {
    const ResolutionEntry* entry = resolutionEntry(index);
    if (!entry) return EZ_ERANGE;
    // Judge the resolution asked for: at 16 bits a mode the clock does not
    // allow is refused, so the camera never lands in (and is never stuck in)
    // a forbidden combination.
    if (rawDepth.value == 16 && depthState(pixelClock.value, index) == EZ_EDEPTH16) return EZ_EDEPTH16;
    buildRequest(resolution.urb, static_cast<uint8_t>(reqResolution), entry->mode, 0);
    resolution.value = static_cast<uint16_t>(index);
    _retime();
    roiRequested = 0;
    roiActive = 0;
    if (sendNow) {
        resolutionPending = 0;
        sendRequest(resolution.urb);
        if (quirks.regainAfterResolution) _set_analog_gain(analogGain.value);
    } else {
        resolutionPending = 1;
    }
    return EZ_OK;
}

int CamBayer::_resolution() {
    return resolution.value;
}
int CamBayer::_resolution_count() {
    return resolution.max;
}

const char* CamBayer::_resolution_string_at_index(int index) {
    const ResolutionEntry* entry = resolutionEntry(index);
    return entry ? entry->label : nullptr;
}

int CamBayer::_resolution_width_at_index(int index) {
    const ResolutionEntry* entry = resolutionEntry(index);
    return entry ? entry->width - 8 : EZ_ERANGE;
}

int CamBayer::_resolution_height_at_index(int index) {
    const ResolutionEntry* entry = resolutionEntry(index);
    return entry ? entry->height - 8 : EZ_ERANGE;
}

int CamBayer::_set_pixsclock(int index) {
    const PixelClockEntry* entry = clockEntry(index);
    if (!entry) return EZ_ERANGE;
    if (rawDepth.value == 16 && entry->minRes16 > resolution.value) return EZ_EDEPTH16;
    buildRequest(pixelClock.urb, static_cast<uint8_t>(reqPixelClock), entry->mode, 0);
    pixelClock.value = static_cast<uint16_t>(index);
    _retime();
    if (quirks.deferPixelClock)
        pixelClockPending = 1;
    else
        sendRequest(pixelClock.urb);
    return EZ_OK;
}

int CamBayer::_pixsclock() {
    return pixelClock.value;
}
int CamBayer::_pixsclock_count() {
    return pixelClock.max;
}

const char* CamBayer::_pixsclock_string_at_index(int index) {
    const PixelClockEntry* entry = clockEntry(index);
    return entry ? entry->label : nullptr;
}

// ---- Raw depth -------------------------------------------------------------

int CamBayer::depthState(int clock, int resolutionIndex) {
    const PixelClockEntry* entry = clockEntry(clock);
    if (!entry) return EZ_ERANGE;
    const PixelClockEntry* last = clockEntry(pixelClock.max - 1);
    if (!last->depth16 || !entry->depth16) return EZ_ENOTSUP;
    if (resolutionIndex < entry->minRes16) return EZ_EDEPTH16;
    return EZ_OK;
}

int CamBayer::_raw_depth_state(int clock) {
    return depthState(clock, resolution.value);
}

int CamBayer::_raw_depth() {
    return rawDepth.value;
}

int CamBayer::_set_raw_depth(int bits) {
    if (!rawDepth.supported) return EZ_ENOTSUP;
    uint16_t code = 0;
    if (bits == 8) {
        code = 10;
    } else if (bits == 16) {
        if (_raw_depth_state(pixelClock.value) == EZ_EDEPTH16) return EZ_EDEPTH16;
        code = 5;
    } else {
        return EZ_ERANGE;
    }
    buildRequest(rawDepth.urb, static_cast<uint8_t>(reqRawDepth), code, 0);
    sendRequest(rawDepth.urb);
    rawDepth.value = static_cast<uint16_t>(bits);
    return EZ_OK;
}

// ---- Analog gain ------------------------------------------------------------

int CamBayer::_set_analog_gain(int gain) {
    return modelAnalogGain(gain);
}

int CamBayer::_analog_gain_range(int* min, int* max, int* step) {
    if (min) *min = analogGain.min;
    if (max) *max = analogGain.max;
    if (step) *step = analogGain.step;
    return EZ_OK;
}

int CamBayer::_analog_gain() {
    return analogGain.value;
}

// ---- Exposure -------------------------------------------------------------

void CamBayer::_retime() {
    if (const Retime* retime = sensorRow ? sensorRow->retime : nullptr) {
        if (retime->kind == Retime::Fixed) return;
        if (retime->kind == Retime::Carried) {
            retimeCarried(retime->limits, retime->count, retime->rereadLineLength);
            return;
        }
    }
    const double clocks = static_cast<double>(exposure.value) * lineLength;
    const double oldRate = pixelRate;
    loadTiming();
    uint32_t lines = exposure.value;
    if (oldRate > 0 && lineLength > 0)
        lines = toLines(pixelRate * clocks / oldRate / lineLength + 0.5);
    lines = std::max<uint32_t>(lines, exposure.min);
    lines = std::min<uint32_t>(lines, exposure.max);
    exposure.value = static_cast<uint16_t>(lines);
    buildRequest(exposure.urb, 0xb7, exposure.value, regExposure);
    if (quirks.retimeSendsExposure) sendRequest(exposure.urb);
    resolution.urb.index = exposure.value;
    pixelClock.urb.index = exposure.value;
}

uint32_t CamBayer::retimeCarried(const ExposureLimits* limits, int count, bool rereadLineLength,
                                 bool carry) {
    const uint32_t oldLines = exposure.value;
    const uint32_t oldPeriods = longExposure.value;
    const uint32_t oldMax = exposure.max;
    const int32_t oldLineLength = lineLength;
    const int32_t oldRate = pixelRate;

    const ResolutionEntry* entry = resolutionEntry(resolution.value);
    uint32_t newMax = oldMax;
    if (entry) {
        for (int i = 0; i < count; ++i) {
            if (limits[i].mode != entry->mode) continue;
            if (limits[i].exposureMax) newMax = limits[i].exposureMax;
            if (limits[i].longExposureMax >= 0)
                longExposure.max = static_cast<uint16_t>(limits[i].longExposureMax);
            break;
        }
        if (rereadLineLength) lineLength = entry->lineLength;
    }
    if (const PixelClockEntry* clock = clockEntry(pixelClock.value)) pixelRate = clock->rate;
    newMax = std::max<uint32_t>(newMax, 1);

    float scale = 1.0f;
    if (oldRate > 0 && lineLength > 0) {
        scale = rereadLineLength
                    ? static_cast<float>(pixelRate) * static_cast<float>(oldLineLength) /
                          static_cast<float>(oldRate) / static_cast<float>(lineLength)
                    : static_cast<float>(pixelRate) / static_cast<float>(oldRate);
    }
    const double total = static_cast<double>(oldPeriods * oldMax + oldLines) * scale;
    uint32_t lines = toLines(total);
    const uint32_t limit = (longExposure.max + 1u) * newMax - 1;
    lines = std::min(std::max<uint32_t>(lines, exposure.min), limit);

    exposure.max = static_cast<uint16_t>(newMax);
    exposure.value = static_cast<uint16_t>(lines % newMax);
    longExposure.value = static_cast<uint16_t>(lines / newMax);
    buildRequest(exposure.urb, 0xb7, exposure.value, regExposure);
    buildRequest(longExposure.urb, 0xb7, longExposure.value, regLongExposure);
    if (carry) {
        carryLines(resolution.urb, lines);
        carryLines(pixelClock.urb, lines);
    }
    return lines;
}

void CamBayer::carryLines(EZURB& urb, uint32_t lines) {
    urb.index = static_cast<uint16_t>(lines & 0xffff);
    urb.value = static_cast<uint16_t>((urb.value & 0xff) | (((lines >> 16) & 0xff) << 8));
}

bool CamBayer::buildResolutionRequest() {
    if (resolution.urb.request != 0) return true;
    const ResolutionEntry* entry = resolutionEntry(resolution.value);
    if (!entry) return false;
    buildRequest(resolution.urb, static_cast<uint8_t>(reqResolution), entry->mode, 0);
    return true;
}

int CamBayer::_set_exposure(float milliseconds) {
    const double perLine = lineLength > 0 ? static_cast<float>(pixelRate) * milliseconds /
                                                static_cast<float>(lineLength)
                                          : 0.0;
    uint32_t lines = std::max<uint32_t>(toLines(perLine), exposure.min);
    if ((longExposure.supported || quirks.exposureInTwoRegisters) && exposure.max > 0) {
        const uint32_t total = std::min(lines, (longExposure.max + 1u) * exposure.max - 1);
        const auto periods = static_cast<uint16_t>(total / exposure.max);
        const auto rest = static_cast<uint16_t>(total % exposure.max);
        if (periods != longExposure.value || rest != exposure.value) {
            exposure.value = rest;
            longExposure.value = periods;
            writeRegister(exposure, regExposure, rest);
            writeRegister(longExposure, regLongExposure, periods);
        }
    } else {
        lines = std::min<uint32_t>(lines, exposure.max);
        writeRegister(exposure, regExposure, static_cast<uint16_t>(lines));
        exposure.value = static_cast<uint16_t>(lines);
    }
    // A resolution request still waiting must carry the new line count.
    if (resolutionPending) _retime();
    return EZ_OK;
}

float CamBayer::_exposure() {
    if (pixelRate <= 0) return 0.0f;
    const double lines = exposure.value + static_cast<double>(longExposure.value) * exposure.max;
    return static_cast<float>(lines * lineLength / pixelRate);
}

int CamBayer::_exposure_range(float* min, float* max, float* step) {
    const float line =
        pixelRate > 0 ? static_cast<float>(lineLength) / static_cast<float>(pixelRate) : 0.0f;
    const int64_t longest =
        std::max<int64_t>((longExposure.max + int64_t{1}) * exposure.max - 1, 0);
    if (min) *min = static_cast<float>(exposure.min) * line;
    if (max) *max = static_cast<float>(longest) * line;
    if (step) *step = static_cast<float>(exposure.step) * line;
    return EZ_OK;
}

int CamBayer::_restart_state() {
    return quirks.noLongExposureRestart || !longExposure.supported ? EZ_ENOTSUP : EZ_OK;
}

int CamBayer::_restart_exposure() {
    if (_restart_state() != EZ_OK) return EZ_ENOTSUP;
    EZURB stop{};
    buildRequest(stop, 0xbb, 0, 0);
    sendRequest(stop);
    if (quirks.restartPauseMs) _delay(quirks.restartPauseMs);
    // The resolution request may not have been built yet (no resume so far).
    if (!buildResolutionRequest()) return EZ_ENOTSUP;
    carryLines(resolution.urb,
               exposure.value + static_cast<uint32_t>(longExposure.value) * exposure.max);
    sendRequest(resolution.urb);
    return EZ_OK;
}

// ---- Black level -------------------------------------------------------------

int CamBayer::_set_blacklevel(int level) {
    if (!blackLevel.supported) return EZ_ENOTSUP;
    if (level < blackLevel.min || level > blackLevel.max) return EZ_ERANGE;
    writeRegister(blackLevel, regBlackLevel, static_cast<uint16_t>(level));
    blackLevel.value = static_cast<uint16_t>(level);
    return EZ_OK;
}

int CamBayer::_blacklevel() {
    return blackLevel.value;
}

int CamBayer::_blacklevel_range(int* min, int* max, int* step) {
    if (!blackLevel.supported) return EZ_ENOTSUP;
    if (min) *min = blackLevel.min;
    if (max) *max = blackLevel.max;
    if (step) *step = blackLevel.step;
    return EZ_OK;
}

// ---- Region of interest and frame size -------------------------------------------

void CamBayer::clampRegion(int xArg, int yArg, int widthArg, int heightArg) {
    const ResolutionEntry* entry = resolutionEntry(resolution.value);
    const int64_t widthMax = entry ? entry->width - 8 : 8;
    const int64_t heightMax = entry ? entry->height - 8 : 8;
    // The origin stays far enough in that at least 8 pixels remain.
    int64_t x = std::clamp<int64_t>(xArg, 0, std::max<int64_t>(widthMax - 8, 0));
    int64_t y = std::clamp<int64_t>(yArg, 0, std::max<int64_t>(heightMax - 8, 0));
    int64_t width = std::max<int64_t>(std::min<int64_t>(widthArg, widthMax), 8);
    int64_t height = std::max<int64_t>(std::min<int64_t>(heightArg, heightMax), 8);
    if (x + width > widthMax) width = widthMax - x;
    if (y + height > heightMax) height = heightMax - y;
    // A region programmed into the sensor arrives in whole packets: one of
    // fewer samples than a packet would never arrive at all. Such a region
    // grows downwards (then rightwards), its origin moving in where the
    // frame ends. A region cut out of whole frames may stay small.
    int64_t storedWidth = (width + 8) & ~int64_t{3};
    int64_t storedHeight = (height + 8) & ~int64_t{1};
    const int64_t packet = regionProgrammed() ? std::max<int64_t>(packetLen, 1) : 0;
    if (storedWidth * storedHeight < packet) {
        storedHeight = std::min((packet / storedWidth + 2) & ~int64_t{1}, (heightMax + 8) & ~int64_t{1});
        if (storedWidth * storedHeight < packet)
            storedWidth = std::min((packet / storedHeight + 4) & ~int64_t{3}, (widthMax + 8) & ~int64_t{3});
        x = std::max<int64_t>(std::min(x, widthMax + 8 - storedWidth), 0);
        y = std::max<int64_t>(std::min(y, heightMax + 8 - storedHeight), 0);
    }
    urbRoiOrigin.value = static_cast<uint16_t>(x & ~int64_t{3});
    urbRoiOrigin.index = static_cast<uint16_t>(y & ~int64_t{1});
    urbRoiSize.value = static_cast<uint16_t>(storedWidth);
    urbRoiSize.index = static_cast<uint16_t>(storedHeight);
}

int CamBayer::_set_roi(int x, int y, int width, int height) {
    clampRegion(x, y, width, height);
    roiRequested = 1;
    return EZ_OK;
}

int CamBayer::_roi(int* x, int* y, int* width, int* height) {
    if (x) *x = urbRoiOrigin.value;
    if (y) *y = urbRoiOrigin.index;
    if (width) *width = urbRoiSize.value - 8;
    if (height) *height = urbRoiSize.index - 8;
    return EZ_OK;
}

int CamBayer::_set_roi_state(bool on) {
    if (on) {
        // A region stored at another resolution (or none at all) is fitted to
        // the frames now delivered before it is programmed or cut out.
        if (urbRoiSize.value == 0 || urbRoiSize.index == 0)
            clampRegion(0, 0, INT32_MAX, INT32_MAX);
        else
            clampRegion(urbRoiOrigin.value, urbRoiOrigin.index, urbRoiSize.value - 8,
                        urbRoiSize.index - 8);
        roiRequested = 1;
        return EZ_OK;
    }
    roiRequested = 0;
    if (roiActive) {
        roiActive = 0;
        _set_resolution(0, false);
    }
    return EZ_OK;
}

int CamBayer::_roi_state(bool* on) {
    if (on) *on = roiActive || roiRequested;
    return EZ_OK;
}

int CamBayer::_raw_size(int* width, int* height) {
    int w = 0;
    int h = 0;
    if (roiRequested || roiActive) {
        w = urbRoiSize.value;
        h = urbRoiSize.index;
    } else if (const ResolutionEntry* entry = resolutionEntry(resolution.value)) {
        w = entry->width;
        h = entry->height;
    }
    if (pipeline.rotate == 1 || pipeline.rotate == 2) std::swap(w, h);
    if (width) *width = w;
    if (height) *height = h;
    return EZ_OK;
}
