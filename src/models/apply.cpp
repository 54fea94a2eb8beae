// Applying a product's row and its catalogue rows to a camera, and the
// analog-gain mappings the rows refer to.
#include <iterator>

#include "CamBayer.h"
#include "models/model_row.h"

namespace {
void setLimits(SensorSetting& setting, const Limits& limits) {
    setting.value = limits.value;
    setting.min = limits.min;
    setting.max = limits.max;
    setting.step = 1;
    setting.def = limits.def;
    setting.supported = limits.supported;
}

template <class Entry>
void setTable(SensorSetting& setting, const TableChoice<Entry>& choice) {
    setting.table = choice.table;
    setting.value = choice.value;
    setting.min = 0;
    setting.max = choice.count;
    setting.step = 1;
    setting.def = choice.def;
    setting.supported = 1;
}

int32_t bodyLength(BodyLen formula, int32_t frameBytes, int32_t head, int32_t current) {
    switch (formula) {
        case BodyLen::Keep:
            return current;
        case BodyLen::A:
            return frameBytes + head + 2048;
        case BodyLen::B:
            return 2 * (frameBytes + head) + 2048;
        case BodyLen::C:
            return 2 * (frameBytes + head) + 4096;
        case BodyLen::D:
            return head + 2 * frameBytes + 2048;
        case BodyLen::E:
            return 2 * head + 10245226;
    }
    return current;
}
}  // namespace

void CamBayer::adoptProduct(const ProductRow& row) {
    productRow = &row;
    bulkPipe = row.bulkPipe;
    frameLayouts = row.reader.layouts;
    runsDefectStep = row.reader.defectStep;
    aeInterval = row.reader.aeInterval;
    fluorescenceInterval = row.reader.fluorescenceInterval;
    pipeline.modelSteps = row.finish;
    sharpnessValue = row.features.sharpness.initial;
    denoiseValue = row.features.denoise.initial;
    for (const ModelRow* build : row.build) applyModel(*build);
}

void CamBayer::applyModel(const ModelRow& row) {
    if (row.displayName && row.counter) setDisplayName(row.displayName, *row.counter);
    if (row.packetLen) packetLen = row.packetLen;
    if (row.edgeInhibition >= 0) edgeInhibition = row.edgeInhibition;

    if (row.saturationValue) {
        pipeline.enableColour(row.saturationValue, row.saturationTable);
    }

    const SensorRow* sensor = row.sensor;
    if (!sensor) return;
    sensorRow = sensor;
    channels = sensor->channels;
    bayerPattern = sensor->bayerPattern;
    regAnalogGain = sensor->regAnalogGain;
    regExposure = sensor->regExposure;
    regLongExposure = sensor->regLongExposure;
    regBlackLevel = sensor->regBlackLevel;
    setTable(resolution, sensor->resolution);
    setTable(pixelClock, sensor->pixelClock);
    setLimits(analogGain, sensor->analogGain);
    setLimits(exposure, sensor->exposure);
    setLimits(longExposure, sensor->longExposure);
    setLimits(blackLevel, sensor->blackLevel);
    rawDepth.value = sensor->rawDepth.value;
    rawDepth.min = sensor->rawDepth.min;
    rawDepth.max = sensor->rawDepth.max;
    rawDepth.step = sensor->rawDepth.step;
    rawDepth.def = sensor->rawDepth.def;
    rawDepth.supported = sensor->rawDepth.supported;

    // The exposure keeps its line count: timing first, so _retime sees no
    // change of line length or rate and only clamps and builds the request.
    loadTiming();
    const ResolutionEntry* first = resolutionEntry(0);
    bodyLen = bodyLength(sensor->bodyLen, first ? first->frameBytes : 0, headLen, bodyLen);
    _retime();
}

int CamBayer::modelAnalogGain(int gain) {
    return applyAnalogGain(gain, sensorRow && sensorRow->gain ? sensorRow->gain : gainUnchanged);
}

// ---- Gain mappings ---------------------------------------------------------
// Each sensor splits its gain into stages; the step number g picks the stage
// and the position within it.

uint16_t gainVA200(int g) {
    if (g <= 32) return static_cast<uint16_t>(g + 31);
    if (g <= 128) return static_cast<uint16_t>(g + 127);
    if (g <= 192) return static_cast<uint16_t>(g + 319);
    return static_cast<uint16_t>(g);
}

uint16_t gainVA131(int g) {
    if (g <= 30) return static_cast<uint16_t>(g + 31);
    if (g <= 63) return static_cast<uint16_t>(2 * g + 1);
    if (g <= 80) return static_cast<uint16_t>(g + 129);
    return static_cast<uint16_t>(g);
}

uint16_t gainVA500(int g) {
    if (g < 64) return static_cast<uint16_t>(g);
    return static_cast<uint16_t>(g * 256 - 16065);
}

uint16_t gainVA300(int g) {
    if (g <= 25) return static_cast<uint16_t>(g + 7);
    if (g <= 41) return static_cast<uint16_t>(g + 55);
    if (g <= 161) return static_cast<uint16_t>(g * 256 - 10400);
    return 0;
}

uint16_t gainVA131M(int g) {
    return static_cast<uint16_t>(g < 64 ? g : g + 32);
}

uint16_t gainVA1K(int g) {
    static constexpr uint16_t kStage[] = {0x1040, 0x1840, 0x1c40, 0x1cc0, 0x1dc0};
    if (g < 0) return 0;
    const int stage = g / 64;
    if (stage >= static_cast<int>(std::size(kStage))) return 0;
    return static_cast<uint16_t>(kStage[stage] + g % 64);
}

uint16_t gainUnchanged(int g) {
    return static_cast<uint16_t>(g);
}
