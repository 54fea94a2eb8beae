// What a camera is by its product row: adopting the row and the catalogue
// rows that build it, the claim-time choices, and the order it resumes in.
#include "camera/cam_bayer.h"
#include "log.h"
#include "shared_state.h"

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
constexpr uint16_t kSwitchNewHardware = 2;
}  // namespace

void CamBayer::adoptProduct(const ProductRow& row, const ProductQuirks& quirks,
                            std::span<const ModeReadout> readouts) {
    productRow_ = &row;
    link_.bulkPipe = row.bulkPipe;
    sensor_.frameLayouts = row.reader.layouts;
    sensor_.readouts = readouts;
    sensor_.quirks = quirks;
    runsDefectStep_ = row.reader.defectStep;
    aeInterval_ = row.reader.aeInterval;
    fluorescenceInterval_ = row.reader.fluorescenceInterval;
    pipeline_.modelSteps = row.finish;
    features_.adopt(row.features);
    for (const ModelRow* build : row.build) applyModel(*build);
}

void CamBayer::applyModel(const ModelRow& row) {
    if (row.displayName && row.counter) setDisplayName(row.displayName, *row.counter);
    SensorControl& s = sensor_;
    if (row.packetLen) s.packetLen = row.packetLen;
    if (row.edgeInhibition >= 0) features_.edgeInhibitionState = row.edgeInhibition;

    if (row.saturationValue) {
        pipeline_.enableColour(row.saturationValue, row.saturationTable);
    }

    const SensorRow* sensor = row.sensor;
    if (!sensor) return;
    s.sensorRow = sensor;
    s.channels = sensor->channels;
    s.bayerPattern = sensor->bayerPattern;
    s.regAnalogGain = sensor->regAnalogGain;
    s.regExposure = sensor->regExposure;
    s.regLongExposure = sensor->regLongExposure;
    s.regBlackLevel = sensor->regBlackLevel;
    setTable(s.resolution, sensor->resolution);
    setTable(s.pixelClock, sensor->pixelClock);
    setLimits(s.analogGain, sensor->analogGain);
    setLimits(s.exposure, sensor->exposure);
    setLimits(s.longExposure, sensor->longExposure);
    setLimits(s.blackLevel, sensor->blackLevel);
    s.rawDepth.value = sensor->rawDepth.value;
    s.rawDepth.min = sensor->rawDepth.min;
    s.rawDepth.max = sensor->rawDepth.max;
    s.rawDepth.step = sensor->rawDepth.step;
    s.rawDepth.def = sensor->rawDepth.def;
    s.rawDepth.supported = sensor->rawDepth.supported;

    // The exposure keeps its line count: timing first, so _retime sees no
    // change of line length or rate and only clamps and builds the request.
    s.loadTiming();
    const ResolutionEntry* first = s.resolutionEntry(0);
    s.bodyLen = bodyLength(sensor->bodyLen, first ? first->frameBytes : 0, s.headLen, s.bodyLen);
    _retime();
}

// ---- Claim and resume ----------------------------------------------------------

int CamBayer::_claim_device() {
    if (!productRow_ || productRow_->claim.empty()) return EZ_OK;
    const ClaimRow& claim = pickClaim(productRow_->claim, link_.release());
    if (claim.message) ezlog::info("%s", claim.message);
    applyModel(*claim.row);
    if (claim.newHardwareRequest) features_.sendSwitch(1, kSwitchNewHardware);
    if (claim.coolerOnEdgeOff) _set_cooled(true);
    if (claim.readTemperature) {
        float celsius = 0.0f;
        _temperature(&celsius);
    }
    if (claim.coolerOnEdgeOff) _set_edge_inhibition(false);
    return EZ_OK;
}

int CamBayer::_sensor_resume() {
    static constexpr ResumeStep kBase[] = {
        {ResumeStep::Start}, {ResumeStep::Pause, 300}, {ResumeStep::Depth},     {ResumeStep::Clock},
        {ResumeStep::Gain},  {ResumeStep::BlackLevel}, {ResumeStep::Resolution}};
    const std::span<const ResumeStep> steps = productRow_ && !productRow_->resume.empty()
                                                  ? productRow_->resume
                                                  : std::span<const ResumeStep>(kBase);
    bool streaming = false;
    for (const ResumeStep& step : steps) {
        if (!streaming && step.kind != ResumeStep::Start) {
            link_.setState(1);
            streaming = true;
        }
        switch (step.kind) {
            case ResumeStep::Start: {
                EZURB start{};
                SensorControl::buildRequest(start, 0xba, 0, 0);
                sensor_.sendRequest(start);
                break;
            }
            case ResumeStep::Acknowledge:
                sensor_.sendRequest(sensor_.urbFrameRequest);
                break;
            case ResumeStep::Depth:
                _set_raw_depth(sensor_.rawDepth.value);
                break;
            case ResumeStep::Clock:
                _set_pixsclock(sensor_.pixelClock.value);
                break;
            case ResumeStep::Gain:
                _set_analog_gain(sensor_.analogGain.value);
                break;
            case ResumeStep::BlackLevel:
                _set_blacklevel(sensor_.blackLevel.value);
                break;
            case ResumeStep::Resolution: {
                // Re-sending the mode ends the sensor's region; the region
                // set before (also while suspended) is asked for again, so a
                // resume loses no setting.
                const bool region = sensor_.regionOn();
                _set_resolution(sensor_.resolution.value, true);
                if (region) sensor_.roiRequested = 1;
                break;
            }
            case ResumeStep::Exposure:
                // The register writes last built, in case no step above sent them.
                if (sensor_.exposure.urb.request) sensor_.sendRequest(sensor_.exposure.urb);
                if (sensor_.longExposure.urb.request) sensor_.sendRequest(sensor_.longExposure.urb);
                break;
            case ResumeStep::Pause:
                _delay(step.pauseMs);
                break;
        }
    }
    if (!streaming) link_.setState(1);
    return EZ_OK;
}

