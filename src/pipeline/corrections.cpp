// The frame pipeline's corrections: the flat-field reference taken from a
// live frame and its correction, and the defect list of raw frames.
#include "processing/corrections.h"

#include <cstring>

#include "pipeline/pipeline.h"
#include "processing/decode.h"
#include "processing/geometry.h"
#include "processing/pixels.h"
#include "processing/tone.h"

int FramePipeline::captureFlatField(const _ezImage* raw, const Sensor& sensor) {
    if (!pixels::rawRecord(raw)) return EZ_ERANGE;
    const int width = raw->width, height = raw->height;
    ImagePtr copy = makeImage(width, height, 8, 1, 56, raw->resolution);
    if (!copy) return EZ_EIO;
    const size_t bps = raw->depth / 8;
    const size_t rawStride = static_cast<size_t>(width) * bps;
    const unsigned char* from = reinterpret_cast<const unsigned char*>(raw) + raw->header_size;
    for (int y = 0; y < height; ++y) {
        const unsigned char* src = from + y * rawStride + (bps - 1);
        unsigned char* dst = pixels::row(copy.get(), y);
        for (int x = 0; x < width; ++x) dst[x] = src[x * bps];
    }
    const int outChannels = sensor.channels == 1 ? 1 : 3;
    ImagePtr reference = makeImage(width, height, 8, outChannels, 56, raw->resolution);
    if (!reference) return EZ_EIO;
    decode(copy.get(), reference.get(), sensor.bayer);
    if (sensor.bayer != 0) fillDecodedBorder(reference.get());
    __calc_avg(reference.get(), 0);
    reference->bayer = static_cast<uint8_t>(sensor.bayer);

    shared::claimWrite(flatFieldNew);
    flatFieldReference = std::move(reference);
    shared::publish(flatFieldNew);
    return EZ_OK;
}

// Frame side: a new reference is copied once; a copy of another size is
// resampled once; every frame then costs one lookup per sample.
void FramePipeline::flatField(_ezImage* image) {
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

DefectList::DefectList() : points(std::make_unique<_ezPoint[]>(static_cast<size_t>(capacity))) {}

int DefectList::step(_ezImage* frame, int result) {
    if (searchRequest) {
        searchRequest = 0;
        count = points ? __calc_defects(frame, points.get(), capacity) : EZ_EIO;
        result = count < 0 ? EZ_EDEFECT_SEARCH : EZ_DEFECT_SEARCH;
    }
    if (count > 0 && correctionOn && points) __defects_correction(frame, points.get(), count);
    return result;
}
