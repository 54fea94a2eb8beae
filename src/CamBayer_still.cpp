// Still capture: the deferred capture request and direct saving of a frame.
#include "CamBayer.h"
#include "ezImage/registry.h"

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

int CamBayer::writeStillFiles(_ezImage* raw, const _ezImage* image, int formats,
                              const std::string& base) {
    struct Format {
        int bit;
        const char* extension;
    };
    static constexpr Format kOrder[] = {
        {1, ".raw"}, {8, ".jpg"}, {16, ".bmp"}, {4, ".png"}, {2, ".tif"}};
    int failures = 0;
    for (const Format& format : kOrder) {
        if (!(formats & format.bit)) continue;
        const _ezImage* source = image;
        if (format.bit == 1) {
            if (!raw) {
                ++failures;
                continue;
            }
            _init_save_image(raw);
            source = raw;
        }
        if (!source || !ezSaveImage((base + format.extension).c_str(), source)) ++failures;
    }
    return failures;
}
