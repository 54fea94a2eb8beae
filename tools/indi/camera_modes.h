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
    // Sensor pixels per frame pixel as the SDK describes the mode's frames
    // (EzFrameInfo): 1 unbinned, 0 binned by a factor it does not state, -1
    // not known (no frame was read).
    int xBinning = -1;
    int yBinning = -1;
};

struct BinningMode {
    int factor = 1;      // sensor pixels per frame pixel, across and down
    int resolution = 0;  // the camera's resolution index
    int frameWidth = 0;  // the whole frame the mode delivers, as the camera announces it
    int frameHeight = 0;
};

// The resolution modes of a camera, as the SDK lists them; with `probe`,
// one frame is read in each to learn its binning (the camera's resolution
// is left at the last mode).
std::vector<ResolutionMode> resolutionModes(const std::string& camera, bool probe);

// One mode per binning factor, ascending, factor 1 the largest unbinned
// mode. A mode is binned by f when its frames say so, across and down alike;
// one binned by an unstated factor takes f from its size against the largest
// mode's, which it must cover at 1/f in both directions (within 5 %: a
// binned mode may keep or drop a few border columns and rows). Unbinned
// smaller modes crop and are not binning; neither are modes binned unlike
// across and down. The first mode of a factor is taken.
std::vector<BinningMode> binningModes(const std::vector<ResolutionMode>& modes);

// The colours of the filter tile of a Bayer code, top left, top right,
// bottom left, bottom right ("RGGB", ...), as the filters see light: the
// name a debayering client needs. "" for a monochrome sensor.
std::string filterPattern(int bayer);

}  // namespace ezindi
