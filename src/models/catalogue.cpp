// The model catalogue, for now with the two 5-megapixel models of the o
// variant: VAo500C1 (colour) and VAo500M1 (monochrome).
#include "models/catalogue.h"

#include <cstdio>
#include <iterator>

#include "CamBayer.h"
#include "models/tables.h"
#include "processing/tone.h"

namespace {
int cntVAo500C1 = 0;
int cntVAo500M1 = 0;

void setLimits(SensorSetting& setting, uint16_t value, uint16_t min, uint16_t max, uint16_t def,
               bool supported) {
    setting.value = value;
    setting.min = min;
    setting.max = max;
    setting.step = 1;
    setting.def = def;
    setting.supported = supported ? 1 : 0;
}

// Gain steps below 64 are written as they are, above as a coarse stage.
uint16_t gain500(int g) { return g < 64 ? static_cast<uint16_t>(g) : static_cast<uint16_t>(g * 256 - 16065); }

// Saturation and per-channel digital gain of the colour models.
void buildColourSettings(CamBayer& camera, int saturationValue) {
    camera.saturation.define(100, 0, 255, 1, true);
    camera.saturation.allocate(65536);
    __matrix_saturation(saturationValue, camera.saturation.lut, 256);
    __matrix_saturation(saturationValue, camera.saturation.lut2, 256);
    for (SoftWareValue& gain : camera.digitalGain) {
        gain.define(64, 16, 240, 1, true);
        gain.allocate(256);
        __matrix_channel(64, gain.lut, 256);
        __matrix_channel(64, gain.lut2, 256);
    }
}

class VAo500C1 : public CamBayer {
public:
    VAo500C1() {
        setDisplayName("QC500.", cntVAo500C1);
        buildColourSettings(*this, 100);
    }

    int _claim_device() override {
        bayerPattern = 3;
        regAnalogGain = 0x35;
        regExposure = 9;
        regLongExposure = 0;
        regBlackLevel = 2;
        resolution.table = VAo500C1Res;
        setLimits(resolution, 0, 0, std::size(VAo500C1Res), 0, true);
        const bool newClock = bcdDevice == 0xa100;
        pixelClock.table = newClock ? VAo500C1V1Clk : VAo500C1V0Clk;
        setLimits(pixelClock, 0, 0, 3, 1, true);
        setLimits(analogGain, 30, 7, 174, 30, true);
        setLimits(exposure, 300, 1, 15464, 30, true);
        setLimits(longExposure, 0, 0, 0, 0, false);
        setLimits(blackLevel, 48, 25, 128, 48, false);
        rawDepth.supported = 0;
        std::printf("VAo500C1::_claim_device\n");
        std::fflush(stdout);
        loadTiming();
        bodyLen = 2 * headLen + 10245226;
        _retime();
        return 0;
    }

    int _set_analog_gain(int gain) override { return applyAnalogGain(gain, gain500); }
};

class VAo500M1 : public CamBayer {
public:
    VAo500M1() {
        setDisplayName("QC500M.", cntVAo500M1);
        channels = 1;
        bayerPattern = 0;
        regAnalogGain = 0x35;
        regExposure = 9;
        regLongExposure = 0;
        regBlackLevel = 2;
        resolution.table = VAo500M1Res;
        setLimits(resolution, 0, 0, std::size(VAo500M1Res), 0, true);
        pixelClock.table = VAo500M1Clk;
        setLimits(pixelClock, 0, 0, std::size(VAo500M1Clk), 1, true);
        setLimits(analogGain, 30, 1, 174, 30, true);
        setLimits(exposure, 300, 1, 65500, 30, true);
        setLimits(longExposure, 0, 0, 0, 0, false);
        setLimits(blackLevel, 0, 0, 100, 0, false);
        rawDepth.supported = 0;
        loadTiming();
        bodyLen = 2 * (VAo500M1Res[0].frameBytes + headLen) + 4096;
        _retime();
    }

    int _set_analog_gain(int gain) override { return applyAnalogGain(gain, gain500); }
};
}  // namespace

std::unique_ptr<CamBayer> _create_device(uint16_t product, uint16_t vendor) {
    if (vendor != 0x0547 && vendor != 0x8020 && vendor != 0x8021) return nullptr;
    switch (product) {
        case 0xc004:
            return std::make_unique<VAo500C1>();
        case 0xc006:
            return std::make_unique<VAo500M1>();
        default:
            return nullptr;
    }
}
