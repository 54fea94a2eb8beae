// Sensor control: resolution, pixel clock, raw depth, exposure and its
// re-timing, analog gain, black level and region of interest, and the
// requests held back for the frame boundary.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "camera/sensor_control.h"

#include "processing/geometry.h"

SensorControl::SensorControl(CamBase& ops, ModelHooks& hooks) : ops_(ops), hooks_(hooks) {
    rawDepth.value = 8;
    rawDepth.min = 8;
    rawDepth.max = 16;
    rawDepth.step = 8;
    rawDepth.def = 8;
    blackLevel.max = 255;
    blackLevel.step = 1;
    buildRequest(urbFrameRequest, 0xb3, 0, 0);
    buildRequest(urbRoiOrigin, 0xbd, 0, 0);
    buildRequest(urbRoiSize, 0xbe, 0, 0);
}

// ---- Helpers ---------------------------------------------------------------

const ResolutionEntry* SensorControl::resolutionEntry(int index) const {
    const auto* table = static_cast<const ResolutionEntry*>(resolution.table);
    if (!table || index < 0 || index >= resolution.max) return nullptr;
    return &table[index];
}

const PixelClockEntry* SensorControl::clockEntry(int index) const {
    const auto* table = static_cast<const PixelClockEntry*>(pixelClock.table);
    if (!table || index < 0 || index >= pixelClock.max) return nullptr;
    return &table[index];
}

const ModeReadout* SensorControl::readoutInForce() const {
    return findReadout(readouts, static_cast<const ResolutionEntry*>(resolution.table),
                       resolution.value);
}

void SensorControl::buildRequest(EZURB& urb, uint8_t request, uint16_t value, uint16_t index) {
    urb = EZURB{};
    urb.requestType = 0x40;
    urb.request = request;
    urb.value = value;
    urb.index = index;
}

int SensorControl::sendRequest(EZURB& urb) {
    return ops_._sumbit_ctl_urb(1000, 1, &urb);
}

int SensorControl::writeRegister(SensorSetting& setting, uint16_t reg, uint16_t value) {
    buildRequest(setting.urb, 0xb7, value, reg);
    return sendRequest(setting.urb);
}

int SensorControl::sendRegister(uint16_t reg, uint16_t value) {
    EZURB urb{};
    buildRequest(urb, 0xb7, value, reg);
    return sendRequest(urb);
}

int SensorControl::applyAnalogGain(int gain, uint16_t (*toRegister)(int gain)) {
    gain = std::clamp(gain, static_cast<int>(analogGain.min),
                      std::max(static_cast<int>(analogGain.min), static_cast<int>(analogGain.max)));
    writeRegister(analogGain, regAnalogGain, toRegister(gain));
    analogGain.value = static_cast<uint16_t>(gain);
    return EZ_OK;
}

void SensorControl::loadTiming() {
    if (const ResolutionEntry* entry = resolutionEntry(resolution.value))
        lineLength = entry->lineLength;
    if (const PixelClockEntry* entry = clockEntry(pixelClock.value)) pixelRate = entry->rate;
}

uint32_t SensorControl::totalLines() const {
    return static_cast<uint32_t>(exposure.max) * longExposure.value + exposure.value;
}

float SensorControl::exposureInForce() const {
    if (pixelRate <= 0) return 0;
    const float lines = static_cast<float>(exposure.value) +
                        static_cast<float>(longExposure.value) * static_cast<float>(exposure.max);
    return lines * static_cast<float>(lineLength) / static_cast<float>(pixelRate);
}

