// Photon-transfer analysis, and its text and JSON report.
#include "sensor_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace calib {
namespace {

// Least squares y = a + b x over the points (a fixed at 0 with `origin`).
struct Line {
    double a = 0, b = 0;
};
Line fit(const std::vector<double>& x, const std::vector<double>& y, bool origin) {
    const size_t n = x.size();
    Line l;
    if (n == 0) return l;
    if (origin) {
        double xy = 0, xx = 0;
        for (size_t i = 0; i < n; ++i) xy += x[i] * y[i], xx += x[i] * x[i];
        l.b = xx > 0 ? xy / xx : 0;
        return l;
    }
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < n; ++i) sx += x[i], sy += y[i], sxx += x[i] * x[i], sxy += x[i] * y[i];
    const double d = static_cast<double>(n) * sxx - sx * sx;
    l.b = d != 0 ? (static_cast<double>(n) * sxy - sx * sy) / d : 0;
    l.a = (sy - l.b * sx) / static_cast<double>(n);
    return l;
}

// Output quantisation noise, DN squared.
constexpr double kQuantisation = 1.0 / 12.0;

std::string number(double v, const char* format = "%.6g") {
    char text[64];
    std::snprintf(text, sizeof text, format, std::isfinite(v) ? v : 0.0);
    return text;
}

}  // namespace

PairStats pairStats(const std::vector<float>& a, const std::vector<float>& b) {
    PairStats s;
    const size_t n = std::min(a.size(), b.size());
    if (n < 2) return s;
    double sum = 0, dsum = 0, dsq = 0;
    for (size_t i = 0; i < n; ++i) {
        sum += static_cast<double>(a[i]) + b[i];
        const double d = static_cast<double>(a[i]) - b[i];
        dsum += d;
        dsq += d * d;
    }
    const double count = static_cast<double>(n);
    s.mean = sum / (2 * count);
    const double dmean = dsum / count;
    s.variance = (dsq / count - dmean * dmean) / 2;
    return s;
}

double spatialVariance(const std::vector<float>& f, int width, int height, int step) {
    double sum = 0, sq = 0;
    size_t n = 0;
    for (int y = step; y + step < height; ++y)
        for (int x = step; x + step < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const double around =
                (f[i - step] + f[i + step] + f[i - static_cast<size_t>(step) * width] +
                 f[i + static_cast<size_t>(step) * width]) / 4.0;
            const double r = f[i] - around;
            sum += r;
            sq += r * r;
            ++n;
        }
    if (n < 2) return 0;
    const double mean = sum / static_cast<double>(n);
    // r = p - mean of 4 independent others: var(r) = var(p) (1 + 1/4).
    return (sq / static_cast<double>(n) - mean * mean) / 1.25;
}

