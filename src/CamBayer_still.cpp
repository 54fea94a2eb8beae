// Still capture: the deferred capture request and direct saving of a frame.
#include "CamBayer.h"

void CamBayer::_set_snap_format(int format) {
    snapFormat = static_cast<int16_t>(format);
}
int CamBayer::_snap_format(int* format) {
    if (format) *format = snapFormat;
    return 0;
}

// Arming the deferred capture and writing the files are not built yet.
int CamBayer::_saveimage(std::string, int) {
    return -4;
}
int CamBayer::_savefile(unsigned char*, std::string, int) {
    return -4;
}
int CamBayer::_callback_save_iamge(std::string, int, EzSnapCallback) {
    return -4;
}
