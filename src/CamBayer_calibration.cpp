// Calibration corrections on the camera: flat field, defect pixels, black field.
#include "CamBayer.h"
#include "processing/calibration.h"
#include "processing/decode.h"
#include "processing/geometry.h"
#include "processing/pixels.h"
#include "processing/tone.h"

int CamBayer::_ff_state(bool* on) {
    if (on) *on = flatFieldOn != 0;
    return 0;
}
void CamBayer::_set_ff_state(bool on) {
    shared::store(flatFieldOn, on);
}
void CamBayer::_calc_defect_correction() {
    defectCalcRequest = 1;
}
int CamBayer::_set_dc_state(bool on) {
    defectCorrectionOn = on;
    return 0;
}
int CamBayer::_dc_state(bool* on) {
    if (on) *on = defectCorrectionOn != 0;
    return 0;
}
int CamBayer::_set_blackfield_state(bool on) {
    blackFieldOn = on;
    return 0;
}
int CamBayer::_blackfield_state(bool* on) {
    if (on) *on = blackFieldOn != 0;
    return 0;
}

// Takes the flat-field reference from a raw frame: decoded at 8 bits, its
// channel means stored, no zero left to divide by. The pipeline takes the
// new reference over at its next frame; until then the old one stays.
int CamBayer::_calc_flat_field(unsigned char* buffer, bool flag) {
    if (flag) return -4;
    auto* raw = reinterpret_cast<_ezImage*>(buffer);
    if (!rawRecord(raw)) return -2;
    const int width = raw->width, height = raw->height;
    ImagePtr copy = makeImage(width, height, 8, 1, 56, raw->resolution);
    if (!copy) return -3;
    const size_t bps = raw->depth / 8;
    const size_t rawStride = static_cast<size_t>(width) * bps;
    const unsigned char* from = buffer + raw->header_size;
    for (int y = 0; y < height; ++y) {
        const unsigned char* src = from + y * rawStride + (bps - 1);
        unsigned char* dst = pixels::row(copy.get(), y);
        for (int x = 0; x < width; ++x) dst[x] = src[x * bps];
    }
    const int outChannels = channels == 1 ? 1 : 3;
    ImagePtr reference = makeImage(width, height, 8, outChannels, 56, raw->resolution);
    if (!reference) return -3;
    if (shared::load(colorEnhancement))
        __decode_rawdata(copy.get(), reference.get(), bayerPattern);
    else
        __decode_rawdatafast(copy.get(), reference.get(), bayerPattern);
    if (bayerPattern != 0) fillDecodedBorder(reference.get());
    __calc_avg(reference.get(), 0);
    reference->bayer = static_cast<uint8_t>(bayerPattern);

    shared::claimWrite(flatFieldNew);
    flatFieldReference = std::move(reference);
    shared::publish(flatFieldNew);
    return 0;
}

// Frame side: a new reference is copied once; a copy of another size is
// resampled once; every frame then costs one lookup per sample.
void CamBayer::_image_fladfield(_ezImage* image) {
    if (shared::claimCopy(flatFieldNew)) {
        flatFieldScaled.reset();
        const _ezImage* reference = flatFieldReference.get();
        if (reference) {
            ImagePtr copy =
                makeImage(reference->width, reference->height, reference->depth,
                          reference->channels, reference->header_size, reference->resolution);
            if (!copy) {
                shared::abandonCopy(flatFieldNew);  // try again on a later frame
                return;
            }
            ezCopyImage(copy.get(), reference);
            flatFieldScaled = std::move(copy);
        }
        shared::finishCopy(flatFieldNew);
    }
    if (!flatFieldScaled || !pixels::usable(image)) return;
    if (flatFieldScaled->width != image->width || flatFieldScaled->height != image->height) {
        ImagePtr scaled = makeImage(image->width, image->height, 8, flatFieldScaled->channels, 56,
                                    image->resolution);
        if (!scaled) return;
        __resize(flatFieldScaled.get(), scaled.get());
        __calc_avg(scaled.get(), 0);
        flatFieldScaled = std::move(scaled);
    }
    __flat_field(image, flatFieldScaled.get());
}

int CamBayer::defectStep(_ezImage* frame, int result) {
    if (defectCalcRequest) {
        defectCalcRequest = 0;
        defectCount = defectPoints ? __calc_defects(frame, defectPoints.get(), defectCapacity) : -3;
        result = defectCount < 0 ? -5 : 5;
    }
    if (defectCount > 0 && defectCorrectionOn && defectPoints)
        __defects_correction(frame, defectPoints.get(), defectCount);
    return result;
}
