// Camera objects and frame buffers for the frame-processing tests: no bus,
// buffers of exactly the size the pipeline may touch.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "CamBayer.h"
#include "processing/decode.h"
#include "processing/tone.h"

// A colour camera (Bayer code 1, saturation and digital-gain records as the
// colour models build them) or a monochrome one. One line lasts 0.01 ms.
class PipelineCamera : public CamBayer {
  public:
    explicit PipelineCamera(bool colour = true) {
        channels = colour ? 3 : 1;
        bayerPattern = colour ? 1 : 0;
        if (colour) {
            saturation.define(100, 0, 255, 1, true);
            saturation.allocate(65536);
            __matrix_saturation(100, saturation.lut, 256);
            __matrix_saturation(100, saturation.lut2, 256);
            for (SoftWareValue& gain : digitalGain) {
                gain.define(64, 16, 240, 1, true);
                gain.allocate(256);
                __matrix_channel(64, gain.lut, 256);
                __matrix_channel(64, gain.lut2, 256);
            }
        }
        lineLength = 480;
        pixelRate = 48000;
        exposure.value = 2000;
        exposure.min = 1;
        exposure.max = 65535;
        analogGain.min = 1;
        analogGain.max = 400;
        analogGain.value = 30;
    }
    int _set_analog_gain(int gain) override {
        analogGain.value =
            static_cast<uint16_t>(std::clamp<int>(gain, analogGain.min, analogGain.max));
        return 0;
    }
    using CamBayer::defectStep;
};

// A raw frame (record, 512-byte header, samples) and an image buffer with
// room for three channels and the statistics area.
struct Frames {
    int width, height, depth;
    std::vector<unsigned char> raw, image;

    Frames(int w, int h, int d, const std::function<unsigned(int x, int y)>& sample)
        : width(w),
          height(h),
          depth(d),
          raw(512 + size_t(w) * h * d / 8),
          image(512 + size_t(w) * h * 3 * d / 8 + kStatisticsBytes) {
        ezInitImageHeader(rawRecord(), w, h, 1, d, 512, raw.data() + 512, 0, 0);
        // What the decoder leaves unwritten keeps this, so passes that touch
        // it show.
        for (size_t i = 512; i < image.size(); ++i)
            image[i] = static_cast<unsigned char>(i * 37 + 11);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const unsigned v = sample(x, y);
                std::memcpy(raw.data() + 512 + (size_t(y) * w + x) * (d / 8), &v, d / 8);
            }
    }
    _ezImage* rawRecord() { return reinterpret_cast<_ezImage*>(raw.data()); }
    _ezImage* imageRecord() { return reinterpret_cast<_ezImage*>(image.data()); }
    int run(CamBayer& camera, bool crop = false) {
        return camera._raw2image(raw.data(), image.data(), crop);
    }
    // Sample k of pixel (x, y) of the finished image.
    unsigned at(int x, int y, int k = 0) {
        const _ezImage* r = imageRecord();
        unsigned v = 0;
        std::memcpy(&v, r->data + ((size_t(y) * r->width + x) * r->channels + k) * (r->depth / 8),
                    r->depth / 8);
        return v;
    }
    // The finished image's pixel bytes.
    std::vector<unsigned char> pixels() {
        const _ezImage* r = imageRecord();
        return {r->data, r->data + size_t(r->stride) * r->height};
    }
};

// A smooth ramp with texture, different at every Bayer site.
inline unsigned testPattern(int x, int y, int depth) {
    const unsigned v = (x * 7 + y * 13 + (x * y) % 29) % 256;
    return depth == 16 ? (v << 8 | ((x * 31 + y) & 0xff)) : v;
}
