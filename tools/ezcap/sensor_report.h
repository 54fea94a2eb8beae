// Sensor characterisation by the photon-transfer method: from pairs of flat
// frames over a series of exposures and pairs of dark frames at the same
// exposures, the system gain K, read noise, full well, linearity error, dark
// current, DSNU and PRNU; and the report as text, JSON, figures (SVG and
// PNG) and one HTML page.
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
    double saturationDn = 0;       // the plateau: the highest mean signal above dark
    bool plateauReached = false;   // false: the series ends before saturation (a lower bound)
    double fullWellE = 0;          // the plateau in electrons
    double linearityErrorPct = 0;
    double darkCurrentDnS = 0, darkCurrentES = 0;
    double darkOffsetDn = 0;       // the dark level's line at no exposure
    double dsnuE = 0, prnuPct = 0;
    int fitPoints = 0;             // points under 70 % of saturation used for K
    // The point where the temporal noise peaks; those after it are saturated.
    size_t variancePeak = 0;
    // Mean signal above dark against exposure: offset (DN) and slope (DN/ms)
    // of the line over 5 % to 95 % of saturation.
    double linearityOffsetDn = 0, linearitySlope = 0;
    std::vector<PtcPoint> points;
    std::vector<DarkPoint> darks;

    double signal(size_t i) const { return points[i].light.mean - points[i].dark.mean; }
    bool saturated(size_t i) const { return i > variancePeak; }
    bool fitsGain(size_t i) const { return !saturated(i) && signal(i) > 0 && signal(i) <= 0.7 * saturationDn; }
    bool fitsLinearity(size_t i) const {
        return !saturated(i) && signal(i) >= 0.05 * saturationDn && signal(i) <= 0.95 * saturationDn;
    }
};

// False, with the reason, when the series cannot give a gain (too few
// points below saturation, no signal).
bool analyseSensor(const SensorMeasurements& m, SensorReport& r, std::string& error);

// `header` is printed first (camera and settings).
std::string reportText(const SensorReport& r, const std::string& header);
std::string reportJson(const SensorReport& r, const std::string& camera);

// What the figures' captions and the page say of the measurement.
struct ReportContext {
    std::string camera;    // its name, e.g. "QC500.0"
    std::string settings;  // depth, gain, black level, clock, frame size, temperature
    std::string date;      // when it was measured (UTC)
};
// PREFIX-ptc, PREFIX-linearity, PREFIX-dark as .svg and .png, and
// PREFIX.html holding the three figures and the numbers. Draws with Qt on
// its offscreen platform when no Qt application runs.
bool writeReportFigures(const SensorReport& r, const ReportContext& context, const std::string& prefix,
                        std::string& error);

}  // namespace calib
