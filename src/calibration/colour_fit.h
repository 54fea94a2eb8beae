// Colour calibration on the 24-patch chart: the chart measured on raw
// frames of the camera (black level removed with two exposures), the white
// balanced on its neutral patches, a 3 x 3 matrix fitted to the reference
// (least squares, then a search lowering the mean CIEDE2000), and the
// matrix stored as a colour profile of the camera's model. Built on the
// call surface: it drives the camera through the same calls a program
// would, and restores what it changes.
#pragma once

#include <array>
#include <string>

#include "ezcam.h"
#include "processing/colour_chart.h"

namespace colourfit {

using Matrix = std::array<double, 9>;
using Patches = std::array<chart::Rgb, chart::kPatches>;

// Frames the chart is averaged over at each exposure, unless told.
constexpr int kDefaultFrames = 4;
// The smallest chart rectangle, in frame pixels: a patch's measured centre
// keeps a few samples of each colour.
constexpr int kMinWidth = 24, kMinHeight = 16;

// Per patch and colour, sums and counts of samples over frames.
struct PatchSums {
    std::array<std::array<double, 3>, chart::kPatches> sum{}, count{};
    Patches means() const;
};

// The central half of each patch of the chart's rectangle (x, y, width,
// height in raw frame pixels).
struct Area {
    int x0, y0, x1, y1;
};
std::array<Area, chart::kPatches> patchAreas(const std::array<int, 4>& rect);

// Adds a raw mosaic (every sample to its own filter's colour; `pattern` the
// 2 x 2 tile's filters, as BayerPatternName) or a finished image (cut by
// the border, so moved by half the difference of sizes) to the sums.
void addRaw(const _ezImage& raw, const char* pattern, const std::array<Area, chart::kPatches>& areas,
            PatchSums& sums);
void addImage(const _ezImage& image, const _ezImage& raw, const std::array<Area, chart::kPatches>& areas,
              PatchSums& sums);

struct Scores {
    std::array<double, chart::kPatches> de{};
    double mean = 0, max = 0;
};
Scores score(const Patches& linearSrgb);

// What the fit of black-free patch colours gives.
struct Fit {
    chart::Rgb gains{};  // white balance on the neutrals
    Patches before{}, after{};
    Scores beforeScores, afterScores;
    Matrix profile{};  // acts on decoded colours: gains folded in
};
// `raw`: the raw mosaic's patch colours; `decoded`: the same frames through
// today's colour-enhanced decoding; both without black. False when the
// patches do not determine a matrix.
bool fit(const Patches& raw, const Patches& decoded, Fit& out);

// Whether the black-free raw patches look like the chart: its neutral row
// runs from white down to black, each step darker in every colour.
bool looksLikeChart(const Patches& raw);

// The whole calibration on a camera (the call CalcColorProfile). `why`
// says why it failed.
int calibrate(const char* camera, const __IMG_RECT* chartRect, const std::string& profile, int frames,
              EzColorProgress progress, void* user, EzColorFit& result, std::string& why);

}  // namespace colourfit
