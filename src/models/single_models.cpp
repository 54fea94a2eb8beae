// The 2048 x 2048 monochrome camera VSi400M1 (and the instance counters of
// the two models of their own).
#include "models/models.h"

int cntV3h5MC1 = 0, cntVSi400M1 = 0;

namespace {
constexpr uint16_t kFlipRegister = 0x45;
}

// The start request restarts a long exposure with the stored setting.
int VSi400M1::_restart_exposure() {
    EZURB start{};
    SensorControl::buildRequest(start, 0xba, 0, 0);
    sensorControl().sendRequest(start);
    return EZ_OK;
}

// The camera flips its frames; the pipeline leaves them as they come.
void VSi400M1::_set_flip(int code) {
    CamBayer::_set_flip(code);
    sensorControl().sendRegister(kFlipRegister, static_cast<uint16_t>(code));
}
