// Still capture: the deferred capture request and direct saving of a frame.
#include <memory>
#include <new>

#include "CamBayer.h"
#include "ezImage/registry.h"

void CamBayer::_set_snap_format(int format) {
    snapFormat = static_cast<int16_t>(format);
}
int CamBayer::_snap_format(int* format) {
    if (format) *format = snapFormat;
    return EZ_OK;
}

// Arms the capture that the frame pipeline serves on the first finished
// frame of the requested size. A resolution that cannot be taken is refused
// rather than armed, since no frame would ever match; so is a path without
// a name.
int CamBayer::_saveimage(std::string path, int resolutionIndex) {
    const ResolutionEntry* entry = resolutionEntry(resolutionIndex);
    if (!entry || path.empty()) return EZ_ERANGE;
    // Armed again before it was served: the stream still returns to the
    // resolution it had before the first request.
    const int former = snapRequest ? snapResolution : resolution.value;
    if (resolutionIndex != resolution.value) {
        const int result = _set_resolution(resolutionIndex, false);
        if (result != EZ_OK) return result;
    }
    snapPath = std::move(path);
    snapResolution = static_cast<uint16_t>(former);
    int width = entry->width;
    int height = entry->height;
    if (roiRequested || roiActive) {
        width = urbRoiSize.value;
        height = urbRoiSize.index;
    }
    const bool quarterTurn = pipeline.rotate == 1 || pipeline.rotate == 2;
    snapWidth = static_cast<uint16_t>(quarterTurn ? height : width);
    snapHeight = static_cast<uint16_t>(quarterTurn ? width : height);
    setSnapRequest(true);
    return EZ_OK;
}

int CamBayer::_callback_save_iamge(std::string path, int resolutionIndex, EzSnapCallback callback) {
    snapCallback = callback;
    return _saveimage(std::move(path), resolutionIndex);
}

// Writes a frame the caller holds: a finished image as it is, a raw frame
// decoded (with the border cut) first. A buffer that is not an image record
// is refused with -4. The record's size fields are checked against what this
// system writes, since they decide how far the writers read; a record that
// cannot be one of ours is refused with -2, as is a path without a name
// (the files would land in the working directory as ".raw", ".jpg" ...).
// Returns -3 when a file could not be written (the other formats are still
// written).
int CamBayer::_savefile(unsigned char* buffer, std::string path, int format) {
    if (!buffer || path.empty()) return EZ_ERANGE;
    _ezImage head;
    if (!ezReadRecord(buffer, &head)) return EZ_ENOTSUP;
    auto* record = reinterpret_cast<_ezImage*>(buffer);
    const int bytes = head.depth / 8;
    const int samples = head.decoded ? head.channels : 1;
    if ((head.depth != 8 && head.depth != 16) || (samples != 1 && samples != 3) ||
        head.decoded > 1 || head.width == 0 || head.height == 0 ||
        head.stride != head.width * samples * bytes)
        return EZ_ERANGE;
    record->data = buffer + record->header_size;
    record->extra = record->data + size_t{record->stride} * record->height;

    constexpr int kImageFormats = 2 | 4 | 8 | 16;
    std::unique_ptr<unsigned char[]> decoded;
    const _ezImage* image = record;
    if (!record->decoded && (format & kImageFormats)) {
        const size_t size =
            record->header_size +
            size_t{record->stride} * record->height * static_cast<size_t>(channels) +
            kStatisticsBytes;
        // Zeroed, so a border the pipeline leaves unwritten never reaches a file.
        decoded.reset(new (std::nothrow) unsigned char[size]());
        if (!decoded) return EZ_EIO;
        const int result = _raw2image(buffer, decoded.get(), true);
        if (result != EZ_OK) return result;
        image = reinterpret_cast<const _ezImage*>(decoded.get());
    }
    return writeStillFiles(record, image, format, path) == 0 ? EZ_OK : EZ_EIO;
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
