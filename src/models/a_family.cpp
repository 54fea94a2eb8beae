// The A family: sensors programmed register by register, a gain mapping per
// sensor, no long exposure and no black level.
#include "models/models.h"

int cntVAo200C1 = 0, cntVAh200C1 = 0, cntVAo131C1 = 0, cntVE131 = 0, cntVE131_ = 0;
int cntVAo300C1 = 0, cntVE300 = 0, cntVAo131M1 = 0, cntVAh131M1 = 0, cntVAo500C1 = 0;
int cntVE500 = 0, cntVAo1KC1 = 0, cntVE1K = 0, cntVAo500M1 = 0, cntVAh500M1 = 0;

// The mode request just sent restarts the sensor in the new mode's timing:
// the exposure is written again in its lines (the small addition keeps the
// line count from rounding down).
void VAh200C1::sendPending() {
    const SensorControl& s = sensorControl();
    const bool modeSent = s.resolutionPending != 0;
    CamBayer::sendPending();
    if (modeSent && s.pixelRate > 0)
        _set_exposure(static_cast<float>(static_cast<double>(s.exposure.value) * s.lineLength /
                                             s.pixelRate +
                                         0.005));
}