bool analyseSensor(const SensorMeasurements& m, SensorReport& r, std::string& error) {
    r = SensorReport{};
    r.points = m.points;
    r.darks = m.darks;
    if (m.points.size() < 3) {
        error = "too few exposures in the series";
        return false;
    }
    // The temporal variance grows with the signal until pixels start to
    // clip, then collapses: the points after its peak are saturated.
    size_t& peak = r.variancePeak;
    for (size_t i = 0; i < m.points.size(); ++i)
        if (m.points[i].light.variance - m.points[i].dark.variance >
            m.points[peak].light.variance - m.points[peak].dark.variance)
            peak = i;
    // Saturation is the plateau the mean signal reaches. The peak's own mean
    // lies below it (its brighter pixels already clip), the more so the
    // coarser the series.
    for (size_t i = 0; i < m.points.size(); ++i) r.saturationDn = std::max(r.saturationDn, r.signal(i));
    // A plateau within the noise is no light at all.
    const double darkNoise = std::sqrt(std::max(m.points.front().dark.variance, kQuantisation));
    if (!(r.saturationDn > 10 * darkNoise)) {
        error = "no light: the flat frames are no brighter than the dark ones";
        return false;
    }
    const double peakVariance = m.points[peak].light.variance - m.points[peak].dark.variance;
    for (size_t i = peak + 1; i < m.points.size(); ++i)
        if (m.points[i].light.variance - m.points[i].dark.variance < 0.25 * peakVariance) r.plateauReached = true;
    // K from the points up to 70 % of saturation: variance over signal.
    std::vector<double> signal, variance;
    for (size_t i = 0; i < m.points.size(); ++i) {
        if (!r.fitsGain(i)) continue;
        signal.push_back(r.signal(i));
        variance.push_back(m.points[i].light.variance - m.points[i].dark.variance);
    }
    r.fitPoints = static_cast<int>(signal.size());
    if (signal.size() < 2) {
        error = "fewer than 2 exposures below 70 % of saturation: take a longer series";
        return false;
    }
    r.k = fit(signal, variance, true).b;
    if (!(r.k > 0)) {
        error = "the temporal noise does not grow with the signal";
        return false;
    }
    // Read noise: the dark temporal noise extrapolated to no exposure.
    std::vector<double> t, dv;
    for (const PtcPoint& p : m.points) t.push_back(p.exposureMs), dv.push_back(p.dark.variance);
    const double darkVariance = std::max(fit(t, dv, false).a - kQuantisation, 0.0);
    r.readNoiseDn = std::sqrt(darkVariance);
    r.readNoiseE = r.readNoiseDn / r.k;
    r.fullWellE = r.saturationDn / r.k;

    // Linearity between 5 % and 95 % of saturation, against exposure.
    std::vector<double> lx, ly;
    for (size_t i = 0; i < m.points.size(); ++i) {
        if (!r.fitsLinearity(i)) continue;
        lx.push_back(m.points[i].exposureMs);
        ly.push_back(r.signal(i));
    }
    if (lx.size() >= 2) {
        const Line l = fit(lx, ly, false);
        r.linearityOffsetDn = l.a;
        r.linearitySlope = l.b;
        double low = 0, high = 0;
        for (size_t i = 0; i < lx.size(); ++i) {
            const double expected = l.a + l.b * lx[i];
            const double dev = expected > 0 ? (ly[i] - expected) / expected : 0;
            low = std::min(low, dev);
            high = std::max(high, dev);
        }
        r.linearityErrorPct = 100.0 * (high - low) / 2;
    }

    // Dark current: the slope of the dark level over exposure.
    std::vector<double> dt, dm;
    for (const DarkPoint& d : m.darks) dt.push_back(d.exposureMs / 1000.0), dm.push_back(d.mean);
    if (dt.size() >= 2) {
        const Line l = fit(dt, dm, false);
        r.darkCurrentDnS = l.b;
        r.darkOffsetDn = l.a;
        r.darkCurrentES = r.darkCurrentDnS / r.k;
    }
    // DSNU and PRNU from averaged frames, the temporal noise left in the
    // average taken off.
    const double frames = std::max(m.averaged, 1);
    const double darkTemporal = m.points.front().dark.variance / frames;
    r.dsnuE = std::sqrt(std::max(m.darkSpatial - darkTemporal, 0.0)) / r.k;
    const double lightSignal = m.lightSpatialMean - m.darkSpatialMean;
    if (lightSignal > 0) {
        // The light's temporal variance in the average: K x signal / frames.
        const double lightTemporal = (r.k * lightSignal) / frames + darkTemporal;
        const double prnuVar = m.lightSpatial - lightTemporal - (m.darkSpatial - darkTemporal);
        r.prnuPct = 100.0 * std::sqrt(std::max(prnuVar, 0.0)) / lightSignal;
    }
    return true;
}

