// The two models of their own: the 5-megapixel colour camera V3h5MC1 and
// the 2048 x 2048 monochrome camera VSi400M1.
#include "models/models.h"

int cntV3h5MC1 = 0, cntVSi400M1 = 0;
