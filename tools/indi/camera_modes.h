// How the camera's own modes map onto INDI's notions: binning factors from
// the resolution modes, and the colour filter pattern by its physical colours.
#pragma once

#include <string>
#include <vector>

namespace ezindi {

struct ResolutionMode {
    int index = 0;
    int width = 0;
    int height = 0;
    std::string label;
};

struct BinningMode {
    int factor = 1;      // sensor pixels per frame pixel, across and down
    int resolution = 0;  // the camera's resolution index
    int frameWidth = 0;  // the whole frame the mode delivers, as the camera announces it
    int frameHeight = 0;
};

// The resolution modes of a camera, as the SDK lists them.
std::vector<ResolutionMode> resolutionModes(const std::string& camera);

// One mode per binning factor, factor 1 the largest mode: a mode counts as
// binned by f when it covers the whole field at 1/f of the largest size in
// both directions (within 5 %: a binned mode may keep or drop a few border
// columns and rows). Cropping modes cover part of the field and are not binning. Of two
// modes with the same factor the one whose label says "bin" is taken (the
// others skip pixels). Ascending factors.
std::vector<BinningMode> binningModes(const std::vector<ResolutionMode>& modes);

// The colours of the filter tile of a Bayer code, top left, top right,
// bottom left, bottom right ("RGGB", ...), as the filters see light: the
// name a debayering client needs. "" for a monochrome sensor.
std::string filterPattern(int bayer);

}  // namespace ezindi
