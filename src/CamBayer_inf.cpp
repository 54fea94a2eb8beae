// The camera's information memory and firmware version.
#include "CamBayer.h"

// The chunked memory transfers and the version request are not built yet.
int CamBayer::_wmem_inf(char*, int) {
    return -4;
}
int CamBayer::_rmem_inf(char*, int) {
    return -4;
}
int CamBayer::_versions(int*) {
    return -4;
}
