// Names of the status results, for messages and language bindings.
#include "ezcam.h"

extern "C" const char* StatusName(int status) {
#define EZ_NAME(value) \
    case value:        \
        return #value;
    switch (status) {
        EZ_NAME(EZ_OK)
        EZ_NAME(EZ_ENOCAM)
        EZ_NAME(EZ_ERANGE)
        EZ_NAME(EZ_EIO)
        EZ_NAME(EZ_ENOTSUP)
        EZ_NAME(EZ_EDEPTH16)
        EZ_NAME(EZ_CAPTURE)
        EZ_NAME(EZ_FLUO_GAIN)
        EZ_NAME(EZ_FLUO_EXPOSURE)
        EZ_NAME(EZ_DEFECT_SEARCH)
        EZ_NAME(EZ_EDEFECT_SEARCH)
        EZ_NAME(EZ_ELIT)
        EZ_NAME(EZ_ECHART)
        EZ_NAME(EZ_EDARK)
        EZ_NAME(EZ_ECLIPPED)
        EZ_NAME(EZ_EBUSY)
    }
#undef EZ_NAME
    return nullptr;
}