std::string reportText(const SensorReport& r, const std::string& header) {
    std::string s = header;
    s += "system gain K          " + number(r.k, "%.4f") + " DN/e-  (" + number(1 / r.k, "%.4f") +
         " e-/DN, " + std::to_string(r.fitPoints) + " points below 70 % of saturation)\n";
    s += "read noise             " + number(r.readNoiseE, "%.3f") + " e-  (" +
         number(r.readNoiseDn, "%.3f") + " DN)\n";
    s += "saturation             " + number(r.saturationDn, "%.1f") + " DN above dark" +
         (r.plateauReached ? "" : " (not reached: the series ends below it, a lower bound)") + "\n";
    s += "full-well capacity     " + number(r.fullWellE, "%.0f") + " e-\n";
    s += "dynamic range          " +
         number(r.readNoiseE > 0 ? 20 * std::log10(r.fullWellE / r.readNoiseE) : 0, "%.1f") + " dB\n";
    s += "linearity error        " + number(r.linearityErrorPct, "%.3f") + " %\n";
    s += "dark current           " + number(r.darkCurrentES, "%.3f") + " e-/s  (" +
         number(r.darkCurrentDnS, "%.3f") + " DN/s)\n";
    s += "DSNU                   " + number(r.dsnuE, "%.3f") + " e-\n";
    s += "PRNU                   " + number(r.prnuPct, "%.3f") + " %\n";
    s += "\nexposure_ms  flat_mean  flat_var  dark_mean  dark_var\n";
    for (size_t i = 0; i < r.points.size(); ++i) {
        const PtcPoint& p = r.points[i];
        char line[160];
        std::snprintf(line, sizeof line, "%11.4f %10.2f %9.2f %10.2f %9.2f%s\n", p.exposureMs,
                      p.light.mean, p.light.variance, p.dark.mean, p.dark.variance,
                      r.saturated(i) ? "  saturated" : "");
        s += line;
    }
    s += "\ndark series: exposure_ms  dark_mean\n";
    for (const DarkPoint& d : r.darks) {
        char line[96];
        std::snprintf(line, sizeof line, "%11.3f %10.3f\n", d.exposureMs, d.mean);
        s += line;
    }
    return s;
}

std::string reportJson(const SensorReport& r, const std::string& camera) {
    std::string cam;
    for (char c : camera)
        if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20) cam += c;
    std::string s = "{\n  \"camera\": \"" + cam + "\",\n";
    s += "  \"k_dn_per_e\": " + number(r.k) + ",\n";
    s += "  \"read_noise_e\": " + number(r.readNoiseE) + ",\n";
    s += "  \"read_noise_dn\": " + number(r.readNoiseDn) + ",\n";
    s += "  \"saturation_dn\": " + number(r.saturationDn) + ",\n";
    s += "  \"saturation_reached\": " + std::string(r.plateauReached ? "true" : "false") + ",\n";
    s += "  \"full_well_e\": " + number(r.fullWellE) + ",\n";
    s += "  \"linearity_error_pct\": " + number(r.linearityErrorPct) + ",\n";
    s += "  \"dark_current_e_per_s\": " + number(r.darkCurrentES) + ",\n";
    s += "  \"dark_current_dn_per_s\": " + number(r.darkCurrentDnS) + ",\n";
    s += "  \"dsnu_e\": " + number(r.dsnuE) + ",\n";
    s += "  \"prnu_pct\": " + number(r.prnuPct) + ",\n";
    s += "  \"points\": [";
    for (size_t i = 0; i < r.points.size(); ++i) {
        const PtcPoint& p = r.points[i];
        s += std::string(i ? ",\n" : "\n") + "    {\"exposure_ms\": " + number(p.exposureMs) +
             ", \"flat_mean\": " + number(p.light.mean) + ", \"flat_variance\": " +
             number(p.light.variance) + ", \"dark_mean\": " + number(p.dark.mean) +
             ", \"dark_variance\": " + number(p.dark.variance) +
             ", \"saturated\": " + (r.saturated(i) ? "true" : "false") + "}";
    }
    s += "\n  ],\n  \"dark_series\": [";
    for (size_t i = 0; i < r.darks.size(); ++i)
        s += std::string(i ? ", " : "") + "{\"exposure_ms\": " + number(r.darks[i].exposureMs) +
             ", \"mean\": " + number(r.darks[i].mean) + "}";
    return s + "]\n}\n";
}

}  // namespace calib
