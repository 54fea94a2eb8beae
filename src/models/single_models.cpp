// The two models of their own: the 5-megapixel colour camera V3h5MC1 and
// the 2048 x 2048 monochrome camera VSi400M1.
#include "models/models.h"

int cntV3h5MC1 = 0, cntVSi400M1 = 0;

namespace {
constexpr uint16_t kFlipRegister = 0x45;
}

// The start request restarts a long exposure with the stored setting.
int VSi400M1::_restart_exposure() {
    EZURB start{};
    buildRequest(start, 0xba, 0, 0);
    sendRequest(start);
    return 0;
}

// The camera flips its frames; the pipeline leaves them as they come.
void VSi400M1::_set_flip(int code) {
    CamBayer::_set_flip(code);
    sendRegister(kFlipRegister, static_cast<uint16_t>(code));
}
