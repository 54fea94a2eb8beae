// The simulated sensor's picture: a microscope scene (smooth bright objects
// drifting slowly over a darker background) seen through the sensor's colour
// mosaic, vignetting, exposure, gain and black level, with hot pixels and
// photon-like noise.
//
// Rendering is split so that a frame costs little more than a copy: the
// noise-free level of every sample is kept in a plane, rebuilt only when the
// geometry or the exposure changes; the drift moves one object per frame and
// re-renders only the ground it covered; a frame is then the level plus a
// slice of precomputed noise whose amplitude follows the square root of the
// signal, in a few steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/device_profile.h"

namespace sim {

// The samples the sensor reads out: a window of the mode's field of view.
struct Geometry {
    int width = 0;        // samples per row
    int height = 0;       // rows
    int fieldWidth = 0;   // the mode's full readout
    int fieldHeight = 0;
    int originX = 0;      // window origin in the field
    int originY = 0;
    bool operator==(const Geometry&) const = default;
};

// What turns radiance into raw levels. Levels are in 16-bit units.
struct Exposure {
    int depth = 8;          // 8 or 16 bits per sample
    float scale = 0;        // level of a unit radiance (the background is near 0.25)
    int black = 0;          // offset added to every sample
    float noiseGain = 1;    // analog gain, which amplifies the photon noise
    bool operator==(const Exposure&) const = default;
};

// Photon-like noise in a few classes of signal: each class has its own table
// of noise values (the shared unit noise scaled to the class's amplitude),
// chosen per sample by comparing its level with the class thresholds.
struct NoiseClasses {
    static constexpr int kClasses = 4;
    int16_t black = 0;                        // level of zero signal, sample units
    int16_t threshold[kClasses - 1] = {};     // a level above threshold[c] is class c + 1
    std::vector<int8_t> table8[kClasses];     // for 8-bit samples
    std::vector<int16_t> table12[kClasses];   // for 12-bit levels of 16-bit samples
};

class Scene {
public:
    static constexpr int kFullScale = 65535;

    // bayer: the code of the sensor's first tile (0 for monochrome); seed
    // varies the objects' paths and the hot pixels between cameras.
    Scene(int bayer, uint32_t seed);

    // A flat scene: an even background seen through the vignetting and the
    // colour response, without objects or texture (hot pixels stay), as for
    // taking a flat-field reference.
    void setFlat(bool flat);

    // Brings the level plane up to date for frame number `frame`.
    void prepare(const Geometry& geometry, const Exposure& exposure, uint64_t frame);

    // Writes samples [first, first + count) of the prepared frame, row by row
    // with noise, then dark samples past the image. 16-bit samples carry 12
    // significant bits in the given byte order. The noise of a frame is fixed
    // by `noiseSeed`, so a frame written in pieces is the same frame.
    void emit(unsigned char* out, size_t first, size_t count, SampleOrder order,
              uint64_t noiseSeed) const;

    // Noise-free level (16-bit units) of a sample of the prepared frame.
    int level(int x, int y) const;
    const Geometry& geometry() const { return geometry_; }

private:
    struct Blob {
        float u, v;            // resting centre, fractions of the field
        float du, dv;          // drift amplitude
        float radiusX, radiusY;  // extent, fractions of the field width
        float amplitude;       // peak radiance over the background
        float phase;
        int cx = 0, cy = 0;    // current centre in field pixels
    };
    struct Box {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // window pixels, end exclusive
        bool empty() const { return x0 >= x1 || y0 >= y1; }
    };

    void buildField();
    void buildNoise();
    void placeBlob(Blob& blob, uint64_t frame) const;
    Box boxOf(const Blob& blob) const;
    void render(Box box);
    template <int Bytes>
    void emitSamples(unsigned char* out, size_t first, size_t count, SampleOrder order,
                     uint64_t noiseSeed) const;

    int bayer_;
    uint32_t seed_;
    Geometry geometry_;
    Exposure exposure_;
    bool flat_ = false;
    bool fieldReady_ = false;
    bool levelsReady_ = false;
    std::vector<Blob> blobs_;
    // Per sample of the window: radiance without the objects (1/8192 units),
    // including vignetting, the channel response and hot pixels.
    std::vector<uint16_t> radiance_;
    std::vector<float> vignetteX_, vignetteY_;
    float response_[2][2] = {};  // channel response by row and column parity
    // Levels in sample units: 8-bit, or 12-bit for 16-bit frames.
    std::vector<uint8_t> level8_;
    std::vector<int16_t> level12_;
    NoiseClasses noise_;
};

}  // namespace sim
