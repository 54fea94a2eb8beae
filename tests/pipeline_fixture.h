// Frame pipelines and frame buffers for the frame-processing tests: no
// camera, buffers of exactly the size the pipeline may touch.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "pipeline/pipeline.h"
#include "processing/decode.h"
#include "processing/tone.h"

// A frame pipeline as a colour camera (Bayer code 1, saturation and
// digital-gain records) or a monochrome camera sets it up.
struct TestPipeline : FramePipeline {
    Sensor sensor;
    explicit TestPipeline(bool colour = true) : sensor{colour ? 3 : 1, colour ? 1 : 0} {
        if (colour) enableColour(100, 100);
    }
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
    int run(TestPipeline& pipeline, bool crop = false) {
        return pipeline.run(raw.data(), image.data(), crop, pipeline.sensor);
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
