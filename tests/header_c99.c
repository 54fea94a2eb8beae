/* Compiles the public header as C99: it must not need a C++ compiler. */
#include "ezcam.h"

int ezcam_header_is_c99(void) { return (int)sizeof(_ezImage) + (int)sizeof(__IMG_RECT); }
