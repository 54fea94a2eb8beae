/* Compiles the public header as C99: it must not need a C++ compiler. */
#include "ezcam.h"

int ezcam_header_is_c99(void) { return (int)sizeof(_ezImage) + (int)sizeof(__IMG_RECT); }

/* The named codes are plain C constants. */
const int ezcam_header_codes[] = {EZ_BAYER_MONO,   EZ_BAYER_GBRG, EZ_FORMAT_RAW,  EZ_FORMAT_BMP,
                                  EZ_FLIP_BOTH,    EZ_ROTATE_RIGHT, EZ_DEVICE_REMOVED,
                                  EZ_FLUO_END,     EZ_VERSION_TAG, EZ_MASTER_BIAS};
