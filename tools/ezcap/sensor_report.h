// Sensor characterisation by the photon-transfer method: from pairs of flat
// frames over a series of exposures and pairs of dark frames at the same
// exposures, the system gain K, read noise, full well, linearity error, dark
// current, DSNU and PRNU; and the report as text, JSON and PNG plots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace calib {

// Statistics of two frames taken at the same settings (samples as floats):
// the mean, and the temporal variance as half the variance of A - B (which
// leaves the fixed pattern out).
struct PairStats {
    double mean = 0;
    double variance = 0;
};
PairStats pairStats(const std::vector<float>& a, const std::vector<float>& b);

// The spatial variance of an averaged frame without its slow shading: each
// sample against the mean of its four same-colour neighbours (`step` apart;
// 2 on a mosaic), corrected for the neighbours' share of the spread.
double spatialVariance(const std::vector<float>& frame, int width, int height, int step);

struct PtcPoint {
    double exposureMs = 0;
    PairStats light, dark;
};

struct DarkPoint {
    double exposureMs = 0;
    double mean = 0;
};

struct SensorMeasurements {
    std::vector<PtcPoint> points;  // by increasing exposure
    std::vector<DarkPoint> darks;  // the dark-current series
    // Spatial variances (spatialVariance) of averaged frames, and their
    // frame count and mean: darks at the shortest exposure, flats near half
    // saturation.
    double darkSpatial = 0, lightSpatial = 0, lightSpatialMean = 0, darkSpatialMean = 0;
    int averaged = 1;
    double maxSample = 65535;
};

struct SensorReport {
    double k = 0;                  // DN per electron
    double readNoiseDn = 0, readNoiseE = 0;
    double saturationDn = 0;       // mean signal above dark at saturation
    double fullWellE = 0;
    double linearityErrorPct = 0;
    double darkCurrentDnS = 0, darkCurrentES = 0;
    double dsnuE = 0, prnuPct = 0;
    int fitPoints = 0;             // points under 70 % of saturation used for K
    std::vector<PtcPoint> points;
    std::vector<DarkPoint> darks;
};

// False, with the reason, when the series cannot give a gain (too few
// points below saturation, no signal).
bool analyseSensor(const SensorMeasurements& m, SensorReport& r, std::string& error);

// `header` is printed first (camera and settings).
std::string reportText(const SensorReport& r, const std::string& header);
std::string reportJson(const SensorReport& r, const std::string& camera);
// PREFIX-ptc.png, PREFIX-linearity.png, PREFIX-dark.png.
bool writeReportPlots(const SensorReport& r, const std::string& prefix, std::string& error);

}  // namespace calib