uint32_t SensorControl::toLines(double lines) {
    if (!(lines > 0.0)) return 0;
    if (lines >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(lines);
}


// ---- Resolution and pixel clock ------------------------------------------

int SensorControl::setResolution(int index, bool sendNow) {
    const ResolutionEntry* entry = resolutionEntry(index);
    if (!entry) return EZ_ERANGE;
    // Judge the resolution asked for: at 16 bits a mode the clock does not
    // allow is refused, so the camera never lands in (and is never stuck in)
    // a forbidden combination.
    if (rawDepth.value == 16 && hooks_.depthState(pixelClock.value, index) == EZ_EDEPTH16) return EZ_EDEPTH16;
    buildRequest(resolution.urb, static_cast<uint8_t>(reqResolution), entry->mode, 0);
    resolution.value = static_cast<uint16_t>(index);
    ops_._retime();
    roiRequested = 0;
    roiActive = 0;
    if (sendNow) {
        resolutionPending = 0;
        hooks_.sendModeRequest();
        if (quirks.regainAfterResolution) ops_._set_analog_gain(analogGain.value);
    } else {
        resolutionPending = 1;
    }
    return EZ_OK;
}





int SensorControl::setPixelClock(int index) {
    const PixelClockEntry* entry = clockEntry(index);
    if (!entry) return EZ_ERANGE;
    if (rawDepth.value == 16 && hooks_.depthState(index, resolution.value) == EZ_EDEPTH16) return EZ_EDEPTH16;
    buildRequest(pixelClock.urb, static_cast<uint8_t>(reqPixelClock), entry->mode, 0);
    pixelClock.value = static_cast<uint16_t>(index);
    ops_._retime();
    if (quirks.deferPixelClock)
        pixelClockPending = 1;
    else
        sendRequest(pixelClock.urb);
    return EZ_OK;
}



// ---- Raw depth -------------------------------------------------------------

int SensorControl::depthState(int clock, int resolutionIndex) const {
    const PixelClockEntry* entry = clockEntry(clock);
    if (!entry) return EZ_ERANGE;
    const PixelClockEntry* last = clockEntry(pixelClock.max - 1);
    if (!last->depth16 || !entry->depth16) return EZ_ENOTSUP;
    if (resolutionIndex < entry->minRes16) return EZ_EDEPTH16;
    return EZ_OK;
}



int SensorControl::setRawDepth(int bits) {
    if (!rawDepth.supported) return EZ_ENOTSUP;
    uint16_t code = 0;
    if (bits == 8) {
        code = 10;
    } else if (bits == 16) {
        if (hooks_.depthState(pixelClock.value, resolution.value) == EZ_EDEPTH16) return EZ_EDEPTH16;
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

int SensorControl::setAnalogGain(int gain) {
    static constexpr uint16_t (*kUnchanged)(int) = [](int g) { return static_cast<uint16_t>(g); };
    return applyAnalogGain(gain, sensorRow && sensorRow->gain ? sensorRow->gain : kUnchanged);
}



// ---- Exposure -------------------------------------------------------------

void SensorControl::retime() {
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

uint32_t SensorControl::retimeCarried(const ExposureLimits* limits, int count, bool rereadLineLength,
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

void SensorControl::carryLines(EZURB& urb, uint32_t lines) {
    urb.index = static_cast<uint16_t>(lines & 0xffff);
    urb.value = static_cast<uint16_t>((urb.value & 0xff) | (((lines >> 16) & 0xff) << 8));
}

bool SensorControl::buildResolutionRequest() {
    if (resolution.urb.request != 0) return true;
    const ResolutionEntry* entry = resolutionEntry(resolution.value);
    if (!entry) return false;
    buildRequest(resolution.urb, static_cast<uint8_t>(reqResolution), entry->mode, 0);
    return true;
}

int SensorControl::setExposure(float milliseconds) {
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
    if (resolutionPending) ops_._retime();
    return EZ_OK;
}

float SensorControl::exposureMs() const {
    if (pixelRate <= 0) return 0.0f;
    const double lines = exposure.value + static_cast<double>(longExposure.value) * exposure.max;
    return static_cast<float>(lines * lineLength / pixelRate);
}

int SensorControl::exposureRange(float* min, float* max, float* step) const {
    const float line =
        pixelRate > 0 ? static_cast<float>(lineLength) / static_cast<float>(pixelRate) : 0.0f;
    const int64_t longest =
        std::max<int64_t>((longExposure.max + int64_t{1}) * exposure.max - 1, 0);
    if (min) *min = static_cast<float>(exposure.min) * line;
    if (max) *max = static_cast<float>(longest) * line;
    if (step) *step = static_cast<float>(exposure.step) * line;
    return EZ_OK;
}

int SensorControl::restartState() const {
    return quirks.noLongExposureRestart || !longExposure.supported ? EZ_ENOTSUP : EZ_OK;
}

int SensorControl::restartExposure() {
    if (restartState() != EZ_OK) return EZ_ENOTSUP;
    EZURB stop{};
    buildRequest(stop, 0xbb, 0, 0);
    sendRequest(stop);
    if (quirks.restartPauseMs) ops_._delay(quirks.restartPauseMs);
    // The resolution request may not have been built yet (no resume so far).
    if (!buildResolutionRequest()) return EZ_ENOTSUP;
    carryLines(resolution.urb,
               exposure.value + static_cast<uint32_t>(longExposure.value) * exposure.max);
    sendRequest(resolution.urb);
    return EZ_OK;
}

// ---- Black level -------------------------------------------------------------

int SensorControl::setBlackLevel(int level) {
    if (!blackLevel.supported) return EZ_ENOTSUP;
    if (level < blackLevel.min || level > blackLevel.max) return EZ_ERANGE;
    writeRegister(blackLevel, regBlackLevel, static_cast<uint16_t>(level));
    blackLevel.value = static_cast<uint16_t>(level);
    return EZ_OK;
}



// ---- Region of interest and frame size -------------------------------------------

void SensorControl::clampRegion(int xArg, int yArg, int widthArg, int heightArg) {
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

int SensorControl::setRegion(int x, int y, int width, int height) {
    clampRegion(x, y, width, height);
    roiRequested = 1;
    return EZ_OK;
}

int SensorControl::region(int* x, int* y, int* width, int* height) const {
    if (x) *x = urbRoiOrigin.value;
    if (y) *y = urbRoiOrigin.index;
    if (width) *width = urbRoiSize.value - 8;
    if (height) *height = urbRoiSize.index - 8;
    return EZ_OK;
}

int SensorControl::setRegionState(bool on) {
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
    endRegion();
    return EZ_OK;
}

// Re-sending the mode in force ends the sensor's region: the frames return
// to the whole frame of the resolution the caller chose.
void SensorControl::endRegion() {
    if (!roiActive) return;
    roiActive = 0;
    ops_._set_resolution(resolution.value, false);
}



void SensorControl::frameSize(int& width, int& height) const {
    width = 0;
    height = 0;
    if (regionOn()) {
        width = urbRoiSize.value;
        height = urbRoiSize.index;
    } else if (const ResolutionEntry* entry = resolutionEntry(resolution.value)) {
        width = entry->width;
        height = entry->height;
    }
}

// ---- The frame boundary ------------------------------------------------------

const FrameLayout* SensorControl::layoutInForce() const {
    for (const FrameLayout& layout : frameLayouts)
        if (layout.releases.contains(release)) return &layout;
    return nullptr;
}

void SensorControl::sendPending() {
    if (resolutionPending) {
        resolutionPending = 0;
        hooks_.sendModeRequest();
    }
    if (pixelClockPending) {
        pixelClockPending = 0;
        sendRequest(pixelClock.urb);
    }
}

bool SensorControl::regionProgrammed() const {
    const FrameLayout* layout = layoutInForce();
    const RoiRule rule = layout ? layout->roi : RoiRule{};
    switch (rule.when) {
        case RoiRule::FirstResolution:
            return resolution.value == 0;
        case RoiRule::FullWidth: {
            const ResolutionEntry* entry = resolutionEntry(resolution.value);
            return entry && entry->width == rule.fullWidth;
        }
        case RoiRule::Always:
            return true;
        case RoiRule::Never:
            break;
    }
    return false;
}

int SensorControl::regionAtBoundary(_ezImage* image, int frameResolution) {
    if (!roiRequested) return EZ_OK;
    // The mode changed while the transfer waited: this frame is of the old
    // one and the region was fitted to the new one, whose request has to
    // reach the camera first. The region waits for the next frame.
    if (resolutionPending || resolution.value != frameResolution) return EZ_OK;
    if (regionProgrammed()) {
        const FrameLayout* layout = layoutInForce();
        const RoiRule rule = layout ? layout->roi : RoiRule{};
        sendRequest(urbRoiOrigin);
        sendRequest(urbRoiSize);
        roiInSensor = {urbRoiOrigin.value, urbRoiOrigin.index, urbRoiSize.value, urbRoiSize.index};
        roiRequested = 0;
        roiActive = 1;
        return rule.dropFrame ? EZ_EIO : EZ_OK;
    }
    const int x = urbRoiOrigin.value;
    const int y = urbRoiOrigin.index;
    const int width = urbRoiSize.value;
    const int height = urbRoiSize.index;
    // The region was fitted to this resolution when it was set; a frame of
    // another size is left whole rather than cut outside its samples.
    if (width > 0 && height > 0 && x + width <= image->width && y + height <= image->height)
        __roi(image, x, y, width, height);
    return EZ_OK;
}
