// A calibration master and its FITS file: 32-bit floating-point samples at
// the camera's own scale (a flat normalised to 1 per Bayer channel) and, in
// the header, every setting it was taken at.
#pragma once

#include <string>
#include <vector>

#include "calibration/conditions.h"

namespace calib {

struct Master {
    Kind kind = Kind::Dark;
    Conditions at;
    int frames = 0;          // frames combined
    std::string date;        // UTC when it was made, ISO 8601
    float clipSigma = 0;     // outlier rejection, standard deviations
    std::string label;       // flats: the objective and filter
    std::string offsetFile;  // flats: the dark or bias taken off
    int hotPixels = -1;      // darks: pixels found hot (-1 unknown)
    std::vector<float> pixels;  // width x height, the top row first
};

// Writes a new file (an existing one is replaced). False and why on failure.
bool writeMaster(const std::string& path, const Master& master, std::string& error);
// Reads a master; the pixels only with `pixels`. False and why for a file
// that is not a master this library wrote or could use.
bool readMaster(const std::string& path, Master& master, bool pixels, std::string& error);

}  // namespace calib
