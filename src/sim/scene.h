// The simulated sensor's picture: a microscope scene (smooth bright objects
// drifting slowly over a darker background) seen through the sensor's colour
// mosaic, vignetting, exposure, gain and black level, with hot pixels and
// photon-like noise.
//
// Built so that a frame costs about as much as writing its bytes once. The
// background is a column profile plus a row profile (smooth texture and a
// radial fall-off), so the level of any row is one table of columns plus a
// constant per colour; each object is a column profile times a row profile.
// These tables are small and stay in the processor's cache; they change only
// with the geometry or the exposure, and an object's drift only moves where
// its profiles apply. A sample is then its level plus unit noise times a gain
// that follows the square root of the signal, in a few classes chosen per
// block of a row; every row takes its noise from its own place in the table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/device_profile.h"
#include "sim/scene_rows.h"

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

class Scene {
public:
    static constexpr int kFullScale = 65535;
    static constexpr int kNoiseClasses = 4;
    static constexpr int kBlock = rows::kBlock;  // samples of a row sharing a noise class

    // bayer: the code of the sensor's first tile (0 for monochrome); seed
    // varies the objects' paths and the hot pixels between cameras.
    Scene(int bayer, uint32_t seed);

    // A flat scene: an even background seen through the vignetting and the
    // colour response, without objects or texture (hot pixels stay), as for
    // taking a flat-field reference.
    void setFlat(bool flat);
    // The 24-patch colour chart (colour_chart.h) evenly lit on a dark grey
    // surround, in place of the microscope scene (hot pixels stay).
    void setChart(bool chart);
    // The sensor's colour response: camera RGB = M x linear sRGB, rows the
    // red, green and blue filters' responses to linear sRGB red, green and
    // blue, row-major; the filters' own strengths apply on top. Grey light
    // of radiance 1 gives a filter its row's sum.
    using ColourMatrix = std::array<float, 9>;
    static const ColourMatrix kDefaultColour;
    void setColour(const ColourMatrix& m);
    // How far the scene lies from focus: the blur radius in pixels (0 sharp).
    // The objects carry a fine granular texture whose contrast the blur
    // takes away, as a microscope's focus would.
    void setDefocus(float pixels);

    // Brings the tables up to date for frame number `frame`.
    void prepare(const Geometry& geometry, const Exposure& exposure, uint64_t frame);

    // Writes samples [first, first + count) of the prepared frame, row by row
    // with noise, then dark samples past the image. 16-bit samples carry 12
    // significant bits in the given byte order. The noise of a frame is fixed
    // by `noiseSeed`, so a frame written in pieces is the same frame.
    void emit(unsigned char* out, size_t first, size_t count, SampleOrder order,
              uint64_t noiseSeed) const;

    // Noise-free level (16-bit units, at most full scale) of a sample of the
    // prepared frame.
    int level(int x, int y) const;
    // Noise-free levels (sample units, black included, no hot pixels) of
    // samples [x0, x1) of row y of the prepared frame: the mean signal a
    // sensor model adds its own noise to.
    void rowLevels(int y, int x0, int x1, int32_t* out) const;
    const Geometry& geometry() const { return geometry_; }

private:
    struct Path {
        float u, v;              // resting centre, fractions of the field
        float du, dv;            // drift amplitude
        float radiusX, radiusY;  // extent, fractions of the field width
        float amplitude;         // peak radiance over the background
        float phase;
    };
    struct Object {
        Path path;
        int rx = 0, ry = 0;      // half extent in pixels
        int cx = 0, cy = 0;      // current centre in field pixels, even
        // Row weights (twice the peak level of each row, sample units) and
        // column profiles with the channel response, per row parity (1/32768).
        std::vector<int16_t> rowWeight;
        std::vector<int16_t> columns[2];
    };
    // An object's reach on one row of the window.
    struct Span {
        int x0, x1;              // window columns, end exclusive
        const int16_t* profile;  // at x0, readable a block either side (zeros)
        int16_t weight;
    };

    void buildField();
    void buildLevels();
    void buildResponse();
    void buildChartLevels(float scale, int cap);
    const int16_t* columnsOf(int y) const { return columnLevel_[rowTable_[y]].data(); }
    void placeObjects(uint64_t frame);
    int spansOf(int y, Span* spans) const;
    // One sample's level, sample units, given the row's spans.
    int levelAt(int y, int x, const Span* spans, int n) const;
    int noiseClass(int level) const {
        return (level > threshold_[0]) + (level > threshold_[1]) + (level > threshold_[2]);
    }
    // The kernels of one call of emit.
    struct RowKernels {
        void (*run)(uint8_t*, const rows::Run&);
        void (*blocks)(uint8_t*, const rows::Blocks&, int, int);
        int bytes;  // per sample
        uint64_t noiseSeed;
    };
    void emitRow(unsigned char* out, int y, int x0, int x1, const RowKernels& kernels) const;
    int noiseAt(int c, int x, int y, uint64_t noiseSeed) const;
    template <int Bytes>
    void emitSamples(unsigned char* out, size_t first, size_t count, SampleOrder order,
                     uint64_t noiseSeed) const;

    int bayer_;
    uint32_t seed_;
    Geometry geometry_;
    Exposure exposure_;
    bool flat_ = false;
    bool chart_ = false;
    ColourMatrix colour_ = kDefaultColour;
    int filter_[2][2] = {};      // filter (0 red, 1 green, 2 blue) by row and column parity
    float defocus_ = 0;
    bool fieldReady_ = false;
    bool levelsReady_ = false;
    std::vector<Object> objects_;
    float response_[2][2] = {};  // response to grey light by row and column parity

    // Geometry: the background's column and row profiles (radiance), and
    // the hot pixels as sample indices of the window, in order.
    std::vector<float> columnRadiance_, rowRadiance_;
    std::vector<size_t> hot_;

    // Exposure, in sample units (8-bit, or 12-bit for 16-bit frames): the
    // column tables (the background per row parity; the chart's per band of
    // rows and row parity) and which one each row uses, the row constant
    // per column parity, the noise class of each block of each row without
    // objects, and the noise tables.
    int top_ = 255;
    int black_ = 0;
    int hotLevel_ = 0;
    int threshold_[kNoiseClasses - 1] = {};
    std::vector<std::vector<int16_t>> columnLevel_;
    std::vector<uint8_t> rowTable_;
    std::vector<int16_t> rowLevel_;  // two per row
    std::vector<uint8_t> blockClass_;
    int blocks_ = 0;                 // per row
    int16_t noiseGain_[kNoiseClasses] = {};  // of the unit noise, by class

    // Scratch of emit: one row's levels where objects lie, and its classes.
    mutable std::vector<int16_t> row_;
    mutable std::vector<uint8_t> rowClass_;
    const rows::Kernels* kernels_ = nullptr;
};

}  // namespace sim
