// The A family: sensors programmed register by register, a gain mapping per
// sensor, no long exposure and no black level.
#include "models/models.h"

int cntVAo200C1 = 0, cntVAh200C1 = 0, cntVAo131C1 = 0, cntVE131 = 0, cntVE131_ = 0;
int cntVAo300C1 = 0, cntVE300 = 0, cntVAo131M1 = 0, cntVAh131M1 = 0, cntVAo500C1 = 0;
int cntVE500 = 0, cntVAo1KC1 = 0, cntVE1K = 0, cntVAo500M1 = 0, cntVAh500M1 = 0;
